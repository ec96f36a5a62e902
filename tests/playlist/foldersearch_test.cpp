// The folder search: walker order and skips, commands through the adder, drive failure, stop, start-up preset.
#include "foldersearchwindow.h"
#include "folderwalker.h"
#include "mainwindow.h"
#include "pathbytes.h"
#include "playlisttestsupport.h"

#include <QAbstractButton>
#include <QListView>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

// Breadth-first case-insensitive order (a/d before B, not byte order); .hidden out; m3u listed, never added.
const QStringList kTree { "z.mp3", "A.mp3", "a/x.mp3", "a/d/y.mp3", "B/w.mp3", "c/v.mp3", "list.m3u", "Mixed.Mp3",
    ".hidden/h.mp3" };

class FolderSearchTest : public PlaylistTest
{
protected:
    void SetUp() override
    {
        PlaylistTest::SetUp();
        for (const QString &f : kTree)
            touch(f);
    }
    // The walk's or the playlist's files relative to root.
    QStringList walk(bool recursive, const QString &pattern = QStringLiteral("*.mp3")) const
    {
        QStringList out;
        std::atomic_bool cancelled { false };
        const auto sink = [&](QStringList files, const QString &) { out += files; };
        FolderWalker::walk(root, recursive, FilePattern(pattern), sink, cancelled);
        return out.replaceInStrings(root + "/", "");
    }
    QStringList playlistPaths() const { return QStringList(fullPaths(model)).replaceInStrings(root + "/", ""); }

    const QString root = tmp.path();
};

TEST_F(FolderSearchTest, WalkOrderLinksPatternsAndUnreadableFolders)
{
    // A loop back to the start and a second way into a: each folder is read once.
    ASSERT_EQ(::symlink("..", QFile::encodeName(root + "/a/loop").constData()), 0);
    ASSERT_EQ(::symlink("../a", QFile::encodeName(root + "/c/again").constData()), 0);
    const struct {
        bool recursive;
        QString pattern;
        QStringList expected;
    } cases[] = {
        { false, "*.mp3", { "A.mp3", "Mixed.Mp3", "z.mp3" } },
        { true, "*.mp3", { "A.mp3", "Mixed.Mp3", "z.mp3", "a/x.mp3", "B/w.mp3", "c/v.mp3", "a/d/y.mp3" } },
        { false, "*.M3U; *.mp3", { "A.mp3", "list.m3u", "Mixed.Mp3", "z.mp3" } },
        { false, "?.mp3", { "A.mp3", "z.mp3" } }, // wildcards beyond *.ext
        { true, "", {} },
    };
    for (const auto &c : cases)
        EXPECT_EQ(walk(c.recursive, c.pattern), c.expected) << c.pattern.toStdString();

    // Root reads every folder; a child without the capabilities meets mode 000 as a user does.
    ASSERT_EQ(::chmod(QFile::encodeName(root + "/B").constData(), 0), 0);
    const auto ok = withoutFileRights([&] {
        return walk(true) == QStringList { "A.mp3", "Mixed.Mp3", "z.mp3", "a/x.mp3", "c/v.mp3", "a/d/y.mp3" }
        && !FolderWalker::list(root + "/B", FilePattern(QStringLiteral("*"))).readable;
    });
    ::chmod(QFile::encodeName(root + "/B").constData(), 0755);
    EXPECT_EQ(ok, std::optional(true)) << "nullopt: could not drop the capabilities";
}

// Clearing or not, folder or tree, after rows in or still being added (clearing stops it); closes when done.
TEST_F(FolderSearchTest, CommandsFillThePlaylist)
{
    const QStringList before { "old/1.mp3", "old/2.mp3", "old/3.mp3", "old/4.mp3", "old/5.mp3" };
    const struct {
        void (FolderSearchWindow::*command)();
        QStringList expected;
    } cases[] = {
        { &FolderSearchWindow::f1FormatClick, { "A.mp3", "z.mp3" } },
        { &FolderSearchWindow::faUnformatClick,
            before + QStringList { "A.mp3", "z.mp3", "a/x.mp3", "B/w.mp3", "c/v.mp3", "a/d/y.mp3" } },
    };
    for (const auto &c : cases) {
        model.clear();
        for (const QString &f : before)
            adder->addFiles({ touch(f) });
        if (c.command != &FolderSearchWindow::f1FormatClick) {
            ASSERT_TRUE(adder->waitForRows(5000));
        }
        FolderSearchWindow w(model, *adder, prompter);
        w.setPattern(QStringLiteral("*.mp3;*.m3u"));
        QSignalSpy shown(&w, &FolderSearchWindow::listingShown);
        w.setFolder(root);
        ASSERT_TRUE(shown.wait(5000));
        EXPECT_EQ(w.fileNames(), QStringList({ "A.mp3", "list.m3u", "Mixed.Mp3", "z.mp3" }));
        w.openModal();
        QSignalSpy finished(&w, &FolderSearchWindow::searchFinished);
        (w.*c.command)();
        ASSERT_TRUE(finished.wait(10000));
        EXPECT_FALSE(finished.first().first().toBool());
        EXPECT_EQ(playlistPaths(), c.expected);
        EXPECT_FALSE(w.isVisible()) << "the window closes after a search";
    }
}

// No saved types: the added formats; saved classic types keep their pattern; endings as accepted.
TEST_F(FolderSearchTest, AddedFormatsFoundByTheDefaultPatternAndAStoredPatternKept)
{
    const QStringList files { "n/a.flac", "n/b.OGG", "n/c.oga", "n/d.opus", "n/e.m4a", "n/f.wv", "n/g.ape", "n/h.aac",
        "n/i.mp3", "n/Mixed.Flac" };
    for (const QString &f : files)
        touch(f);
    const struct {
        QByteArray ini;
        QString pattern;
        QStringList listed; // rows are those but Mixed.Flac
    } cases[] = {
        { "", "*.mp3;*.rmp;*.flac;*.ogg;*.oga;*.opus;*.m4a;*.wv;*.ape",
            { "a.flac", "b.OGG", "c.oga", "d.opus", "e.m4a", "f.wv", "g.ape", "i.mp3", "Mixed.Flac" } },
        { "[検索設定]\nMP3=1\nRMP=1\nWAV=0\n", "*.mp3;*.rmp", { "i.mp3" } },
        { "[検索設定]\nMP3=0\nOPUS=1\nFLAC=1\n", "*.rmp;*.flac;*.opus", { "a.flac", "d.opus", "Mixed.Flac" } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ini.toStdString());
        writeBytes(root + "/kestrine.ini", c.ini);
        MainWindow main({ FakeDecoder::api(), &prompter, root + "/kestrine.ini", root });
        ASSERT_TRUE(main.formLoad());
        FolderSearchWindow *w = main.folderSearch();
        EXPECT_EQ(w->pattern(), c.pattern);
        QSignalSpy shown(w, &FolderSearchWindow::listingShown);
        w->setFolder(root + "/n");
        ASSERT_TRUE(shown.wait(5000));
        EXPECT_EQ(w->fileNames(), c.listed);
        w->openModal();
        QSignalSpy finished(w, &FolderSearchWindow::searchFinished);
        w->f1FormatClick();
        ASSERT_TRUE(finished.wait(10000));
        QStringList rows;
        for (const QString &path : fullPaths(*main.playlist()))
            rows << QFileInfo(path).fileName();
        EXPECT_EQ(rows, QStringList(c.listed).filter(QRegularExpression("^(?!Mixed)")));
        main.close();
    }
}

// Shift-JIS, Latin-1 and UTF-8 names under a Shift-JIS folder: shown decoded, added as the files they are.
TEST_F(FolderSearchTest, NamesThatAreNotUtf8AreListedAndAdded)
{
    const QByteArray folder = QFile::encodeName(root) + "/\x89\xb9\x8a\x79"; // 音楽
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    QStringList paths;
    for (const QByteArray &name :
        { QByteArray("\x8b\xc8.mp3"), QByteArray("caf\xe9.mp3"), QByteArray("\xe6\x9b\xb2.mp3") }) {
        const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
        paths << pathFromBytes(folder + '/' + name);
    }
    FolderSearchWindow w(model, *adder, prompter);
    w.setPattern(QStringLiteral("*.mp3"));
    QSignalSpy shown(&w, &FolderSearchWindow::listingShown);
    w.setFolder(pathFromBytes(folder));
    ASSERT_TRUE(shown.wait(5000));
    QStringList names = w.fileNames();
    names.sort();
    QStringList expected = QStringList(paths).replaceInStrings(pathFromBytes(folder + '/'), QString());
    expected.sort();
    EXPECT_EQ(names, expected);
    const auto *file1 = w.findChild<QListView *>(QStringLiteral("File1"));
    ASSERT_TRUE(file1);
    QStringList seen;
    for (int i = 0; i < file1->model()->rowCount(); ++i)
        seen << file1->model()->index(i, 0).data().toString();
    seen.sort();
    EXPECT_EQ(seen, QStringList({ "café.mp3", "曲.mp3", "曲.mp3" }));
    const auto *dir1 = w.findChild<QListView *>(QStringLiteral("Dir1"));
    ASSERT_TRUE(dir1);
    EXPECT_TRUE(dir1->currentIndex().data().toString().endsWith(QStringLiteral("音楽")));

    w.openModal();
    QSignalSpy finished(&w, &FolderSearchWindow::searchFinished);
    w.f1FormatClick();
    ASSERT_TRUE(finished.wait(10000));
    QStringList added = fullPaths(model);
    added.sort();
    paths.sort();
    EXPECT_EQ(added, paths);
}

// First opening at the saved folder, modal; unreadable drive offers Retry/Cancel; close stops; next at the current dir.
TEST_F(FolderSearchTest, StartupPresetDriveFailureStoppingAndTheNextOpening)
{
    for (int d = 0; d < 20; ++d)
        for (int f = 0; f < 100; ++f)
            touch(QStringLiteral("music/d%1/%2.wav").arg(d, 2, 10, QLatin1Char('0')).arg(f, 3, 10, QLatin1Char('0')));
    writeBytes(root + "/kestrine.ini",
        "[検索設定]\nWAV=1\n[その他設定]\nOp_07=1\nOp_17=" + (root + "/music/").toUtf8() + "\n");
    MainWindow main({ FakeDecoder::api(), &prompter, root + "/kestrine.ini", root });
    ASSERT_TRUE(main.formLoad());
    FolderSearchWindow *w = main.folderSearch();
    EXPECT_EQ(w->currentFolder(), root + "/music");
    EXPECT_EQ(w->pattern(), QStringLiteral("*.mp3;*.rmp;*.wav"));
    main.findChild<QAbstractButton *>(QStringLiteral("Command2"))->click();
    EXPECT_TRUE(w->isVisible() && w->isModal());

    w->setDrives({ { "/", {} }, { root, "MUSIC" }, { root + "/no-medium", {} } });
    EXPECT_EQ(w->driveIndex(), 1) << "the drive of the shown folder";
    prompter.answers << Prompter::Answer::Retry << Prompter::Answer::Cancel;
    w->drive1Change(2);
    ASSERT_EQ(prompter.texts(), QStringList(2, qt_error_string(ENOENT))) << "Retry tries again";
    EXPECT_EQ(w->driveIndex(), 1) << "Cancel goes back to the drive of the shown folder";
    EXPECT_EQ(w->currentFolder(), root + "/music");

    QSignalSpy finished(w, &FolderSearchWindow::searchFinished);
    PlaylistModel &list = *main.playlist();
    QObject::connect(&list, &PlaylistModel::rowsInserted, w, [&] { w->close(); });
    w->faFormatClick();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(finished.first().first().toBool()) << "stopped, not finished";
    const int rows = list.count();
    EXPECT_TRUE(rows > 0 && rows < 2000) << rows;
    QTest::qWait(300);
    EXPECT_EQ(list.count(), rows) << "nothing more arrives after closing";
    EXPECT_EQ(w->currentFolder(), QDir::currentPath());
    w->drive1Change(0);
    w->close();
    EXPECT_EQ(w->currentFolder(), QStringLiteral("/"));
    main.close();
}

// Each opening reads drives and folder again.
TEST_F(FolderSearchTest, EachOpeningReadsDrivesAndFolderAgain)
{
    QList<FolderSearchWindow::Drive> mounted { { "/", {} }, { root, "MUSIC" } };
    FolderSearchWindow w(model, *adder, prompter);
    w.setDriveSource([&] { return mounted; });
    w.setPattern("*.mp3");
    ASSERT_TRUE(w.presetFolder(root));
    auto openAndList = [&] {
        QSignalSpy shown(&w, &FolderSearchWindow::listingShown);
        w.openModal();
        EXPECT_TRUE(shown.count() > 0 || shown.wait(5000));
        QStringList drives;
        for (const auto &d : w.drives())
            drives << d.path;
        return std::pair(drives, w.fileNames());
    };
    auto [drives, files] = openAndList();
    EXPECT_EQ(drives, QStringList({ "/", root }));
    EXPECT_TRUE(files.contains("z.mp3") && !files.contains("new.mp3"));
    w.close();
    mounted = { { "/", {} }, { root + "/a", "STICK" } };
    touch("new.mp3");
    QFile::remove(root + "/z.mp3");
    std::tie(drives, files) = openAndList();
    EXPECT_EQ(drives, QStringList({ "/", root + "/a" }));
    EXPECT_TRUE(files.contains("new.mp3") && !files.contains("z.mp3")) << files.join(' ').toStdString();
    w.close();
}
