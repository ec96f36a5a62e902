// The playlist menu's "ReplayGain を計測": the rows given measured in a window of their own.
#pragma once

#include "decoderapi.h"

#include <QList>

class QWidget;

namespace kes
{

class PlaylistModel;
class ReplayGainWindow;

// Opens a scan of rows (1-based) of list, cue tracks as their parts of their images; the
// window is parent's child and goes when closed.  nullptr when rows is empty.
ReplayGainWindow *openReplayGainWindow(
    QWidget *parent, const PlaylistModel &list, const QList<int> &rows, const DecoderApi &api);

} // namespace kes
