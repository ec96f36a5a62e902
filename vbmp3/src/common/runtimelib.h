// What the sources of the formats decoded by libraries loaded at run time share: the
// loading of such a library into a table of its functions, and the file they read.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vbmp3
{

// dlopen of the library by its SONAME (RTLD_NOW | RTLD_LOCAL); nullptr when it is missing.
// A library once loaded stays loaded: its tables live as long as the process.
void *loadRuntimeLibrary(const char *soname);

// Looks up name in library; false (and slot null) when it is not there.
bool resolveSymbol(void *library, const char *name, void **slot);

// A table of functions of one library, declared by an X-macro list of names:
//   #define MY_FUNCTIONS(X) X(foo_open) X(foo_read)
//   struct MyApi { MY_FUNCTIONS(VBMP3_API_MEMBER) };
// and filled by loadApi<MyApi>(SONAME, [](void *lib, MyApi &api) { return MY_FUNCTIONS(VBMP3_API_RESOLVE) true; }).
#define VBMP3_API_MEMBER(name) decltype(&::name) name = nullptr;
#define VBMP3_API_RESOLVE(name) resolveSymbol(lib, #name, reinterpret_cast<void **>(&api.name)) &&

// The table of the library, loaded on the first call, once per process; nullptr when the
// library or one of its functions is missing.  Any thread.
template <typename Api, typename Resolve> const Api *loadApi(const char *soname, Resolve resolve)
{
    static const Api *const table = [&]() -> const Api * {
        void *lib = loadRuntimeLibrary(soname);
        if (!lib)
            return nullptr;
        static Api api;
        return resolve(lib, api) ? &api : nullptr;
    }();
    return table;
}

// A regular file read sequentially through a decoder library's callbacks (position, read,
// seek, size), with plain pread calls.  Reads fail once cancel (when given) turns true.
// Not thread-safe: used by the one thread that uses its source.
class DecoderFile
{
public:
    DecoderFile() = default;
    ~DecoderFile();
    DecoderFile(const DecoderFile &) = delete;
    DecoderFile &operator=(const DecoderFile &) = delete;

    // False when path is not a regular file that can be read.
    bool open(const std::string &path, const std::atomic<bool> *cancel = nullptr);
    // Up to n bytes from the position on; fewer at the end, 0 past it or on an error
    // (failed() then tells which).
    size_t read(void *out, size_t n);
    // whence as for lseek; a position before the start is refused, one past the end is allowed.
    bool seek(int64_t offset, int whence);
    uint64_t tell() const { return m_pos; }
    // From now on the file ends at size (when it is shorter than the file).
    void endAt(uint64_t size) { m_size = std::min(m_size, size); }
    uint64_t size() const { return m_size; }
    bool atEnd() const { return m_pos >= m_size; }
    bool failed() const { return m_failed; }

private:
    int m_fd = -1;
    uint64_t m_size = 0;
    uint64_t m_pos = 0;
    bool m_failed = false;
    const std::atomic<bool> *m_cancel = nullptr;
};

} // namespace vbmp3
