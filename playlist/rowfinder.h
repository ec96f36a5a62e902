// Finds the rows of the playlist whose texts hold every word the user types, as a find box
// asks for it at each keystroke.  Each row's title, artist, album and file name are folded
// once (searchtext.h) on a thread of the finder's own, in the background after prepare(),
// and kept by row id until the row's texts change; a search then reads only the folded
// texts, and a query typed on from the last one reads only the last one's matches.  The
// finder only reads the playlist: what is saved, sorted or played never changes.  GUI
// thread only (its worker touches copies of the texts, never the model).
#pragma once

#include "searchtext.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <thread>
#include <vector>

namespace kes
{

class PlaylistModel;
struct TrackRow;

class RowFinder : public QObject
{
    Q_OBJECT
public:
    explicit RowFinder(PlaylistModel &model, QObject *parent = nullptr);
    // Stops and joins the worker.
    ~RowFinder() override;

    // Folds the texts of the rows not folded yet, on the worker; ready() follows (at once,
    // through the event loop, when there is nothing to fold).
    void prepare();
    // Whether every row's texts are folded.
    bool isReady() const;
    // The 1-based rows, in list order, that match typed; rows not folded yet are left out
    // until ready().  An empty query matches nothing.
    QList<int> find(const QString &typed);

signals:
    // The rows that were not folded when prepare() was called are folded now.
    void ready();

private:
    struct Folded {
        QString text; // foldRowTexts of the row's texts
        // The row's tagsPending when folded: a row whose tags were read since (which a
        // list kept sorted reports as a new order, not as changed texts) is folded again.
        bool tagsPending;
    };
    // The row's folded texts while they are still those of the row; null when not.
    const QString *foldedOf(const TrackRow &row) const;
    void forget(int first, int last); // 1-based rows whose texts changed
    void changed() { ++m_generation; }

    PlaylistModel &m_model;
    QHash<quint64, Folded> m_folded; // by row id
    quint64 m_generation = 0; // counts changes of the rows, their texts or their order
    // The folded texts in list order as of m_flatGeneration (empty: not folded yet).
    std::vector<QString> m_flat;
    quint64 m_flatGeneration = ~0ull;
    bool m_flatWhole = false; // every row of m_flat is folded
    // The last search, for narrowing.
    SearchQuery m_lastQuery;
    QList<int> m_lastRows;
    quint64 m_lastGeneration = ~0ull;
    std::thread m_worker;
    std::atomic<bool> m_stop { false };
    bool m_working = false;
};

} // namespace kes
