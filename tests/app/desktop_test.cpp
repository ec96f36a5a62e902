// The main window as a daily desktop player: shortcuts, list keys, Tab and names, playing row, cover, last run.
#include "coverart.h"
#include "pathbytes.h"
#include "playingrowdelegate.h"
#include "playlistcommands.h"
#include "sessionlist.h"
#include "shortcuts.h"
#include "tabcontrol.h"
#include "trackadder.h"
#include "windowtest.h"

#include <QAccessible>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cstdio>
#include <cstring>

using namespace kes;
using KeyboardTest = WindowTest;
using PlayingRowTest = WindowTest;
using CoverTest = WindowTest;
using LastSessionTest = WindowTest;

namespace
{

void activate(QWidget &w)
{
    w.show();
    QApplication::setActiveWindow(&w);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
}

// Closes the next modal window as soon as it shows and remembers its name.
struct ModalCloser {
    QString seen;
    QTimer timer;
    ModalCloser()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                seen = modal->objectName();
                modal->close();
            }
        });
        timer.start(10);
    }
};

QTreeView *listOf(MainWindow &w)
{
    return w.findChild<QTreeView *>(u"ListView"_s);
}

} // namespace

// Each shortcut does exactly what its control does (commands, variables, read-outs, windows), and something.
TEST_F(KeyboardTest, EachShortcutDoesWhatItsControlDoes)
{
    struct Outcome {
        std::vector<std::string> calls;
        std::vector<int32_t> seeks;
        int state, trackNo;
        QString file, volume, repeat, mode, modal;
        bool repeatOn, visible;
        bool operator==(const Outcome &) const = default;
    };
    using Act = std::function<void(MainWindow &)>;
    const auto run = [&](const Act &act) {
        fake.reset();
        fake.volume = (30000u << 16) | 30000u; // room for the volume to move both ways
        auto w = start();
        activate(*w);
        addRows(*w, { u"/m/1.mp3"_s, u"/m/2.mp3"_s, u"/m/3.mp3"_s });
        fake.openInfo.totalSeconds = 100;
        w->controller()->playRow(2, u"/m/2.mp3"_s);
        EXPECT_TRUE(waitForOpen(*w->controller()));
        w->findChild<TabControl *>(u"SSTab1"_s)->setCurrentIndex(1);
        fake.elapsed = 30;
        fake.calls.clear();
        ModalCloser closer;
        act(*w);
        EXPECT_TRUE(waitForOpen(*w->controller()));
        QTest::qWait(30); // the slider applies its value once it is set
        Outcome o { fake.calls, fake.seeks, fake.state, w->playbackState().CurrentTrackNo,
            w->playbackState().CurrentFile, child<QLabel>(*w, u"Lbl_Vol"_s)->text(),
            child<QLabel>(*w, u"Label15"_s)->text(), w->playMode(), closer.seen, w->repeatOn(), w->isVisible() };
        return o;
    };
    const auto press = [](Qt::Key key, Qt::KeyboardModifiers mods = {}, const char *focus = nullptr) {
        return [=](MainWindow &w) {
            QWidget *target = focus ? w.findChild<QWidget *>(QString::fromLatin1(focus)) : &w;
            target->setFocus();
            QTest::keyClick(target, key, mods);
        };
    };
    const auto button
        = [](const char *key) { return [=](MainWindow &w) { w.Toolbar_ButtonClick(QString::fromUtf8(key)); }; };
    const auto click = [](const char *name) {
        return [=](MainWindow &w) {
            QTest::mouseClick(w.findChild<QWidget *>(QString::fromLatin1(name)), Qt::LeftButton);
        };
    };
    const auto onSlider = [](Qt::Key key) {
        return [=](MainWindow &w) { QTest::keyClick(w.findChild<QSlider *>(u"Slider1"_s), key); };
    };
    const auto drag = [](int seconds) {
        return [=](MainWindow &w) {
            auto *bar = w.findChild<QScrollBar *>(u"seekbar"_s);
            bar->setSliderDown(true);
            bar->setSliderPosition(seconds);
            bar->setSliderDown(false);
        };
    };
    const Outcome nothing = run([](MainWindow &) {});
    const struct {
        const char *what;
        Act key, control;
    } cases[] = {
        { "Z", press(Qt::Key_Z), button("前曲") },
        { "X", press(Qt::Key_X), button("再生") },
        { "C", press(Qt::Key_C), button("一時") },
        { "V", press(Qt::Key_V), button("停止") },
        { "B", press(Qt::Key_B), button("次曲") },
        { "Space on the list", press(Qt::Key_Space, {}, "ListView"), button("一時") },
        { "+", press(Qt::Key_Plus), onSlider(Qt::Key_PageUp) },
        { "=", press(Qt::Key_Equal), onSlider(Qt::Key_PageUp) },
        { "-", press(Qt::Key_Minus), onSlider(Qt::Key_PageDown) },
        { "Left on the list", press(Qt::Key_Left, {}, "ListView"), drag(25) },
        { "Right on the seek bar", press(Qt::Key_Right, {}, "seekbar"), drag(35) },
        { "Ctrl+R", press(Qt::Key_R, Qt::ControlModifier), click("Label15") },
        { "Ctrl+S", press(Qt::Key_S, Qt::ControlModifier), click("Label5") },
        { "Ctrl+P", press(Qt::Key_P, Qt::ControlModifier), button("設定") },
        { "Ctrl+F", press(Qt::Key_F, Qt::ControlModifier), click("Command2") },
        { "F1", press(Qt::Key_F1), [](MainWindow &w) { w.findChild<QAction *>(u"shortcutList"_s)->trigger(); } },
        { "Ctrl+Q", press(Qt::Key_Q, Qt::ControlModifier), button("終了") },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome byKey = run(c.key);
        EXPECT_TRUE(byKey == run(c.control));
        EXPECT_FALSE(byKey == nothing);
    }
    // The table lists every command the window binds, each key once.
    QStringList keys;
    for (const KeyBinding &b : keyBindings())
        for (const QKeySequence &k : b.sequences())
            keys << k.toString();
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
}

// Return plays, Delete removes while the track goes on, Insert flips checks; arrows belong to the widget under them.
TEST_F(KeyboardTest, ListKeysAndArrowsWhereTheyBelong)
{
    auto w = start();
    activate(*w);
    addRows(*w, { u"/m/1.mp3"_s, u"/m/2.mp3"_s, u"/m/3.mp3"_s, u"/m/4.mp3"_s });
    fake.openInfo.totalSeconds = 100;
    QTreeView *list = listOf(*w);
    w->findChild<TabControl *>(u"SSTab1"_s)->setCurrentIndex(1);
    list->setFocus();
    const auto select = [&](std::initializer_list<int> rows) {
        list->selectionModel()->clear();
        for (int r : rows)
            list->selectionModel()->select(
                w->playlist()->index(r - 1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        list->selectionModel()->setCurrentIndex(
            w->playlist()->index(*rows.begin() - 1, 0), QItemSelectionModel::NoUpdate);
    };
    select({ 3 });
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(waitForOpen(*w->controller()));
    EXPECT_EQ(fake.openedPath, "/m/3.mp3");
    EXPECT_EQ(w->commands()->SelectedRow(), 3);

    select({ 1, 2 });
    QTest::keyClick(list, Qt::Key_Insert);
    EXPECT_TRUE(!w->playlist()->isChecked(1) && !w->playlist()->isChecked(2) && w->playlist()->isChecked(3));
    QTest::keyClick(list, Qt::Key_Insert);
    EXPECT_TRUE(w->playlist()->isChecked(1) && w->playlist()->isChecked(2));

    fake.calls.clear();
    select({ 1, 4 });
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(fullPaths(*w->playlist()), QStringList({ u"/m/2.mp3"_s, u"/m/3.mp3"_s }));
    EXPECT_TRUE(fake.calls.empty()) << "playback is not touched";
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 2) << "the playing row moved up by one";
    EXPECT_EQ(w->playlist()->playingRow(), 2);
    select({ 1 });
    w->findChild<QAction *>(u"listRemove"_s)->trigger();
    EXPECT_EQ(fullPaths(*w->playlist()), QStringList({ u"/m/3.mp3"_s }));
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 1);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 1);

    fake.elapsed = 50;
    auto *slider = child<QSlider>(*w, u"Slider1"_s);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_TRUE(fake.seeks.empty());
    EXPECT_LT(slider->value(), 65535);
    // On the toolbar the arrows go from button to button.
    QToolBar *toolbar = w->findChild<QToolBar *>(u"Toolbar"_s);
    QWidget *playButton = toolbar->widgetForAction(w->findChild<QAction *>(u"再生"_s));
    playButton->setFocus();
    QTest::keyClick(playButton, Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), toolbar->widgetForAction(w->findChild<QAction *>(u"一時"_s)));
    EXPECT_TRUE(fake.seeks.empty());
    // A control that leaves them alone lets them seek.
    QWidget *mode = child(*w, u"Label5"_s);
    mode->setFocus();
    QTest::keyClick(mode, Qt::Key_Right);
    EXPECT_EQ(fake.seeks, std::vector<int32_t> { 55 });
    // Stopped: no seek.
    w->Toolbar_ButtonClick(u"停止"_s);
    QTest::keyClick(mode, Qt::Key_Right);
    EXPECT_EQ(fake.seeks.size(), 1u);
}

// Tab reaches every control but greyed labels; pictures and read-outs have spoken names that follow what they show.
TEST_F(KeyboardTest, TabReachesEveryControlAndEachHasAName)
{
    auto w = start();
    activate(*w);
    w->findChild<TabControl *>(u"SSTab1"_s)->setCurrentIndex(1);
    QToolBar *toolbar = w->findChild<QToolBar *>(u"Toolbar"_s);
    QMap<QString, QString> buttonNames;
    for (QAction *a : toolbar->actions())
        if (!a->isSeparator())
            buttonNames.insert(a->objectName(), toolbar->widgetForAction(a)->accessibleName());
    EXPECT_EQ(buttonNames,
        (QMap<QString, QString> { { u"終了"_s, u"終了"_s }, { u"前曲"_s, u"前曲"_s }, { u"再生"_s, u"再生"_s },
            { u"一時"_s, u"一時停止"_s }, { u"停止"_s, u"停止"_s }, { u"次曲"_s, u"次曲"_s }, { u"設定"_s, u"設定"_s },
            { u"変形"_s, u"サイズ変更"_s }, { u"印刷"_s, u"ＣＤジャケット"_s } }));

    const auto reached = [&] {
        QStringList names;
        toolbar->widgetForAction(toolbar->actions().first())->setFocus();
        for (int i = 0; i < 40; ++i) {
            QWidget *f = QApplication::focusWidget();
            const QString name = f->objectName().isEmpty() ? f->accessibleName() : f->objectName();
            if (names.contains(name))
                break;
            names << (name.isEmpty() ? QString::fromLatin1(f->metaObject()->className()) : name);
            QTest::keyClick(f, Qt::Key_Tab);
        }
        return names;
    };
    const QStringList all = reached();
    for (const QString &name : { u"終了"_s, u"前曲"_s, u"再生"_s, u"一時停止"_s, u"停止"_s, u"次曲"_s, u"設定"_s,
             u"サイズ変更"_s, u"ＣＤジャケット"_s, u"Slider1"_s, u"Label15"_s, u"Label5"_s, u"seekbar"_s, u"QTabBar"_s,
             u"ListView"_s, u"Command2"_s })
        EXPECT_TRUE(all.contains(name)) << name.toStdString() << " in " << all.join(u' ').toStdString();
    child<QAction>(*w, u"repeat_set"_s)->trigger(); // greys Label15
    EXPECT_FALSE(reached().contains(u"Label15"_s));

    addRows(*w, { u"/m/1.mp3"_s });
    fake.openInfo.totalSeconds = 187;
    w->Toolbar_ButtonClick(u"再生"_s);
    EXPECT_TRUE(waitForOpen(*w->controller()));
    const auto said = [&](const char *name, QAccessible::Text what) {
        return QAccessible::queryAccessibleInterface(child(*w, QString::fromLatin1(name)))->text(what);
    };
    EXPECT_EQ(said("Lbl_Number", QAccessible::Name), u"曲番号"_s);
    EXPECT_EQ(said("Lbl_Number", QAccessible::Description), u"No.1"_s);
    EXPECT_EQ(said("lbl_time2", QAccessible::Description), u"03:07"_s);
    EXPECT_EQ(said("seekbar", QAccessible::Name), u"再生位置"_s);
    EXPECT_EQ(said("Label5", QAccessible::Name), u"再生モード"_s);
    QTest::keyClick(child(*w, u"Label5"_s), Qt::Key_Space); // a label with the focus takes Space as a click
    EXPECT_EQ(said("Label5", QAccessible::Description), u"Random"_s);
}

// The playing row is bold and scrolled to, selection untouched, through sorting; the number read-out holds four digits.
TEST_F(PlayingRowTest, MarkedAndScrolledToWithoutMovingTheSelection)
{
    auto w = start();
    activate(*w);
    QStringList paths;
    for (int i = 1; i <= 1300; ++i)
        paths << u"/m/%1.mp3"_s.arg(i, 4, 10, QLatin1Char('0'));
    addRows(*w, paths);
    w->findChild<TabControl *>(u"SSTab1"_s)->setCurrentIndex(1);
    QTreeView *list = listOf(*w);
    const QModelIndex chosen = w->playlist()->index(4, 0);
    list->selectionModel()->setCurrentIndex(chosen, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QApplication::processEvents();
    const auto bold = [&](int row) {
        QStyleOptionViewItem option;
        static_cast<PlayingRowDelegate *>(list->itemDelegate())
            ->initStyleOption(&option, w->playlist()->index(row - 1, PlaylistModel::TitleColumn));
        return option.font.bold();
    };
    const auto inView = [&](int row) {
        return list->viewport()->rect().intersects(list->visualRect(w->playlist()->index(row - 1, 0)));
    };
    EXPECT_FALSE(inView(1234));
    w->controller()->playRow(1234, paths[1233]);
    EXPECT_TRUE(waitForOpen(*w->controller()));
    EXPECT_TRUE(bold(1234) && !bold(5));
    EXPECT_TRUE(inView(1234));
    EXPECT_EQ(list->currentIndex(), chosen);
    EXPECT_EQ(list->selectionModel()->selectedRows(), QModelIndexList { chosen });
    auto *number = child<QLabel>(*w, u"Lbl_Number"_s);
    EXPECT_EQ(number->text(), u"No.1234"_s);
    EXPECT_LE(number->fontMetrics().horizontalAdvance(number->text()), number->width());

    w->Toolbar_ButtonClick(u"次曲"_s);
    EXPECT_TRUE(waitForOpen(*w->controller()));
    EXPECT_TRUE(bold(1235) && !bold(1234));
    EXPECT_TRUE(inView(1235));
}

// A track without lyrics shows its cover (embedded, cached once by hash, or beside it); one with lyrics its lines.
TEST_F(CoverTest, EmbeddedOrBesideShownWithoutLyricsAndCachedOnce)
{
    const QString cache = dir.filePath(u"cache"_s);
    auto w = start(nullptr, cache);
    QDir(dir.path()).mkpath(u"album"_s);
    QDir(dir.path()).mkpath(u"other"_s);
    const QString a = touch(u"album/a.mp3"_s), b = touch(u"album/b.mp3"_s), c = touch(u"other/c.mp3"_s),
                  lyrics = touch(u"album/d.mp3"_s);
    touch(u"album/d.txt"_s, "[00:01.00]line\n");
    touch(u"other/Folder.PNG"_s, pngBytes(Qt::blue));
    touch(u"other/Cover.Jpg"_s, "not a picture at all"); // passed over: it does not read
    touch(u"other/cover.png"_s, pngBytes(Qt::green));
    const QByteArray red = pngBytes(Qt::red);
    for (const QString &p : { a, b, lyrics })
        fake.pictures[p.toStdString()] = { "image/png", red.toStdString() };
    addRows(*w, { a, b, c, lyrics });
    QLabel *cover = child<QLabel>(*w, u"lyricsCover"_s);
    const auto play = [&](int row) {
        QSignalSpy found(w->coverArt(), &CoverArt::found);
        w->controller()->playRow(row, w->playlist()->fullPath(row));
        EXPECT_TRUE(waitForOpen(*w->controller())); // the cover may come meanwhile
        EXPECT_TRUE(!found.isEmpty() || found.wait(5000));
        return w->coverArt()->current();
    };
    w->findChild<TabControl *>(u"SSTab1"_s)->setCurrentIndex(0);
    w->show();

    const QString cached = QDir(cache).filePath(
        QString::fromLatin1(QCryptographicHash::hash(red, QCryptographicHash::Sha1).toHex()) + u".png"_s);
    EXPECT_EQ(play(1).file, cached);
    EXPECT_EQ(readBytes(cached), red);
    EXPECT_FALSE(cover->isHidden());
    EXPECT_EQ(cover->pixmap().toImage().pixelColor(cover->pixmap().rect().center()), QColor(Qt::red));
    const QDateTime written = QFileInfo(cached).lastModified();
    QTest::qWait(20);
    EXPECT_EQ(play(2).file, cached);
    EXPECT_EQ(QFileInfo(cached).lastModified(), written) << "written once";
    EXPECT_EQ(QDir(cache).entryList(QDir::Files).size(), 1);

    EXPECT_EQ(play(3).file, dir.filePath(u"other/cover.png"_s));
    EXPECT_EQ(cover->pixmap().toImage().pixelColor(cover->pixmap().rect().center()), QColor(Qt::green));

    play(4);
    EXPECT_TRUE(cover->isHidden()) << "the lyrics have the view";
    const DecoderApi api = FakeDecoder::api();
    // A folder whose name is not UTF-8 is listed by its bytes.
    const QString odd = pathFromBytes(QFile::encodeName(dir.path()) + "/caf\xe9");
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath(u"other"_s)).constData(), pathToBytes(odd).constData()), 0);
    const CoverArt::Cover found = CoverArt::search(api, odd + u"/c.mp3"_s, cache);
    EXPECT_EQ(found.file, odd + u"/cover.png"_s);
    EXPECT_FALSE(found.image.isNull());
    ::rename(pathToBytes(odd).constData(), QFile::encodeName(dir.filePath(u"other"_s)).constData()); // Qt removes it
}

// The last run's list comes back with the option on; a cut save keeps the last whole one and is told once.
TEST_F(LastSessionTest, ComesBackAcrossRunsAndSurvivesBrokenSaves)
{
    writeBytes(iniPath, "[その他設定]\r\nRESUME_LIST=1\r\n");
    QStringList paths;
    for (const char *name : { "a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3" })
        paths << touch(QString::fromLatin1(name));
    const QString saved = dir.filePath(u"kestrine_last.m3u8"_s);
    const auto restored = [&] {
        fake.reset();
        auto w = start();
        EXPECT_TRUE(w->adder()->waitForIdle(5000));
        QApplication::processEvents();
        return w;
    };
    {
        auto w = start();
        w->adder()->addFiles(paths);
        ASSERT_TRUE(w->adder()->waitForIdle(5000));
        w->playlist()->setChecked(2, false);
        w->playlist()->setChecked(3, false);
        w->playlist()->setTag(3, u"END"_s);
        w->controller()->playRow(4, paths[3]);
        EXPECT_TRUE(waitForOpen(*w->controller()));
        // Written once the list has stood still, off the GUI thread.
        QSignalSpy written(w->sessionKeeper(), &SessionKeeper::written);
        ASSERT_TRUE(written.wait(SessionKeeper::kSettleMs + 3000));
        EXPECT_TRUE(written.first().first().toBool());
        EXPECT_TRUE(readBytes(saved).contains(paths[3].toUtf8()));
        w->playlist()->removeRowsAt({ 5 });
    } // the quit writes what changed since
    const QByteArray whole = readBytes(saved);
    {
        auto w = restored();
        EXPECT_EQ(fullPaths(*w->playlist()), paths.mid(0, 4));
        EXPECT_EQ(QList<bool>({ w->playlist()->isChecked(1), w->playlist()->isChecked(2), w->playlist()->isChecked(3),
                      w->playlist()->isChecked(4) }),
            QList<bool>({ true, false, false, true }));
        EXPECT_EQ(w->playlist()->tag(3), u"END"_s);
        EXPECT_EQ(w->playbackState().CurrentTrackNo, 4);
        EXPECT_TRUE(prompter.messages.isEmpty());
        // A save cut short by a full disk: the file stays as it was.
        w->playlist()->removeRowsAt({ 1 });
        // It is told once, with why, however often it fails.
        EXPECT_FALSE(withFileSizeLimit(
            whole.size() / 2, [&] { return w->sessionKeeper()->flush() || w->sessionKeeper()->flush(); }));
        EXPECT_EQ(readBytes(saved), whole);
        const QStringList told = prompter.texts();
        ASSERT_EQ(told.size(), 1) << told.join(u'|').toStdString();
        EXPECT_TRUE(told.first().contains(u"kestrine_last.m3u8"_s)
            && told.first().contains(QString::fromLocal8Bit(std::strerror(EFBIG))));
        prompter.messages.clear();
        EXPECT_TRUE(w->sessionKeeper()->finish()) << "the quit tries again";
    }
    {
        auto w = restored();
        EXPECT_EQ(w->playlist()->count(), 3);
    }
    // Cut in the middle of a line: the whole lines before the cut come back, and the start goes on.
    writeBytes(saved, whole.left(whole.indexOf(paths[2].toUtf8()) + 5));
    {
        auto w = restored();
        EXPECT_EQ(fullPaths(*w->playlist()), paths.mid(0, 2));
        EXPECT_EQ(w->playbackState().CurrentTrackNo, 1) << "the current row was not among them";
        EXPECT_TRUE(prompter.messages.isEmpty());
    }
    for (const QByteArray &damaged :
        { QByteArray(5000, '\xff'), QByteArray("#EXTM3U\n/not/ours.mp3\n"), QByteArray() }) {
        writeBytes(saved, damaged);
        auto w = restored();
        EXPECT_EQ(w->playlist()->count(), 0);
        EXPECT_TRUE(prompter.messages.isEmpty());
    }
    // Off: the described start-up, and nothing written.
    writeBytes(iniPath, "[その他設定]\r\nRESUME_LIST=0\r\n");
    writeBytes(saved, whole);
    {
        auto w = restored();
        EXPECT_EQ(w->playlist()->count(), 0);
        addRows(*w, { paths[0] });
    }
    EXPECT_EQ(readBytes(saved), whole);
}

// An absent drive keeps the missing rows marked and the kept file as it was; back, the rows get their tags.
TEST_F(LastSessionTest, AbsentDriveKeepsTheListAndItsFile)
{
    writeBytes(iniPath, "[その他設定]\r\nRESUME_LIST=1\r\n");
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"drive"_s));
    const QStringList paths = { touch(u"drive/a.mp3"_s), touch(u"drive/b.mp3"_s), touch(u"here.mp3"_s) };
    const QString saved = dir.filePath(u"kestrine_last.m3u8"_s);
    {
        auto w = start();
        w->adder()->addFiles(paths);
        ASSERT_TRUE(w->adder()->waitForIdle(5000));
        w->playlist()->setChecked(2, false);
    }
    const QByteArray kept = readBytes(saved);
    ASSERT_TRUE(kept.contains("drive/b.mp3"));
    ASSERT_TRUE(QDir(dir.path()).rename(u"drive"_s, u"away"_s));
    {
        auto w = start();
        ASSERT_TRUE(w->adder()->waitForIdle(5000));
        QApplication::processEvents();
        PlaylistModel &list = *w->playlist();
        EXPECT_EQ(fullPaths(list), paths);
        EXPECT_EQ(QList<bool>({ list.isMissing(1), list.isMissing(2), list.isMissing(3) }),
            QList<bool>({ true, true, false }));
        EXPECT_FALSE(list.isChecked(2));
        EXPECT_TRUE(list.data(list.index(0, 0), PlaylistModel::MissingRole).toBool());
        EXPECT_TRUE(prompter.messages.isEmpty()) << "no box for a drive not mounted yet";
        const auto recheck = [&] {
            w->adder()->recheckMissing();
            for (int i = 0; i < 500 && w->adder()->recheckingMissing(); ++i)
                QTest::qWait(10);
            return w->adder()->waitForIdle(5000);
        };
        ASSERT_TRUE(recheck()); // still away: nothing changes
        EXPECT_TRUE(list.isMissing(1));
        ASSERT_TRUE(QDir(dir.path()).rename(u"away"_s, u"drive"_s));
        ASSERT_TRUE(recheck());
        EXPECT_FALSE(list.isMissing(1) || list.isMissing(2));
        EXPECT_FALSE(list.tagsPending(1)) << "its tags were read once it was back";
    }
    EXPECT_EQ(readBytes(saved), kept) << "the start and the quit wrote nothing over the kept list";
}

// The README's table and the manual name every bound key; key window, README and manual give the same options.
TEST(ShortcutDocs, ReadmeAndManualListEveryKey)
{
    const QString readme = QString::fromUtf8(readBytes(QStringLiteral(KESTRINE_SOURCE_DIR "/README.md")));
    QStringList manKeys; // the words of the manual's .B and .BR lines
    for (const QString &line :
        QString::fromUtf8(readBytes(QStringLiteral(KESTRINE_SOURCE_DIR "/app/data/kestrine.1"))).split(u'\n')) {
        if (line.startsWith(u".B "_s) || line.startsWith(u".BR "_s))
            manKeys << QString(line).replace(u"\\-"_s, u"-"_s).replace(u'"', u' ').split(u' ', Qt::SkipEmptyParts);
    }
    ASSERT_FALSE(readme.isEmpty() || manKeys.isEmpty());
    for (const KeyBinding &b : keyBindings()) {
        for (const QKeySequence &k : b.sequences()) {
            const QString key = k.toString(QKeySequence::PortableText);
            EXPECT_TRUE(readme.contains(u'`' + key + u'`')) << key.toStdString() << " in README.md";
            EXPECT_TRUE(manKeys.contains(key)) << key.toStdString() << " in kestrine.1";
        }
    }
    QString shown; // the key window's command line
    QTimer::singleShot(0, [&] {
        if (QWidget *w = QApplication::activeModalWidget()) {
            if (auto *l = w->findChild<QLabel *>(u"commandLine"_s))
                shown = l->text();
            w->close();
        }
    });
    showShortcutTable(nullptr);
    const QString manual = QString::fromUtf8(readBytes(QStringLiteral(KESTRINE_SOURCE_DIR "/app/data/kestrine.1")));
    const QString options = manual.section(u".SH OPTIONS"_s, 1).section(u".SH "_s, 0, 0).replace(u"\\-"_s, u"-"_s);
    const QStringList words
        = options.split(QRegularExpression(u"[\\s,]+"_s), Qt::SkipEmptyParts).filter(QRegularExpression(u"^-"_s));
    ASSERT_EQ(words, (QStringList { u"--enqueue"_s, u"-h"_s, u"--help"_s, u"-v"_s, u"--version"_s }));
    for (const QString &o : words) {
        EXPECT_TRUE(shown.contains(o)) << o.toStdString() << " in the key window";
        EXPECT_TRUE(readme.contains(u'`' + o) || readme.contains(u'/' + o + u'`'))
            << o.toStdString() << " in README.md";
    }
}
