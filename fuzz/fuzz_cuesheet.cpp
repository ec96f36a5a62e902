// The cue sheet reader: arbitrary bytes as a sheet whose every FILE names a file.  The
// tracks it gives are within bounds and in order, their ranges sound and their files set.
#include "cuesheet.h"

#include <QString>
#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const kes::CueSheet sheet = kes::parseCueSheet(bytes, QStringLiteral("/base/dir/album.cue"),
        [](const QString &folder, const QStringList &names) { return folder + u'/' + names[0]; });
    if (sheet.tracks.size() > kes::kMaxCueTracks)
        __builtin_trap();
    const kes::CueTrack *before = nullptr;
    for (const kes::CueTrack &t : sheet.tracks) {
        if (t.file.isEmpty() || t.number < 1 || t.number > kes::kMaxCueTracks || t.start < 0
            || (t.end >= 0 && t.end <= t.start) || t.pregap > t.start)
            __builtin_trap();
        // Tracks of one file come in order and never overlap.
        if (before && before->file == t.file && (before->end < 0 || before->end > t.start))
            __builtin_trap();
        before = &t;
    }
    for (qsizetype i = 1; i < sheet.faults.size(); ++i)
        if (sheet.faults[i].line < sheet.faults[i - 1].line)
            __builtin_trap();
    return 0;
}
