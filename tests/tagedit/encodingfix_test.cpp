// The text-encoding fix on a corpus made here: Shift-JIS bytes in Latin-1 frames and in
// ID3v1 are listed as the player shows them and written back as UTF-8; Western text,
// Unicode frames and the rest of the file are left alone.

#include "encodingfix.h"
#include "tagedittest.h"
#include "textcodec.h"

#include <QJsonObject>

#include <map>

using namespace kes;
using namespace tagtest;

namespace
{

QString hex(const char *utf8, int cut = 0)
{
    const QByteArray bytes = QByteArray::fromStdString(utf8ToCp932(utf8));
    return QString::fromLatin1(bytes.left(bytes.size() - cut).toHex());
}

QString latin1Hex(const char *cp1252Bytes)
{
    return QString::fromLatin1(QByteArray(cp1252Bytes).toHex());
}

// A raw ID3v1 tag with a title and an album in CP932.
QString id3v1(const char *title, const char *album)
{
    QByteArray tag = "TAG";
    for (const char *text : { title, "", album })
        tag += QByteArray::fromStdString(utf8ToCp932(text)).leftJustified(30, '\0', true);
    tag += QByteArray(4 + 30, '\0') + '\xFF';
    return QString::fromLatin1(tag.toHex());
}

struct Listed {
    QString after;
    bool unsure;
};

TEST(EncodingFix, listsShiftJisFieldsAndWritesThemAsUnicode)
{
    if (!haveTools())
        GTEST_SKIP() << "sox, lame, ffmpeg and python3-mutagen are needed";
    struct Case {
        const char *name;
        std::map<QString, QString> frames; // tagdump.py latin1
        std::map<QString, Listed> listed;
        std::map<QString, QString> fixed; // as mutagen reads them after the fix
    };
    const Case cases[] = {
        { "japanese",
            { { "TIT2", hex("夜に駆ける") }, { "TPE1", hex("ヴァイオリン") }, { "TALB", hex("ｱｲｳｴｵ ﾃｽﾄ") },
                { "TCOM", hex("東京都", 1) }, { "TPE2", "u:既に正しい" }, { "COMM", latin1Hex("plain") },
                { "v1", id3v1("夜に駆ける", "") } },
            { { "TIT2", { "夜に駆ける", false } }, { "TPE1", { "ヴァイオリン", false } },
                { "TALB", { "ｱｲｳｴｵ ﾃｽﾄ", false } }, { "TCOM", { "東京", true } } },
            { { "TIT2", "夜に駆ける" }, { "TPE1", "ヴァイオリン" }, { "TALB", "ｱｲｳｴｵ ﾃｽﾄ" }, { "TCOM", "東京" },
                { "TPE2", "既に正しい" }, { "COMM::jpn", "plain" } } },
        { "western",
            { { "TIT2", latin1Hex("C\xE9line Dion") },
                { "TPE1",
                    latin1Hex("Stra\xDF"
                              "e") },
                { "TALB", latin1Hex("\xD8resund") }, { "COMM", latin1Hex("Don\x92t stop") } },
            {}, {} },
        { "ID3v1 alone", { { "v1", id3v1("曲名です", "アルバム名") } },
            { { "ID3v1:title", { "曲名です", false } }, { "ID3v1:album", { "アルバム名", false } } },
            { { "TIT2", "曲名です" }, { "TALB", "アルバム名" } } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = copyOf("plain.mp3", "lame --quiet -b 64 tone.wav %o", QString(c.name) + ".mp3");
        QJsonObject frames;
        for (const auto &[key, value] : c.frames)
            frames[key] = value;
        ASSERT_TRUE(
            run(QStringLiteral("/usr/bin/python3 %1 latin1 '%2' '%3'")
                    .arg(tagdump(), path, QString::fromUtf8(QJsonDocument(frames).toJson(QJsonDocument::Compact)))));
        const QJsonObject before = dump(path);
        const QString audio = audioMd5(path);

        const EncodingFixScan scan = scanEncoding(path);
        ASSERT_TRUE(scan.ok);
        std::map<QString, Listed> listed;
        for (const EncodingFixField &field : scan.fields) {
            listed[field.key] = { field.after, field.unsure };
            EXPECT_FALSE(field.before.isEmpty());
        }
        ASSERT_EQ(listed.size(), c.listed.size());
        for (const auto &[key, want] : c.listed) {
            EXPECT_EQ(listed[key].after, want.after) << key.toStdString();
            EXPECT_EQ(listed[key].unsure, want.unsure) << key.toStdString();
        }

        const WriteResult result = applyEncodingFix(path, scan.fields);
        EXPECT_EQ(result.outcome, c.fixed.empty() ? WriteOutcome::Unchanged : WriteOutcome::Written)
            << result.why.toStdString();
        const QJsonObject after = dump(path);
        for (const auto &[key, value] : c.fixed)
            EXPECT_EQ(after.value(key).toString(), value) << key.toStdString();
        EXPECT_EQ(after.value("ID3v1"), before.value("ID3v1"));
        EXPECT_EQ(audioMd5(path), audio);
        EXPECT_TRUE(scanEncoding(path).fields.isEmpty());
    }
}

} // namespace
