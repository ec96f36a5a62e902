// The M3U reader of the playlist: arbitrary bytes as a playlist file.  Every entry it
// gives must be writable as an M3U line and read back unchanged.
#include "playlistfiles.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString base = QStringLiteral("/base/dir");
    const kes::M3uEntries entries = kes::parseM3u(bytes, base);
    for (const QString &path : entries.paths) {
        if (path.isEmpty() || path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r'))
            || path.contains(QChar(0)))
            __builtin_trap();
    }
    // Absolute entries read back exactly (relative ones were resolved to absolute ones).
    const kes::M3uEntries again = kes::parseM3u(kes::m3uBytes(entries.paths), base);
    if (!again.aborted && again.paths != entries.paths) {
        // Texts that UTF-8 cannot carry (lone surrogates of a UTF-16 file) may change.
        for (const QString &path : entries.paths)
            if (QString::fromUtf8(path.toUtf8()) != path)
                return 0;
        __builtin_trap();
    }
    return 0;
}
