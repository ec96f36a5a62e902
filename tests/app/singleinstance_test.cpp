// Two real processes: a second start shows the duplicate-start message and ends after OK,
// while the first instance goes on.  Runs under xvfb-run.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace
{

QProcess *startPlayer(const QString &configDir, const char *platform)
{
    auto *p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KESTRINE_CONFIG_DIR"), configDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(platform));
    p->setProcessEnvironment(env);
    p->start(QStringLiteral(KESTRINE_BIN_DIR "/kestrine"), {});
    return p;
}

bool waitForText(QProcess &p, const QByteArray &text, QByteArray &seen, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        p.waitForReadyRead(100);
        seen += p.readAllStandardError();
        if (seen.contains(text))
            return true;
    }
    return false;
}

} // namespace

TEST(SingleInstance, SecondStartShowsTheMessageAndEndsWhileTheFirstGoesOn)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is needed to answer the message box";
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    std::unique_ptr<QProcess> first(startPlayer(config.path(), "offscreen"));
    ASSERT_TRUE(first->waitForStarted(5000));
    // The first instance holds the lock once its window is up.
    QTest::qWait(1500);
    ASSERT_EQ(first->state(), QProcess::Running);

    std::unique_ptr<QProcess> second(startPlayer(config.path(), "xcb"));
    ASSERT_TRUE(second->waitForStarted(5000));
    QByteArray seen;
    ASSERT_TRUE(waitForText(*second, "このアプリケーションは重複起動することができません。", seen, 15000))
        << seen.toStdString();
    // Press OK in the message box: focus its window, then type Return.
    QString window;
    for (int i = 0; i < 50 && window.isEmpty(); ++i) {
        QProcess search;
        search.start(QStringLiteral("xdotool"),
            { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                QString::number(second->processId()) });
        search.waitForFinished(5000);
        window = QString::fromLatin1(search.readAllStandardOutput()).split(QLatin1Char('\n')).value(0).trimmed();
        if (window.isEmpty())
            QTest::qWait(100);
    }
    ASSERT_FALSE(window.isEmpty());
    QProcess::execute(QStringLiteral("xdotool"), { QStringLiteral("windowfocus"), QStringLiteral("--sync"), window });
    QProcess::execute(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("Return") });
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_NE(second->exitCode(), 0);

    QTest::qWait(300);
    EXPECT_EQ(first->state(), QProcess::Running);
    first->terminate();
    first->waitForFinished(5000);
}
