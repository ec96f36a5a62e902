#include "trimnull.h"

#include <cstring>

namespace kes
{

QString TrimNull(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString TrimNull(const char *field, std::size_t size)
{
    if (!field)
        return {};
    const void *nul = std::memchr(field, '\0', size);
    const std::size_t length = nul ? static_cast<const char *>(nul) - field : size;
    return QString::fromUtf8(field, static_cast<qsizetype>(length));
}

} // namespace kes
