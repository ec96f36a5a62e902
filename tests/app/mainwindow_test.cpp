// The main window with the scripted decoder: start-up and shutdown, layout, toolbar,
// menus, resize rules and the repeat/mode read-outs.
#include "appsetup.h"
#include "fakedecoder.h"
#include "mainwindow.h"
#include "playbackstate.h"
#include "playlistcommands.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "testfiles.h"
#include "trackadder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace kes;

namespace
{

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeDecoder::instance().reset();
        playback().TrackEnded = false;
        playback().CallbackActive = false;
        ASSERT_TRUE(dir.isValid());
        iniPath = dir.filePath(QStringLiteral("kestrine.ini"));
    }

    std::unique_ptr<MainWindow> start()
    {
        auto w
            = std::make_unique<MainWindow>(MainWindow::Context { FakeDecoder::api(), &prompter, iniPath, dir.path() });
        EXPECT_TRUE(w->formLoad());
        return w;
    }
    void writeIni(const QByteArray &text) { writeBytes(iniPath, text); }

    template <typename T = QWidget> T *child(MainWindow &w, const char *name)
    {
        T *c = w.findChild<T *>(QString::fromUtf8(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }

    QTemporaryDir dir;
    QString iniPath;
    ScriptedPrompter prompter;
};

} // namespace

TEST_F(MainWindowTest, StartWithRefusedOptionsMissingFilesAndAOneSidedVolume)
{
    FakeDecoder::instance().setVbmp3OptionResult = 0;
    FakeDecoder::instance().setDecodeOptionResult = 0;
    FakeDecoder::instance().volume = 0x1234FFFFu; // the slider follows the right channel
    writeIni("[その他設定]\nOp_04=1\nOp_14=/no/such/list.m3u\nOp_07=1\nOp_17=/no/such/folder/\n");
    auto w = start();
    EXPECT_EQ(prompter.texts(),
        QStringList({ QStringLiteral("指定の起動時用m3uファイルがみつかりません。Ｌｏａｄを中止します."),
            QStringLiteral("指定のドライブ及びフォルダがみつかりません。Ｌｏａｄを中止します."),
            QStringLiteral("error"), QStringLiteral("error") }));
    EXPECT_EQ(child<QSlider>(*w, "Slider1")->value(), 0x1234);
}

TEST_F(MainWindowTest, CompactStartAndToggle)
{
    writeIni("[その他設定]\nOp_03=1\nOp_09=1\n");
    auto w = start();
    const int compact = w->windowHeightTwips();
    w->Toolbar_ButtonClick(QStringLiteral("変形"));
    const int full = w->windowHeightTwips();
    EXPECT_GT(full, compact);
    // After the user dragged the window to another size, the toggle restores full height.
    w->setWindowSizeTwips(7000, 5200);
    w->ToggleCompact();
    EXPECT_EQ(w->windowHeightTwips(), full);
    EXPECT_LT(w->windowWidthTwips(), 7000);
}

TEST_F(MainWindowTest, StartsQuietlyInJapaneseAndShutsDownInOrderWritingNothing)
{
    auto w = start();
    FakeDecoder &f = FakeDecoder::instance();
    EXPECT_TRUE(prompter.messages.isEmpty());
    EXPECT_TRUE(playback().CallbackActive);
    const QFontInfo info(child<QLabel>(*w, "lbl_title")->font());
    EXPECT_TRUE(QFontDatabase::families(QFontDatabase::Japanese).contains(info.family()))
        << info.family().toStdString();
    ASSERT_TRUE(installJapaneseTranslations(*QCoreApplication::instance()));
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
    DecoderCallback(3, 0); // only the end of a track raises the flag
    EXPECT_FALSE(playback().TrackEnded);
    f.endTrack();
    EXPECT_TRUE(playback().TrackEnded);
    playback().TrackEnded = false;
    f.clearCalls();
    w->close();
    const std::vector<std::string> expected { "stopCallback", "stop", "free" };
    EXPECT_EQ(f.calls(), expected);
    EXPECT_FALSE(f.callbackActiveAtStopCallback);
    EXPECT_FALSE(child<QTimer>(*w, "Timebar")->isActive());
    // A late report after shutdown has no effect.
    DecoderCallback(4, 0);
    EXPECT_FALSE(playback().TrackEnded);
    f.clearCalls();
    w.reset(); // destruction does not release the decoder twice
    EXPECT_TRUE(f.calls().empty());
    EXPECT_FALSE(QFile::exists(iniPath));
}

TEST_F(MainWindowTest, RepeatModeAndPopupFromTheLabels)
{
    auto w = start();
    auto *label15 = child<QLabel>(*w, "Label15");
    auto *repeatSet = w->findChild<QAction *>(QStringLiteral("repeat_set"));
    w->Label15_Click();
    EXPECT_FALSE(repeatSet->isChecked() || w->repeatOn());
    w->Label15_Click();
    EXPECT_TRUE(repeatSet->isChecked());
    // The menu item greys the label and leaves its caption; a greyed label takes no clicks.
    repeatSet->trigger();
    EXPECT_FALSE(label15->isEnabled());
    QTest::mouseClick(label15, Qt::LeftButton);
    EXPECT_FALSE(repeatSet->isChecked() || w->repeatOn());
    repeatSet->trigger();
    EXPECT_TRUE(label15->isEnabled() && w->repeatOn());
    // The mode label toggles the mode and resets the track number.
    playback().CurrentTrackNo = 4;
    QTest::mouseClick(child(*w, "Label5"), Qt::LeftButton);
    EXPECT_EQ(w->playMode(), QStringLiteral("Random"));
    EXPECT_EQ(playback().CurrentTrackNo, 1);
    w->label5Click();
    EXPECT_EQ(w->playMode(), QStringLiteral("Normal"));
    // The right button opens the popup on the read-outs, not on the mode labels.
    w->show();
    QSignalSpy popups(w.get(), &MainWindow::popupShown);
    QTest::mousePress(child(*w, "Label5"), Qt::RightButton);
    QTest::mousePress(child(*w, "lbl_title"), Qt::RightButton);
    w->popupMenu()->hide();
    EXPECT_EQ(popups.count(), 1);
}

// What a drop adds and in which order is the adder's; here the list view takes the drop.
TEST_F(MainWindowTest, FilesDroppedOnTheListBecomeRows)
{
    auto w = start();
    w->show();
    const QString song = dir.filePath(QStringLiteral("b.mp3"));
    writeBytes(song, {});
    QMimeData mime;
    mime.setUrls({ QUrl::fromLocalFile(song) });
    QWidget *viewport = child<QTreeView>(*w, "ListView")->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    ASSERT_TRUE(w->adder()->waitForIdle(5000));
    EXPECT_EQ(w->playlist()->fullPath(1), song);
}

TEST_F(MainWindowTest, WhilePlayingListClearLeavesPlaybackAloneAndBusyCommandsRefuse)
{
    auto w = start();
    const TrackRow row { .fullPath = QStringLiteral("/m/1.mp3") };
    w->playlist()->addRow(row);
    playback().CurrentFile = row.fullPath;
    playback().CurrentTrackNo = 1;
    w->controller()->PlayTrack();
    FakeDecoder::instance().clearCalls();
    w->findChild<QAction *>(QStringLiteral("List_Clear"))->trigger();
    EXPECT_EQ(w->playlist()->count(), 0);
    EXPECT_EQ(FakeDecoder::instance().state, 1);
    EXPECT_TRUE(FakeDecoder::instance().calls().empty());
    EXPECT_TRUE(child<QTimer>(*w, "Timebar")->isActive());
    EXPECT_EQ(playback().CurrentFile, row.fullPath);
    // Playing, the guarded commands refuse with a message; paused, they run.
    EXPECT_TRUE(w->BusyGuard());
    w->Toolbar_ButtonClick(QStringLiteral("印刷"));
    EXPECT_EQ(prompter.texts(), QStringList(2, QStringLiteral("現在、再生中のため、この機能は利用できません！")));
    FakeDecoder::instance().state = VBMP3_PAUSED;
    EXPECT_FALSE(w->BusyGuard());
    EXPECT_EQ(prompter.messages.size(), 2);
}

TEST_F(MainWindowTest, StartupPlaylistCommandStoresThePathForTheNextStart)
{
    auto w = start();
    const TrackRow row { .fullPath = dir.filePath(QStringLiteral("x.mp3")) };
    w->playlist()->addRow(row);
    const QString list = dir.filePath(QStringLiteral("start.m3u"));
    prompter.inputs.enqueue(list);
    w->findChild<QAction *>(QStringLiteral("Def_Playlist_Set"))->trigger();
    EXPECT_EQ(ReadIni(QStringLiteral("その他設定"), QStringLiteral("Op_14"), QStringLiteral("?"), iniPath), list);
    // A later start loads the saved playlist (when it names a file).
    ASSERT_TRUE(WriteIni(QStringLiteral("その他設定"), QStringLiteral("Op_04"), QStringLiteral("1"), iniPath));
    writeBytes(row.fullPath, {});
    w->close();
    auto again = start();
    ASSERT_TRUE(again->adder()->waitForIdle(5000));
    EXPECT_EQ(again->playlist()->count(), 1);
}

TEST_F(MainWindowTest, PlaybackShowsInTheWindowsControls)
{
    auto w = start();
    // The read-outs' labels are followed by the end-to-end test.
    FakeDecoder &f = FakeDecoder::instance();
    for (int i = 1; i <= 2; ++i)
        w->playlist()->addRow(TrackRow { .fullPath = QStringLiteral("/m/%1.mp3").arg(i) });
    f.openInfo.totalSeconds = 187;
    w->Toolbar_ButtonClick(QStringLiteral("再生"));
    EXPECT_EQ(f.openedPath, "/m/1.mp3");
    // Only dragging the thumb seeks; an arrow click just moves it, and the tick puts it back.
    auto *bar = child<QScrollBar>(*w, "seekbar");
    EXPECT_EQ(bar->maximum(), 187);
    f.elapsed = 61;
    w->controller()->timebarTick();
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_TRUE(f.seeks.empty());
    w->controller()->timebarTick();
    EXPECT_EQ(bar->value(), 61);
    bar->setSliderDown(true);
    bar->setSliderPosition(42);
    w->controller()->timebarTick(); // no tick moves the thumb under the user's hand
    EXPECT_EQ(bar->sliderPosition(), 42);
    bar->setSliderDown(false);
    EXPECT_EQ(f.seeks, std::vector<int32_t> { 42 });
    // The double click plays the row clicked last; the toolbar's other buttons reach playback.
    w->commands()->ItemClick(2);
    QTest::mouseDClick(child<QTreeView>(*w, "ListView")->viewport(), Qt::LeftButton);
    EXPECT_EQ(f.openedPath, "/m/2.mp3");
    w->Toolbar_ButtonClick(QStringLiteral("一時"));
    EXPECT_EQ(f.state, VBMP3_PAUSED);
    w->Toolbar_ButtonClick(QStringLiteral("停止"));
    EXPECT_EQ(f.state, VBMP3_STOPPED);
}
