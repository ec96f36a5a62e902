// The tag editor and the text-encoding fix over doubles of the file work: what the form
// shows for one or several rows, which changes reach the writer, the report of failures,
// the rows read again after a write, the fix window's ticks.
#include "encodingfixwindow.h"
#include "tageditor.h"
#include "tagwindows.h"
#include "trackadder.h"
#include "windowtest.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <cstring>

namespace
{

// Changes as "field=value" texts, in the form's order.
QStringList describe(const TagChanges &c)
{
    QStringList out;
    const std::pair<const char *, const std::optional<QString> *> fields[]
        = { { "title", &c.title }, { "artist", &c.artist }, { "album", &c.album }, { "albumArtist", &c.albumArtist },
              { "year", &c.year }, { "track", &c.track }, { "disc", &c.disc }, { "genre", &c.genre },
              { "comment", &c.comment }, { "lyrics", &c.lyrics }, { "synced", &c.syncedLyrics } };
    for (const auto &[name, value] : fields)
        if (*value)
            out << QString::fromLatin1(name) + u'=' + **value;
    return out;
}

// The writer's double: records each call's changes, answers what results holds (else Written).
struct RecordingWriter {
    QMutex lock;
    QMap<QString, QStringList> changes;
    QMap<QString, WriteResult> results;
    std::function<void(const QString &, const TagChanges &)> also;
    TagEditorIo io(std::function<TagFieldValues(const QString &)> read)
    {
        return { std::move(read), [this](const QString &path, const TagChanges &c) {
                    QMutexLocker hold(&lock);
                    changes[path] = describe(c);
                    if (also)
                        also(path, c);
                    return results.value(path, WriteResult { WriteOutcome::Written, {} });
                } };
    }
};

TagFieldValues fields(std::initializer_list<std::pair<TagField, QString>> known)
{
    TagFieldValues v;
    for (const auto &[f, text] : known)
        v[int(f)] = text;
    return v;
}

template <typename T> T *named(QObject &parent, const char *name)
{
    T *c = parent.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

// Text typed over a field's whole text, as a key press brings it (Japanese too).
void type(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(edit, &press);
}

bool settle(const std::function<bool()> &done)
{
    return QTest::qWaitFor(done, 5000);
}

} // namespace

using TagWindowsTest = WindowTest;

// Several rows: a shared field shows its value, a differing one "(複数)", one the library
// does not read says so; only what the user edits reaches every row.
TEST_F(TagWindowsTest, FormShowsSharedValuesAndWritesOnlyEditedFields)
{
    struct Case {
        const char *name;
        QList<TagFieldValues> files;
        const char *field; // edited, by objectName
        QString typed;
        // objectName -> shown text and placeholder
        QList<std::tuple<const char *, QString, QString>> shown;
        QStringList written; // each row's changes
    };
    const TagFieldValues a = fields({ { TagField::Title, u"一"_s }, { TagField::Artist, u"歌手"_s } });
    const TagFieldValues b = fields({ { TagField::Title, u"二"_s }, { TagField::Artist, u"歌手"_s } });
    const Case cases[] = {
        { "one row", { a }, "artist", u"別の歌手"_s,
            { { "title", u"一"_s, u""_s }, { "albumArtist", u""_s, u"（読み取れません。入力すると書き込みます）"_s } },
            { u"artist=別の歌手"_s } },
        { "shared and differing", { a, b }, "album", u"盤"_s,
            { { "title", u""_s, u"(複数)"_s }, { "artist", u"歌手"_s, u""_s } }, { u"album=盤"_s } },
        { "a differing field typed over", { a, b }, "title", u"同じ"_s, {}, { u"title=同じ"_s } },
        { "lyrics", { a }, "lyrics", u"一行目"_s, {}, { u"lyrics=一行目"_s } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QList<TrackRow> rows;
        QMap<QString, TagFieldValues> byPath;
        for (int i = 0; i < c.files.size(); ++i) {
            rows.append(TrackRow { .fullPath = u"/m/%1.flac"_s.arg(i), .id = quint64(i + 1) });
            byPath[rows.back().fullPath] = c.files[i];
        }
        RecordingWriter writer;
        auto *editor = new TagEditor(rows, writer.io([byPath](const QString &p) { return byPath.value(p); }));
        QPointer<TagEditor> alive = editor;
        ASSERT_TRUE(settle([&] { return editor->isIdle(); }));
        for (const auto &[name, text, hint] : c.shown) {
            auto *edit = named<QLineEdit>(*editor, name);
            EXPECT_EQ(std::pair(edit->text(), edit->placeholderText()), std::pair(text, hint)) << name;
        }
        if (auto *lyrics = editor->findChild<QPlainTextEdit *>(QString::fromLatin1(c.field)))
            lyrics->setPlainText(c.typed);
        else
            type(named<QLineEdit>(*editor, c.field), c.typed);
        named<QDialogButtonBox>(*editor, "buttons")->button(QDialogButtonBox::Ok)->click();
        ASSERT_TRUE(settle([&] { return alive.isNull(); })) << "all written: the window closes";
        EXPECT_EQ(writer.changes.size(), rows.size());
        for (const QStringList &written : std::as_const(writer.changes))
            EXPECT_EQ(written, c.written);
    }
}

// Rows that cannot be edited are greyed and never written; a failure is listed with its
// reason; synchronised lyrics come from the LRC beside an MP3 only.
TEST_F(TagWindowsTest, ReportsFailuresAndPassesOverCueAndStreamRows)
{
    const QString mp3 = touch(u"a.mp3"_s);
    touch(u"a.lrc"_s, "[00:01.00]はじまり\n");
    const QString flac = touch(u"b.flac"_s);
    const QList<TrackRow> rows = { TrackRow { .fullPath = mp3, .id = 1 }, TrackRow { .fullPath = flac, .id = 2 },
        TrackRow { .fullPath = u"/m/image.flac"_s, .id = 3, .cue = QSharedPointer<const CueTrackInfo>::create() },
        TrackRow { .fullPath = u"http://127.0.0.1:1/radio"_s, .id = 4 } };
    RecordingWriter writer;
    writer.results[flac] = { WriteOutcome::ReadOnly, u"読み取り専用です"_s };
    auto *editor = new TagEditor(rows, writer.io([](const QString &) { return TagFieldValues {}; }));
    QList<quint64> written;
    QObject::connect(editor, &TagEditor::written, [&](const QList<quint64> &ids) { written = ids; });
    ASSERT_TRUE(settle([&] { return editor->isIdle(); }));
    auto *list = named<QListWidget>(*editor, "rows");
    QList<bool> enabled;
    for (int i = 0; i < list->count(); ++i)
        enabled << list->item(i)->flags().testFlag(Qt::ItemIsEnabled);
    EXPECT_EQ(enabled, (QList<bool> { true, true, false, false }));
    EXPECT_TRUE(list->item(2)->text().contains(u"CUE"_s) && list->item(3)->text().contains(u"ストリーム"_s));
    type(named<QLineEdit>(*editor, "genre"), u"Pop"_s);
    named<QCheckBox>(*editor, "syncedLyrics")->setChecked(true);
    named<QDialogButtonBox>(*editor, "buttons")->button(QDialogButtonBox::Ok)->click();
    ASSERT_TRUE(settle([&] { return editor->isIdle(); }));
    EXPECT_EQ(writer.changes.keys(), (QStringList { mp3, flac }));
    EXPECT_EQ(writer.changes[mp3], (QStringList { u"genre=Pop"_s, u"synced=[00:01.00]はじまり\n"_s }));
    EXPECT_EQ(writer.changes[flac], (QStringList { u"genre=Pop"_s }));
    EXPECT_EQ(written, (QList<quint64> { 1 }));
    auto *failures = named<QListWidget>(*editor, "failures");
    ASSERT_EQ(failures->count(), 1);
    EXPECT_EQ(failures->item(0)->text(), u"b.flac: 読み取り専用です"_s);
    EXPECT_NE(named<QDialogButtonBox>(*editor, "buttons")->button(QDialogButtonBox::Close), nullptr)
        << "the report stays until closed";
    delete editor;
}

// From the key on the selected rows to the rows showing the written tags.
TEST_F(TagWindowsTest, RowsShowTheWrittenTagsAtOnce)
{
    auto w = start();
    const QString one = touch(u"1.mp3"_s), two = touch(u"2.mp3"_s);
    addRows(*w, { one, two });
    for (const QString &p : { one, two })
        std::strcpy(fake.tags[p.toStdString()].title, "old");
    RecordingWriter writer;
    writer.also = [this](const QString &path, const TagChanges &c) {
        std::strcpy(fake.tags[path.toStdString()].title, c.title->toUtf8().constData());
    };
    w->tagWindows()->setEditorIo(writer.io([this](const QString &p) { return readTagFields(FakeDecoder::api(), p); }));
    child<QTreeView>(*w, u"ListView"_s)->selectAll();
    emit child<QShortcut>(*w, u"key F2"_s)->activated();
    auto *editor = w->findChild<TagEditor *>();
    ASSERT_NE(editor, nullptr);
    QPointer<TagEditor> alive = editor;
    ASSERT_TRUE(settle([&] { return editor->isIdle(); }));
    EXPECT_EQ(named<QLineEdit>(*editor, "title")->text(), u"old"_s);
    named<QLineEdit>(*editor, "title")->clear();
    type(named<QLineEdit>(*editor, "title"), u"new"_s);
    named<QDialogButtonBox>(*editor, "buttons")->button(QDialogButtonBox::Ok)->click();
    ASSERT_TRUE(settle([&] { return alive.isNull(); }));
    ASSERT_TRUE(w->adder()->waitForIdle(5000));
    EXPECT_EQ(std::pair(w->playlist()->title(1), w->playlist()->title(2)), std::pair(u"new"_s, u"new"_s));
}

// Unsure fields start unticked; only the ticked ones are written, file by file.
TEST_F(TagWindowsTest, FixWindowWritesTheTickedFields)
{
    const EncodingFixField title { u"TIT2"_s, u"タイトル"_s, u"\u0083e\u0083X\u0083g"_s, u"テスト"_s, false };
    const EncodingFixField artist { u"TPE1"_s, u"アーティスト"_s, u"\u0089\u00cc"_s, u"歌"_s, true };
    const EncodingFixField comment { u"COMM"_s, u"コメント"_s, u"\u0082\u00a0"_s, u"あ"_s, false };
    const QMap<QString, EncodingFixScan> scans = { { u"/m/1.mp3"_s, { true, {}, { title, artist } } },
        { u"/m/2.mp3"_s, { true, {}, { comment } } }, { u"/m/3.mp3"_s, { false, u"読めません"_s, {} } } };
    QMutex lock;
    QMap<QString, QStringList> applied;
    EncodingFixIo io { [&](const QString &p) { return scans.value(p); },
        [&](const QString &p, const QList<EncodingFixField> &chosen) {
            QMutexLocker hold(&lock);
            for (const EncodingFixField &c : chosen)
                applied[p] << c.key;
            return WriteResult { WriteOutcome::Written, {} };
        } };
    QList<TrackRow> rows;
    for (const QString &p : scans.keys())
        rows.append(TrackRow { .fullPath = p, .id = quint64(rows.size() + 1) });
    EncodingFixWindow window(rows, io);
    QList<quint64> written;
    QObject::connect(&window, &EncodingFixWindow::written, [&](const QList<quint64> &ids) { written = ids; });
    ASSERT_TRUE(settle([&] { return window.isIdle(); }));
    auto *tree = named<QTreeWidget>(window, "fields");
    QList<QTreeWidgetItem *> fieldItems;
    QStringList verdicts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        if (item->flags().testFlag(Qt::ItemIsUserCheckable))
            fieldItems << item;
        verdicts << item->text(3);
    }
    ASSERT_EQ(fieldItems.size(), 3);
    EXPECT_EQ(fieldItems[0]->checkState(0), Qt::Checked);
    EXPECT_EQ(fieldItems[1]->checkState(0), Qt::Unchecked) << "unsure";
    EXPECT_TRUE(verdicts.contains(u"読めません"_s));
    fieldItems[1]->setCheckState(0, Qt::Checked);
    fieldItems[2]->setCheckState(0, Qt::Unchecked);
    named<QPushButton>(window, "writeFixes")->click();
    ASSERT_TRUE(settle([&] { return window.isIdle(); }));
    EXPECT_EQ(applied, (QMap<QString, QStringList> { { u"/m/1.mp3"_s, { u"TIT2"_s, u"TPE1"_s } } }));
    EXPECT_EQ(written, (QList<quint64> { 1 }));
}
