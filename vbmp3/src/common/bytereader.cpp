#include "bytereader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vbmp3
{

std::string ByteReader::read(uint64_t offset, size_t n)
{
    const uint64_t total = size();
    if (offset >= total)
        return {};
    n = static_cast<size_t>(std::min<uint64_t>(n, total - offset));
    std::string out(n, '\0');
    out.resize(readAt(offset, out.data(), n));
    return out;
}

FileReader::FileReader(const std::string &path)
{
    m_fd = openRegularFile(path, &m_size);
}

int openRegularFile(const std::string &path, uint64_t *size)
{
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer.  It changes
    // nothing for reading a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    if (size)
        *size = static_cast<uint64_t>(st.st_size);
    return fd;
}

FileReader::~FileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

size_t FileReader::readAt(uint64_t offset, void *buf, size_t n)
{
    if (m_fd < 0 || offset >= m_size)
        return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, m_size - offset));
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(m_fd, static_cast<char *>(buf) + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += static_cast<size_t>(r);
    }
    return done;
}

size_t MemoryReader::readAt(uint64_t offset, void *buf, size_t n)
{
    if (offset >= m_bytes.size())
        return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, m_bytes.size() - offset));
    std::memcpy(buf, m_bytes.data() + offset, n);
    return n;
}

} // namespace vbmp3
