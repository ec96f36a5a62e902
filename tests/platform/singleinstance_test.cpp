#include "singleinstance.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace kes;

TEST(SingleInstance, HeldLockBlocksOthersAndALockOfACrashedProcessIsTakenOver)
{
    QTemporaryDir dir;
    auto first = std::make_unique<SingleInstance>(dir.path());
    ASSERT_TRUE(first->tryAcquire());
    EXPECT_TRUE(first->tryAcquire()) << "acquiring again keeps the lock";
    SingleInstance second(dir.path());
    EXPECT_FALSE(second.tryAcquire());
    first.reset();
    EXPECT_TRUE(second.tryAcquire());

    QTemporaryDir other;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) // take the lock and die without releasing it, as a crash would
        _exit((new SingleInstance(other.path()))->tryAcquire() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(QFile::exists(SingleInstance(other.path()).lockPath())) << "the dead process left its lock file";
    EXPECT_TRUE(SingleInstance(other.path()).tryAcquire());
}
