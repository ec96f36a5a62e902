// "歌詞を検索し直す": the title, artist and album to look for, editable; the server's
// records for them with their lengths and kinds (synchronised or plain); the one chosen
// is handed back through chosen().  Sends only when the user presses the search button.
// GUI thread only.
#pragma once

#include "lrclib.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QTreeWidget;

namespace kes
{

class LyricsSearchDialog : public QDialog
{
    Q_OBJECT
public:
    LyricsSearchDialog(const QUrl &server, const LyricsQuery &query, QWidget *parent = nullptr);

    LyricsQuery query() const;
    LrclibClient &client() { return *m_client; }
    // Starts the search for what the fields hold.
    void startSearch();
    const QList<LyricsCandidate> &results() const { return m_results; }
    // "3:05"
    static QString durationText(double seconds);

signals:
    void chosen(const kes::LyricsCandidate &candidate);

private:
    void showResults(const QList<LyricsCandidate> &found);

    LrclibClient *m_client;
    QLineEdit *m_title, *m_artist, *m_album;
    QTreeWidget *m_list;
    QLabel *m_note;
    QList<LyricsCandidate> m_results;
    qint64 m_durationMs;
};

} // namespace kes
