// Quitting ends the process within a time limit, whatever is stuck: a worker blocked in
// the file system, a library call that does not return, a GUI thread that never gets back
// to its event loop.  A thread started early waits for the word to quit; from then on the
// process has kQuitLimit to end by itself before the watchdog ends it (status 0: a quit
// that was asked for).
#pragma once

#include <chrono>

namespace kes
{

constexpr std::chrono::milliseconds kQuitLimit { 2000 };

// Starts the watchdog's thread; once per process (later calls do nothing).
void startExitWatchdog(std::chrono::milliseconds limit = kQuitLimit);
// The word to quit: the limit runs from now.  Async-signal-safe (a signal handler may
// call it); does nothing before startExitWatchdog or after the first call.
void armExitWatchdog();

} // namespace kes
