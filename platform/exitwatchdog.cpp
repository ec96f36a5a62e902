#include "exitwatchdog.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kes
{

namespace
{

using Clock = std::chrono::steady_clock;

std::atomic_int g_armFd { -1 };
std::atomic_bool g_armed { false };
std::atomic_int g_quitNotifyFd { -1 };

// What the watchdog's thread waits on once armed.
struct Watch {
    std::mutex mutex;
    std::condition_variable changed;
    int works = 0; // QuitWork objects alive
    Clock::time_point worksEnd; // the latest limit of the works alive
    Clock::time_point worksSince; // when the works alive began
    bool armed = false;
    bool stopping = false; // the owner is ending: the quit was not stuck
    Clock::time_point armedAt;
    Clock::duration paused {}; // time after arming spent in works
    std::vector<std::string> temporaries;
};

Watch &watch()
{
    // Never destroyed: the watchdog's thread waits on it while the process exits.
    static Watch &w = *new Watch;
    return w;
}

[[noreturn]] void endProcess(Watch &w)
{
    for (const std::string &path : w.temporaries)
        ::unlink(path.c_str());
    ::_exit(kWatchdogExitStatus);
}

void onQuitSignal(int)
{
    const int saved = errno;
    armExitWatchdog();
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_quitNotifyFd.load(), &c, 1);
    errno = saved;
}

} // namespace

ExitWatchdog::ExitWatchdog(std::chrono::milliseconds limit)
{
    static std::atomic_bool started { false };
    if (started.exchange(true))
        return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    watch(); // made now, not in the thread's first moment of need
    g_armFd.store(fds[1]);
    m_thread = std::thread([readFd = fds[0], limit] {
        char c;
        while (::read(readFd, &c, 1) < 0 && errno == EINTR) { }
        ::close(readFd);
        Watch &w = watch();
        std::unique_lock lock(w.mutex);
        w.armed = true;
        w.armedAt = Clock::now();
        // From the word on, the process has `limit` to end by itself, not counting the
        // time spent in works, each of which has its own.
        while (!w.stopping) {
            const Clock::time_point deadline = w.works > 0 ? w.worksEnd : w.armedAt + limit + w.paused;
            if (Clock::now() >= deadline)
                endProcess(w);
            w.changed.wait_until(lock, deadline);
        }
    });
}

ExitWatchdog::~ExitWatchdog()
{
    if (!m_thread.joinable())
        return;
    {
        Watch &w = watch();
        std::lock_guard lock(w.mutex);
        w.stopping = true;
        w.changed.notify_all();
    }
    // An unarmed thread waits on the pipe: the word wakes it, and it sees the stop.  The
    // pipe's write end stays open to the process's end, so that a signal handler writing
    // to it never meets a closed or reused descriptor.
    armExitWatchdog();
    m_thread.join();
}

void armExitWatchdog()
{
    const int saved = errno;
    const int fd = g_armFd.load();
    if (fd >= 0 && !g_armed.exchange(true)) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &c, 1);
    }
    errno = saved;
}

void handleQuitSignals(int notifyFd)
{
    g_quitNotifyFd.store(notifyFd);
    struct sigaction sa = {};
    sa.sa_handler = onQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

QuitWork::QuitWork(std::chrono::milliseconds limit)
{
    Watch &w = watch();
    std::lock_guard lock(w.mutex);
    const Clock::time_point now = Clock::now();
    if (w.works++ == 0) {
        w.worksSince = now;
        w.worksEnd = now + limit;
    } else {
        w.worksEnd = std::max(w.worksEnd, now + limit);
    }
    w.changed.notify_all();
}

QuitWork::~QuitWork()
{
    Watch &w = watch();
    std::lock_guard lock(w.mutex);
    if (--w.works == 0 && w.armed) {
        const Clock::time_point now = Clock::now();
        w.paused += now - std::max(w.worksSince, w.armedAt);
    }
    w.changed.notify_all();
}

void noteTemporaryFile(const std::string &path)
{
    Watch &w = watch();
    std::lock_guard lock(w.mutex);
    w.temporaries.push_back(path);
}

void forgetTemporaryFile(const std::string &path)
{
    Watch &w = watch();
    std::lock_guard lock(w.mutex);
    const auto it = std::find(w.temporaries.begin(), w.temporaries.end(), path);
    if (it != w.temporaries.end())
        w.temporaries.erase(it);
}

} // namespace kes
