#include "exitwatchdog.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <csignal>
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

} // namespace

// Once the word to quit is given, a process whose every thread is stuck still ends, with
// status 0, within the limit; without the word it is left alone.
TEST(ExitWatchdog, EndsAStuckProcessOnceArmed)
{
    const auto armedFromASignal = [] {
        startExitWatchdog(std::chrono::milliseconds(300));
        std::signal(SIGTERM, [](int) { armExitWatchdog(); });
        raise(SIGTERM);
        for (;;)
            pause(); // stuck for good
    };
    const auto [status, ms] = runChild(armedFromASignal, 5000);
    EXPECT_EQ(status, 0);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 2000);

    const auto notArmed = [] {
        startExitWatchdog(std::chrono::milliseconds(100));
        sleep(1);
        _exit(7);
    };
    EXPECT_EQ(runChild(notArmed, 5000).first, 7);
}
