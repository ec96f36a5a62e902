// The lyrics view in the main window with the scripted decoder and an LRCLIB server of our
// own on 127.0.0.1: lookups only when on and only for a track played, what is found kept
// and shown at once, the view's menu and the timing editor.
#include "fakelrclib.h"
#include "foundlyrics.h"
#include "lyricseditor.h"
#include "lyricssearchdialog.h"
#include "lyricsview.h"
#include "pathbytes.h"
#include "windowtest.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include <cstring>

using namespace kes;

namespace
{

class LyricsWindowTest : public WindowTest
{
protected:
    std::unique_ptr<MainWindow> startWithServer()
    {
        MainWindow::Context ctx { FakeDecoder::api(), &prompter, iniPath, dir.path() };
        ctx.lyricsCacheDir = cache;
        auto w = std::make_unique<MainWindow>(ctx);
        EXPECT_TRUE(w->formLoad());
        w->session().settings().LyricsServer = server.url().toString();
        return w;
    }
    // A track (the scripted decoder needs no file) with its tags.
    QString track(const QString &name, const char *title)
    {
        const QString path = dir.filePath(name);
        TagInfo tag {};
        std::strcpy(tag.title, title);
        std::strcpy(tag.artist, "歌手");
        std::strcpy(tag.album, "盤");
        fake.tags[pathToBytes(path).toStdString()] = tag;
        return path;
    }
    void play(MainWindow &w, const QString &path)
    {
        w.controller()->playRow(1, path);
        EXPECT_TRUE(waitForOpen(*w.controller()));
    }

    FakeLrclib server;
    QString cache = dir.filePath(u"cache"_s);
};

const QByteArray kRecord = R"({"id":7,"trackName":"曲","artistName":"歌手","albumName":"盤","duration":200.5,)"
                           R"("instrumental":false,"syncedLyrics":"[00:01.00]うた","plainLyrics":"うた"})";

} // namespace

TEST_F(LyricsWindowTest, FoundOnlyWhenOnThenKeptBesideOrInTheCacheAndShownAtOnce)
{
    server.answer = [](const QByteArray &) { return FakeAnswer { 200, kRecord }; };
    fake.streamInfo.sampleRate = 44100;
    fake.streamInfo.totalFrames = 44100 * 200 + 22050; // 200.5 s, sent as 201
    auto w = startWithServer();
    QDir(dir.path()).mkdir(u"music"_s);
    const QString song = track(u"music/曲.mp3"_s, "曲");
    // Off (as it starts): nothing is sent.
    play(*w, song);
    QCoreApplication::processEvents();
    EXPECT_FALSE(w->lyricsView()->finder().client().busy());
    EXPECT_TRUE(server.requests.isEmpty());

    w->session().settings().LyricsLookup = 1;
    play(*w, song);
    const QString beside = dir.filePath(u"music/曲.lrc"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.lyricsFile == pathToBytes(beside).toStdString(); }, 5000));
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests[0].target,
        "/api/get?track_name=%E6%9B%B2&artist_name=%E6%AD%8C%E6%89%8B&album_name=%E7%9B%A4&duration=201");
    EXPECT_EQ(readBytes(beside), QByteArray(kFoundMark) + "\n" + u"[00:01.00]うた\n"_s.toUtf8());
    EXPECT_TRUE(w->controller()->lyricsOn());
    EXPECT_EQ(w->lyricsView()->note()->text(), u"LRCLIB の歌詞 (曲の隣に .lrc として保存)"_s);

    // A folder that cannot be written (a file stands in its place): the cache, and the
    // next play of the track needs no network.
    writeBytes(dir.filePath(u"notafolder"_s), {});
    const QString stuck = track(u"notafolder/x.mp3"_s, "x");
    const QString cached = cachedLyricsFile(cache, PlaybackController::lyricsFileOf(stuck).chopped(4));
    play(*w, stuck);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.lyricsFile == pathToBytes(cached).toStdString(); }, 5000));
    EXPECT_EQ(w->lyricsView()->note()->text(), u"LRCLIB の歌詞 (キャッシュに保存)"_s);
    play(*w, song);
    play(*w, stuck);
    EXPECT_EQ(fake.lyricsFile, pathToBytes(cached).toStdString());
    EXPECT_EQ(server.requests.size(), 2);

    // The menu's drop removes what was kept; the lines go blank.
    w->lyricsView()->dropFound();
    EXPECT_FALSE(isRegularFile(cached));
    EXPECT_EQ(fake.lyricsFile, "");
    EXPECT_FALSE(w->controller()->lyricsOn());
}

TEST_F(LyricsWindowTest, MenuSearchesAgainAndKeepsTheChosenRecord)
{
    const QByteArray second = QByteArray(kRecord).replace("うた", "二番").replace("200.5", "185");
    server.answer = [&](const QByteArray &target) {
        return target.startsWith("/api/search") ? FakeAnswer { 200, "[" + kRecord + "," + second + "]" }
                                                : FakeAnswer { 404, "{}" };
    };
    auto w = startWithServer();
    const QString song = track(u"曲.mp3"_s, "曲");
    play(*w, song);
    // Off: the menu's search items are there but disabled, and send nothing.
    QTest::mouseClick(child<QLabel>(*w, u"lbl_kasi(2)"_s), Qt::RightButton);
    QMenu *menu = w->lyricsView()->menu();
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(
        menu->actions().front()->objectName(), child<QMenu>(*w, u"Listview_Pop"_s)->actions().front()->objectName());
    EXPECT_FALSE(menu->findChild<QAction *>(u"lyricsChoose"_s)->isEnabled());
    menu->hide();

    w->session().settings().LyricsLookup = 1;
    w->lyricsView()->searchAgain(true);
    LyricsSearchDialog *dialog = w->lyricsView()->searchDialog();
    ASSERT_TRUE(dialog);
    auto *list = child<QTreeWidget>(*dialog, u"lyricsResults"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 2; }, 5000));
    EXPECT_EQ(list->topLevelItem(1)->text(3), u"3:05"_s);
    list->setCurrentItem(list->topLevelItem(1));
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(readBytes(dir.filePath(u"曲.lrc"_s)), QByteArray(kFoundMark) + "\n" + u"[00:01.00]二番\n"_s.toUtf8());
    EXPECT_EQ(fake.lyricsFile, pathToBytes(dir.filePath(u"曲.lrc"_s)).toStdString());
}

TEST_F(LyricsWindowTest, TimingByHandThroughTheWindow)
{
    auto w = startWithServer();
    const QString song = track(u"曲.mp3"_s, "曲");
    const QString mine = dir.filePath(u"曲.txt"_s);
    writeBytes(mine, "one\ntwo\n");
    play(*w, song);
    // Shown and active, so that the window's shortcuts (Ctrl+S is its play mode) are live.
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->lyricsView()->editTiming();
    LyricsEditor *editor = w->lyricsView()->editor();
    ASSERT_TRUE(editor);
    auto *table = child<QTableWidget>(*editor, u"lyricsEditorLines"_s);
    const auto setLyricsCalls = [&] { return std::count(fake.calls.begin(), fake.calls.end(), "setLyricsFile"); };
    for (int ms : { 3000, 4500 }) {
        fake.elapsedMs = ms;
        QTest::keyClick(table, Qt::Key_Space);
    }
    const auto before = setLyricsCalls();
    QTest::keyClick(table, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(readBytes(mine), "[00:03.00]one\n[00:04.50]two\n");
    // The lines follow the saved file at once.
    EXPECT_EQ(setLyricsCalls(), before + 1);
    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w->lyricsView()->editor(); }, 2000));
}
