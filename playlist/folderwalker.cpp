#include "folderwalker.h"

#include "cuesheet.h"
#include "cuetrack.h"
#include "pathbytes.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QQueue>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace kes
{

namespace
{

// A walk hands its files over at least this often (so the window shows progress) and in
// batches of at most about this many files.
constexpr qint64 kBatchMs = 25;
constexpr qsizetype kBatchFiles = 2000;

bool nameLess(const QString &a, const QString &b)
{
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

using FolderId = std::pair<quint64, quint64>; // device, inode

struct SubFolder {
    QString name;
    FolderId id;
};

// Reads one folder: its sub-folders (with their identity when wantIds) and the names of
// the files that match, and when sheets is given the names of its cue sheets (matching or
// not).  Unsorted.  false with the system's text when it cannot be read.
bool readFolder(const QString &folder, const FilePattern &pattern, bool wantIds, QList<SubFolder> &folders,
    QStringList &files, QString &error, const std::atomic_bool *cancelled, QStringList *sheets = nullptr)
{
    DIR *dir = ::opendir(pathToBytes(folder).constData());
    if (!dir) {
        error = qt_error_string(errno);
        return false;
    }
    const int fd = ::dirfd(dir);
    while (const dirent *e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue; // ".", ".." and hidden entries
        if (cancelled && cancelled->load(std::memory_order_relaxed))
            break;
        bool isDir = e->d_type == DT_DIR;
        bool isFile = e->d_type == DT_REG;
        struct stat st {
        };
        bool statted = false;
        if ((!isDir && !isFile) || (isDir && wantIds)) {
            // Links, unknown types and folders whose identity we need: ask the file
            // system (following links).  An entry that vanished in between is passed over.
            if (::fstatat(fd, e->d_name, &st, 0) != 0)
                continue;
            statted = true;
            isDir = S_ISDIR(st.st_mode);
            isFile = S_ISREG(st.st_mode);
        }
        if (isDir) {
            SubFolder f { pathFromBytes(QByteArrayView(e->d_name)), {} };
            if (statted)
                f.id = { static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino) };
            folders.append(std::move(f));
        } else if (isFile) {
            QString name = pathFromBytes(QByteArrayView(e->d_name));
            if (sheets && isCueSheetName(name))
                sheets->append(name);
            if (pattern.matches(name))
                files.append(std::move(name));
        }
    }
    ::closedir(dir);
    return true;
}

// A folder's matching files (full paths, sorted) with each sheet of the folder that names
// one of them in the place of the first file it names, and the files it names left out:
// a CD image beside its sheet plays as the sheet's tracks, never also as a whole.
QStringList preferSheets(const QString &prefix, QStringList files, QStringList sheets)
{
    std::sort(sheets.begin(), sheets.end(), nameLess);
    for (const QString &name : std::as_const(sheets)) {
        const QString sheet = prefix + name;
        QSet<QString> images;
        for (const CueTrack &t : readCueSheet(sheet).tracks)
            images.insert(t.file);
        qsizetype first = -1;
        QStringList kept;
        for (const QString &f : std::as_const(files)) {
            if (images.contains(f)) {
                if (first < 0)
                    first = kept.size();
            } else if (f != sheet) {
                kept.append(f);
            }
        }
        if (first < 0)
            continue;
        kept.insert(first, sheet);
        files = std::move(kept);
    }
    return files;
}

} // namespace

QString AddSlash(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

FilePattern::FilePattern(const QString &text)
{
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString p = part.trimmed();
        if (p.isEmpty())
            continue;
        const QStringView rest = QStringView(p).mid(1);
        if (p.startsWith(QLatin1String("*.")) && !rest.contains(QLatin1Char('*')) && !rest.contains(QLatin1Char('?'))
            && !rest.contains(QLatin1Char('[')))
            m_suffixes.append(rest.toString());
        else
            m_others.append(QRegularExpression(
                QRegularExpression::wildcardToRegularExpression(p), QRegularExpression::CaseInsensitiveOption));
    }
}

bool FilePattern::matches(const QString &name) const
{
    for (const QString &s : m_suffixes)
        if (name.size() > s.size() && name.endsWith(s, Qt::CaseInsensitive))
            return true;
    for (const QRegularExpression &re : m_others)
        if (re.match(name).hasMatch())
            return true;
    return false;
}

FolderWalker::Listing FolderWalker::list(const QString &folder, const FilePattern &pattern)
{
    Listing out;
    out.folder = folder;
    QList<SubFolder> folders;
    out.readable = readFolder(folder, pattern, false, folders, out.files, out.error, nullptr);
    out.folders.reserve(folders.size());
    for (SubFolder &f : folders)
        out.folders.append(std::move(f.name));
    std::sort(out.folders.begin(), out.folders.end(), nameLess);
    std::sort(out.files.begin(), out.files.end(), nameLess);
    return out;
}

int FolderWalker::walk(const QString &root, bool recursive, const FilePattern &pattern, const Sink &sink,
    const std::atomic_bool &cancelled)
{
    std::set<FolderId> visited;
    struct stat st {
    };
    if (::stat(pathToBytes(root).constData(), &st) == 0)
        visited.insert({ static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino) });

    QQueue<QString> queue;
    queue.enqueue(root);
    QStringList batch;
    QString lastFolder;
    QElapsedTimer sinceSent;
    sinceSent.start();
    bool sentAny = false;
    int read = 0;
    while (!queue.isEmpty() && !cancelled.load()) {
        const QString folder = queue.dequeue();
        const QString prefix = AddSlash(folder);
        QList<SubFolder> folders;
        QStringList files;
        QString error;
        QStringList sheets;
        if (readFolder(folder, pattern, recursive, folders, files, error, &cancelled, &sheets)) {
            ++read;
            std::sort(files.begin(), files.end(), nameLess);
            for (QString &name : files)
                name.prepend(prefix);
            batch += sheets.isEmpty() ? files : preferSheets(prefix, std::move(files), std::move(sheets));
            if (recursive) {
                std::sort(folders.begin(), folders.end(),
                    [](const SubFolder &a, const SubFolder &b) { return nameLess(a.name, b.name); });
                for (const SubFolder &f : std::as_const(folders))
                    if (visited.insert(f.id).second)
                        queue.enqueue(prefix + f.name);
            }
        }
        lastFolder = folder;
        // The first files go at once, so that rows show without delay.
        if ((!sentAny && !batch.isEmpty()) || batch.size() >= kBatchFiles || sinceSent.elapsed() >= kBatchMs) {
            sentAny = sentAny || !batch.isEmpty();
            sink(std::exchange(batch, {}), lastFolder);
            sinceSent.restart();
        }
    }
    if (!batch.isEmpty() && !cancelled.load())
        sink(std::move(batch), lastFolder);
    return read;
}

FolderWalker::FolderWalker(QObject *parent)
    : QObject(parent)
    , m_listSerial(std::make_shared<std::atomic<quint64>>(0))
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{
    // One thread for a walk, one for the listing the window asks for meanwhile.
    m_pool.setMaxThreadCount(2);
}

FolderWalker::~FolderWalker()
{
    m_cancelled->store(true);
    m_pool.clear();
    m_pool.waitForDone();
}

void FolderWalker::requestListing(const QString &folder, const QString &pattern)
{
    const quint64 serial = ++*m_listSerial;
    m_pool.start([this, serial, latest = m_listSerial, folder, pattern] {
        if (serial != latest->load())
            return; // asked for another folder meanwhile
        Listing listing = list(folder, FilePattern(pattern));
        QMetaObject::invokeMethod(
            this,
            [this, serial, listing = std::move(listing)] {
                if (serial == m_listSerial->load())
                    emit listed(listing);
            },
            Qt::QueuedConnection);
    });
}

void FolderWalker::start(const QString &root, bool recursive, const QString &pattern)
{
    if (m_walking)
        cancel();
    m_walking = true;
    const quint64 serial = ++m_walkSerial;
    auto cancelled = m_cancelled;
    m_pool.start([this, serial, root, recursive, pattern, cancelled] {
        const Sink sink = [this, serial](QStringList files, const QString &lastFolder) {
            QMetaObject::invokeMethod(
                this,
                [this, serial, files = std::move(files), lastFolder] {
                    if (serial == m_walkSerial)
                        emit found(files, lastFolder);
                },
                Qt::QueuedConnection);
        };
        walk(root, recursive, FilePattern(pattern), sink, *cancelled);
        QMetaObject::invokeMethod(
            this,
            [this, serial] {
                if (serial != m_walkSerial)
                    return;
                m_walking = false;
                emit finished(false);
            },
            Qt::QueuedConnection);
    });
}

void FolderWalker::cancel()
{
    if (!m_walking)
        return;
    m_cancelled->store(true);
    m_cancelled = std::make_shared<std::atomic_bool>(false);
    ++m_walkSerial;
    m_walking = false;
    emit finished(true);
}

} // namespace kes
