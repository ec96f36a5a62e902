// Texts that may carry a NUL terminator: fixed-size fields of the decoder records and
// buffers filled by C interfaces.
#pragma once

#include <QString>

#include <cstddef>

namespace kes
{

// The part of text before its first NUL; text unchanged when it has none.
QString TrimNull(const QString &text);

// The UTF-8 text of a fixed field of size bytes: up to its first NUL, or all size bytes
// when there is none.  Malformed UTF-8 becomes U+FFFD; never reads past size.
QString TrimNull(const char *field, std::size_t size);

template <std::size_t N> QString TrimNull(const char (&field)[N])
{
    return TrimNull(field, N);
}

} // namespace kes
