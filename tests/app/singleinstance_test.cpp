// Two real processes: a second start without files shows the duplicate-start message and
// ends after OK, while the first instance goes on; a second start with files hands them to
// the first, which adds and plays them, and ends with 0 at once.  Runs under xvfb-run.
#include "outputnotice.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace
{

QProcess *startPlayer(const QString &configDir, const char *platform, const QStringList &files = {},
    const QString &workingDir = QString())
{
    auto *p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent")); // no sound server
    env.insert(QStringLiteral("KESTRINE_CONFIG_DIR"), configDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(platform));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("kestrine.files.info=true"));
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(workingDir);
    p->start(QStringLiteral(KESTRINE_BIN_DIR "/kestrine"), files);
    return p;
}

// One second of 16-bit stereo silence.
QString writeWav(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    const quint32 data = 44100 * 4;
    QByteArray h;
    QDataStream out(&h, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + data);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(44100) << quint32(44100 * 4) << quint16(4) << quint16(16);
    out.writeRawData("data", 4);
    out << data;
    f.write(h);
    f.write(QByteArray(data, '\0'));
    return path;
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

TEST(SingleInstance, FilesOnTheCommandLinePlayAndASecondStartHandsItsFilesOver)
{
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const QString a = writeWav(config.filePath(QStringLiteral("a.wav")));
    const QString b = writeWav(config.filePath(QStringLiteral("b.wav")));
    const QString c = writeWav(config.filePath(QStringLiteral("c.wav")));
    ASSERT_FALSE(c.isEmpty());

    // Relative names count from the working folder of the start.
    std::unique_ptr<QProcess> first(
        startPlayer(config.path(), "offscreen", { a, QStringLiteral("b.wav") }, config.path()));
    QByteArray seen;
    ASSERT_TRUE(waitForText(*first, "playing " + a.toUtf8(), seen, 15000)) << seen.toStdString();
    EXPECT_TRUE(seen.contains(b.toUtf8())) << seen.toStdString(); // made absolute

    std::unique_ptr<QProcess> second(startPlayer(config.path(), "offscreen", { c }));
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
