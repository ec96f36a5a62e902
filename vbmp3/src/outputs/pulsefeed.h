// What the sound-server output has made ahead of the server's next request, in the
// stream's bytes.  The main loop's thread hands it over when the server asks (serve), so
// that a request wakes that thread once and the output thread takes neither the loop's
// lock nor wakes it.  At most a request's worth (the limit) is kept, which the device's
// delay counts.  The owed bytes are what the server asked for and has not had.
//
// Its own mutex guards the bytes and the owed count; lock order: the loop's lock, then
// this one's.  The limit is the output thread's alone.
#pragma once

#include "pulseapi.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vbmp3
{

class PulseFeed
{
public:
    // Output thread, with a new stream: a request's worth of bytes.
    void setLimit(size_t bytes) { m_limit = bytes; }
    // Bytes held.  Any thread.
    size_t size();
    // The loop's thread, its lock held, the server asking for data: it gets what is held,
    // up to what it asks for.
    void serve(const PulseApi *pa, pa_stream *stream);
    // The loop's lock held: the server waits for bytes now.
    void setOwed(size_t bytes);
    // What the output may make now: the room left ahead of the server's next request, and
    // what it waits for when that is more than a request (a little short of a request
    // waits for the next one, which asks for it again).
    size_t roomBytes();
    // The loop's lock held: all that is held goes to the stream now (before a drain).
    void sendAll(const PulseApi *pa, pa_stream *stream);
    // Replaces the last `size` bytes held (size <= size()) with those at from.
    void replaceTail(const uint8_t *from, size_t size);
    // Forgets what is held and owed.
    void drop();
    // Output thread: keeps bytes for the server's next request, unless it waits for more
    // than is held (a new stream, after a flush or an underrun): then false, and they are
    // for writeNow.
    bool keep(const uint8_t *from, size_t size);
    // The loop's lock held: writes what the stream takes now and keeps the rest.
    void writeNow(const PulseApi *pa, pa_stream *stream, const uint8_t *from, size_t size);

private:
    std::mutex m_mutex;
    std::vector<uint8_t> m_bytes;
    size_t m_owed = 0;
    size_t m_limit = 0;
};

} // namespace vbmp3
