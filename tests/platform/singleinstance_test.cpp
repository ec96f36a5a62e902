#include "singleinstance.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

TEST(SingleInstance, SecondAcquireFailsUntilTheFirstEnds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto first = std::make_unique<SingleInstance>(dir.path());
    ASSERT_TRUE(first->tryAcquire());
    EXPECT_TRUE(first->tryAcquire()) << "acquiring again keeps the lock";

    SingleInstance second(dir.path());
    EXPECT_EQ(second.lockPath(), first->lockPath());
    EXPECT_FALSE(second.tryAcquire());
    QLockFile plain(first->lockPath());
    EXPECT_FALSE(plain.tryLock(0));

    first.reset();
    EXPECT_TRUE(second.tryAcquire());
}

TEST(SingleInstance, LockOfACrashedProcessIsTakenOver)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = SingleInstance(dir.path()).lockPath();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Take the lock and die without releasing it, as a crash would.
        SingleInstance *held = new SingleInstance(dir.path());
        _exit(held->tryAcquire() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(QFile::exists(path)) << "the dead process left its lock file";

    SingleInstance next(dir.path());
    EXPECT_TRUE(next.tryAcquire());
}
