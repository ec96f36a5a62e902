// Commands from outside the window (media keys, the desktop's player controls, a second
// start with files) are handled by the main event loop only: a message, input or file box
// runs a nested event loop, and a command run inside it would act under a procedure that
// is waiting for the box's answer (a track started behind "Open Error!!  Next File", the
// library shut down under it).  Such commands wait until no box is up, then run in the
// order they came.  The player's own modal windows (options, print, about, folder search)
// are no boxes: commands run while they are open.  GUI thread only.
#pragma once

#include <QObject>

#include <functional>

namespace kes
{

// Whether a message, input or file box (any modal window but the player's own) is up.
bool boxIsUp();
// Runs command now when no box is up, else once the last box has closed.  Dropped when
// context is destroyed first.
void runWhenNoBox(QObject *context, std::function<void()> command);

} // namespace kes
