#include "runtimelib.h"

#include "bytereader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>

namespace vbmp3
{

void *loadRuntimeLibrary(const char *soname)
{
    return dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

bool resolveSymbol(void *library, const char *name, void **slot)
{
    *slot = dlsym(library, name);
    return *slot != nullptr;
}

DecoderFile::~DecoderFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DecoderFile::open(const std::string &path, const std::atomic<bool> *cancel)
{
    m_fd = openRegularFile(path, &m_size);
    m_cancel = cancel;
    return m_fd >= 0;
}

size_t DecoderFile::read(void *out, size_t n)
{
    if (m_fd < 0 || m_pos >= m_size || n == 0)
        return 0;
    if (m_cancel && m_cancel->load(std::memory_order_relaxed)) {
        m_failed = true;
        return 0;
    }
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(m_fd, static_cast<char *>(out) + done, n - done, static_cast<off_t>(m_pos));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            m_failed = true;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
        m_pos += static_cast<uint64_t>(got);
    }
    return done;
}

bool DecoderFile::seek(int64_t offset, int whence)
{
    int64_t origin = 0;
    if (whence == SEEK_CUR)
        origin = static_cast<int64_t>(m_pos);
    else if (whence == SEEK_END)
        origin = static_cast<int64_t>(m_size);
    else if (whence != SEEK_SET)
        return false;
    if ((offset > 0 && origin > std::numeric_limits<int64_t>::max() - offset) || origin + offset < 0)
        return false;
    m_pos = static_cast<uint64_t>(origin + offset);
    return true;
}

} // namespace vbmp3
