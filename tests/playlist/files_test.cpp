// M3U and CSV files: reading rules, writing, the dialogs and messages of the commands.
#include "playlistcommands.h"
#include "playlistfiles.h"
#include "playlisttestsupport.h"
#include "trackreader.h"

#include <QDirIterator>

using namespace kes;

TEST(M3uParseTest, LinesEntriesAndAborts)
{
    struct Case {
        const char *name;
        QByteArray bytes;
        QStringList paths;
        bool aborted;
    };
    const QByteArray longLine(5000, 'x');
    const Case cases[] = {
        { "CR LF", "/a.mp3\r\n/b.mp3\r\n", { "/a.mp3", "/b.mp3" }, false },
        { "lone CR", "/a.mp3\r/b.mp3\r", { "/a.mp3", "/b.mp3" }, false },
        { "lone LF, no final end", "/a.mp3\n/b.mp3", { "/a.mp3", "/b.mp3" }, false },
        { "mixed, empty lines", "\r\n/a.mp3\r\r\n\n/b.mp3\n\r/c.mp3", { "/a.mp3", "/b.mp3", "/c.mp3" }, false },
        { "extended", "#EXTM3U\r\n#EXTINF:123,Artist - Title\r\n/a.mp3\r\n# comment\r\n", { "/a.mp3" }, false },
        { "UTF-8 BOM", "\xEF\xBB\xBF/a.mp3\r\n", { "/a.mp3" }, false },
        { "UTF-8 text", "/音楽/曲.mp3\n", { "/音楽/曲.mp3" }, false },
        { "CP932 text", "/\x89\xb9\x8a\x79/\x8b\xc8.mp3\r\n", { "/音楽/曲.mp3" }, false },
        { "blanks kept", "/a b.mp3 \r\n", { "/a b.mp3 " }, false },
        { "relative", "sub/a.mp3\r\n../b.mp3\r\n./c.mp3\n", { "/base/dir/sub/a.mp3", "/base/b.mp3", "/base/dir/c.mp3" },
            false },
        { "NUL ends reading", QByteArray("/a.mp3\r\n/b\0c.mp3\r\n/d.mp3\r\n", 25), { "/a.mp3" }, true },
        { "absurdly long line", "/a.mp3\n/" + longLine + "\n/d.mp3\n", { "/a.mp3" }, true },
        { "file name too long", "/a.mp3\n/" + QByteArray(300, 'n') + ".mp3\n", { "/a.mp3" }, true },
        { "UTF-16LE with BOM", QByteArray("\xFF\xFE/\0a\0.\0m\0p\0\x33\0\r\0\n\0", 18), { "/a.mp3" }, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const M3uEntries e = parseM3u(c.bytes, QStringLiteral("/base/dir"));
        EXPECT_EQ(e.paths, c.paths);
        EXPECT_EQ(e.aborted, c.aborted);
    }
}

TEST(CsvTest, QuotedFieldsDoubledQuotesTrailingBlanks)
{
    TrackRow wav;
    wav.fullPath = QStringLiteral("/m/a.wav");
    wav.title = wav.album = QStringLiteral("a.wav");
    wav.artist = QStringLiteral("WAV File");
    TrackRow odd;
    odd.fullPath = QStringLiteral("/m/q.mp3");
    odd.title = QStringLiteral("Say \"hi\", then go");
    odd.artist = QStringLiteral("No Data").leftJustified(128, QLatin1Char(' '));
    EXPECT_EQ(csvBytes({ wav, odd }),
        QByteArray("\"/m/a.wav\",\"a.wav\",\"WAV File\",\"a.wav\"\r\n"
                   "\"/m/q.mp3\",\"Say \"\"hi\"\", then go\",\"No Data")
            + QByteArray(121, ' ') + "\",\"\"\r\n");
}

class FilesTest : public PlaylistTest
{
protected:
    void SetUp() override
    {
        PlaylistTest::SetUp();
        commands = std::make_unique<PlaylistCommands>(model, *adder, prompter, QStringLiteral("/opt/kestrine"));
    }
    void answer(const QStringList &inputs)
    {
        prompter.inputs.clear();
        for (const QString &s : inputs)
            prompter.inputs.enqueue(s);
    }
    void load(const QString &path)
    {
        commands->LoadM3u(path);
        waitIdle();
    }
    // Five rows a..e.wav in the temporary folder, of which b, c and e stay checked.
    void fiveRowsThreeChecked()
    {
        QStringList paths;
        for (const char *n : { "a.wav", "b.wav", "c.wav", "d.wav", "e.wav" })
            paths << touch(QString::fromLatin1(n));
        adder->addFiles(paths);
        waitIdle();
        model.setChecked(1, false);
        model.setChecked(4, false);
    }

    std::unique_ptr<PlaylistCommands> commands;
};

TEST_F(FilesTest, SavedPlaylistHoldsTheCheckedRowsAndReadsBackToNothingNew)
{
    fiveRowsThreeChecked();
    const QString out = dir.filePath("out.m3u");
    prompter.inputs.enqueue(out);
    commands->Save_m3u();
    EXPECT_EQ(prompter.inputTitles, QStringList({ "PlayListFile(m3u)の作成" }));
    EXPECT_EQ(prompter.inputDefaults, QStringList({ "/opt/kestrine/playlist.m3u" }));
    EXPECT_EQ(readBytes(out),
        (model.fullPath(2) + "\r\n" + model.fullPath(3) + "\r\n" + model.fullPath(5) + "\r\n").toUtf8());
    EXPECT_EQ(prompter.texts(), QStringList({ "3個のファイルをPlaylist形式(m3u)で保存しました｡" }));

    load(out);
    EXPECT_EQ(model.count(), 5);
    model.clear();
    load(out);
    EXPECT_EQ(model.count(), 3);
    EXPECT_EQ(model.fullPath(3), dir.filePath("e.wav"));
}

TEST_F(FilesTest, LoadSkipsMissingEntriesResolvesRelativeOnesAndStopsAtBadLines)
{
    touch("sub/one.mp3");
    touch(QStringLiteral("曲.mp3"));
    touch("two.wav");
    touch("three.wav");
    QDir().mkpath(dir.filePath("folder.wav"));
    const QByteArray text = "#EXTM3U\n#EXTINF:10,x\nsub/one.mp3\r\nmissing.mp3\r\n"
        + dir.filePath("folder.wav").toUtf8() + "\r\n" + dir.filePath("two.wav").toUtf8()
        + "\r\n\x8b\xc8.mp3\r\n" // 曲.mp3 in CP932
        + QByteArray("bad\0.wav\r\n", 10) + "three.wav\r\n";
    writeBytes(dir.filePath("list.m3u"), text);
    load(dir.filePath("list.m3u"));
    EXPECT_EQ(fullPaths(model),
        QStringList({ dir.filePath("sub/one.mp3"), dir.filePath("two.wav"), dir.filePath(QStringLiteral("曲.mp3")) }));
    EXPECT_EQ(prompter.texts(), QStringList({ "読み込めないファイル形式ですので処理を中断します" }));
}

TEST_F(FilesTest, NoCheckedRowAndCancelWriteNothing)
{
    // No checked row: a message, no dialog, no file.
    adder->addFiles({ touch("a.wav") });
    waitIdle();
    model.uncheckAll();
    prompter.inputs.enqueue(dir.filePath("x.m3u"));
    EXPECT_EQ(commands->WriteM3u("t", "p", "x.m3u"), QString());
    EXPECT_EQ(prompter.texts(), QStringList({ "選択ファイルが１つもありません" }));
    EXPECT_TRUE(prompter.inputTitles.isEmpty());

    // Cancel in each dialog: nothing written, nothing said.
    model.checkAll();
    prompter.messages.clear();
    answer({ QString(), QString() });
    commands->Save_m3u();
    commands->Csv_Save();
    EXPECT_EQ(prompter.inputTitles, QStringList({ "PlayListFile(m3u)の作成", "ＣＳＶ形式のＴＡＧ保存" }));
    EXPECT_EQ(prompter.inputDefaults.last(), QStringLiteral("/opt/kestrine/csvfile.dat"));
    EXPECT_TRUE(prompter.messages.isEmpty());
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList({ "a.wav" }));
}

TEST_F(FilesTest, DefaultPlaylistHandsTheNameToTheSettings)
{
    fiveRowsThreeChecked();
    QStringList stored;
    bool saveWorks = true;
    auto store = [&](const QString &path) {
        stored << path;
        return saveWorks;
    };
    const QString def = dir.filePath("def.m3u");
    const QString unwritable = dir.filePath("no/such/folder/def.m3u");
    answer({ def, QString(), def, unwritable });
    commands->Def_Playlist_Set(store);
    commands->Def_Playlist_Set(store); // Cancel: the start-up playlist is cleared
    saveWorks = false;
    commands->Def_Playlist_Set(store);
    commands->Def_Playlist_Set(store); // the write fails: the stored path is kept
    EXPECT_EQ(stored, QStringList({ def, QString(), def }));
    EXPECT_EQ(prompter.inputTitles.at(0), QStringLiteral("PlayListFile(m3u)の作成/デフォルトセット"));
    EXPECT_EQ(prompter.inputDefaults.at(0), QStringLiteral("/opt/kestrine/kestrine_def.m3u"));
    EXPECT_EQ(prompter.texts(),
        QStringList({ "3個のファイルをPlaylist形式(m3u)で保存しました｡",
            def + "をデフォルトPlaylistとしてセットしました｡", "をデフォルトPlaylistとしてセットしました｡",
            "3個のファイルをPlaylist形式(m3u)で保存しました｡", "設定の保存に失敗しました",
            QStringLiteral("ファイル「%1」に書き込めませんでした。").arg(unwritable) }));
    EXPECT_EQ(readBytes(def).count("\r\n"), 3); // written all the same
}

TEST_F(FilesTest, NamesWithLineBreaksAreLeftOutOfPlaylists)
{
    QList<TrackRow> rows(3);
    for (TrackRow &row : rows)
        row.checked = true;
    rows[0].fullPath = QStringLiteral("/m/one.mp3");
    rows[1].fullPath = QStringLiteral("/m/two\n/etc/passwd.mp3");
    rows[2].fullPath = QStringLiteral("/m/three\r.mp3");
    model.addRows(rows);
    const QString out = dir.filePath("breaks.m3u");
    answer({ out });
    EXPECT_EQ(commands->WriteM3u("t", "p", "x.m3u"), out);
    EXPECT_EQ(readBytes(out), QByteArray("/m/one.mp3\r\n"));
    EXPECT_EQ(prompter.texts(),
        QStringList({ "2個のファイルは名前に改行を含むためPlaylistに書けません｡",
            "1個のファイルをPlaylist形式(m3u)で保存しました｡" }));
    // Nothing writable: nothing written, and the start-up playlist is not touched.
    model.setChecked(1, false);
    answer({ out });
    commands->Def_Playlist_Set([](const QString &) {
        ADD_FAILURE() << "nothing to record";
        return true;
    });
    EXPECT_EQ(readBytes(out), QByteArray("/m/one.mp3\r\n"));
}

TEST_F(FilesTest, CsvOfTheCheckedRows)
{
    fiveRowsThreeChecked();
    const QString out = dir.filePath("tags.csv");
    answer({ out, out });
    commands->Csv_Save();
    EXPECT_TRUE(readBytes(out).startsWith(("\"" + dir.filePath("b.wav") + "\",\"b.wav\",").toUtf8()));
    EXPECT_EQ(readBytes(out).count("\",\"WAV File\",\""), 3);
    model.uncheckAll(); // no checked row: an empty file and the count 0
    commands->Csv_Save();
    EXPECT_EQ(readBytes(out), QByteArray());
    EXPECT_EQ(prompter.texts(),
        QStringList({ "3個のファイルをCSV形式で保存しました｡", "0個のファイルをCSV形式で保存しました｡" }));
}

TEST_F(FilesTest, FailedWritesSayWhichFileAndKeepTheOldOne)
{
    fiveRowsThreeChecked();
    QDir().mkpath(dir.filePath("adir"));
    const QString targets[] = { dir.filePath("adir"), dir.filePath("no/such/folder/x.m3u") };
    for (const QString &target : targets) {
        prompter.messages.clear();
        answer({ target, target });
        EXPECT_EQ(commands->WriteM3u("t", "p", "x.m3u"), QString());
        commands->Csv_Save();
        EXPECT_EQ(prompter.texts(),
            QStringList({ QStringLiteral("ファイル「%1」に書き込めませんでした。").arg(target),
                QStringLiteral("ファイル「%1」に書き込めませんでした。").arg(target) }));
    }
    EXPECT_TRUE(QFileInfo(dir.filePath("adir")).isDir());

    // A write that fails half-way (file size limit, which holds for root too) leaves the
    // old file whole.
    const QString old = dir.filePath("old.m3u");
    writeBytes(old, "old content\r\n");
    QList<TrackRow> many(200);
    for (int i = 0; i < many.size(); ++i)
        many[i].fullPath = dir.filePath(QStringLiteral("long-name-%1.wav").arg(i));
    model.addRows(many);
    answer({ old });
    EXPECT_EQ(withFileSizeLimit(1024, [&] { return commands->WriteM3u("t", "p", "x.m3u"); }), QString());
    EXPECT_EQ(readBytes(old), QByteArray("old content\r\n"));
    EXPECT_EQ(prompter.texts().last(), QStringLiteral("ファイル「%1」に書き込めませんでした。").arg(old));
    EXPECT_EQ(QDir(dir).entryList({ "old.m3u*" }, QDir::Files | QDir::Hidden), QStringList({ "old.m3u" }));
}

TEST_F(FilesTest, EditingCommandsAndTheRememberedRow)
{
    fiveRowsThreeChecked();
    EXPECT_EQ(commands->DblClick().row, 0);
    EXPECT_EQ(commands->DblClick().path, QString());
    commands->ItemClick(4);
    EXPECT_EQ(commands->DblClick().row, 4);
    EXPECT_EQ(commands->DblClick().path, dir.filePath("d.wav"));
    commands->All_Check();
    EXPECT_TRUE(model.isChecked(1) && model.isChecked(4));
    commands->Lst_Cancel();
    EXPECT_FALSE(model.isChecked(2) || model.isChecked(5));
    commands->ColumnClick(PlaylistModel::NoColumn);
    EXPECT_TRUE(model.isSorted());
    commands->List_Clear();
    EXPECT_EQ(model.count(), 0);
    // The remembered row stays until the next click, as the list view's fields do.
    EXPECT_EQ(commands->SelectedPath(), dir.filePath("d.wav"));
}

TEST_F(FilesTest, SharedPlaylistsLoadWithoutHarm)
{
    const QString root = QStringLiteral(KESTRINE_SHARED_TESTDATA);
    int files = 0;
    for (const char *folder : { "m3u-lizzy", "m3u-atldotnet" }) {
        for (QDirIterator it(root + "/" + folder, { "*.m3u", "*.m3u8" }, QDir::Files); it.hasNext(); ++files) {
            prompter.messages.clear();
            load(it.next());
            EXPECT_LE(prompter.messages.size(), 1) << it.filePath().toStdString();
        }
    }
    if (files == 0)
        GTEST_SKIP() << "shared test playlists not found under " << root.toStdString();
    EXPECT_GE(files, 10);
}
