// Two real processes under xvfb-run: a second start shows the duplicate message, or hands its files over and ends.
#include "outputnotice.h"
#include "testfiles.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace
{

// No sound server, the settings in configDir, the files the player takes logged.
QProcessEnvironment playerEnvironment(const QString &configDir, const QString &platform)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"PULSE_SERVER"_s, u"unix:/nonexistent"_s);
    env.insert(u"KESTRINE_CONFIG_DIR"_s, configDir);
    env.insert(u"QT_QPA_PLATFORM"_s, platform);
    env.insert(u"QT_LOGGING_RULES"_s, u"kestrine.files.info=true"_s);
    return env;
}

std::unique_ptr<QProcess> startPlayer(const QString &configDir, const QString &platform, const QStringList &files = {},
    const QString &workingDir = QString())
{
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(playerEnvironment(configDir, platform));
    p->setWorkingDirectory(workingDir);
    p->start(QStringLiteral(KESTRINE_BIN_DIR "/kestrine"), files);
    return p;
}

// One second of silence.
QString writeWav(const QString &path)
{
    writeBytes(path, silentWav(1));
    return path;
}

// Runs xdotool to its end and gives the first line it printed.
QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(u"xdotool"_s, args);
    p.waitForFinished(5000);
    return QString::fromLatin1(p.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
}

bool waitForText(QProcess &p, const QByteArray &text, QByteArray &seen, int ms)
{
    return QTest::qWaitFor(
        [&] { return p.waitForReadyRead(100), (seen += p.readAllStandardError()).contains(text); }, ms);
}

} // namespace

TEST(SingleInstance, SecondStartShowsTheMessageAndEndsWhileTheFirstGoesOn)
{
    if (QStandardPaths::findExecutable(u"xdotool"_s).isEmpty())
        GTEST_SKIP() << "xdotool is needed to answer the message box";
    QTemporaryDir config;
    auto first = startPlayer(config.path(), u"offscreen"_s);
    ASSERT_TRUE(first->waitForStarted(5000));
    QTest::qWait(1500); // the first instance holds the lock once its window is up
    ASSERT_EQ(first->state(), QProcess::Running);

    auto second = startPlayer(config.path(), u"xcb"_s);
    QByteArray seen;
    ASSERT_TRUE(waitForText(*second, "このアプリケーションは重複起動することができません。", seen, 15000))
        << seen.toStdString();
    // Press OK in the message box: focus its window, then type Return.
    QString window;
    const QStringList search { u"search"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(second->processId()) };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(window = xdotool(search)).isEmpty(); }, 10000));
    xdotool({ u"windowfocus"_s, u"--sync"_s, window });
    xdotool({ u"key"_s, u"Return"_s });
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_NE(second->exitCode(), 0);
    QTest::qWait(300);
    EXPECT_EQ(first->state(), QProcess::Running);
    first->terminate();
    first->waitForFinished(5000);
}

// Silent named pipes as settings or handed playlist hold nothing up; Shift-JIS names play; SIGTERM ends cleanly.
TEST(SingleInstance, NamedPipesHoldNothingUpAndNamesThatAreNotUtf8Play)
{
    QTemporaryDir config;
    const QByteArray dir = QFile::encodeName(config.path());
    ASSERT_EQ(::mkfifo((dir + "/kestrine.ini").constData(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir + "/pipe.m3u").constData(), 0600), 0);
    const QString wav = writeWav(config.filePath(u"x.wav"_s));
    ASSERT_EQ(::rename(QFile::encodeName(wav).constData(), (dir + "/\x8b\xc8.wav").constData()), 0); // 曲.wav
    QProcess p;
    p.setProcessEnvironment(playerEnvironment(config.path(), u"offscreen"_s));
    // The shell makes the name from its bytes (octal escapes of printf).
    p.start(u"/bin/sh"_s,
        { u"-c"_s, uR"sh(exec "$0" "$(printf "$1")")sh"_s, QStringLiteral(KESTRINE_BIN_DIR "/kestrine"),
            config.path() + u"/\\213\\310.wav"_s });
    QByteArray seen;
    ASSERT_TRUE(waitForText(p, "playing " + config.filePath(u"曲.wav"_s).toUtf8(), seen, 15000)) << seen.toStdString();
    auto second = startPlayer(config.path(), u"offscreen"_s, { config.filePath(u"pipe.m3u"_s) });
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitCode(), 0);
    ASSERT_TRUE(waitForText(p, config.filePath(u"pipe.m3u"_s).toUtf8() + "」を読み込めませんでした", seen, 10000))
        << seen.toStdString();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
}

TEST(SingleInstance, FilesOnTheCommandLinePlayAndASecondStartHandsItsFilesOver)
{
    QTemporaryDir config;
    const QString a = writeWav(config.filePath(u"a.wav"_s)), b = writeWav(config.filePath(u"b.wav"_s));
    const QString c = writeWav(config.filePath(u"c.wav"_s));
    ASSERT_FALSE(c.isEmpty());
    // Relative names count from the working folder of the start.
    auto first = startPlayer(config.path(), u"offscreen"_s, { a, u"b.wav"_s }, config.path());
    QByteArray seen;
    ASSERT_TRUE(waitForText(*first, "playing " + a.toUtf8(), seen, 15000)) << seen.toStdString();
    EXPECT_TRUE(seen.contains(b.toUtf8())) << seen.toStdString(); // made absolute

    auto second = startPlayer(config.path(), u"offscreen"_s, { c });
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_FALSE(second->readAllStandardError().contains("kestrine:")); // no message box
    ASSERT_TRUE(waitForText(*first, "playing " + c.toUtf8(), seen, 10000)) << seen.toStdString();
    // No sound server answered: the user hears of the silent output.
    EXPECT_TRUE(waitForText(*first, kes::OutputNotice::text().toUtf8(), seen, 5000)) << seen.toStdString();
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(5000));
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit); // SIGTERM closes the window
    EXPECT_EQ(first->exitCode(), 0);
}
