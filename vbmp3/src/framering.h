// A bounded FIFO of interleaved float frames.  Not thread-safe: its owner guards it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace vbmp3
{

class FrameRing
{
public:
    // Drops the content and makes room for `capacity` frames of `channels` samples.
    void reset(size_t capacity, int channels)
    {
        m_channels = static_cast<size_t>(std::max(channels, 1));
        m_capacity = std::max<size_t>(capacity, 1);
        m_data.assign(m_capacity * m_channels, 0.0f);
        m_head = m_size = 0;
    }
    void clear() { m_head = m_size = 0; }

    size_t capacity() const { return m_capacity; }
    size_t size() const { return m_size; }
    size_t space() const { return m_capacity - m_size; }
    bool empty() const { return m_size == 0; }

    // Appends up to `frames` frames; returns how many fitted.
    size_t push(const float *data, size_t frames)
    {
        frames = std::min(frames, space());
        size_t tail = (m_head + m_size) % m_capacity;
        size_t done = 0;
        while (done < frames) {
            const size_t n = std::min(frames - done, m_capacity - tail);
            std::memcpy(&m_data[tail * m_channels], data + done * m_channels, n * m_channels * sizeof(float));
            done += n;
            tail = (tail + n) % m_capacity;
        }
        m_size += frames;
        return frames;
    }

    // Removes up to `frames` frames from the front into out; returns how many.
    size_t pop(float *out, size_t frames)
    {
        frames = std::min(frames, m_size);
        copyFrom(0, out, frames);
        m_head = (m_head + frames) % m_capacity;
        m_size -= frames;
        return frames;
    }

    // Drops the `frames` oldest frames.
    void drop(size_t frames)
    {
        frames = std::min(frames, m_size);
        m_head = (m_head + frames) % m_capacity;
        m_size -= frames;
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
    std::vector<float> m_data;
    size_t m_channels = 2;
    size_t m_capacity = 1;
    size_t m_head = 0;
    size_t m_size = 0;
};

} // namespace vbmp3
