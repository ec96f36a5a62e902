// The find window: each keystroke narrows the playlist's rows to those whose title,
// artist, album or file name hold every typed word (kana, width and case folded, see
// searchtext.h), shown in a list of its own; Up and Down move through the matches, Return
// or a double click chooses one, Escape closes.  The playlist itself is only read: its
// selection, scroll, order and checks stay as they were.  GUI thread only.
#pragma once

#include <QDialog>
#include <QList>

class QLabel;
class QLineEdit;
class QListView;
class QTimer;

namespace kes
{

class PlaylistModel;
class RowFinder;
class FoundRows;

class FindWindow : public QDialog
{
    Q_OBJECT
public:
    explicit FindWindow(PlaylistModel &playlist, QWidget *parent = nullptr);
    ~FindWindow() override;

    // Shows the window with the last text selected, ready to type over.
    void showFind();
    // The 1-based playlist rows that match now, in list order.
    QList<int> matches() const;

signals:
    // The user chose this 1-based playlist row (Return or a double click).
    void chosen(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void search();
    void choose();

    PlaylistModel &m_playlist;
    RowFinder *m_finder;
    FoundRows *m_found;
    QLineEdit *m_text;
    QListView *m_list;
    QLabel *m_count;
    QTimer *m_again; // coalesces the list's changes into one search
};

} // namespace kes
