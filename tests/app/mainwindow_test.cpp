// The main window with the scripted decoder, then the player as a desktop program.
#include "appsetup.h"
#include "externalfiles.h"
#include "inifile.h"
#include "outputnotice.h"
#include "pathbytes.h"
#include "playlistcommands.h"
#include "playlistfiles.h"
#include "settings.h"
#include "settingssaver.h"
#include "trackadder.h"
#include "volumememory.h"
#include "windowtest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <string_view>
#include <thread>

using namespace kes;
using MainWindowTest = WindowTest;
using DesktopTest = WindowTest;

namespace
{

// Renames onto kestrine.ini are held while g_holdSaves is set; the renaming thread is kept.
std::atomic<bool> g_holdSaves { false };
// While set, those renames fail.
std::atomic<bool> g_failSaves { false };
std::atomic<std::thread::id> g_saveThread;

} // namespace

extern "C" int rename(const char *from, const char *to)
{
    using Rename = int (*)(const char *, const char *);
    static const Rename real = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
    if (std::string_view(to).ends_with("/kestrine.ini")) {
        if (g_failSaves) {
            errno = EIO;
            return -1;
        }
        g_saveThread = std::this_thread::get_id();
        for (int i = 0; g_holdSaves && i < 500; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return real(from, to);
}

// A compact start with refused options, missing start-up files and a one-sided volume.
TEST_F(MainWindowTest, StartWithEverythingAmiss)
{
    fake.setVbmp3OptionResult = fake.setDecodeOptionResult = 0;
    fake.volume = 0x1234FFFFu; // the slider follows the right channel
    writeBytes(iniPath,
        "[その他設定]\nOp_03=1\nOp_09=1\nOp_04=1\nOp_14=/no/such/list.m3u\nOp_07=1\nOp_17=/no/\n"
        "OutputDevice=pulse:usb\nReplayGainMode=2\n");
    auto w = start();
    // The stored device and ReplayGain reach the library after its init (it refuses them before).
    const auto init = std::ranges::find(fake.calls, "init");
    EXPECT_NE(std::find(init, fake.calls.end(), "setOutputDevice"), fake.calls.end());
    EXPECT_EQ(fake.chosenDevice, "pulse:usb");
    ASSERT_TRUE(fake.replayGain);
    EXPECT_EQ(fake.replayGain->mode, 2);
    EXPECT_EQ(prompter.texts(),
        QStringList({ u"指定の起動時用m3uファイルがみつかりません。Ｌｏａｄを中止します."_s,
            u"指定のドライブ及びフォルダがみつかりません。Ｌｏａｄを中止します."_s, u"error"_s, u"error"_s }));
    EXPECT_EQ(child<QSlider>(*w, u"Slider1"_s)->value(), 0x1234);
    const int compact = w->windowHeightTwips();
    w->Toolbar_ButtonClick(u"変形"_s);
    const int full = w->windowHeightTwips();
    EXPECT_GT(full, compact);
    // After the user dragged the window to another size, the toggle restores full height.
    w->setWindowSizeTwips(7000, 5200);
    w->ToggleCompact();
    EXPECT_EQ(w->windowHeightTwips(), full);
    EXPECT_LT(w->windowWidthTwips(), 7000);
}

// A quit while the options, print or about window is open closes it too and frees the decoder.
TEST_F(MainWindowTest, QuitClosesTheOpenModalWindow)
{
    for (auto [open, name] : { std::pair { "設定", "frmOpt1" }, { "印刷", "print1" }, { "about", "frmAbout" } }) {
        SCOPED_TRACE(name);
        auto w = start();
        w->show();
        QString opened;
        bool hung = false;
        QTimer quit, rescue;
        quit.setSingleShot(true);
        rescue.setSingleShot(true);
        QObject::connect(&quit, &QTimer::timeout, [&] {
            opened = QApplication::activeModalWidget() ? QApplication::activeModalWidget()->objectName() : QString();
            w->Toolbar_ButtonClick(u"終了"_s);
            rescue.start(3000);
        });
        QObject::connect(&rescue, &QTimer::timeout, [&] {
            if (QWidget *still = QApplication::activeModalWidget()) {
                hung = true;
                still->close();
            }
        });
        quit.start(0);
        fake.calls.clear();
        if (QString::fromUtf8(open) == u"about"_s)
            w->about_Click();
        else
            w->Toolbar_ButtonClick(QString::fromUtf8(open));
        EXPECT_EQ(opened, QString::fromUtf8(name));
        EXPECT_FALSE(hung) << "the window stayed open after the quit";
        EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "free"), 1);
        EXPECT_FALSE(w->isVisible());
    }
}

// A quiet start with the callback on is the end-to-end test's; so is the flag at a track's end.
TEST_F(MainWindowTest, StartsInJapaneseAndShutsDownInOrderWritingNothing)
{
    auto w = start();
    const QFontInfo info(child(*w, u"lbl_title"_s)->font());
    EXPECT_TRUE(QFontDatabase::families(QFontDatabase::Japanese).contains(info.family()))
        << info.family().toStdString();
    ASSERT_TRUE(installJapaneseTranslations(*QCoreApplication::instance()));
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), u"キャンセル"_s);
    DecoderCallback(3, 0); // only the end of a track raises the flag
    EXPECT_FALSE(callbackFlags().TrackEnded);
    fake.calls.clear();
    w->close();
    EXPECT_EQ(fake.calls, (std::vector<std::string> { "stopCallback", "stop", "free" }));
    EXPECT_FALSE(fake.callbackActiveAtStopCallback);
    EXPECT_FALSE(child<QTimer>(*w, u"Timebar"_s)->isActive());
    DecoderCallback(4, 0); // a late report after shutdown has no effect
    EXPECT_FALSE(callbackFlags().TrackEnded);
    fake.calls.clear();
    w.reset(); // destruction does not release the decoder twice
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_FALSE(QFile::exists(iniPath));
}

TEST_F(MainWindowTest, RepeatModeAndPopupFromTheLabels)
{
    auto w = start();
    auto *label15 = child(*w, u"Label15"_s);
    auto *repeatSet = child<QAction>(*w, u"repeat_set"_s);
    // The menu item (m) greys the label; a greyed label takes no click (c); the label's own handler is l.
    for (auto [step, repeat, enabled] : { std::tuple { 'l', false, true }, { 'l', true, true }, { 'm', false, false },
             { 'c', false, false }, { 'm', true, true } }) {
        step == 'l'       ? w->Label15_Click()
            : step == 'm' ? repeatSet->trigger()
                          : QTest::mouseClick(label15, Qt::LeftButton);
        EXPECT_EQ(repeatSet->isChecked() && w->repeatOn(), repeat) << step;
        EXPECT_EQ(repeatSet->isChecked() || w->repeatOn(), repeat) << step;
        EXPECT_EQ(label15->isEnabled(), enabled) << step;
    }
    // The mode label toggles the mode and resets the track number.
    w->playbackState().CurrentTrackNo = 4;
    QTest::mouseClick(child(*w, u"Label5"_s), Qt::LeftButton);
    EXPECT_EQ(w->playMode(), u"Random"_s);
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 1);
    w->label5Click();
    EXPECT_EQ(w->playMode(), u"Normal"_s);
    // The right button opens the popup on the read-outs only.
    w->show();
    QSignalSpy popups(w.get(), &MainWindow::popupShown);
    for (const QString &name : { u"Label5"_s, u"Lbl_Vol"_s, u"Slider1"_s, u"lbl_title"_s }) {
        QTest::mousePress(child(*w, name), Qt::RightButton);
        w->popupMenu()->hide();
        EXPECT_EQ(popups.count(), name == u"lbl_title"_s ? 1 : 0) << name.toStdString();
    }
}

// The list view takes a drop as a copy (never a move) or a link.
TEST_F(MainWindowTest, FilesDroppedOnTheListBecomeRowsAndAreNeverMoved)
{
    auto w = start();
    w->show();
    const QString song = touch(u"b.mp3"_s);
    QMimeData mime;
    mime.setUrls({ QUrl::fromLocalFile(song) });
    QWidget *viewport = child<QTreeView>(*w, u"ListView"_s)->viewport();
    const Qt::DropActions any = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    for (auto [offered, modifiers, taken] :
        { std::tuple { Qt::DropActions(Qt::MoveAction), Qt::NoModifier, Qt::IgnoreAction },
            { any, Qt::ShiftModifier, Qt::CopyAction },
            { Qt::MoveAction | Qt::LinkAction, Qt::ShiftModifier, Qt::LinkAction },
            { any, Qt::NoModifier, Qt::CopyAction } }) {
        SCOPED_TRACE(int(offered));
        QDragEnterEvent enter(QPoint(10, 10), offered, &mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(viewport, &enter);
        EXPECT_EQ(enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction, taken);
        QDropEvent drop(QPointF(10, 10), offered, &mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(viewport, &drop);
        EXPECT_EQ(drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction, taken);
        ASSERT_TRUE(w->adder()->waitForIdle(5000));
        EXPECT_EQ(w->playlist()->count(), taken == Qt::IgnoreAction ? 0 : 1);
    }
    EXPECT_EQ(w->playlist()->fullPath(1), song);
}

TEST_F(MainWindowTest, StartupPlaylistCommandThenListClearWhilePlayingAndBusyCommands)
{
    auto w = start();
    const QString list = dir.filePath(u"start.m3u"_s);
    addRows(*w, { w->playbackState().CurrentFile = u"/m/1.mp3"_s });
    prompter.inputs.enqueue(list);
    child<QAction>(*w, u"Def_Playlist_Set"_s)->trigger();
    EXPECT_EQ(ReadIni(u"その他設定"_s, u"Op_14"_s, u"?"_s, iniPath), list);
    EXPECT_TRUE(readBytes(list).contains("/m/1.mp3")); // the list itself, for the next start
    // Playing, List Clear leaves playback alone.
    prompter.messages.clear();
    w->controller()->PlayTrack();
    EXPECT_TRUE(waitForOpen(*w->controller()));
    fake.calls.clear();
    child<QAction>(*w, u"List_Clear"_s)->trigger();
    EXPECT_EQ(w->playlist()->count(), 0);
    EXPECT_TRUE(fake.state == VBMP3_PLAYING && fake.calls.empty() && w->controller()->timebarOn());
    EXPECT_EQ(w->playbackState().CurrentFile, u"/m/1.mp3"_s);
    // Playing, the guarded commands refuse with a message; paused, they run.
    EXPECT_TRUE(w->BusyGuard());
    w->Toolbar_ButtonClick(u"印刷"_s);
    EXPECT_EQ(prompter.texts(), QStringList(2, u"現在、再生中のため、この機能は利用できません！"_s));
    fake.state = VBMP3_PAUSED;
    EXPECT_FALSE(w->BusyGuard());
    EXPECT_EQ(prompter.messages.size(), 2);
}

// The seek bar and the list view between the controller and the commands.
TEST_F(MainWindowTest, SeekBarAndDoubleClick)
{
    auto w = start();
    addRows(*w, { u"/m/1.mp3"_s, u"/m/2.mp3"_s });
    fake.openInfo.totalSeconds = 187;
    w->Toolbar_ButtonClick(u"再生"_s);
    EXPECT_TRUE(waitForOpen(*w->controller()));
    // Only dragging the thumb seeks; an arrow click just moves it, and the tick puts it back.
    auto *bar = child<QScrollBar>(*w, u"seekbar"_s);
    EXPECT_EQ(bar->maximum(), 187);
    fake.elapsed = 61;
    w->controller()->timebarTick();
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_TRUE(fake.seeks.empty());
    w->controller()->timebarTick();
    EXPECT_EQ(bar->value(), 61);
    bar->setSliderDown(true);
    bar->setSliderPosition(42);
    w->controller()->timebarTick(); // no tick moves the thumb under the user's hand
    EXPECT_EQ(bar->sliderPosition(), 42);
    bar->setSliderDown(false);
    EXPECT_EQ(fake.seeks, std::vector<int32_t> { 42 });
    // The double click plays the row clicked last.
    w->commands()->ItemClick(2);
    QTest::mouseDClick(child<QTreeView>(*w, u"ListView"_s)->viewport(), Qt::LeftButton);
    EXPECT_TRUE(waitForOpen(*w->controller()));
    EXPECT_EQ(fake.openedPath, "/m/2.mp3");
}

// A device that did not open is told of once per choice; the null output once, without blocking.
TEST_F(DesktopTest, OutputNoticeTellsOnceOfAGoneDeviceAndOfTheNullOutput)
{
    static const char *output = "alsa";
    static const char *open = "";
    DecoderApi api = FakeDecoder::api();
    api.getOutputName = [](char *name, int32_t size) { return qstrncpy(name, output, size), int32_t(qstrlen(output)); };
    api.getOutputDevice = [](char *id, int32_t size) { return qstrncpy(id, open, size), int32_t(qstrlen(open)); };
    QWidget window;
    OutputNotice notice(api, &window, 1);
    QSignalSpy shown(&notice, &OutputNotice::shown);
    const struct {
        const char *chosen, *output, *open;
        int shownAfter;
    } steps[] = { { "", "alsa", "", 0 }, { "alsa:hw:1", "alsa", "alsa:hw:1", 0 }, { "alsa:hw:1", "file", "", 0 },
        { "alsa:hw:1", "pulse", "", 1 }, { "alsa:hw:1", "alsa", "", 1 }, { "pulse:usb", "pulse", "pulse:usb", 1 },
        { "pulse:usb", "alsa", "", 2 }, { "", "", "", 2 }, { "", "file", "", 2 }, { "", "null", "", 3 },
        { "", "null", "", 3 } };
    for (const auto &step : steps) {
        output = step.output;
        open = step.open;
        notice.setChosenDevice(QString::fromUtf8(step.chosen));
        notice.trackStarted();
        QTest::qWait(30);
        EXPECT_EQ(shown.count(), step.shownAfter) << step.chosen << " " << step.output << " " << step.open;
        if (step.shownAfter == 2) {
            EXPECT_FALSE(notice.told()) << "a device that went away is not the silent output";
        }
    }
    QStringList texts;
    for (const QMessageBox *box : window.findChildren<QMessageBox *>(u"outputDeviceNotice"_s))
        texts << box->text();
    EXPECT_EQ(texts,
        QStringList({ OutputNotice::deviceGoneText(u"alsa:hw:1"_s), OutputNotice::deviceGoneText(u"pulse:usb"_s) }));
    EXPECT_TRUE(child<QMessageBox>(window, u"outputNotice"_s)->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(ExternalFilesPaths, CommandLineWordsBecomeAbsolutePaths)
{
    // The words are argv's bytes: options are left out, names that are not UTF-8 kept.
    char a0[] = "kestrine", a1[] = "-style", a2[] = "\x8b\xc8.mp3", a3[] = "--", a4[] = "-dash.wav", a5[] = "-";
    char *argv[] = { a0, a1, a2, a3, a4, a5, nullptr };
    EXPECT_EQ(ExternalFiles::commandLineWords(6, argv),
        (QStringList { pathFromBytes("\x8b\xc8.mp3"), u"-dash.wav"_s, u"-"_s }));
    EXPECT_EQ(ExternalFiles::absolutePaths(
                  { pathFromBytes("caf\xe9.wav"), u"file:///m/%8B%C8.mp3"_s }, pathFromBytes("/h/\x89\xb9")),
        (QStringList { pathFromBytes("/h/\x89\xb9/caf\xe9.wav"), pathFromBytes("/m/\x8b\xc8.mp3") }));
    EXPECT_EQ(ExternalFiles::absolutePaths(
                  { u"a.mp3"_s, u"../b/./c.wav"_s, u"/x/y.m3u"_s, u"file:///m/%E6%98%A5.mp3"_s, u""_s, u":/d.mp3"_s },
                  u"/home/u/music"_s),
        (QStringList { u"/home/u/music/a.mp3"_s, u"/home/u/b/c.wav"_s, u"/x/y.m3u"_s, u"/m/春.mp3"_s,
            u"/home/u/music/:/d.mp3"_s }));
}

TEST_F(DesktopTest, FilesComeAfterTheStartupPlaylistAndTheFirstAddedPlays)
{
    const QString listed = touch(u"listed.mp3"_s), a = touch(u"a.mp3"_s), b = touch(u"b.wav"_s);
    const QString m3u = touch(u"start.m3u"_s, listed.toUtf8() + "\r\n");
    writeBytes(iniPath, "[その他設定]\r\nOp_04=1\r\nOp_14=" + m3u.toUtf8() + "\r\n");
    auto w = start();
    ExternalFiles external(*w);
    QSignalSpy done(&external, &ExternalFiles::done);
    const auto open = [&](const QStringList &files) {
        const qsizetype before = done.count();
        external.open(files);
        EXPECT_TRUE(QTest::qWaitFor([&] { return done.count() > before; }, 5000));
        EXPECT_TRUE(waitForOpen(*w->controller()));
        return QString::fromStdString(fake.openedPath);
    };
    // What was not added is told in a note, which holds up neither the play nor the next request.
    EXPECT_EQ(open({ a, touch(u"notes.txt"_s), b }), a);
    EXPECT_EQ(prompter.texts(), QStringList { u"1 個のファイルを追加できませんでした: notes.txt"_s });
    EXPECT_FALSE(prompter.messages.last().modal);
    EXPECT_EQ(w->playlist()->count(), 3);
    EXPECT_EQ(w->playlist()->fullPath(1), listed);
    EXPECT_EQ(w->playlist()->fullPath(2), a);
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 2);
    // Files already listed add nothing: the first of them plays.  An M3U loads as a drop.
    EXPECT_EQ(open({ listed }), listed);
    const QString c = touch(u"c.mp3"_s);
    EXPECT_EQ(open({ touch(u"second.m3u"_s, c.toUtf8() + "\n"), touch(u"ignored.mp3"_s) }), c);
    EXPECT_EQ(w->playlist()->count(), 4);
    // Nothing the player takes: nothing plays, and the request still ends.
    EXPECT_EQ(open({ touch(u"readme.txt"_s) }), c);
    EXPECT_EQ(done.last().at(0).toInt(), 0);
    // A folder named like a music file or a playlist is walked as a folder.
    QDir(dir.path()).mkpath(u"live.mp3"_s);
    QDir(dir.path()).mkpath(u"list.m3u"_s);
    const QString inFolder = touch(u"live.mp3/in.mp3"_s), inList = touch(u"list.m3u/in.mp3"_s);
    EXPECT_EQ(open({ dir.filePath(u"live.mp3"_s), dir.filePath(u"list.m3u"_s) }), inFolder);
    EXPECT_EQ(fullPaths(*w->playlist()).mid(4).join(u'|').toStdString(), (inFolder + u'|' + inList).toStdString());
    EXPECT_EQ(open({ dir.filePath(u"gone.m3u"_s) }), inFolder);
    EXPECT_EQ(prompter.texts().last(), readFailedMessage(dir.filePath(u"gone.m3u"_s)));
    EXPECT_FALSE(prompter.messages.last().modal);
}

TEST_F(DesktopTest, VolumeIsKeptBetweenRunsWithoutTouchingOtherKeys)
{
    const QByteArray before
        = "[システム]\r\nUSER = 日本\r\n\r\n[その他設定]\r\nOp_01=1\r\n"; // other keys keep their bytes
    writeBytes(iniPath, before);
    {
        VolumeMemory volume(iniPath);
        EXPECT_FALSE(volume.stored().has_value());
        auto w = start(&volume);
        EXPECT_EQ(fake.volume, 0xFFFFFFFFu); // nothing kept: full
        for (int v : { 100, 20000, 30000 })
            w->slider1Change(v);
        EXPECT_EQ(readBytes(iniPath), before); // not yet: the slider may still move
    } // written when the run ends with a change pending
    EXPECT_EQ(readBytes(iniPath), before + "VOLUME=30000\r\n");
    fake.reset();
    VolumeMemory volume(iniPath);
    auto w = start(&volume);
    EXPECT_EQ(fake.volume, (30000u << 16) | 30000u);
    EXPECT_EQ(w->findChild<QSlider *>()->value(), 30000);
    w->slider1Change(500);
    QTest::qWait(600); // settled: written without waiting for the end
    EXPECT_TRUE(readBytes(iniPath).contains("VOLUME=500"));
    // The desktop's mixer moved the volume while idle: the slider follows and the value is kept.
    DecoderCallback(VBMP3_MSG_VOLUME_CHANGED, 0x20002000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->findChild<QSlider *>()->value() == 0x2000; }, 2000));
    QTest::qWait(600);
    EXPECT_TRUE(readBytes(iniPath).contains("VOLUME=8192"));
}

// With a 50 MB settings file a volume save leaves the GUI thread; readers see it; the run's end waits for it.
TEST_F(DesktopTest, SettingsSavesLeaveTheGuiThreadAndEndWithTheRun)
{
    QByteArray huge = "[その他設定]\r\nOp_01=1\r\n[junk]\r\n";
    const QByteArray line = "k=" + QByteArray(998, 'v') + "\r\n";
    while (huge.size() < 50 * 1000 * 1000)
        huge += line;
    writeBytes(iniPath, huge);
    huge.clear();
    std::thread release;
    g_holdSaves = true;
    {
        VolumeMemory volume(iniPath);
        auto w = start(&volume);
        w->slider1Change(20000);
        volume.flush();
        EXPECT_EQ(volume.stored(), (20000u << 16) | 20000u);
        Settings s;
        LoadSettings(s, iniPath);
        EXPECT_EQ(s.Op_01, 1);
        EXPECT_FALSE(readBytes(iniPath).contains("VOLUME=")) << "saved on the GUI thread";
        release = std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            g_holdSaves = false;
        });
    }
    release.join();
    EXPECT_NE(g_saveThread.load(), std::this_thread::get_id());
    const QByteArray saved = readBytes(iniPath);
    EXPECT_TRUE(saved.contains("[その他設定]\r\nOp_01=1\r\nVOLUME=20000\r\n"));
    EXPECT_TRUE(saved.endsWith(line)) << "the part past what is read is kept";
    EXPECT_GT(saved.size(), 50 * 1000 * 1000);
}

// With a big settings file the start-up playlist's save is told once, with its real outcome, after its write.
TEST_F(MainWindowTest, StartupPlaylistOfABigSettingsFileToldOnceWithItsOutcome)
{
    QByteArray big = "[その他設定]\r\nOp_01=1\r\n[junk]\r\n";
    while (big.size() < SettingsSaver::SmallFileBytes)
        big += "k=" + QByteArray(98, 'v') + "\r\n";
    writeBytes(iniPath, big);
    auto w = start();
    addRows(*w, { u"/m/1.mp3"_s });
    const QString list = dir.filePath(u"start.m3u"_s);
    for (const bool fails : { true, false }) {
        prompter.messages.clear();
        g_failSaves = fails;
        prompter.inputs.enqueue(list);
        child<QAction>(*w, u"Def_Playlist_Set"_s)->trigger();
        ASSERT_TRUE(SettingsSaver::instance().flush(std::chrono::seconds(10)));
        QApplication::processEvents(); // the result, posted by the writer
        g_failSaves = false;
        EXPECT_EQ(prompter.texts(),
            QStringList({ u"1個のファイルをPlaylist形式(m3u)で保存しました｡"_s,
                fails ? u"設定の保存に失敗しました"_s : list + u"をデフォルトPlaylistとしてセットしました｡"_s }));
    }
}
