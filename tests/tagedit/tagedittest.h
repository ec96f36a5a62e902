// Test files for the tag writer's tests: made once per run in a temporary folder with the
// installed encoders, tagged and read back through mutagen (tagdump.py), an independent
// reader, with the audio's digest from ffmpeg's packet copy.
#pragma once

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace tagtest
{

inline QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    return dir;
}

inline bool run(const QString &command)
{
    const QString line = QStringLiteral("cd '%1' && (%2) >/dev/null 2>&1").arg(folder().path(), command);
    return std::system(line.toUtf8().constData()) == 0;
}

inline bool haveTools()
{
    static const bool have = run("command -v sox && command -v lame && command -v ffmpeg && "
                                 "/usr/bin/python3 -c 'import mutagen' && sox -n -r 44100 -c 2 -b 16 tone.wav "
                                 "synth 1 sine 440 gain -6");
    return have;
}

inline QString output(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString tagdump()
{
    return QStringLiteral(KESTRINE_SOURCE_DIR "/tests/tagedit/tagdump.py");
}

// The tags mutagen reads from path, as {key: text}.
inline QJsonObject dump(const QString &path)
{
    return QJsonDocument::fromJson(output("/usr/bin/python3", { tagdump(), "dump", path }).toUtf8()).object();
}

// The digest of the audio packets; of the decoded sound for Monkey's Audio, whose last
// packet ffmpeg takes to the end of the file, tags included.
inline QString audioMd5(const QString &path)
{
    QStringList arguments { "-v", "quiet", "-i", path, "-map", "0:a", "-c", "copy", "-f", "md5", "-" };
    if (path.endsWith(".ape"))
        arguments.remove(6, 2);
    return output("ffmpeg", arguments).trimmed();
}

// A fresh copy of the file `name` made once by command (%o: the file's name) in the
// folder; empty when the command failed.
inline QString copyOf(const QString &name, const QString &command, const QString &copy)
{
    const QString made = folder().filePath(name);
    if (!QFile::exists(made) && !run(QString(command).replace("%o", name)))
        return {};
    const QString path = folder().filePath(copy);
    QFile::remove(path);
    return QFile::copy(made, path) ? path : QString();
}

} // namespace tagtest
