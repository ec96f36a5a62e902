// Shared pieces of the playlist tests: the application object for the event loop, the
// fake decoder and small file helpers.
#pragma once

#include "fakedecoder.h"
#include "playlistmodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

inline QCoreApplication &testApp()
{
    static int argc = 1;
    static char name[] = "test_playlist";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    return app ? *app : *QCoreApplication::instance();
}

inline TagInfo makeTag(const char *title, const char *artist, const char *album)
{
    TagInfo t;
    std::memset(&t, 0, sizeof t);
    std::strncpy(t.title, title, sizeof t.title);
    std::strncpy(t.artist, artist, sizeof t.artist);
    std::strncpy(t.album, album, sizeof t.album);
    return t;
}

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QStringList fullPaths(const PlaylistModel &m)
{
    QStringList out;
    for (int i = 1; i <= m.count(); ++i)
        out << m.fullPath(i);
    return out;
}

// A fixture with a clean fake decoder, a temporary folder and a model.
class PlaylistTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        FakeDecoder::instance().reset();
        api = FakeDecoder::api();
        ASSERT_TRUE(tmp.isValid());
        dir = QDir(tmp.path());
    }
    // Creates an (empty) file in the temporary folder and returns its path.
    QString touch(const QString &name)
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        writeBytes(path, {});
        return path;
    }
    void setTag(const QString &path, const TagInfo &tag)
    {
        std::lock_guard lock(FakeDecoder::instance().mutex);
        FakeDecoder::instance().tags[path.toStdString()] = tag;
    }

    DecoderApi api;
    QTemporaryDir tmp;
    QDir dir;
    PlaylistModel model;
};
