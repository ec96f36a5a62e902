#include "sessionlist.h"

#include "atomicwrite.h"
#include "cuetrack.h"
#include "pathbytes.h"
#include "playlistmodel.h"

#include <QFile>
#include <QHash>

#include <algorithm>

#include <utility>

namespace kes
{

namespace
{

const QByteArray kHeader = QByteArrayLiteral("#EXTM3U\n#KESTRINE-SESSION:1\n");
const QByteArray kCurrent = QByteArrayLiteral("#KESTRINE-CURRENT:");
const QByteArray kUnchecked = QByteArrayLiteral("#KESTRINE-UNCHECKED");
const QByteArray kEnded = QByteArrayLiteral("#KESTRINE-ENDED");
const QByteArray kCount = QByteArrayLiteral("#KESTRINE-COUNT:");
const QByteArray kTrack = QByteArrayLiteral("#KESTRINE-TRACK:");
const QByteArray kCurrentTrack = QByteArrayLiteral("#KESTRINE-CURRENT-TRACK:");

// A cue track's line: its fields on a line of ours (after prefix), then its image's path.
QByteArray pathLines(const QString &path, const QByteArray &prefix)
{
    if (const std::optional<CueTrackRef> track = cueTrackOf(path))
        return prefix + pathToBytes(cueTrackFields(*track)) + '\n' + pathToBytes(track->image);
    return pathToBytes(path);
}

// The path of a line, and with the fields of the line before it the key of that track.
QString pathOfLines(const QByteArray &line, const QString &fields)
{
    const QString path = pathFromBytes(line);
    if (fields.isEmpty())
        return path;
    const std::optional<CueTrackRef> track = parseCueTrackFields(fields, path);
    return track ? cueTrackKey(*track) : path;
}
const QByteArray kQueued = QByteArrayLiteral("#KESTRINE-QUEUED:");

bool writable(const QString &path)
{
    return !path.isEmpty() && !path.contains(QLatin1Char('\n')) && !path.contains(QLatin1Char('\r'));
}

} // namespace

QByteArray writeSession(const Session &session)
{
    QByteArray out = kHeader;
    if (const std::optional<CueTrackRef> track = cueTrackOf(session.current); track && writable(session.current))
        out += kCurrent + pathToBytes(track->image) + '\n' + kCurrentTrack + pathToBytes(cueTrackFields(*track)) + '\n';
    else if (writable(session.current))
        out += kCurrent + pathToBytes(session.current) + '\n';
    int written = 0;
    for (const SessionRow &r : session.rows) {
        if (!writable(r.path))
            continue;
        if (r.ended)
            out += kEnded + '\n';
        else if (!r.checked)
            out += kUnchecked + '\n';
        if (r.queued > 0)
            out += kQueued + QByteArray::number(r.queued) + '\n';
        out += pathLines(r.path, kTrack) + '\n';
        ++written;
    }
    out += kCount + QByteArray::number(written) + '\n';
    return out;
}

Session readSession(const QByteArray &bytes)
{
    Session s;
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast(); // after the last line break: empty, or a line cut short
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.size() < 2 || lines[0] != "#EXTM3U" || lines[1] != "#KESTRINE-SESSION:1")
        return s;
    SessionRow next;
    QString fields; // of the track whose image the next path line names
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        if (line.startsWith(kCount)) {
            bool ok = false;
            s.complete = i == lines.size() - 1 && line.mid(kCount.size()).toLongLong(&ok) == s.rows.size() && ok;
        } else if (line.startsWith(kCurrentTrack)) {
            s.current = pathOfLines(pathToBytes(s.current), pathFromBytes(line.mid(kCurrentTrack.size())));
        } else if (line.startsWith(kTrack)) {
            fields = pathFromBytes(line.mid(kTrack.size()));
        } else if (line.startsWith(kCurrent)) {
            s.current = pathFromBytes(line.mid(kCurrent.size()));
        } else if (line == kUnchecked) {
            next.checked = false;
        } else if (line.startsWith(kQueued)) {
            next.queued = std::max(0, line.mid(kQueued.size()).toInt());
        } else if (line == kEnded) {
            next.checked = false;
            next.ended = true;
        } else if (!line.isEmpty() && !line.startsWith('#')) {
            next.path = pathOfLines(line, std::exchange(fields, {}));
            s.rows.append(next);
            next = {};
        }
    }
    return s;
}

Session sessionOf(const PlaylistModel &model, int currentRow)
{
    Session s;
    s.rows.reserve(model.count());
    QHash<int, int> queued; // row: its place in the queue
    const QList<int> queue = model.queuedRows();
    for (qsizetype k = 0; k < queue.size(); ++k)
        queued.insert(queue[k], static_cast<int>(k + 1));
    for (int i = 1; i <= model.count(); ++i) {
        const TrackRow &r = model.row(i);
        const bool ended = r.tag == QStringLiteral("END");
        s.rows.append({ r.fullPath, r.checked, ended && !r.checked, queued.value(i) });
    }
    s.current = model.fullPath(currentRow);
    s.complete = true;
    return s;
}

SessionKeeper::SessionKeeper(PlaylistModel &model, const QString &path, std::function<int()> currentRow,
    std::function<bool()> enabled, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_path(path)
    , m_currentRow(std::move(currentRow))
    , m_enabled(std::move(enabled))
{
    m_pool.setMaxThreadCount(1);
    m_timer.setSingleShot(true);
    m_timer.setInterval(kSettleMs);
    connect(&m_timer, &QTimer::timeout, this, &SessionKeeper::writeLater);
    const auto changed = [this] { noteChange(); };
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, changed);
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(&m_model, &QAbstractItemModel::modelReset, this, changed);
    connect(&m_model, &QAbstractItemModel::layoutChanged, this, changed);
    connect(&m_model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
            if (roles.contains(Qt::CheckStateRole) || roles.contains(PlaylistModel::TagRole)
                || roles.contains(PlaylistModel::QueueRole))
                noteChange();
        });
}

SessionKeeper::~SessionKeeper()
{
    m_pool.waitForDone();
}

Session SessionKeeper::load()
{
    // path-rule: the kept list beside the settings file.
    QFile file(m_path);
    if (file.size() > kMaxFileSize || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(kMaxFileSize);
    std::lock_guard lock(m_mutex);
    m_kept = bytes;
    return readSession(bytes);
}

QString SessionKeeper::lastError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

bool SessionKeeper::write(const QByteArray &bytes)
{
    {
        std::lock_guard lock(m_mutex);
        if (bytes == m_kept && !m_failed)
            return true;
    }
    QString error;
    const bool ok = writeFileAtomically(m_path, bytes, &error);
    std::lock_guard lock(m_mutex);
    m_failed = !ok;
    m_error = ok ? QString() : error;
    if (ok)
        m_kept = bytes;
    return ok;
}

void SessionKeeper::setRestoring(bool restoring)
{
    m_restoring = restoring;
    if (!restoring)
        noteChange();
}

void SessionKeeper::noteChange()
{
    if (m_finished || !m_enabled())
        return;
    m_pending = true;
    if (!m_restoring)
        m_timer.start();
}

void SessionKeeper::writeLater()
{
    if (!m_pending || m_restoring || !m_enabled())
        return;
    m_pending = false;
    // The rows are copied here (their texts are shared, not duplicated); the file is
    // made and written on the worker.
    m_pool.start([this, session = sessionOf(m_model, m_currentRow())] {
        const bool ok = write(writeSession(session));
        QMetaObject::invokeMethod(
            this, [this, ok, error = lastError()] { emit written(ok, error); }, Qt::QueuedConnection);
    });
}

bool SessionKeeper::flush()
{
    m_timer.stop();
    m_pool.waitForDone();
    bool failed = false;
    {
        std::lock_guard lock(m_mutex);
        failed = m_failed;
    }
    if (!(m_pending || failed) || m_restoring || m_finished || !m_enabled())
        return true;
    m_pending = false;
    const bool ok = write(writeSession(sessionOf(m_model, m_currentRow())));
    emit written(ok, lastError());
    return ok;
}

bool SessionKeeper::finish()
{
    const bool ok = flush();
    m_finished = true;
    return ok;
}

} // namespace kes
