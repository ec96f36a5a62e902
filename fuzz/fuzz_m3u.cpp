// The playlist readers: arbitrary bytes as an M3U, M3U8 or PLS file (the first byte
// chooses).  Every entry they give must be writable as an M3U line and read back
// unchanged, whatever bytes its name holds.
#include "pathbytes.h"
#include "playlistfiles.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const kes::PlaylistFormat formats[]
        = { kes::PlaylistFormat::M3u, kes::PlaylistFormat::M3u8, kes::PlaylistFormat::Pls };
    const kes::PlaylistFormat format = formats[data[0] % 3];
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString base = QStringLiteral("/base/dir");
    const kes::M3uEntries entries = kes::parsePlaylist(bytes, base, format);
    for (auto it = entries.alternatives.cbegin(); it != entries.alternatives.cend(); ++it)
        if (it.key() < 0 || it.key() >= entries.paths.size() || it.value().isEmpty())
            __builtin_trap();
    for (const QString &path : entries.paths) {
        const QByteArray name = kes::pathToBytes(path);
        if (path.isEmpty() || !path.startsWith(QLatin1Char('/')) || name.contains('\n') || name.contains('\r')
            || name.contains('\0') || kes::pathFromBytes(name) != path)
            __builtin_trap();
    }
    // Written back as M3U, the entries read back exactly.
    const kes::M3uEntries again = kes::parseM3u(kes::m3uBytes(entries.paths), base);
    if (!again.aborted && again.paths != entries.paths) {
        // Texts no file name can carry (lone surrogates of a UTF-16 file) may change.
        for (const QString &path : entries.paths)
            if (kes::pathFromBytes(kes::pathToBytes(path)) != path)
                return 0;
        __builtin_trap();
    }
    return 0;
}
