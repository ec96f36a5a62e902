// The playback controller without any widget: the scripted decoder below, a recording
// view above, the real playlist model and sequencing beside it.
#pragma once

#include "decodercallback.h"
#include "fakedecoder.h"
#include "playbackcontroller.h"
#include "playbackstate.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "sequencer.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <map>

namespace kes
{

struct RecordingView : PlaybackView {
    std::map<ReadOut, QString> readOuts;
    int seekMax = -1, seekValue = -1, tab = -1, highlights = 0, frames = 0, clears = 0;
    QString lines[5];
    void showReadOut(ReadOut which, const QString &text) override { readOuts[which] = text; }
    void setSeekRange(int maximum) override { seekMax = maximum; }
    void setSeekValue(int seconds) override { seekValue = seconds; }
    void selectTab(int index) override { tab = index; }
    void showLyricsLine(int index, const QString &text) override { lines[index] = text; }
    void highlightCurrentLine() override { ++highlights; }
    void drawSpectrum(const int32_t *, const int32_t *) override { ++frames; }
    void clearSpectrum() override { ++clears; }
    bool shown = true;
    bool spectrumShown() const override { return shown; }
    void minimizeForVideo() override { }
    void restoreFromVideo() override { }
};

class ControllerFixture : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "test_player", *argv[] = { name, nullptr };
        static QCoreApplication app(argc, argv);
    }
    void SetUp() override
    {
        f.reset();
        CallbackFlags &flags = callbackFlags();
        flags.TrackEnded = flags.OutputFailed = flags.TrackJoined = false;
        flags.CallbackActive = true;
        FakeDecoder::api().callback(DecoderCallback);
    }
    // Lets queued reports in, then waits until the open asked for (if any) is done.
    void settle()
    {
        QCoreApplication::processEvents();
        EXPECT_TRUE(waitForOpen(c));
    }

    FakeDecoder &f = FakeDecoder::instance();
    ScriptedPrompter prompter;
    RecordingView view;
    PlaylistModel model;
    bool repeat = true;
    QString mode = QStringLiteral("Normal");
    PlaybackState state;
    Sequencer sequencer { model, state.CurrentTrackNo, [this] { return mode; }, [this] { return repeat; } };
    Settings settings;
    PlaybackController c { FakeDecoder::api(), prompter, view, state, sequencer, settings };
};

} // namespace kes
