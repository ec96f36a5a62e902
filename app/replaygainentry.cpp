#include "replaygainentry.h"

#include "cuetrack.h"
#include "playlistmodel.h"
#include "replaygainwindow.h"
#include "tagwriter.h"

namespace kes
{

ReplayGainWindow *openReplayGainWindow(
    QWidget *parent, const PlaylistModel &list, const QList<int> &rows, const DecoderApi &api)
{
    if (rows.isEmpty())
        return nullptr;
    QList<ScanRow> scan;
    QStringList names;
    for (int row : rows) {
        const QString path = list.fullPath(row);
        if (const std::optional<CueTrackRef> cue = cueTrackOf(path))
            scan.append({ cue->image, trackRangeOf(*cue) });
        else
            scan.append({ path, std::nullopt });
        const QString title = list.title(row);
        names.append(title.isEmpty() ? fileOfPath(path).section(u'/', -1) : title);
    }
    auto *window = new ReplayGainWindow(api, writeReplayGain, parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->start(scan, names);
    window->show();
    return window;
}

} // namespace kes
