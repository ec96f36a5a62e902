// The tag editor `tagEditor` ("タグを編集…"): the tags of one or several playlist rows,
// read on a worker, edited in one form and written on a worker.  A field that all rows
// share shows its value, one that differs shows "(複数)"; only the fields the user edits
// are written, into every row that can take them.  A cue-sheet track or a stream cannot be
// edited: its row is listed greyed with the reason.  After a write the window lists the
// rows that were not written and why, and tells which rows were (written) so that the
// playlist reads their tags again.
//
// GUI thread only.  The window owns its worker: destroying it while the tags are read
// waits for the file being read; a write cannot be cancelled and ends with its report.
#pragma once

#include "decoderapi.h"
#include "playlistmodel.h"
#include "tagwriter.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <optional>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QRadioButton;
class QThread;

namespace kes
{

// The fields of the form, in its order.
enum class TagField { Title, Artist, Album, AlbumArtist, Year, Track, Disc, Genre, Comment, Lyrics };
inline constexpr int kTagFieldCount = 10;

// A file's fields as far as they can be read: nullopt for a field not read (shown empty,
// left as it is unless edited).
using TagFieldValues = std::array<std::optional<QString>, kTagFieldCount>;

// The editor's file work; both functions block and run on the editor's worker, one file
// at a time.
struct TagEditorIo {
    std::function<TagFieldValues(const QString &path)> read;
    std::function<WriteResult(const QString &path, const TagChanges &changes)> write;
};

// The fields the decoder library reads (title, artist, album, year, genre, comment; an
// RMP file's RIFF list); the others are not read.  Thread-safe, like getFileInfo2.
TagFieldValues readTagFields(const DecoderApi &api, const QString &path);

// Why a row's tags cannot be edited, for the user; empty when they can.
QString uneditableReason(const TrackRow &row);

class TagEditor : public QDialog
{
    Q_OBJECT
public:
    TagEditor(const QList<TrackRow> &rows, TagEditorIo io, QWidget *parent = nullptr);
    ~TagEditor() override;

    // Neither reading nor writing: the form (or the report) is what the window shows.
    bool isIdle() const { return m_worker == nullptr; }

signals:
    // The rows (by id) whose files were written (WriteResult::ok()), once a write ends.
    void written(const QList<quint64> &ids);

protected:
    void accept() override;
    void reject() override;

private:
    struct Row {
        quint64 id;
        QString path;
        bool mp3;
    };
    struct Outcome {
        int row; // index into m_rows
        WriteResult result;
        QString note; // beside a write that went through (no lyrics file found)
    };

    void buildForm(const QList<TrackRow> &all);
    // On the worker: the values of every editable row; then shown.
    void startReading();
    void showValues(const QList<TagFieldValues> &values);
    // The changes the user made, the same for every row but the synchronised lyrics.
    TagChanges changes() const;
    void startWriting();
    void progress(int done);
    void finishWriting(const QList<Outcome> &outcomes);
    // Runs work on a new worker thread; done follows on the GUI thread.
    void runOnWorker(std::function<void()> work);
    void workerEnded();

    TagEditorIo m_io;
    QList<Row> m_rows; // the editable ones
    std::array<QLineEdit *, kTagFieldCount> m_edits {}; // Lyrics has none
    QPlainTextEdit *m_lyrics = nullptr;
    std::array<bool, kTagFieldCount> m_edited {};
    bool m_filling = false;
    QCheckBox *m_synced = nullptr;
    QRadioButton *m_besideTrack = nullptr;
    QLineEdit *m_lrcPath = nullptr;
    QLabel *m_status = nullptr;
    QListWidget *m_failures = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
    QWidget *m_body = nullptr; // the rows and the form, off while reading or writing
    bool m_writing = false;
    QThread *m_worker = nullptr;
    std::atomic_bool m_stop = false;
    bool m_reported = false; // the window shows a write's report: OK closes it
};

} // namespace kes
