// The main window with the scripted decoder: start-up and shutdown, layout, toolbar,
// menus, resize rules and the repeat/mode read-outs.
#include "appsetup.h"
#include "fakedecoder.h"
#include "mainwindow.h"
#include "playbackstate.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "trackadder.h"
#include "twips.h"

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

    std::unique_ptr<MainWindow> start(bool load = true)
    {
        MainWindow::Context ctx;
        ctx.api = FakeDecoder::api();
        ctx.prompter = &prompter;
        ctx.iniPath = iniPath;
        ctx.programFolder = dir.path();
        auto w = std::make_unique<MainWindow>(ctx);
        if (load) {
            EXPECT_TRUE(w->Form_Load());
        }
        return w;
    }

    void writeIni(const QByteArray &text)
    {
        QFile f(iniPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

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

QSize pxSize(int wTwips, int hTwips)
{
    return QSize(twipsToPx(wTwips), twipsToPx(hTwips));
}

} // namespace

TEST_F(MainWindowTest, StartsWithDefaultsAndWritesNothingAtExit)
{
    auto w = start();
    EXPECT_EQ(w->windowWidthTwips(), 5850);
    EXPECT_EQ(w->windowHeightTwips(), 4830);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("kestrine"));
    EXPECT_EQ(w->playMode(), QStringLiteral("Normal"));
    EXPECT_TRUE(w->repeatOn());
    EXPECT_EQ(w->searchPattern(), QStringLiteral("*.mp3;*.rmp"));
    EXPECT_EQ(playback().CurrentTrackNo, 1);
    EXPECT_EQ(playback().VideoSizeMode, 1);
    EXPECT_TRUE(prompter.messages.isEmpty());
    // Decoder start-up: options as the player hands them, callback registered.
    FakeDecoder &f = FakeDecoder::instance();
    EXPECT_EQ(f.vbmp3Option.value[0], 128);
    EXPECT_EQ(f.vbmp3Option.value[1], 10);
    EXPECT_EQ(f.vbmp3Option.value[2], 10);
    EXPECT_EQ(f.decodeOption.value[2], 48000);
    EXPECT_NE(f.callback, nullptr);
    EXPECT_TRUE(playback().CallbackActive);
    // The volume read-out follows the right channel of the device volume.
    EXPECT_EQ(child<QSlider>(*w, "Slider1")->value(), 65535);
    w->close();
    EXPECT_FALSE(QFile::exists(iniPath));
}

TEST_F(MainWindowTest, ShutdownClearsTheFlagBeforeReleasingTheDecoderInOrder)
{
    auto w = start();
    FakeDecoder &f = FakeDecoder::instance();
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
}

TEST_F(MainWindowTest, OptionRefusalsAndStartupFilesAreReported)
{
    FakeDecoder::instance().setVbmp3OptionResult = 0;
    FakeDecoder::instance().setDecodeOptionResult = 0;
    writeIni("[その他設定]\nOp_04=1\nOp_14=/no/such/list.m3u\nOp_07=1\nOp_17=/no/such/folder/\n");
    auto w = start();
    EXPECT_EQ(prompter.texts(),
        QStringList({ QStringLiteral("指定の起動時用m3uファイルがみつかりません。Ｌｏａｄを中止します."),
            QStringLiteral("指定のドライブ及びフォルダがみつかりません。Ｌｏａｄを中止します."),
            QStringLiteral("error"), QStringLiteral("error") }));
}

TEST_F(MainWindowTest, CompactStartAndToggle)
{
    writeIni("[その他設定]\nOp_03=1\n");
    auto w = start();
    EXPECT_EQ(w->windowHeightTwips(), 1830);
    EXPECT_EQ(w->windowWidthTwips(), 5850);
    w->Toolbar_ButtonClick(QStringLiteral("変形"));
    EXPECT_EQ(w->windowHeightTwips(), 4830);
    w->Toolbar_ButtonClick(QStringLiteral("変形"));
    EXPECT_EQ(w->windowHeightTwips(), 1830);
    // After the user dragged the window to another height, the toggle restores full height.
    w->setWindowSizeTwips(7000, 5200);
    w->ToggleCompact();
    EXPECT_EQ(w->windowHeightTwips(), 4830);
    EXPECT_EQ(w->windowWidthTwips(), 5850);
}

TEST_F(MainWindowTest, ResizeRules)
{
    auto w = start();
    w->setWindowSizeTwips(6000, 6000);
    EXPECT_EQ(child(*w, "SSTab1")->size(), pxSize(5775, 4080));
    EXPECT_EQ(child(*w, "ListView")->size(), pxSize(5675, 3690));
    EXPECT_EQ(child(*w, "LyricsBox")->width(), twipsToPx(5640));
    EXPECT_EQ(child(*w, "Shape2")->width(), twipsToPx(5850));
    EXPECT_EQ(child(*w, "lbl_kasi(4)")->width(), twipsToPx(5505));
    w->setWindowSizeTwips(6000, 4005);
    EXPECT_EQ(child(*w, "SSTab1")->height(), twipsToPx(2895));
    EXPECT_EQ(child(*w, "ListView")->height(), twipsToPx(2505));
    // Controls the rules do not name keep their places.
    EXPECT_EQ(child(*w, "wavebox")->geometry(), twipsRect(4260, 720, 1300, 700));
}

TEST_F(MainWindowTest, JapaneseTextsRenderWithAJapaneseFont)
{
    auto w = start();
    const QFontInfo info(child<QLabel>(*w, "lbl_title")->font());
    EXPECT_TRUE(QFontDatabase::families(QFontDatabase::Japanese).contains(info.family()))
        << info.family().toStdString();
    // Twips reach pixels at 15 to one.
    EXPECT_EQ(child(*w, "Lbl_Number")->geometry(), QRect(10, 30, 24, 13));
}

TEST_F(MainWindowTest, ToolbarButtonsInOrderWithBothIconSizes)
{
    for (int large : { 0, 1 }) {
        writeIni(large ? "[その他設定]\nOp_09=1\n" : "[その他設定]\nOp_09=0\n");
        auto w = start();
        auto *tb = child<QToolBar>(*w, "Toolbar");
        QStringList keys, tips;
        for (QAction *a : tb->actions()) {
            keys << (a->isSeparator() ? QStringLiteral("|") : a->data().toString());
            if (!a->isSeparator())
                tips << a->toolTip();
        }
        EXPECT_EQ(keys.join(QLatin1Char(' ')), QStringLiteral("終了 | 前曲 再生 一時 停止 次曲 | 設定 変形 印刷"));
        EXPECT_EQ(tips.join(QLatin1Char(' ')),
            QStringLiteral("終了 前曲 再生 一時停止 停止 次曲 設定 サイズ変更 ＣＤジャケット"));
        const int size = large ? 20 : 14;
        EXPECT_EQ(tb->iconSize(), QSize(size, size));
        EXPECT_EQ(tb->actions().first()->icon().availableSizes().value(0), QSize(size, size));
        w->close();
    }
}

TEST_F(MainWindowTest, RepeatFromTheLabelAndFromTheMenu)
{
    auto w = start();
    auto *label15 = child<QLabel>(*w, "Label15");
    auto *repeatSet = w->findChild<QAction *>(QStringLiteral("repeat_set"));
    w->Label15_Click();
    EXPECT_FALSE(repeatSet->isChecked());
    EXPECT_EQ(label15->text(), QStringLiteral("Repeat-off"));
    w->Label15_Click();
    EXPECT_TRUE(repeatSet->isChecked());
    EXPECT_EQ(label15->text(), QStringLiteral("Repeat-on"));
    // The menu item greys the label and leaves its caption; a greyed label takes no clicks.
    repeatSet->trigger();
    EXPECT_FALSE(repeatSet->isChecked());
    EXPECT_FALSE(label15->isEnabled());
    EXPECT_EQ(label15->text(), QStringLiteral("Repeat-on"));
    QTest::mouseClick(label15, Qt::LeftButton);
    EXPECT_FALSE(repeatSet->isChecked());
    repeatSet->trigger();
    EXPECT_TRUE(repeatSet->isChecked());
    EXPECT_TRUE(label15->isEnabled());
    EXPECT_EQ(label15->text(), QStringLiteral("Repeat-on"));
    // The mode label toggles between its two captions and resets the track number.
    playback().CurrentTrackNo = 4;
    QTest::mouseClick(child(*w, "Label5"), Qt::LeftButton);
    EXPECT_EQ(w->playMode(), QStringLiteral("Random"));
    EXPECT_EQ(playback().CurrentTrackNo, 1);
    w->Label5_Click();
    EXPECT_EQ(w->playMode(), QStringLiteral("Normal"));
}

TEST_F(MainWindowTest, BusyGuardOnlyWhilePlaying)
{
    auto w = start();
    FakeDecoder &f = FakeDecoder::instance();
    for (int state : { 0, 2 }) {
        f.state = state;
        EXPECT_FALSE(w->BusyGuard());
    }
    EXPECT_TRUE(prompter.messages.isEmpty());
    f.state = 1;
    EXPECT_TRUE(w->BusyGuard());
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("現在、再生中のため、この機能は利用できません！") });
    w->Toolbar_ButtonClick(QStringLiteral("印刷"));
    EXPECT_EQ(prompter.messages.size(), 2);
}

TEST_F(MainWindowTest, RightClickOpensThePopupOnTheListedControlsOnly)
{
    auto w = start();
    w->show();
    QSignalSpy shown(w.get(), &MainWindow::popupShown);
    QTest::mousePress(child(*w, "lbl_title"), Qt::LeftButton);
    EXPECT_EQ(shown.count(), 0);
    for (const char *name : { "lbl_title", "lbl_art", "Lbl_Number", "lblTime", "wavebox", "Toolbar" }) {
        QTest::mousePress(child(*w, name), Qt::RightButton);
        w->popupMenu()->hide();
    }
    QTest::mousePress(w.get(), Qt::RightButton, {}, QPoint(2, 200));
    w->popupMenu()->hide();
    EXPECT_EQ(shown.count(), 7);
    QTest::mousePress(child(*w, "Label5"), Qt::RightButton);
    QTest::mousePress(child(*w, "Label16"), Qt::RightButton);
    EXPECT_EQ(shown.count(), 7);
}

TEST_F(MainWindowTest, VolumeSliderSendsBothChannels)
{
    FakeDecoder::instance().volume = 0x1234FFFFu;
    auto w = start();
    EXPECT_EQ(child<QSlider>(*w, "Slider1")->value(), 0x1234);
    struct Case {
        int value;
        uint32_t word;
        const char *hex;
    } cases[] = { { 0, 0u, "0000" }, { 255, 0x00FF00FFu, "00FF" }, { 4096, 0x10001000u, "1000" },
        { 65535, 0xFFFFFFFFu, "FFFF" } };
    for (const Case &c : cases) {
        w->Slider1_Change(c.value);
        EXPECT_EQ(FakeDecoder::instance().volume, c.word);
        EXPECT_EQ(w->VolumeHex(), QString::fromLatin1(c.hex));
        EXPECT_EQ(child<QLabel>(*w, "Lbl_Vol")->text(), QStringLiteral("Vol - %1").arg(c.value));
    }
}

TEST_F(MainWindowTest, FilesDroppedOnTheListBecomeRows)
{
    auto w = start();
    w->show();
    QStringList paths;
    for (const char *name : { "b.mp3", "a.wav", "notes.txt" }) {
        paths << dir.filePath(QString::fromLatin1(name));
        QFile f(paths.last());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls);
    QWidget *viewport = child<QTreeView>(*w, "ListView")->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    ASSERT_TRUE(w->adder()->waitForIdle(5000));
    ASSERT_EQ(w->playlist()->count(), 2);
    EXPECT_EQ(w->playlist()->fullPath(1), paths[0]);
    EXPECT_EQ(w->playlist()->artist(2), QStringLiteral("WAV File"));
}

TEST_F(MainWindowTest, ListClearWhilePlayingLeavesPlaybackAlone)
{
    auto w = start();
    TrackRow row;
    row.fullPath = QStringLiteral("/m/1.mp3");
    w->playlist()->addRow(row);
    playback().CurrentFile = row.fullPath;
    playback().CurrentTrackNo = 1;
    w->PlayTrack();
    FakeDecoder::instance().clearCalls();
    w->findChild<QAction *>(QStringLiteral("List_Clear"))->trigger();
    EXPECT_EQ(w->playlist()->count(), 0);
    EXPECT_EQ(FakeDecoder::instance().state, 1);
    EXPECT_TRUE(FakeDecoder::instance().calls().empty());
    EXPECT_TRUE(child<QTimer>(*w, "Timebar")->isActive());
    EXPECT_EQ(playback().CurrentFile, row.fullPath);
}

TEST_F(MainWindowTest, StartupPlaylistCommandStoresThePathOrClearsItOnCancel)
{
    auto w = start();
    TrackRow row;
    row.fullPath = dir.filePath(QStringLiteral("x.mp3"));
    w->playlist()->addRow(row);
    const QString list = dir.filePath(QStringLiteral("start.m3u"));
    prompter.inputs.enqueue(list);
    w->findChild<QAction *>(QStringLiteral("Def_Playlist_Set"))->trigger();
    EXPECT_EQ(ReadIni(QStringLiteral("その他設定"), QStringLiteral("Op_14"), QStringLiteral("?"), iniPath), list);
    EXPECT_EQ(prompter.texts().last(), list + QStringLiteral("をデフォルトPlaylistとしてセットしました｡"));
    prompter.inputs.enqueue(QString()); // Cancel
    w->findChild<QAction *>(QStringLiteral("Def_Playlist_Set"))->trigger();
    EXPECT_EQ(ReadIni(QStringLiteral("その他設定"), QStringLiteral("Op_14"), QStringLiteral("?"), iniPath), QString());
    // A later start loads the saved playlist (when it names a file).
    prompter.inputs.enqueue(list);
    w->findChild<QAction *>(QStringLiteral("Def_Playlist_Set"))->trigger();
    ASSERT_TRUE(WriteIni(QStringLiteral("その他設定"), QStringLiteral("Op_04"), QStringLiteral("1"), iniPath));
    QFile mp3(row.fullPath);
    ASSERT_TRUE(mp3.open(QIODevice::WriteOnly));
    mp3.close();
    w->close();
    auto again = start();
    ASSERT_TRUE(again->adder()->waitForIdle(5000));
    EXPECT_EQ(again->playlist()->count(), 1);
}

TEST_F(MainWindowTest, StandardButtonsSpeakJapanese)
{
    ASSERT_TRUE(installJapaneseTranslations(*QCoreApplication::instance()));
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
}
