// Short media files made with ffmpeg at test time: one second of a moving test pattern
// (320 x 240, 25 frames a second) with a 440 Hz tone, in the container the name asks for.
#pragma once

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

inline bool haveFfmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

// Makes dir/name by its ending (avi, mpg, wma, mp3, any case); "bad" in the name gives
// 64 KiB of random bytes instead.  Returns the path, or the empty text on failure.
inline QString makeClip(const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name), ext = name.right(3).toLower();
    QString args = QStringLiteral("-v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=1 "
                                  "-f lavfi -i sine=frequency=440:duration=1:sample_rate=44100 ");
    if (name.contains(QLatin1String("bad"))) {
        QFile f(path);
        QByteArray bytes(64 * 1024, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
    }
    args += ext == u"avi" ? QStringLiteral("-c:v mpeg4 -c:a libmp3lame")
        : ext == u"mpg"   ? QStringLiteral("-c:v mpeg1video -c:a mp2 -f mpeg")
        : ext == u"wma"   ? QStringLiteral("-map 1 -c:a wmav2 -f asf")
                          : QStringLiteral("-map 1 -c:a libmp3lame -b:a 128k");
    return QProcess::execute(QStringLiteral("ffmpeg"), args.split(u' ') << path) == 0 ? path : QString();
}
