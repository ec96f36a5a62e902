// The atomic writer never changes the process's umask: another thread creating a file at
// any moment gets the mask the process set.
#include "atomicwrite.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Every change of the mask in this process is counted.
std::atomic_int g_umaskCalls { 0 };

} // namespace

extern "C" mode_t umask(mode_t mask)
{
    using Umask = mode_t (*)(mode_t);
    static const Umask real = reinterpret_cast<Umask>(dlsym(RTLD_NEXT, "umask"));
    ++g_umaskCalls;
    return real(mask);
}

TEST(AtomicWrite, NewFilesFollowTheUmaskWithoutChangingIt)
{
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("fresh")), kept = dir.filePath(QStringLiteral("kept"));
    // In a child: the mask is the process's own, set before anything reads it.
    const pid_t child = fork();
    if (child == 0) {
        umask(027);
        const int before = g_umaskCalls.load();
        const bool written = kes::writeFileAtomically(fresh, "a") && kes::writeFileAtomically(kept, "b")
            && chmod(kept.toLocal8Bit().constData(), 0604) == 0 && kes::writeFileAtomically(kept, "c");
        _exit(!written ? 2 : g_umaskCalls.load() != before ? 3 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: the writer changed the process's umask";
    struct stat st {
    };
    ASSERT_EQ(stat(fresh.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(stat(kept.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u) << "a file replaced keeps its permissions";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({ "fresh", "kept" })) << "no temporary file left";
}
