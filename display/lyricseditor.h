// The lyrics view's editing mode: timing a lyrics file by hand while the song plays.
// Space stamps the current line with the position heard and moves to the next; the
// buttons (and Ctrl+Left/Right, Ctrl+Shift+Left/Right) move a line, or every line through
// the file's [offset:], 0.1 s earlier or later; a double click edits a line's text;
// Insert adds a line after the current one at that line's time (Ctrl+Insert at the
// position heard) and Delete removes the current line, as the lines' menu does; Ctrl+S
// saves (LrcDocument's rules: the file's encoding kept when the text fits it; written
// atomically, the old file staying until the new one is written and checked); Escape
// leaves.  GUI thread only; the position comes from the caller (the decoder's heard
// position in the player, a fake in tests).
#pragma once

#include "lrcdocument.h"

#include <QWidget>

#include <functional>

class QLabel;
class QTableWidget;

namespace kes
{

class LyricsEditor : public QWidget
{
    Q_OBJECT
public:
    using Position = std::function<qint64()>; // ms heard now

    explicit LyricsEditor(Position position, QWidget *parent = nullptr);

    // Reads the file at path (bounded); false, with the reason in error, when it cannot.
    bool open(const QString &path, QString *error = nullptr);
    const QString &path() const { return m_path; }
    const LrcDocument &document() const { return m_doc; }

    int currentLine() const;
    void setCurrentLine(int line);
    void stampCurrent();
    void nudgeCurrent(qint64 deltaMs);
    void nudgeAll(qint64 deltaMs);
    void setLineText(int line, const QString &text);
    // Adds an empty line after the current one (first when there is none) and makes it
    // current: shown at the current line's time, or at the position heard when
    // atPosition.  Its text is then edited in place when edit is set.
    void insertLine(bool atPosition, bool edit = false);
    // Removes the current line; the one after it (else the one before) becomes current.
    void deleteCurrent();
    // Writes the file; the note shown (and returned through note) says how it went.
    bool save(QString *note = nullptr);

signals:
    void saved(const QString &path);
    void closeRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fill();
    void showRow(int row);
    void showNote(const QString &text);
    void showMenu(const QPoint &at);

    Position m_position;
    QString m_path;
    LrcDocument m_doc;
    QTableWidget *m_table;
    QLabel *m_note;
    bool m_filling = false;
};

} // namespace kes
