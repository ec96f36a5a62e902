// M3U and CSV files: reading rules, writing, the dialogs and messages of the commands.
#include "playlistcommands.h"
#include "playlistfiles.h"
#include "playlisttestsupport.h"

TEST(M3uParseTest, LinesEntriesAndAborts)
{
    const QByteArray longLine(5000, 'x');
    const std::tuple<const char *, QByteArray, QStringList, bool> cases[] = {
        // name, bytes, paths, aborted
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
        // Not Qt's resource paths: a name may start with ':' on Linux.
        { "colon first", ":a.mp3\n:/../b.mp3\n", { "/base/dir/:a.mp3", "/base/dir/b.mp3" }, false },
        { "NUL ends reading", QByteArray("/a.mp3\r\n/b\0c.mp3\r\n/d.mp3\r\n", 25), { "/a.mp3" }, true },
        { "absurdly long line", "/a.mp3\n/" + longLine + "\n/d.mp3\n", { "/a.mp3" }, true },
        { "file name too long", "/a.mp3\n/" + QByteArray(300, 'n') + ".mp3\n", { "/a.mp3" }, true },
        { "UTF-16LE with BOM", QByteArray("\xFF\xFE/\0a\0.\0m\0p\0\x33\0\r\0\n\0", 18), { "/a.mp3" }, false },
    };
    for (const auto &[name, bytes, paths, aborted] : cases) {
        const M3uEntries e = parseM3u(bytes, QStringLiteral("/base/dir"));
        EXPECT_TRUE(e.paths == paths && e.aborted == aborted) << name << ": " << e.paths.join(' ').toStdString();
    }
}

TEST(CsvTest, QuotedFieldsDoubledQuotesTrailingBlanks)
{
    const TrackRow wav { .title = "a.wav", .artist = "WAV File", .album = "a.wav", .fullPath = "/m/a.wav" };
    const TrackRow odd {
        .title = "Say \"hi\", then go", .artist = QString("No Data").leftJustified(128), .fullPath = "/m/q.mp3"
    };
    EXPECT_EQ(csvBytes({ wav, odd }),
        "\"/m/a.wav\",\"a.wav\",\"WAV File\",\"a.wav\"\r\n\"/m/q.mp3\",\"Say \"\"hi\"\", then go\",\"No Data"
            + QByteArray(121, ' ') + "\",\"\"\r\n");
}

const auto cannotWrite = [](const QString &p) { return QString("ファイル「%1」に書き込めませんでした。").arg(p); };

class FilesTest : public PlaylistTest
{
protected:
    void SetUp() override
    {
        PlaylistTest::SetUp();
        commands = std::make_unique<PlaylistCommands>(model, *adder, prompter, QStringLiteral("/opt/kestrine"));
    }
    void answer(const QStringList &inputs) { static_cast<QStringList &>(prompter.inputs) = inputs; }
    void load(const QString &path) { commands->LoadM3u(path), waitIdle(); }
    // Five rows a..e.wav in the temporary folder, of which b, c and e stay checked.
    void fiveRowsThreeChecked()
    {
        for (const char *n : { "a.wav", "b.wav", "c.wav", "d.wav", "e.wav" })
            AddTrack(model, api, touch(n));
        model.setChecked(1, false);
        model.setChecked(4, false);
    }
    QString writeM3u(const QString &name) { return answer({ name }), commands->WriteM3u("t", "p", "x.m3u"); }

    std::unique_ptr<PlaylistCommands> commands;
};

// The checked rows as M3U and CSV; the M3U reads back to nothing new; no checked row is
// said before any dialog (CSV: an empty file); Cancel writes nothing and says nothing.
TEST_F(FilesTest, TheCheckedRowsAreWritten)
{
    fiveRowsThreeChecked();
    const QString m3u = dir.filePath("out.m3u"), csv = dir.filePath("tags.csv");
    const QStringList checked = { dir.filePath("b.wav"), dir.filePath("c.wav"), dir.filePath("e.wav") };
    answer({ m3u, csv });
    commands->Save_m3u();
    commands->Csv_Save();
    EXPECT_EQ(readBytes(m3u), (checked.join("\r\n") + "\r\n").toUtf8());
    EXPECT_EQ(readBytes(csv).count("\",\"WAV File\",\""), 3);
    model.clear();
    load(m3u);
    EXPECT_EQ(fullPaths(model), checked);

    model.uncheckAll();
    EXPECT_EQ(writeM3u(csv), QString());
    answer({ csv });
    commands->Csv_Save();
    EXPECT_EQ(readBytes(csv), QByteArray());
    model.checkAll();
    answer({ QString(), QString() });
    commands->Save_m3u();
    commands->Csv_Save();
    EXPECT_EQ(prompter.inputDefaults.size(), 5) << "no dialog without a checked row";
    EXPECT_EQ(prompter.texts(),
        QStringList({ "3個のファイルをPlaylist形式(m3u)で保存しました｡", "3個のファイルをCSV形式で保存しました｡",
            "選択ファイルが１つもありません", "0個のファイルをCSV形式で保存しました｡" }));
}

TEST_F(FilesTest, LoadSkipsMissingEntriesResolvesRelativeOnesAndStopsAtBadLines)
{
    touch("sub/one.mp3");
    touch(QStringLiteral("曲.mp3"));
    touch("three.wav");
    for (const char *name : { "sub/two.flac", "four.opus", "Five.Opus", "six.OGG" })
        touch(name);
    QDir().mkpath(dir.filePath("folder.wav"));
    writeBytes(dir.filePath("list.m3u"),
        "#EXTM3U\n#EXTINF:10,x\nsub/one.mp3\r\nmissing.mp3\r\n" + dir.filePath("folder.wav").toUtf8()
            + "\r\n\x8b\xc8.mp3\r\n" // 曲.mp3 in CP932
            + "sub/two.flac\r\nFive.Opus\r\nfour.opus\r\nsix.OGG\r\nmissing.flac\r\n" // the ending decides
            + QByteArray("bad\0.wav\r\n", 10) + "three.wav\r\n");
    load(dir.filePath("list.m3u"));
    EXPECT_EQ(fullPaths(model),
        QStringList({ dir.filePath("sub/one.mp3"), dir.filePath(QStringLiteral("曲.mp3")), dir.filePath("sub/two.flac"),
            dir.filePath("four.opus"), dir.filePath("six.OGG") }));
    EXPECT_EQ(prompter.texts(), QStringList({ "読み込めないファイル形式ですので処理を中断します" }));
}

// Def_Playlist_Set hands the name written to the settings (Cancel: none, which clears the
// start-up playlist) and leaves them alone when nothing was written.  Names with line
// breaks are left out of every M3U.
TEST_F(FilesTest, DefaultPlaylistAndNamesWithLineBreaks)
{
    model.addRows({ TrackRow { .fullPath = "/m/one.mp3" }, TrackRow { .fullPath = "/m/two\n/etc/passwd.mp3" },
        TrackRow { .fullPath = "/m/three\r.mp3" } });
    QStringList stored;
    bool saveWorks = true;
    auto store = [&](const QString &path) {
        stored << path;
        return saveWorks;
    };
    const QString def = dir.filePath("def.m3u"), unwritable = dir.filePath("no/such/folder/def.m3u");
    answer({ def, QString(), def, unwritable, def });
    commands->Def_Playlist_Set(store);
    commands->Def_Playlist_Set(store);
    saveWorks = false;
    commands->Def_Playlist_Set(store);
    commands->Def_Playlist_Set(store);
    model.setChecked(1, false);
    commands->Def_Playlist_Set(store);
    EXPECT_EQ(stored, QStringList({ def, QString(), def }));
    EXPECT_EQ(readBytes(def), QByteArray("/m/one.mp3\r\n"));
    const QString breaks = QStringLiteral("2個のファイルは名前に改行を含むためPlaylistに書けません｡"),
                  saved = QStringLiteral("1個のファイルをPlaylist形式(m3u)で保存しました｡"),
                  setAs = QStringLiteral("をデフォルトPlaylistとしてセットしました｡");
    EXPECT_EQ(prompter.texts(),
        QStringList({ breaks, saved, def + setAs, setAs, breaks, saved, "設定の保存に失敗しました", breaks,
            cannotWrite(unwritable), breaks }));
}

// A failed write says which file; one that fails half-way (a file size limit, which
// holds for root too) leaves the old file whole and no temporary file.
TEST_F(FilesTest, FailedWritesSayWhichFileAndKeepTheOldOne)
{
    fiveRowsThreeChecked();
    const QString folder = dir.filePath("adir"), missing = dir.filePath("no/such/folder/x.csv");
    QDir().mkpath(folder);
    answer({ folder, missing });
    EXPECT_EQ(commands->WriteM3u("t", "p", "x.m3u"), QString());
    commands->Csv_Save();
    EXPECT_EQ(prompter.texts(), QStringList({ cannotWrite(folder), cannotWrite(missing) }));

    const QString old = dir.filePath("old.m3u");
    writeBytes(old, "old content\r\n");
    for (int i = 0; i < 200; ++i)
        model.addRow({ .fullPath = dir.filePath(QStringLiteral("long-name-%1.wav").arg(i)) });
    EXPECT_EQ(withFileSizeLimit(1024, [&] { return writeM3u(old); }), QString());
    EXPECT_EQ(readBytes(old), QByteArray("old content\r\n"));
    EXPECT_EQ(prompter.texts().last(), cannotWrite(old));
    EXPECT_EQ(QDir(dir).entryList({ "old.m3u*" }, QDir::Files | QDir::Hidden), QStringList({ "old.m3u" }));
}
