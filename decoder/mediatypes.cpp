#include "mediatypes.h"

#include <cstring>

namespace kes
{

namespace
{

char16_t asciiUpper(char c)
{
    return char16_t(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

} // namespace

static_assert(
    [] {
        for (int i = 0; i < static_cast<int>(std::size(kMediaTypes)); ++i)
            if ((kMediaTypes[i].searchKey != nullptr) != (i >= kFirstAddedType))
                return false;
        return true;
    }(),
    "the added types come last");

const MediaType *mediaTypeOfName(QStringView path)
{
    for (const MediaType &t : kMediaTypes) {
        const qsizetype n = static_cast<qsizetype>(std::strlen(t.ending));
        if (path.size() < n)
            continue;
        const QStringView end = path.right(n);
        bool lower = true, upper = true;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = end[i].unicode();
            lower = lower && c == char16_t(t.ending[i]);
            upper = upper && c == asciiUpper(t.ending[i]);
        }
        if (lower || upper)
            return &t;
    }
    return nullptr;
}

const MediaType *mediaTypeOfCode(int32_t typeCode)
{
    if (typeCode < 0)
        return nullptr;
    for (const MediaType &t : kMediaTypes)
        for (int16_t code : t.typeCodes)
            if (code == typeCode)
                return &t;
    return nullptr;
}

const MediaType *mediaTypeOfEnding(QStringView ending)
{
    for (const MediaType &t : kMediaTypes)
        if (ending == QLatin1StringView(t.ending))
            return &t;
    return nullptr;
}

QStringList supportedMimeTypes()
{
    QStringList out;
    for (const MediaType &t : kMediaTypes)
        for (const QString &m : QString::fromLatin1(t.mimeTypes).split(u';', Qt::SkipEmptyParts))
            if (!out.contains(m))
                out << m;
    for (const char *m : kPlaylistMimeTypes)
        if (!out.contains(QLatin1StringView(m)))
            out << QString::fromLatin1(m);
    return out;
}

} // namespace kes
