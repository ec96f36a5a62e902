// The set-up the window-level tests share: a main window over the scripted decoder, its
// settings file in a scratch folder, the decoder callback's flags as at a fresh start
// (each window has playback variables of its own).
#pragma once

#include "decodercallback.h"
#include "fakedecoder.h"
#include "mainwindow.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "testfiles.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake.reset();
        CallbackFlags &flags = callbackFlags();
        flags.TrackEnded = flags.CallbackActive = false;
    }
    // A window through its start-up sequence (embedded covers cached in cacheDir).
    std::unique_ptr<MainWindow> start(VolumeMemory *volume = nullptr, const QString &cacheDir = {})
    {
        auto w = std::make_unique<MainWindow>(
            MainWindow::Context { FakeDecoder::api(), &prompter, iniPath, dir.path(), nullptr, volume, cacheDir });
        EXPECT_TRUE(w->formLoad());
        return w;
    }
    // Writes dir/name and returns its path.
    QString touch(const QString &name, const QByteArray &bytes = {})
    {
        return writeBytes(dir.filePath(name), bytes), dir.filePath(name);
    }
    // Adds a checked row for each path.
    static void addRows(MainWindow &w, const QStringList &paths)
    {
        for (const QString &path : paths)
            w.playlist()->addRow(TrackRow { .fullPath = path });
    }
    static QStringList fullPaths(const PlaylistModel &m)
    {
        QStringList out;
        for (int i = 1; i <= m.count(); ++i)
            out << m.fullPath(i);
        return out;
    }
    // A small picture of one colour as PNG bytes.
    static QByteArray pngBytes(QColor color)
    {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(color);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }
    template <typename T = QWidget> static T *child(QObject &parent, const QString &name)
    {
        T *c = parent.findChild<T *>(name);
        EXPECT_NE(c, nullptr) << name.toStdString();
        return c;
    }

    FakeDecoder &fake = FakeDecoder::instance();
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    QString iniPath = dir.filePath(u"kestrine.ini"_s);
};
