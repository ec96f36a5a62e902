// M3U and CSV files: reading rules, writing, the dialogs and messages of the commands.
#include "pathbytes.h"
#include "playlistcommands.h"
#include "playlistfiles.h"
#include "playlisttestsupport.h"

#include <QElapsedTimer>
#include <QMimeData>
#include <QUrl>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>

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
        // Bytes that are no UTF-8 name the file of those bytes (CP932 is the alternative, below).
        { "CP932 text", "/\x89\xb9\x8a\x79/\x8b\xc8.mp3\r\n", { pathFromBytes("/\x89\xb9\x8a\x79/\x8b\xc8.mp3") },
            false },
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
    EXPECT_EQ(parseM3u("/\x89\xb9\x8a\x79/\x8b\xc8.mp3\r\n/a.mp3\r\n", "/").alternatives,
        (QHash<qsizetype, QString> { { 0, QStringLiteral("/音楽/曲.mp3") } }));
}

// One list as UTF-8 (BOM or not), UTF-16 either way and Latin-1 reads alike; file: URLs and PLS name files.
TEST(PlaylistFormats, ThePlaylistFilesOfOtherPlayers)
{
    const QString lizzy = QStringLiteral(KESTRINE_SOURCE_DIR "/../shared/testdata/m3u-lizzy/");
    if (!QFileInfo::exists(lizzy))
        GTEST_SKIP() << "../shared/testdata/m3u-lizzy is absent";
    const auto parseFile = [&](const QString &name) {
        const QString path = lizzy + name;
        return parsePlaylist(readBytes(path), QStringLiteral("/base"), playlistFormatOf(path));
    };
    const M3uEntries utf8 = parseFile(QStringLiteral("playlist-utf8.m3u8"));
    ASSERT_EQ(utf8.paths.size(), 2);
    EXPECT_TRUE(utf8.paths[1].endsWith(
        QStringLiteral("ÀÁÂÃäA Ç ÈÉÊË ÌÍÎÏ N ÒÓÔÕö  ÙÚÛü àáâãäa ç èéêë ìíîï n òóôõöo ùúûü.mp3")));
    for (const char *name : { "playlist-utf8-bom.m3u", "playlist-utf16le-bom.m3u", "playlist-utf16be-bom.m3u" }) {
        const M3uEntries e = parseFile(QString::fromLatin1(name));
        EXPECT_TRUE(e.paths == utf8.paths && !e.aborted) << name;
    }
    const M3uEntries latin1 = parseFile(QStringLiteral("playlist-iso-8859-1.m3u"));
    EXPECT_EQ(latin1.paths[0], utf8.paths[0]);
    EXPECT_EQ(latin1.alternativeOf(1), utf8.paths[1]);
    // Every file of both collections reads to its end, each path line an entry.
    QStringList all;
    for (const QString &folder : { lizzy, lizzy + QStringLiteral("../m3u-atldotnet/") })
        for (const QString &name : QDir(folder).entryList({ "*.m3u", "*.m3u8" }))
            all << folder + name;
    EXPECT_GE(all.size(), 14);
    for (const QString &path : all) {
        const QByteArray bytes = readBytes(path);
        const M3uEntries e = parsePlaylist(bytes, QStringLiteral("/base"), playlistFormatOf(path));
        EXPECT_FALSE(e.aborted) << path.toStdString();
        EXPECT_FALSE(e.paths.isEmpty()) << path.toStdString();
    }
    const M3uEntries t6 = parseFile(QStringLiteral("test06.m3u"));
    EXPECT_EQ(t6.paths,
        QStringList({ "/music/opeth/white cluster.mp3", "/music/moonlapse vertigo.mp3",
            "/base/http:/ccmixter.org/a/song.mp3", "/video/mononoke.avi" }));

    EXPECT_EQ(
        parseM3u("file:///m/%E6%9B%B2%20a.mp3\nfile://localhost/m/%8B%C8.wav\nfile://elsewhere/x.mp3\n", "/").paths,
        QStringList({ QStringLiteral("/m/曲 a.mp3"), pathFromBytes("/m/\x8B\xC8.wav") }));
    const M3uEntries m3u8 = parsePlaylist("/m/\x8B\xC8.wav\n", "/", PlaylistFormat::M3u8);
    EXPECT_EQ(m3u8.paths, QStringList { pathFromBytes("/m/\x8B\xC8.wav") });
    EXPECT_TRUE(m3u8.alternatives.isEmpty());

    const QByteArray pls = "[playlist]\r\nNumberOfEntries=4\r\nFile2=b.mp3\r\nTitle2=B\r\nfile1 = /m/a.mp3\r\n"
                           "File10=file:///m/%E6%9B%B2.mp3\r\nFile3=caf\xE9.mp3\r\nLength3=-1\r\nVersion=2\r\n";
    const M3uEntries p = parsePlaylist(pls, "/base", PlaylistFormat::Pls);
    EXPECT_EQ(p.paths, QStringList({ "/m/a.mp3", "/base/b.mp3", pathFromBytes("/base/caf\xE9.mp3"), "/m/曲.mp3" }));
    EXPECT_FALSE(p.aborted);
    for (const auto &[name, format] : { std::pair { "x.M3U", PlaylistFormat::M3u }, { "x.m3u8", PlaylistFormat::M3u8 },
             { "x.M3U8", PlaylistFormat::M3u8 }, { "x.Pls", PlaylistFormat::Pls } }) {
        EXPECT_EQ(playlistFormatOf(QString::fromLatin1(name)), format) << name;
        EXPECT_TRUE(isPlaylistName(QString::fromLatin1(name))) << name;
    }
    EXPECT_FALSE(isPlaylistName(QStringLiteral("x.mp3")) || isPlaylistName(QStringLiteral("m3u")));
}

// Reading is bounded: huge, NUL-filled and endless playlists stop with the message; a silent pipe is refused.
TEST(PlaylistFormats, ReadingIsBoundedAndNeverWaits)
{
    QTemporaryDir tmp;
    // head written `repeat` times, then the file made `size` long (sparse past the data).
    const auto sparse = [&](const char *name, qint64 size, const QByteArray &head, int repeat = 1) {
        const QByteArray path = QFile::encodeName(tmp.filePath(QString::fromLatin1(name)));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0600);
        for (int i = 0; i < repeat; ++i)
            EXPECT_EQ(::write(fd, head.constData(), head.size()), head.size());
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        return QFile::decodeName(path);
    };
    rusage before {};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer t;
    t.start();
    const std::tuple<const char *, qint64, QByteArray, int, int> cases[] = { // name, size, head, repeat, entries
        { "sparse.m3u", qint64(2) << 30, "/a.mp3\n", 1, 1 }, { "nul.m3u", qint64(256) << 20, "", 1, 0 },
        { "endless.m3u", qint64(64) << 20, "/a.mp3\n/" + QByteArray(1 << 20, 'x'), 1, 1 },
        { "lines.m3u", kMaxPlaylistBytes + 2, QByteArray(1 << 20, '\n'), 65, 0 }
    };
    for (const auto &[name, size, head, repeat, count] : cases) {
        const QString path = sparse(name, size, head, repeat);
        M3uEntries e;
        ASSERT_TRUE(readPlaylist(path, e)) << name;
        EXPECT_TRUE(e.aborted) << name;
        EXPECT_EQ(e.paths.size(), count) << name;
    }
    rusage after {};
    getrusage(RUSAGE_SELF, &after);
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer keeps freed memory in quarantine
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB more at the peak";
    EXPECT_LT(t.elapsed(), 15000);
#else // its instrumented reads take several times as long
    EXPECT_LT(t.elapsed(), 60000);
#endif

    const QByteArray fifo = QFile::encodeName(tmp.filePath("pipe.m3u"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    t.restart();
    M3uEntries e;
    EXPECT_FALSE(readPlaylist(QFile::decodeName(fifo), e));
    EXPECT_FALSE(readPlaylist(tmp.path(), e));
    EXPECT_LT(t.elapsed(), 1000);

    // One line more than a playlist holds: stops as past the byte limit; an entry costs about its path.
    const QString shortLines
        = sparse("short.m3u", 2 * (kMaxPlaylistEntries + 1), QByteArray("a\n").repeated(kMaxPlaylistEntries + 1));
    M3uEntries most;
    [[maybe_unused]] const size_t heap = mallinfo2().uordblks; // compared where no sanitizer allocates
    ASSERT_TRUE(readPlaylist(shortLines, most));
    EXPECT_TRUE(most.aborted);
    ASSERT_EQ(most.paths.size(), kMaxPlaylistEntries);
#ifndef __SANITIZE_ADDRESS__
    const qsizetype pathBytes = 16 + 2 * (most.paths[0].size() + 1) + 16; // header, characters, the allocator's own
    EXPECT_LT(qsizetype(mallinfo2().uordblks - heap) / most.paths.size(), sizeof(QString) + pathBytes);
#endif

    // 100,000 entries across many reads: each line whole, CR LF split between reads.
    QByteArray many;
    for (int i = 0; i < 100000; ++i)
        many += "/m/" + QByteArray::number(i) + ".mp3\r\n";
    const QString manyPath = sparse("many.m3u", many.size(), many);
    ASSERT_TRUE(readPlaylist(manyPath, e));
    EXPECT_FALSE(e.aborted);
    ASSERT_EQ(e.paths.size(), 100000);
    EXPECT_EQ(e.paths[54321], QStringLiteral("/m/54321.mp3"));
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

// The checked rows as M3U and CSV; none checked is said first; Cancel writes and says nothing.
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

// Def_Playlist_Set hands the name written (Cancel: none); names with line breaks are left out of every M3U.
TEST_F(FilesTest, DefaultPlaylistAndNamesWithLineBreaks)
{
    model.addRows({ TrackRow { .fullPath = "/m/one.mp3" }, TrackRow { .fullPath = "/m/two\n/etc/passwd.mp3" },
        TrackRow { .fullPath = "/m/three\r.mp3" } });
    QStringList stored;
    bool saveWorks = true;
    auto store = [&](const QString &path, const PlaylistCommands::SaveReply &reply) {
        stored << path;
        reply(saveWorks);
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

// A failed write names the file; one failing half-way leaves the old file whole and no temporary.
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

// Names of Shift-JIS, Latin-1 and UTF-8 bytes are shown decoded, dropped as they are, and written byte for byte.
TEST_F(FilesTest, NamesThatAreNotUtf8TravelAsTheirBytes)
{
    const QByteArray base = QFile::encodeName(dir.path()) + '/';
    const QList<QByteArray> names { "\x8B\xC8\x96\xBC.mp3", "caf\xE9.wav", "\xE6\x9B\xB2.mp3" };
    QStringList paths;
    for (const QByteArray &n : names) {
        const int fd = ::open((base + n).constData(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
        paths << pathFromBytes(base + n);
    }
    const auto sorted = [](QStringList l) { return l.sort(), l; };
    adder->addFiles(paths, true); // as the folder search finds them (its own test)
    waitIdle();
    ASSERT_EQ(sorted(fullPaths(model)), sorted(paths));
    QStringList shown;
    for (int i = 1; i <= model.count(); ++i)
        shown << model.title(i).trimmed()
                + model.data(model.index(i - 1, PlaylistModel::FullPathColumn)).toString().mid(dir.path().size());
    EXPECT_EQ(sorted(shown), sorted({ "曲名.mp3/曲名.mp3", "café.wav/café.wav", "曲.mp3/曲.mp3" }));

    answer({ dir.filePath("names.m3u"), dir.filePath("names.csv") });
    commands->Save_m3u();
    commands->Csv_Save();
    waitIdle();
    const QByteArray m3u = readBytes(dir.filePath("names.m3u"));
    const QByteArray csv = readBytes(dir.filePath("names.csv"));
    for (const QByteArray &n : names) {
        EXPECT_TRUE(m3u.contains(base + n + "\r\n")) << n.toHex().constData();
        EXPECT_TRUE(csv.contains("\"" + base + n + "\",")) << n.toHex().constData();
    }
    const QStringList listed = fullPaths(model);
    model.clear();
    load(dir.filePath("names.m3u"));
    EXPECT_EQ(fullPaths(model), listed);

    QMimeData drop;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromEncoded(fileUrlOfPath(p));
    drop.setUrls(urls);
    EXPECT_EQ(PlaylistCommands::droppedPaths(&drop), paths);
    model.clear();
    commands->DropFiles(PlaylistCommands::droppedPaths(&drop));
    waitIdle();
    EXPECT_EQ(fullPaths(model), paths);
}
