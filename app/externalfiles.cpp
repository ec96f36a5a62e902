#include "externalfiles.h"

#include "filename.h"
#include "mainwindow.h"
#include "pathbytes.h"
#include "playbackcontroller.h"
#include "playlistcommands.h"
#include "playlistmodel.h"
#include "trackadder.h"

#include <QHash>
#include <QLoggingCategory>

namespace kes
{

Q_LOGGING_CATEGORY(lcExternal, "kestrine.files", QtWarningMsg)

ExternalFiles::ExternalFiles(MainWindow &window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    connect(m_window.adder(), &TrackAdder::rowsIdle, this, [this] {
        if (m_waiting)
            finish();
        else
            startNext();
    });
    connect(
        m_window.playlist(), &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
            if (!m_waiting)
                return;
            if (m_firstAdded.isEmpty())
                m_firstAdded = m_window.playlist()->fullPath(first + 1);
            for (int i = first; i <= last && m_current.enqueue; ++i)
                m_added.append(m_window.playlist()->fullPath(i + 1));
        });
}

QStringList ExternalFiles::absolutePaths(const QStringList &words, const QString &workingDir)
{
    QStringList paths;
    for (const QString &w : words) {
        if (w.startsWith(QLatin1String("file:"))) {
            const QString path = pathFromFileUrl(QByteArrayView(pathToBytes(w)));
            if (!path.isEmpty())
                paths << absolutePathIn(QStringLiteral("/"), path);
        } else if (!w.isEmpty()) {
            paths << absolutePathIn(workingDir, w);
        }
    }
    return paths;
}

QStringList ExternalFiles::commandLineWords(int argc, char **argv)
{
    QStringList words;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView a(argv[i]);
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (options && a.size() > 1 && a.startsWith('-'))
            continue;
        words << pathFromBytes(a);
    }
    return words;
}

void ExternalFiles::open(const QStringList &paths)
{
    request(paths, false);
}

void ExternalFiles::enqueue(const QStringList &paths)
{
    request(paths, true);
}

void ExternalFiles::request(const QStringList &paths, bool enqueue)
{
    if (paths.isEmpty())
        return;
    qCInfo(lcExternal) << (enqueue ? "to queue" : "received") << paths;
    m_queue.enqueue({ paths, enqueue });
    if (!m_waiting && m_window.adder()->rowsDone())
        startNext();
    // Otherwise the adder's rowsIdle() starts it once the jobs before it are over.
}

void ExternalFiles::startNext()
{
    if (m_waiting || m_queue.isEmpty() || !m_window.adder()->rowsDone())
        return;
    m_current = m_queue.dequeue();
    m_firstAdded.clear();
    m_added.clear();
    m_waiting = true;
    m_window.adder()->openFiles(m_current.paths);
    if (m_waiting && m_window.adder()->rowsDone())
        finish(); // nothing the adder would take: no rowsIdle() follows
}

void ExternalFiles::finish()
{
    m_waiting = false;
    PlaylistModel &model = *m_window.playlist();
    if (m_current.enqueue) {
        // The rows of the files named, in the request's order, then those the folders and
        // playlists named brought, in the order they were added.
        QHash<QString, int> rowOf;
        for (int i = 1; i <= model.count(); ++i)
            rowOf.insert(model.fullPath(i), i);
        QList<int> rows;
        for (const QString &path : m_current.paths + m_added)
            if (const int row = rowOf.value(path); row > 0 && !rows.contains(row))
                rows.append(row);
        m_window.controller()->changeSequence([&] { model.enqueue(rows); });
        emit done(0);
        return startNext();
    }
    const QString wanted = m_firstAdded.isEmpty() ? m_current.paths.value(0) : m_firstAdded;
    int row = 0;
    if (model.contains(wanted)) {
        for (int i = 1; i <= model.count() && row == 0; ++i)
            if (model.fullPath(i) == wanted)
                row = i;
    }
    if (row > 0) {
        bool started = false;
        PlaybackController &playback = *m_window.controller();
        const QMetaObject::Connection c
            = connect(&playback, &PlaybackController::trackStarted, this, [&] { started = true; });
        playback.playRow(row, wanted); // as a double click on the row
        disconnect(c);
        qCInfo(lcExternal).noquote() << (started ? "playing" : "not playing") << displayPath(wanted);
    }
    emit done(row);
    startNext();
}

void ExternalFiles::raiseWindow()
{
    if (m_window.isMinimized())
        m_window.showNormal();
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

} // namespace kes
