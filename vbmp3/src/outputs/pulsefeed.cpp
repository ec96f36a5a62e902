#include "pulsefeed.h"

#include <algorithm>

namespace vbmp3
{

size_t PulseFeed::size()
{
    std::lock_guard lock(m_mutex);
    return m_bytes.size();
}

void PulseFeed::serve(const PulseApi *pa, pa_stream *stream)
{
    std::lock_guard lock(m_mutex);
    const size_t wanted = pa->stream_writable_size(stream);
    if (wanted == static_cast<size_t>(-1))
        return;
    const size_t n = std::min(wanted, m_bytes.size());
    if (n > 0) {
        pa->stream_write(stream, m_bytes.data(), n, nullptr, 0, PA_SEEK_RELATIVE);
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<ptrdiff_t>(n));
    }
    m_owed = wanted - n;
}

void PulseFeed::setOwed(size_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_owed = bytes;
}

size_t PulseFeed::roomBytes()
{
    std::lock_guard lock(m_mutex);
    const size_t ahead = m_limit - std::min(m_limit, m_bytes.size());
    return m_owed >= m_limit ? m_owed + ahead : ahead;
}

void PulseFeed::sendAll(const PulseApi *pa, pa_stream *stream)
{
    std::lock_guard lock(m_mutex);
    if (!m_bytes.empty())
        pa->stream_write(stream, m_bytes.data(), m_bytes.size(), nullptr, 0, PA_SEEK_RELATIVE);
    m_bytes.clear();
    m_owed = 0;
}

void PulseFeed::replaceTail(const uint8_t *from, size_t size)
{
    std::lock_guard lock(m_mutex);
    size = std::min(size, m_bytes.size());
    std::copy(from, from + size, m_bytes.end() - static_cast<ptrdiff_t>(size));
}

void PulseFeed::drop()
{
    std::lock_guard lock(m_mutex);
    m_bytes.clear();
    m_owed = 0;
}

bool PulseFeed::keep(const uint8_t *from, size_t size)
{
    std::lock_guard lock(m_mutex);
    if (m_owed >= m_limit)
        return false;
    m_bytes.insert(m_bytes.end(), from, from + size);
    return true;
}

void PulseFeed::writeNow(const PulseApi *pa, pa_stream *stream, const uint8_t *from, size_t size)
{
    std::lock_guard lock(m_mutex);
    const size_t wanted = pa->stream_writable_size(stream);
    const size_t now = wanted == static_cast<size_t>(-1) ? size : std::min(size, wanted);
    if (now > 0)
        pa->stream_write(stream, from, now, nullptr, 0, PA_SEEK_RELATIVE);
    m_bytes.insert(m_bytes.end(), from + now, from + size);
    const size_t left = pa->stream_writable_size(stream);
    m_owed = left == static_cast<size_t>(-1) ? 0 : left;
}

} // namespace vbmp3
