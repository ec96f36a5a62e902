// A ByteReader seen by TagLib as a read-only stream, so that tests and fuzz targets can
// hand TagLib bytes from memory and a file's claims cannot make it read without limit.
#pragma once

#include "fileparse.h"

#include <taglib/tiostream.h>

#include <cstdint>
#include <limits>

namespace vbmp3
{

class TagLibStream final : public TagLib::IOStream
{
public:
    // A single read longer than maxRead gets nothing (a header claiming gigabytes); once
    // budget bytes have been read in all, the stream reads as ended and TagLib gives up on
    // what it was parsing.
    explicit TagLibStream(ByteReader &reader, unsigned long maxRead = std::numeric_limits<unsigned long>::max(),
        uint64_t budget = std::numeric_limits<uint64_t>::max());

    TagLib::FileName name() const override { return ""; }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector &) override { }
    void insert(const TagLib::ByteVector &, unsigned long, unsigned long) override { }
    void removeBlock(unsigned long, unsigned long) override { }
    bool readOnly() const override { return true; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position p) override;
    long tell() const override;
    long length() override;
    void truncate(long) override { }

private:
    ByteReader &m_reader;
    const unsigned long m_maxRead;
    const uint64_t m_budget;
    uint64_t m_pos = 0;
    uint64_t m_spent = 0;
};

} // namespace vbmp3
