#include "taglibstream.h"

#include <algorithm>
#include <climits>

namespace vbmp3
{

TagLibStream::TagLibStream(ByteReader &reader, unsigned long maxRead, uint64_t budget)
    : m_reader(reader)
    , m_maxRead(maxRead)
    , m_budget(budget)
{
}

TagLib::ByteVector TagLibStream::readBlock(unsigned long length)
{
    const uint64_t size = m_reader.size();
    if (length > m_maxRead || m_pos >= size || m_spent >= m_budget)
        return {};
    const uint64_t n = std::min<uint64_t>({ length, size - m_pos, m_budget - m_spent });
    if (n == 0) // TagLib asks for the body of an empty metadata block; an empty ByteVector has no buffer
        return {};
    TagLib::ByteVector block(static_cast<unsigned int>(n));
    const size_t got = m_reader.readAt(m_pos, block.data(), static_cast<size_t>(n));
    block.resize(static_cast<unsigned int>(got));
    m_pos += got;
    m_spent += got;
    return block;
}

void TagLibStream::seek(long offset, Position p)
{
    const int64_t base = p == Beginning ? 0 : p == Current ? static_cast<int64_t>(m_pos) : length();
    m_pos = static_cast<uint64_t>(std::max<int64_t>(0, base + offset));
}

long TagLibStream::tell() const
{
    return static_cast<long>(std::min<uint64_t>(m_pos, LONG_MAX));
}

long TagLibStream::length()
{
    return static_cast<long>(std::min<uint64_t>(m_reader.size(), LONG_MAX));
}

} // namespace vbmp3
