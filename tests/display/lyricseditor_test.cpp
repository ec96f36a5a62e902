// The timing editor: stamping at known positions, nudges and the offset through a save and
// a load, and a CP932 file that stays CP932.
#include "lyricseditor.h"
#include "testfiles.h"
#include "textcodec.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace kes;
using namespace Qt::StringLiterals;

namespace
{

QByteArray cp932(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    const std::string bytes = utf8ToCp932(std::string_view(utf8.constData(), size_t(utf8.size())));
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

TEST(LyricsEditor, StampsNudgesAndOffsetSurviveSaveAndLoad)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"song.lrc"_s);
    writeBytes(path, "[ar:Someone]\r\n[offset:+0]\r\none\r\n[00:09.5]two\r\nthree\r\n\r\n");
    qint64 position = 0;
    LyricsEditor editor([&] { return position; });
    ASSERT_TRUE(editor.open(path));
    EXPECT_EQ(editor.currentLine(), 0);
    // Each stamp takes the position heard (to the hundredth) and moves to the next line.
    for (qint64 at : { 1234, 5678 }) {
        position = at;
        editor.stampCurrent();
    }
    EXPECT_EQ(editor.currentLine(), 2);
    editor.nudgeCurrent(-100); // line 2 has no time yet: nothing to move
    editor.setCurrentLine(1);
    editor.nudgeCurrent(100);
    editor.nudgeAll(-100); // every line shown 0.1 s earlier: the offset
    editor.setLineText(2, u"three!"_s);
    const LrcDocument &doc = editor.document();
    EXPECT_EQ(doc.shownAt(0), 1130);
    EXPECT_EQ(doc.shownAt(1), 5680);
    QString note;
    ASSERT_TRUE(editor.save(&note)) << note.toStdString();
    // A plain LRC every reader takes: tags, the offset, hundredths; the line endings kept.
    EXPECT_EQ(readBytes(path), "[ar:Someone]\r\n[offset:100]\r\n[00:01.23]one\r\n[00:05.78]two\r\nthree!\r\n");
    LyricsEditor again([] { return 0; });
    ASSERT_TRUE(again.open(path));
    EXPECT_EQ(again.document(), doc);
}

TEST(LyricsEditor, ACp932FileStaysCp932UnlessItsTextNoLongerFits)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"歌.txt"_s);
    writeBytes(path, cp932(u"[ti:春]\n[00:01.00]さくら\n①②\n"_s));
    LyricsEditor editor([] { return 62000; });
    ASSERT_TRUE(editor.open(path));
    EXPECT_EQ(editor.document().encoding, LrcDocument::Encoding::Cp932);
    editor.setCurrentLine(1);
    editor.stampCurrent();
    ASSERT_TRUE(editor.save());
    EXPECT_EQ(readBytes(path), cp932(u"[ti:春]\n[00:01.00]さくら\n[01:02.00]①②\n"_s));
    // A character CP932 has no form for: saved as UTF-8, and the note says so.
    editor.setLineText(0, u"さくら 🌸"_s);
    QString note;
    ASSERT_TRUE(editor.save(&note));
    EXPECT_EQ(readBytes(path), u"[ti:春]\n[00:01.00]さくら 🌸\n[01:02.00]①②\n"_s.toUtf8());
    EXPECT_TRUE(note.contains(u"UTF-8"_s)) << note.toStdString();
}

// Insert adds a line after the current one at its time (Ctrl+Insert at the position heard),
// Delete removes the current line; a save keeps what the keys made.
TEST(LyricsEditor, LinesAddedAndDeletedByKey)
{
    const struct {
        int line;
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        const char *lines; // shown times in hundredths ("-" none) and texts, then the current line
    } cases[] = {
        { 0, Qt::Key_Insert, Qt::NoModifier, "100 one|100 |500 two|- three @1" },
        { 0, Qt::Key_Insert, Qt::ControlModifier, "100 one|321 |500 two|- three @1" },
        { 2, Qt::Key_Insert, Qt::NoModifier, "100 one|500 two|- three|-  @3" },
        { 1, Qt::Key_Delete, Qt::NoModifier, "100 one|- three @1" },
        { 2, Qt::Key_Delete, Qt::NoModifier, "100 one|500 two @1" },
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(u"song.lrc"_s);
    for (const auto &k : cases) {
        writeBytes(path, "[offset:+500]\n[00:01.50]one\n[00:05.50]two\nthree\n");
        LyricsEditor editor([] { return 3210; });
        ASSERT_TRUE(editor.open(path));
        editor.show();
        editor.setCurrentLine(k.line);
        QTest::keyClick(editor.findChild<QWidget *>(u"lyricsEditorLines"_s), k.key, k.mods);
        const auto shown = [](const LrcDocument &doc, int current) {
            QStringList lines;
            for (int i = 0; i < doc.lines.size(); ++i) {
                const std::optional<qint64> at = doc.shownAt(i);
                lines << (at ? QString::number(*at / 10) : u"-"_s) + u' ' + doc.lines[i].text;
            }
            return (lines.join(u'|') + u" @"_s + QString::number(current)).toStdString();
        };
        EXPECT_EQ(shown(editor.document(), editor.currentLine()), k.lines) << k.line << ' ' << k.key;
        editor.setLineText(editor.currentLine(), u"x"_s); // an empty last line is not kept
        ASSERT_TRUE(editor.save());
        LyricsEditor again([] { return 0; });
        ASSERT_TRUE(again.open(path));
        EXPECT_EQ(again.document().lines, editor.document().lines);
    }
}
