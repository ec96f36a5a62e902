// Short media files made with ffmpeg at test time: one second of a moving test pattern
// (320 x 240, 25 frames a second) with a 440 Hz tone, in the container the name asks for.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

inline bool haveFfmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

// Makes dir/name by its ending (avi, mpg, wma, mp3, any case); "bad" in the name gives
// random bytes instead.  Returns the path, or the empty text when ffmpeg failed.
inline QString makeClip(const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (name.contains(QLatin1String("bad"))) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        QByteArray bytes(64 * 1024, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        f.write(bytes);
        return path;
    }
    const QString ext = name.right(3).toLower();
    const QStringList picture { QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("testsrc=size=320x240:rate=25:duration=1") };
    const QStringList tone { QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("sine=frequency=440:duration=1:sample_rate=44100") };
    QStringList args { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y") };
    if (ext == QLatin1String("avi"))
        args << picture << tone << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-c:a")
             << QStringLiteral("libmp3lame");
    else if (ext == QLatin1String("mpg"))
        args << picture << tone << QStringLiteral("-c:v") << QStringLiteral("mpeg1video") << QStringLiteral("-c:a")
             << QStringLiteral("mp2") << QStringLiteral("-f") << QStringLiteral("mpeg");
    else if (ext == QLatin1String("wma"))
        args << tone << QStringLiteral("-c:a") << QStringLiteral("wmav2") << QStringLiteral("-f")
             << QStringLiteral("asf");
    else
        args << tone << QStringLiteral("-c:a") << QStringLiteral("libmp3lame") << QStringLiteral("-b:a")
             << QStringLiteral("128k");
    args << path;
    return QProcess::execute(QStringLiteral("ffmpeg"), args) == 0 ? path : QString();
}
