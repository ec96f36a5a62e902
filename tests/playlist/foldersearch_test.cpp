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
// walk (a/d before B) and from a byte-order sort (B before a); "m3u" files and endings in
// mixed letter case are listed but never added.
const QStringList kTree { "z.mp3", "A.mp3", "a/x.mp3", "a/d/y.mp3", "B/w.mp3", "c/v.mp3", "list.m3u", "Mixed.Mp3" };

class FolderSearchTest : public PlaylistTest
{
protected:
    void SetUp() override
    {
        PlaylistTest::SetUp();
        root = tmp.path();
        for (const QString &f : kTree)
            touch(f);
    }
    // The walk's files relative to root.
    QStringList walk(bool recursive, const QString &pattern = QStringLiteral("*.mp3")) const
    {
        QStringList out;
        std::atomic_bool cancelled { false };
        const auto sink = [&](QStringList files, const QString &) { out += files.replaceInStrings(root + "/", ""); };
        FolderWalker::walk(root, recursive, FilePattern(pattern), sink, cancelled);
        return out;
    }
    QStringList playlistPaths() const { return QStringList(fullPaths(model)).replaceInStrings(root + "/", ""); }
    std::unique_ptr<FolderSearchWindow> window(const QString &pattern = QStringLiteral("*.mp3;*.m3u"))
    {
        auto w = std::make_unique<FolderSearchWindow>(model, *adder, prompter);
        w->setPattern(pattern);
        QSignalSpy shown(w.get(), &FolderSearchWindow::listingShown);
        w->setFolder(root);
        EXPECT_TRUE(shown.wait(5000));
        return w;
    }

    QString root;
};

} // namespace

TEST_F(FolderSearchTest, WalkOrderLinksPatternsAndUnreadableFolders)
{
    touch(QStringLiteral(".hidden/h.mp3"));
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

    // Root reads every folder; in a child process without the capabilities that let it
    // ignore file modes, a folder of mode 000 cannot be read, as for a user.
    ASSERT_EQ(::chmod(QFile::encodeName(root + "/B").constData(), 0), 0);
    const auto ok = withoutFileRights([&] {
        return walk(true) == QStringList { "A.mp3", "Mixed.Mp3", "z.mp3", "a/x.mp3", "c/v.mp3", "a/d/y.mp3" }
        && !FolderWalker::list(root + "/B", FilePattern(QStringLiteral("*"))).readable;
    });
    ::chmod(QFile::encodeName(root + "/B").constData(), 0755);
    ASSERT_TRUE(ok.has_value()) << "could not drop the capabilities";
    EXPECT_TRUE(*ok);
}

// Clearing first or not, this folder or the whole tree, after five rows already in the
// playlist (their tags may still be being read); the window closes when the rows are in.
TEST_F(FolderSearchTest, CommandsFillThePlaylist)
{
    const QStringList before { "old/1.mp3", "old/2.mp3", "old/3.mp3", "old/4.mp3", "old/5.mp3" };
    const struct {
        void (FolderSearchWindow::*command)();
        QStringList expected;
    } cases[] = {
        { &FolderSearchWindow::f1_format_Click, { "A.mp3", "z.mp3" } },
        { &FolderSearchWindow::fa_unformat_Click,
            before + QStringList { "A.mp3", "z.mp3", "a/x.mp3", "B/w.mp3", "c/v.mp3", "a/d/y.mp3" } },
    };
    for (const auto &c : cases) {
        model.clear();
        QStringList old;
        for (const QString &f : before)
            old << touch(f);
        adder->addFiles(old);
        ASSERT_TRUE(adder->waitForRows(5000));
        auto w = window();
        EXPECT_EQ(w->fileNames(), QStringList({ "A.mp3", "list.m3u", "Mixed.Mp3", "z.mp3" }));
        w->openModal();
        QSignalSpy finished(w.get(), &FolderSearchWindow::searchFinished);
        (w.get()->*c.command)();
        ASSERT_TRUE(finished.wait(10000));
        EXPECT_FALSE(finished.first().first().toBool());
        EXPECT_EQ(playlistPaths(), c.expected);
        EXPECT_FALSE(w->isVisible()) << "the window closes after a search";
    }
}

// A drive that cannot be read offers Retry and Cancel; closing the window stops its
// search; the next opening starts at the current directory (the root of the drive picked
// last, if any).
TEST_F(FolderSearchTest, DriveFailureStoppingAndTheNextOpening)
{
    for (int d = 0; d < 20; ++d)
        for (int f = 0; f < 100; ++f)
            touch(QStringLiteral("d%1/%2.wav").arg(d, 2, 10, QLatin1Char('0')).arg(f, 3, 10, QLatin1Char('0')));
    auto w = window(QStringLiteral("*.wav"));
    w->setDrives({ { "/", {} }, { root, "MUSIC" }, { root + "/no-medium", {} } });
    EXPECT_EQ(w->driveIndex(), 1) << "the drive of the shown folder";
    prompter.answers << Prompter::Answer::Retry << Prompter::Answer::Cancel;
    w->Drive1_Change(2);
    ASSERT_EQ(prompter.messages.size(), 2) << "Retry tries again";
    EXPECT_EQ(prompter.messages[0].text, qt_error_string(ENOENT));
    EXPECT_EQ(w->driveIndex(), 1) << "Cancel goes back to the drive of the shown folder";
    EXPECT_EQ(w->currentFolder(), root);

    w->openModal();
    QSignalSpy finished(w.get(), &FolderSearchWindow::searchFinished);
    auto closing = QObject::connect(&model, &PlaylistModel::rowsInserted, w.get(), [&] { w->close(); });
    w->fa_format_Click();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(finished.first().first().toBool()) << "stopped, not finished";
    EXPECT_FALSE(w->isVisible());
    const int rows = model.count();
    EXPECT_TRUE(rows > 0 && rows < 2000) << rows;
    QTest::qWait(300);
    EXPECT_EQ(model.count(), rows) << "nothing more arrives after closing";
    EXPECT_EQ(w->currentFolder(), QDir::currentPath());
    QObject::disconnect(closing);
    w->Drive1_Change(0);
    w->close();
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
