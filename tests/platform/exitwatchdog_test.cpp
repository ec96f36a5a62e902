#include "exitwatchdog.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace kes;

namespace
{

// Runs body in a child process and gives its exit status and how long it lived, or -1
// when it was still alive after timeoutMs (it is then killed).
std::pair<int, qint64> runChild(void (*body)(), int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(3);
    }
    int status = 0;
    while (t.elapsed() < timeoutMs) {
        if (waitpid(child, &status, WNOHANG) == child)
            return { WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), t.elapsed() };
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return { -1, t.elapsed() };
}

// A quit that gets as far as the watchdog's end (armed or not): the watchdog's thread is
// stopped and joined there, and a limit passed after it ends nothing.  Exits with 6 when
// only the calling thread is left.
[[noreturn]] void outliveTheWatchdog(bool armed)
{
    {
        ExitWatchdog watchdog(std::chrono::milliseconds(100));
        if (armed)
            armExitWatchdog();
    }
    usleep(400 * 1000);
    int threads = 0;
    if (DIR *tasks = opendir("/proc/self/task")) {
        while (const dirent *e = readdir(tasks))
            threads += e->d_name[0] != '.';
        closedir(tasks);
    }
    _exit(threads == 1 ? 6 : 8);
}

} // namespace

// Once the word to quit is given, a process whose every thread is stuck still ends within the limit, with the
// watchdog's status and without the temporary files of writes it cut; without the word it is left alone.  The quit's
// saves stop the limit's clock and have their own, and the signal handler keeps errno.  A quit that ends stops the
// watchdog and joins its thread.
TEST(ExitWatchdog, EndsWhatIsStuckButLetsTheSavesFinish)
{
    static const std::string temp = testing::TempDir() + "kestrine-watchdog.XXXXXX";
    const struct {
        const char *what;
        void (*body)();
        int status;
        qint64 minMs, maxMs;
        bool cutsAWrite = false;
    } cases[] = {
        { "stuck after a signal",
            [] {
                ExitWatchdog watchdog(std::chrono::milliseconds(300));
                std::signal(SIGTERM, [](int) { armExitWatchdog(); });
                raise(SIGTERM);
                for (;;)
                    pause();
            },
            kWatchdogExitStatus, 250, 2000 },
        { "not armed",
            [] {
                ExitWatchdog watchdog(std::chrono::milliseconds(100));
                sleep(1);
                _exit(7);
            },
            7, 900, 3000 },
        { "a save longer than the limit",
            [] {
                ExitWatchdog watchdog(std::chrono::milliseconds(600));
                armExitWatchdog();
                usleep(100 * 1000);
                {
                    QuitWork save(std::chrono::milliseconds(3000));
                    usleep(1200 * 1000);
                }
                usleep(50 * 1000); // the quit's last steps: within what is left of the limit
                _exit(5);
            },
            5, 1300, 4000 },
        { "a save stuck past its own limit",
            [] {
                ExitWatchdog watchdog(std::chrono::milliseconds(200));
                armExitWatchdog();
                QuitWork save(std::chrono::milliseconds(500));
                noteTemporaryFile(temp);
                for (;;)
                    pause();
            },
            kWatchdogExitStatus, 450, 2500, true },
        { "a handler whose write fails",
            [] {
                ExitWatchdog watchdog(std::chrono::milliseconds(60000));
                int fds[2];
                if (pipe(fds) != 0)
                    _exit(3);
                close(fds[0]); // the write fails with EPIPE
                std::signal(SIGPIPE, SIG_IGN);
                handleQuitSignals(fds[1]);
                errno = 4321;
                raise(SIGTERM);
                _exit(errno == 4321 ? 0 : 1);
            },
            0, 0, 2000 },
        { "stopped armed", [] { outliveTheWatchdog(true); }, 6, 350, 3000 },
        { "stopped before the word", [] { outliveTheWatchdog(false); }, 6, 350, 3000 },
    };
    for (const auto &c : cases) {
        std::ofstream(temp).close(); // the temporary file of a write under way
        const auto [status, ms] = runChild(c.body, 5000);
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_GE(ms, c.minMs) << c.what;
        EXPECT_LT(ms, c.maxMs) << c.what;
        if (c.cutsAWrite) {
            EXPECT_NE(access(temp.c_str(), F_OK), 0) << c.what << ": the cut write's temporary file is gone";
        }
    }
    unlink(temp.c_str());
}
