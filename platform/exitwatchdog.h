// Quitting ends the process within a time limit, whatever is stuck: a worker blocked in
// the file system, a library call that does not return, a GUI thread that never gets back
// to its event loop.  A thread started early (by the one ExitWatchdog) waits for the word
// to quit; from then on the process has kQuitLimit to end by itself before the watchdog
// ends it.  A quit that gets as far as the ExitWatchdog's end is not stuck: the thread is
// stopped there and joined.
//
// The quit's saves are not cut by that limit: while a QuitWork lasts, the limit stands
// still and the watchdog waits for the work up to the work's own limit instead.  When the
// watchdog has to end the process, it first removes the temporary files of writes still
// underway (noteTemporaryFile) and then ends it with kWatchdogExitStatus, so that whoever
// started the program can tell that something was cut.
#pragma once

#include <chrono>
#include <string>
#include <thread>

namespace kes
{

constexpr std::chrono::milliseconds kQuitLimit { 2000 };
// How long one of the quit's saves may take (a slow disk or network share).
constexpr std::chrono::milliseconds kQuitSaveLimit { 15000 };
// The status of a process the watchdog ended.
constexpr int kWatchdogExitStatus = 124;

// The owner of the watchdog's thread.  Make it once per process (a second one does
// nothing), before what a quit may get stuck in, and let it end last: main() holds it
// around the application object, whose end waits for the thread pools' workers.  Its
// destruction stops the thread and joins it, armed or not.
class ExitWatchdog
{
public:
    explicit ExitWatchdog(std::chrono::milliseconds limit = kQuitLimit);
    ~ExitWatchdog();
    ExitWatchdog(const ExitWatchdog &) = delete;
    ExitWatchdog &operator=(const ExitWatchdog &) = delete;

private:
    std::thread m_thread;
};

// The word to quit: the limit runs from now.  Async-signal-safe (a signal handler may
// call it) and keeps errno; does nothing while no ExitWatchdog runs, or after the first
// call.
void armExitWatchdog();
// SIGTERM and SIGINT arm the watchdog and write one byte to notifyFd, from which the
// program learns that it is asked to quit.  The handler keeps errno as it found it.
void handleQuitSignals(int notifyFd);

// Work the quit must let finish, for as long as the object lives (any thread).
class QuitWork
{
public:
    explicit QuitWork(std::chrono::milliseconds limit = kQuitSaveLimit);
    ~QuitWork();
    QuitWork(const QuitWork &) = delete;
    QuitWork &operator=(const QuitWork &) = delete;
};

// A file being written beside its target (by its full name's bytes): removed by the
// watchdog if it ends the process before forgetTemporaryFile.  Any thread.
void noteTemporaryFile(const std::string &path);
void forgetTemporaryFile(const std::string &path);

} // namespace kes
