// A bounded FIFO of interleaved float frames.  Not thread-safe: its owner guards every
// call.  Besides copying in and out (push, pop), it lets one writer and one reader work on
// its storage in place without the owner's lock:
// - the writer takes the free space at the tail (freeSpan), fills it unlocked, and hands
//   the frames in with commit();
// - the reader takes frames off the front (claim); they leave the FIFO but their slots are
//   not free until release(), so the writer never fills slots the reader is still using,
//   even when clear() dropped the FIFO meanwhile.
// reset() gives the ring new storage; the old one lives on while a writer or reader still
// holds it (storage()), so that work begun before the reset only writes memory nobody else
// sees.  Whether frames written or claimed before a clear or reset still count is the
// owner's business (the engine compares serial numbers).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace vbmp3
{

class FrameRing
{
public:
    struct Span {
        float *data = nullptr;
        size_t frames = 0;
    };

    // Drops the content and makes room for `capacity` frames of `channels` samples.
    void reset(size_t capacity, int channels)
    {
        const size_t width = static_cast<size_t>(std::max(channels, 1));
        const size_t frames = std::max<size_t>(capacity, 1);
        m_data.reset(new float[frames * width]); // not zeroed: only written frames are read; may throw
        m_channels = width;
        m_capacity = frames;
        m_head = m_size = m_reserved = 0;
    }
    // Drops the content; claimed slots stay taken until release().
    void clear()
    {
        if (m_reserved == 0) {
            m_head = 0;
        } else {
            m_head = (m_head + m_size) % m_capacity;
            m_reserved += m_size;
        }
        m_size = 0;
    }

    size_t capacity() const { return m_capacity; }
    size_t size() const { return m_size; }
    size_t space() const { return m_capacity - m_size - m_reserved; }
    bool empty() const { return m_size == 0; }
    const std::shared_ptr<float[]> &storage() const { return m_data; }

    // The free slots at the tail that are contiguous in memory, at most `frames`.
    Span freeSpan(size_t frames) const
    {
        const size_t tail = (m_head + m_size) % m_capacity;
        const size_t n = std::min({ frames, space(), m_capacity - tail });
        return { m_data.get() + tail * m_channels, n };
    }
    // Appends the first `frames` frames of the last freeSpan, written meanwhile.
    void commit(size_t frames) { m_size += std::min(frames, space()); }

    // Takes up to `frames` frames off the front, contiguous in memory.
    Span claim(size_t frames)
    {
        const size_t n = std::min({ frames, m_size, m_capacity - m_head });
        const Span span { m_data.get() + m_head * m_channels, n };
        m_head = (m_head + n) % m_capacity;
        m_size -= n;
        m_reserved += n;
        return span;
    }
    // Frees the slots of every claim so far.
    void release() { m_reserved = 0; }

    // Appends up to `frames` frames; returns how many fitted.
    size_t push(const float *data, size_t frames)
    {
        frames = std::min(frames, space());
        size_t done = 0;
        while (done < frames) {
            const Span free = freeSpan(frames - done);
            std::memcpy(free.data, data + done * m_channels, free.frames * m_channels * sizeof(float));
            commit(free.frames);
            done += free.frames;
        }
        return frames;
    }

    // Removes up to `frames` frames from the front into out; returns how many.
    size_t pop(float *out, size_t frames)
    {
        frames = std::min(frames, m_size);
        copyFrom(0, out, frames);
        drop(frames);
        return frames;
    }

    // Keeps the `frames` oldest frames and drops the rest (the newest).  Space the writer
    // holds from an earlier freeSpan becomes free again: its commit must not come.
    void truncate(size_t frames) { m_size = std::min(m_size, frames); }

    // Drops the `frames` oldest frames.
    void drop(size_t frames)
    {
        frames = std::min(frames, m_size);
        m_head = (m_head + frames) % m_capacity;
        m_size -= frames;
    }

    // Up to `frames` frames starting `offset` frames after the front, as far as they are
    // contiguous in memory, without removing them.
    Span peek(size_t offset, size_t frames) const
    {
        const size_t at = (m_head + offset) % m_capacity;
        return { m_data.get() + at * m_channels, std::min(frames, m_capacity - at) };
    }

    // Copies `frames` frames starting `offset` frames after the front, without removing.
    void copyFrom(size_t offset, float *out, size_t frames) const
    {
        size_t at = (m_head + offset) % m_capacity;
        size_t done = 0;
        while (done < frames) {
            const size_t n = std::min(frames - done, m_capacity - at);
            std::memcpy(out + done * m_channels, &m_data[at * m_channels], n * m_channels * sizeof(float));
            done += n;
            at = (at + n) % m_capacity;
        }
    }

private:
    std::shared_ptr<float[]> m_data { new float[2] };
    size_t m_channels = 2;
    size_t m_capacity = 1;
    size_t m_head = 0;
    size_t m_size = 0;
    size_t m_reserved = 0; // claimed (or dropped behind a claim) slots just before m_head
};

} // namespace vbmp3
