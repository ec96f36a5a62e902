// The folder search: the walker's order and what it passes over, the window's commands
// through the adder into the playlist, the drive failure message, stopping a search, and
// the start-up preset of the main window.
#include "foldersearchwindow.h"
#include "folderwalker.h"
#include "mainwindow.h"
#include "playlisttestsupport.h"

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kes;

namespace
{

// A small tree whose breadth-first, case-insensitive order differs from a depth-first
// walk (a/d before B) and from a byte-order sort (B before a).
const QStringList kTree { "z.mp3", "A.mp3", "a/x.mp3", "a/d/y.mp3", "B/w.mp3", "c/v.mp3" };

class FolderSearchTest : public PlaylistTest
{
protected:
    void SetUp() override
    {
        PlaylistTest::SetUp();
        root = tmp.path();
    }
    void makeTree(const QStringList &files)
    {
        for (const QString &f : files)
            touch(f);
    }
    // The walk's files relative to root.
    QStringList walk(bool recursive, const QString &pattern = QStringLiteral("*.mp3")) const
    {
        QStringList out;
        std::atomic_bool cancelled { false };
        FolderWalker::walk(
            root, recursive, FilePattern(pattern),
            [&](QStringList files, const QString &) {
                for (const QString &f : files)
                    out << f.mid(root.size() + 1);
            },
            cancelled);
        return out;
    }
    QStringList playlistPaths() const
    {
        QStringList out;
        for (int i = 1; i <= model.count(); ++i)
            out << model.fullPath(i).mid(root.size() + 1);
        return out;
    }
    std::unique_ptr<FolderSearchWindow> window(const QString &pattern = QStringLiteral("*.mp3;*.rmp"))
    {
        auto w = std::make_unique<FolderSearchWindow>(model, *adder, prompter);
        w->setPattern(pattern);
        QSignalSpy shown(w.get(), &FolderSearchWindow::listingShown);
        w->setFolder(root);
        EXPECT_TRUE(shown.wait(5000));
        return w;
    }
    void runSearch(FolderSearchWindow &w, void (FolderSearchWindow::*command)())
    {
        QSignalSpy finished(&w, &FolderSearchWindow::searchFinished);
        (w.*command)();
        ASSERT_TRUE(finished.wait(10000));
        EXPECT_EQ(finished.first().first().toBool(), false);
    }

    QString root;
};

} // namespace

TEST_F(FolderSearchTest, WalkOrderLinksAndPatterns)
{
    makeTree(kTree);
    touch(QStringLiteral(".hidden/h.mp3"));
    touch(QStringLiteral("list.m3u"));
    touch(QStringLiteral("Mixed.Mp3"));
    // A loop back to the start and a second way into a: each folder is read once.
    ASSERT_EQ(::symlink("..", QFile::encodeName(root + "/a/loop").constData()), 0);
    ASSERT_EQ(::symlink("../a", QFile::encodeName(root + "/c/again").constData()), 0);

    struct Case {
        const char *name;
        bool recursive;
        QString pattern;
        QStringList expected;
    };
    const Case cases[] = {
        { "current folder only", false, "*.mp3", { "A.mp3", "Mixed.Mp3", "z.mp3" } },
        { "breadth first, case-insensitive, loops read once", true, "*.mp3",
            { "A.mp3", "Mixed.Mp3", "z.mp3", "a/x.mp3", "B/w.mp3", "c/v.mp3", "a/d/y.mp3" } },
        { "several patterns, any letter case", false, "*.M3U; *.mp3", { "A.mp3", "list.m3u", "Mixed.Mp3", "z.mp3" } },
        { "wildcards beyond *.ext", false, "?.mp3", { "A.mp3", "z.mp3" } },
        { "empty pattern lists nothing", true, "", {} },
    };
    for (const Case &c : cases)
        EXPECT_EQ(walk(c.recursive, c.pattern), c.expected) << c.name;
}

TEST_F(FolderSearchTest, UnreadableFolderIsPassedOver)
{
    // Root reads every folder; in a child process without the capabilities that let it
    // ignore file modes, a folder of mode 000 cannot be read, as for a user.
    makeTree(kTree);
    ASSERT_EQ(::chmod(QFile::encodeName(root + "/B").constData(), 0), 0);
    const auto ok = withoutFileRights([&] {
        return walk(true) == QStringList { "A.mp3", "z.mp3", "a/x.mp3", "c/v.mp3", "a/d/y.mp3" }
        && !FolderWalker::list(root + "/B", FilePattern(QStringLiteral("*"))).readable;
    });
    ::chmod(QFile::encodeName(root + "/B").constData(), 0755);
    ASSERT_TRUE(ok.has_value()) << "could not drop the capabilities";
    EXPECT_TRUE(*ok);
}

TEST_F(FolderSearchTest, CommandsFillThePlaylist)
{
    makeTree(kTree);
    struct Case {
        const char *name;
        void (FolderSearchWindow::*command)();
        QStringList expected; // after five rows already in the playlist
    };
    const QStringList before { "old/1.wav", "old/2.wav", "old/3.wav", "old/4.wav", "old/5.wav" };
    // Clearing first or not, this folder or the whole tree: each command covers one of each.
    const Case cases[] = {
        { "f1_format", &FolderSearchWindow::f1_format_Click, { "A.mp3", "z.mp3" } },
        { "fa_unformat", &FolderSearchWindow::fa_unformat_Click,
            before + QStringList { "A.mp3", "z.mp3", "a/x.mp3", "B/w.mp3", "c/v.mp3", "a/d/y.mp3" } },
    };
    for (const Case &c : cases) {
        model.clear();
        QStringList old;
        for (const QString &f : before)
            old << touch(f);
        adder->addFiles(old);
        ASSERT_TRUE(adder->waitForIdle(5000));
        auto w = window();
        w->openModal();
        runSearch(*w, c.command);
        EXPECT_EQ(playlistPaths(), c.expected) << c.name;
        EXPECT_FALSE(w->isVisible()) << c.name << ": the window closes after a search";
    }
}

TEST_F(FolderSearchTest, ListedButNotAdded)
{
    // "m3u" files and endings in mixed letter case are listed but add nothing; a file that
    // vanished between listing and adding is passed over.
    for (const char *f : { "song.mp3", "list.m3u", "Mixed.Mp3", "UP.MP3", "other.wav" })
        touch(QString::fromUtf8(f));
    auto w = window(QStringLiteral("*.mp3;*.m3u"));
    EXPECT_EQ(w->fileNames(), QStringList({ "list.m3u", "Mixed.Mp3", "song.mp3", "UP.MP3" }));
    runSearch(*w, &FolderSearchWindow::f1_unformat_Click);
    EXPECT_EQ(playlistPaths(), QStringList({ "song.mp3", "UP.MP3" }));

    adder->addFiles({ root + "/gone.mp3", root + "/other.wav" }, true);
    ASSERT_TRUE(adder->waitForIdle(5000));
    EXPECT_EQ(playlistPaths(), QStringList({ "song.mp3", "UP.MP3", "other.wav" }));
}

TEST_F(FolderSearchTest, ClosingStopsTheSearchAndTheNextOpeningStartsAtTheCurrentDirectory)
{
    for (int d = 0; d < 20; ++d)
        for (int f = 0; f < 100; ++f)
            touch(QStringLiteral("d%1/%2.wav").arg(d, 2, 10, QLatin1Char('0')).arg(f, 3, 10, QLatin1Char('0')));
    auto w = window(QStringLiteral("*.wav"));
    w->openModal();
    QSignalSpy finished(w.get(), &FolderSearchWindow::searchFinished);
    QObject::connect(&model, &PlaylistModel::rowsInserted, w.get(), [&] { w->close(); });
    w->fa_format_Click();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(finished.first().first().toBool()) << "stopped, not finished";
    EXPECT_FALSE(w->isVisible());
    const int rows = model.count();
    EXPECT_GT(rows, 0);
    EXPECT_LT(rows, 2000);
    QTest::qWait(300);
    EXPECT_EQ(model.count(), rows) << "nothing more arrives after closing";
    EXPECT_EQ(w->currentFolder(), QDir::currentPath());
}

TEST_F(FolderSearchTest, DriveThatCannotBeReadOffersRetryAndCancel)
{
    auto w = window();
    w->setDrives({ { "/", {} }, { root, "MUSIC" }, { root + "/no-medium", {} } });
    EXPECT_EQ(w->driveIndex(), 1) << "the drive of the shown folder";
    prompter.answers << Prompter::Answer::Retry << Prompter::Answer::Cancel;
    w->Drive1_Change(2);
    ASSERT_EQ(prompter.messages.size(), 2) << "Retry tries again";
    EXPECT_EQ(prompter.messages[0].text, qt_error_string(ENOENT));
    EXPECT_EQ(w->driveIndex(), 1) << "Cancel goes back to the drive of the shown folder";
    EXPECT_EQ(w->currentFolder(), root);

    w->Drive1_Change(0);
    EXPECT_EQ(w->currentFolder(), QStringLiteral("/"));
    w->close(); // the next opening starts at the root of the drive picked last
    EXPECT_EQ(w->currentFolder(), QStringLiteral("/"));
}

// The folder from the settings is where the window first opens (a missing one is the
// main window's start-up message); the toolbar button opens it modally.
TEST_F(FolderSearchTest, StartupPresetFolderAndTheOpeningButton)
{
    touch(QStringLiteral("music/a.mp3"));
    writeBytes(root + "/kestrine.ini", "[その他設定]\nOp_07=1\nOp_17=" + (root + "/music/").toUtf8() + "\n");
    MainWindow main({ FakeDecoder::api(), &prompter, root + "/kestrine.ini", root });
    ASSERT_TRUE(main.formLoad());
    FolderSearchWindow *w = main.folderSearch();
    EXPECT_EQ(w->currentFolder(), root + "/music");
    EXPECT_TRUE(prompter.messages.isEmpty());
    EXPECT_FALSE(w->isVisible());
    main.findChild<QAbstractButton *>(QStringLiteral("Command2"))->click();
    EXPECT_TRUE(w->isVisible() && w->isModal());
    main.close();
}
