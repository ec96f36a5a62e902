// Random access to the bytes of a file or of a memory block, so that the file parsers can
// be run on files and, in tests and fuzz targets, on bytes in memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

namespace vbmp3
{

class ByteReader
{
public:
    virtual ~ByteReader() = default;
    virtual uint64_t size() const = 0;
    // Copies up to n bytes from offset into buf; returns how many were copied (fewer at the
    // end of the data or on a read error, 0 past the end).
    virtual size_t readAt(uint64_t offset, void *buf, size_t n) = 0;

    // Up to n bytes from offset (fewer at the end).
    std::string read(uint64_t offset, size_t n);
};

// Opens path read-only when it is a regular file (never waiting, also not on a named
// pipe); the descriptor, or -1.  size, when given, receives the file's size.
int openRegularFile(const std::string &path, uint64_t *size = nullptr);

// A regular file opened read-only for the lifetime of the object (anything else counts
// as not open).  Not shared between threads.
class FileReader final : public ByteReader
{
public:
    explicit FileReader(const std::string &path);
    ~FileReader() override;
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    uint64_t size() const override { return m_size; }
    size_t readAt(uint64_t offset, void *buf, size_t n) override;

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

// Bytes owned by the caller, which keeps them alive while the reader is used.
class MemoryReader final : public ByteReader
{
public:
    explicit MemoryReader(std::string_view bytes)
        : m_bytes(bytes)
    {
    }
    uint64_t size() const override { return m_bytes.size(); }
    size_t readAt(uint64_t offset, void *buf, size_t n) override;

private:
    std::string_view m_bytes;
};

// A 28-bit ID3v2 "synchsafe" integer: four big-endian bytes of seven bits each (the top
// bit of every byte is ignored; callers that must reject it check it themselves).
inline uint32_t readSynchsafe32(const unsigned char *p)
{
    return uint32_t(p[0] & 0x7F) << 21 | uint32_t(p[1] & 0x7F) << 14 | uint32_t(p[2] & 0x7F) << 7 | (p[3] & 0x7FU);
}

// A window [offset, offset + size) of another reader, seen as bytes of its own (the data
// chunk of an RMP file as the MP3 file it wraps).  The window is clipped to the base.
class RangeReader final : public ByteReader
{
public:
    RangeReader(ByteReader &base, uint64_t offset, uint64_t size)
        : m_base(base)
        , m_offset(offset)
        , m_size(offset < base.size() ? std::min(size, base.size() - offset) : 0)
    {
    }
    uint64_t size() const override { return m_size; }
    size_t readAt(uint64_t offset, void *buf, size_t n) override
    {
        if (offset >= m_size)
            return 0;
        return m_base.readAt(m_offset + offset, buf, static_cast<size_t>(std::min<uint64_t>(n, m_size - offset)));
    }

private:
    ByteReader &m_base;
    uint64_t m_offset;
    uint64_t m_size;
};

// Runs parse(reader, record) on the file at path with the record cleared first; a file
// that cannot be opened, or a parse that throws, leaves the record cleared and gives false.
template <typename Record, typename Parse> bool parseFileInto(const std::string &path, Record *record, Parse parse)
{
    if (record)
        std::memset(record, 0, sizeof *record);
    FileReader reader(path);
    if (!reader.isOpen())
        return false;
    try {
        return parse(reader, record);
    } catch (const std::exception &) {
        if (record)
            std::memset(record, 0, sizeof *record);
        return false;
    }
}

} // namespace vbmp3
