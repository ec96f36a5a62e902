// Shared pieces of the playlist tests: the application object for the event loop, the
// fake decoder, a temporary folder, a model and the adder that fills it.
#pragma once

#include "fakedecoder.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "testfiles.h"
#include "trackadder.h"
#include "trackreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstring>

using namespace kes;

inline QCoreApplication &testApp()
{
    static int argc = 1;
    static char name[] = "test_playlist", *argv[] = { name, nullptr };
    static QCoreApplication *app
        = QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return *app;
}

inline TagInfo makeTag(const char *title, const char *artist, const char *album)
{
    TagInfo t {};
    std::strncpy(t.title, title, sizeof t.title);
    std::strncpy(t.artist, artist, sizeof t.artist);
    std::strncpy(t.album, album, sizeof t.album);
    return t;
}

inline QStringList fullPaths(const PlaylistModel &m)
{
    QStringList out;
    for (int i = 1; i <= m.count(); ++i)
        out << m.fullPath(i);
    return out;
}

class PlaylistTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        FakeDecoder::instance().reset();
        ASSERT_TRUE(tmp.isValid());
        dir = QDir(tmp.path());
        adder = std::make_unique<TrackAdder>(&model, api, &prompter);
    }
    void waitIdle() { ASSERT_TRUE(adder->waitForIdle(20000)); }
    // Creates an empty file (and its folder) in the temporary folder; returns its path.
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

    DecoderApi api = FakeDecoder::api();
    QTemporaryDir tmp;
    QDir dir;
    PlaylistModel model;
    ScriptedPrompter prompter;
    std::unique_ptr<TrackAdder> adder;
};
