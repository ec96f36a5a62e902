#include "foldersearchwindow.h"

#include "filename.h"
#include "folderwalker.h"
#include "pathbytes.h"
#include "playlistmodel.h"
#include "prompter.h"
#include "trackadder.h"
#include "twips.h"

#include <QComboBox>
#include <QDir>
#include <QListView>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStringListModel>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <utility>

namespace kes
{

namespace
{

// Whether folder can be read; the system's text when not.
bool canRead(const QString &folder, QString *error)
{
    DIR *dir = ::opendir(pathToBytes(folder).constData());
    if (!dir) {
        if (error)
            *error = qt_error_string(errno);
        return false;
    }
    ::closedir(dir);
    return true;
}

QString cleanFolder(const QString &path)
{
    return absolutePathIn(workingFolder(), path);
}

bool isWithin(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(AddSlash(folder));
}

void setColours(QWidget *w, const QColor &background, const QColor &text)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, background);
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::ButtonText, text);
    pal.setColor(QPalette::Button, background);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

} // namespace

QString FolderSearchWindow::Drive::text() const
{
    return label.isEmpty() ? path : QStringLiteral("%1 [%2]").arg(path, label);
}

QList<FolderSearchWindow::Drive> FolderSearchWindow::mountedDrives()
{
    // path-rule: mount points and the home folder, offered as places to start (the walk
    // itself goes through pathbytes).
    QList<Drive> out { { QStringLiteral("/"), QStorageInfo::root().name() } };
    // path-rule: the home folder when HOME is not set.
    const QString home
        = cleanFolder(qEnvironmentVariableIsEmpty("HOME") ? QDir::homePath() : pathFromBytes(qgetenv("HOME")));
    if (home != QLatin1String("/"))
        out.append({ home, {} });
    QList<Drive> mounted;
    // path-rule: the same.
    for (const QStorageInfo &v : QStorageInfo::mountedVolumes()) {
        const QString root = v.rootPath();
        if (root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/mnt/"))
            || root.startsWith(QLatin1String("/run/media/")))
            mounted.append({ root, v.name() });
    }
    std::sort(mounted.begin(), mounted.end(), [](const Drive &a, const Drive &b) { return a.path < b.path; });
    for (const Drive &d : std::as_const(mounted))
        if (std::none_of(out.cbegin(), out.cend(), [&](const Drive &o) { return o.path == d.path; }))
            out.append(d);
    return out;
}

FolderSearchWindow::FolderSearchWindow(PlaylistModel &model, TrackAdder &adder, Prompter &prompter, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
    , m_adder(adder)
    , m_prompter(prompter)
    , m_walker(new FolderWalker(this))
    , m_currentDirectory(workingFolder())
{
    setObjectName(QStringLiteral("Frm_FF"));
    setWindowTitle(QStringLiteral("File Search"));
    buildControls();

    connect(m_walker, &FolderWalker::listed, this, [this](const FolderWalker::Listing &l) {
        if (l.folder == m_folder)
            showListing(l.folder, l.folders, l.files, true);
    });
    connect(m_walker, &FolderWalker::found, this, [this](const QStringList &files, const QString &lastFolder) {
        if (!m_searching)
            return;
        if (m_pending.isEmpty())
            m_pending = files; // shared, not copied: a folder may hold 100,000 files
        else
            m_pending += files;
        m_walkFolder = lastFolder;
        handOver();
    });
    connect(m_walker, &FolderWalker::finished, this, [this](bool cancelled) {
        if (!m_searching || cancelled)
            return;
        m_walkDone = true;
        handOver();
        finishIfDone();
    });
    connect(&m_adder, &TrackAdder::rowsIdle, this, [this] {
        if (!m_searching)
            return;
        handOver();
        finishIfDone();
    });

    setDrives(m_driveSource());
    setFolder(m_currentDirectory);
}

FolderSearchWindow::~FolderSearchWindow()
{
    // The adder may be gone already; the walker (a child) stops when it is destroyed.
    m_searching = false;
}

void FolderSearchWindow::buildControls()
{
    auto *bar = new QMenuBar(this);
    QMenu *fs = bar->addMenu(QStringLiteral("File Search"));
    fs->setObjectName(QStringLiteral("FS"));
    fs->menuAction()->setObjectName(QStringLiteral("FS"));
    const struct {
        const char *name;
        const char *caption;
        void (FolderSearchWindow::*handler)();
    } items[] = {
        { "f1_format", "カレントフォルダのみの検索(初期化有り)", &FolderSearchWindow::f1FormatClick },
        { "f1_unformat", "カレントフォルダのみの検索(初期化無し)", &FolderSearchWindow::f1UnformatClick },
        { "fa_format", "カレント以下の全フォルダを検索(初期化有り)", &FolderSearchWindow::faFormatClick },
        { "fa_unformat", "カレント以下の全フォルダを検索(初期化無し)", &FolderSearchWindow::faUnformatClick },
    };
    for (const auto &item : items) {
        QAction *a = fs->addAction(QString::fromUtf8(item.caption));
        a->setObjectName(QString::fromUtf8(item.name));
        connect(a, &QAction::triggered, this, item.handler);
        m_commands.append(a);
    }

    // The client area, 3075 x 3120 twips, below the menu bar.
    auto *client = new QWidget(this);
    client->setFixedSize(twipsToPx(3075), twipsToPx(3120));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(bar);
    layout->addWidget(client);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_drive1 = new QComboBox(client);
    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_drive1->setGeometry(twipsRect(30, 0, 3045, 300));
    setColours(m_drive1, QColor(0, 0, 128), Qt::white);
    connect(m_drive1, &QComboBox::activated, this, &FolderSearchWindow::drive1Change);

    m_dirModel = new QStringListModel(this);
    m_dir1 = new QListView(client);
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_dir1->setGeometry(twipsRect(0, 300, 3075, 2820));
    m_dir1->setModel(m_dirModel);
    m_dir1->setUniformItemSizes(true);
    m_dir1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    setColours(m_dir1, QColor(0, 128, 128), Qt::white);
    connect(m_dir1, &QListView::activated, this, [this](const QModelIndex &i) { dir1Activated(i.row()); });

    m_fileModel = new QStringListModel(this);
    m_file1 = new QListView(client);
    m_file1->setObjectName(QStringLiteral("File1"));
    m_file1->setGeometry(twipsRect(720, 2250, 1575, 270));
    m_file1->setModel(m_fileModel);
    m_file1->setUniformItemSizes(true);
    m_file1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_file1->raise();

    // While a search runs, Dir1 follows the walk, at most ten times a second.
    m_progress = new QTimer(this);
    m_progress->setInterval(100);
    connect(m_progress, &QTimer::timeout, this, [this] {
        if (!m_walkFolder.isEmpty() && m_walkFolder != m_folder)
            setFolder(m_walkFolder);
    });
}

void FolderSearchWindow::setPattern(const QString &pattern)
{
    if (pattern == m_pattern)
        return;
    m_pattern = pattern;
    setFolder(m_folder); // File1 lists anew
}

void FolderSearchWindow::setDriveSource(std::function<QList<Drive>()> source)
{
    m_driveSource = std::move(source);
    setDrives(m_driveSource());
}

void FolderSearchWindow::setDrives(const QList<Drive> &drives)
{
    m_drives = drives;
    const QSignalBlocker block(m_drive1);
    m_drive1->clear();
    for (const Drive &d : drives)
        m_drive1->addItem(d.text());
    selectDriveOf(m_folder);
}

int FolderSearchWindow::driveIndex() const
{
    return m_drive1->currentIndex();
}

void FolderSearchWindow::selectDriveOf(const QString &path)
{
    int best = -1;
    for (int i = 0; i < m_drives.size(); ++i)
        if (isWithin(path, m_drives[i].path) && (best < 0 || m_drives[i].path.size() > m_drives[best].path.size()))
            best = i;
    const QSignalBlocker block(m_drive1);
    m_drive1->setCurrentIndex(best);
}

void FolderSearchWindow::drive1Change(int index)
{
    if (index < 0 || index >= m_drives.size())
        return;
    const QString root = m_drives[index].path;
    QString error;
    while (!canRead(root, &error)) {
        if (m_prompter.message(error, Prompter::Buttons::RetryCancel, Prompter::Icon::Information)
            != Prompter::Answer::Retry) {
            selectDriveOf(m_folder);
            return;
        }
    }
    m_currentDirectory = root;
    setFolder(root);
}

bool FolderSearchWindow::presetFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString folder = cleanFolder(path);
    if (!isFolder(folder) || !canRead(folder, nullptr))
        return false;
    for (const Drive &d : std::as_const(m_drives))
        if (d.path == folder)
            m_currentDirectory = folder;
    setFolder(folder);
    return true;
}

void FolderSearchWindow::openModal()
{
    // Each opening loads the window afresh: drives plugged in or pulled out and files that
    // came or went while it was closed show.
    if (!isVisible()) {
        setDrives(m_driveSource());
        setFolder(m_folder);
    }
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
}

void FolderSearchWindow::setFolder(const QString &path)
{
    m_folder = cleanFolder(path);
    selectDriveOf(m_folder);
    // The folder's place shows at once; its contents when they have been read.
    showListing(m_folder, {}, {}, false);
    m_walker->requestListing(m_folder, m_pattern);
}

void FolderSearchWindow::showListing(
    const QString &folder, const QStringList &folders, const QStringList &files, bool read)
{
    // Dir1 lists the folder's ancestors, the folder itself (selected), then its
    // sub-folders, each indented one step deeper than its parent.
    QStringList rows;
    m_dirPaths.clear();
    m_subFolders.clear();
    const QStringList parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path = QStringLiteral("/");
    rows.append(path);
    m_dirPaths.append(path);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path = AddSlash(path) + parts[i];
        rows.append(QString(2 * (i + 1), QLatin1Char(' ')) + displayPath(parts[i]));
        m_dirPaths.append(path);
    }
    const int current = static_cast<int>(rows.size()) - 1;
    const QString indent(2 * (parts.size() + 1), QLatin1Char(' '));
    rows.reserve(rows.size() + folders.size());
    m_dirPaths.reserve(m_dirPaths.size() + folders.size());
    for (const QString &name : folders) {
        rows.append(indent + displayPath(name));
        m_dirPaths.append(AddSlash(folder) + name);
    }
    m_subFolders = m_dirPaths.mid(current + 1);
    m_dirModel->setStringList(rows);
    m_dir1->setCurrentIndex(m_dirModel->index(current));
    // Names that are not UTF-8 show decoded; fileNames() keeps them as they are.
    m_fileNames = files;
    QStringList shown;
    shown.reserve(files.size());
    for (const QString &f : files)
        shown.append(displayPath(f));
    m_fileModel->setStringList(shown);
    if (read)
        emit listingShown();
}

QStringList FolderSearchWindow::fileNames() const
{
    return m_fileNames;
}

void FolderSearchWindow::dir1Activated(int row)
{
    if (row >= 0 && row < m_dirPaths.size() && !m_searching)
        setFolder(m_dirPaths[row]);
}

void FolderSearchWindow::f1FormatClick()
{
    search(false, true);
}

void FolderSearchWindow::f1UnformatClick()
{
    search(false, false);
}

void FolderSearchWindow::faFormatClick()
{
    search(true, true);
}

void FolderSearchWindow::faUnformatClick()
{
    search(true, false);
}

void FolderSearchWindow::search(bool recursive, bool clearFirst)
{
    if (m_searching)
        return;
    if (clearFirst)
        m_model.clear();
    m_searching = true;
    m_walkDone = false;
    m_handedOver = false;
    m_pending.clear();
    m_walkFolder.clear();
    setControlsEnabled(false);
    m_progress->start();
    m_adder.holdTags(true); // the rows first: tags are read when the walk is over
    m_walker->start(m_folder, recursive, m_pattern);
}

void FolderSearchWindow::setControlsEnabled(bool enabled)
{
    // While a search runs the lists show its progress; the commands and the drive wait.
    for (QAction *a : std::as_const(m_commands))
        a->setEnabled(enabled);
    m_drive1->setEnabled(enabled);
}

void FolderSearchWindow::handOver()
{
    // The adder takes jobs one after another; what the walk found while it worked goes
    // over as one job when its rows are in, which keeps its workers busy without gaps.
    if (m_pending.isEmpty() || !m_adder.rowsDone())
        return;
    m_handedOver = true;
    m_adder.addFiles(std::exchange(m_pending, {}), true);
}

void FolderSearchWindow::finishIfDone()
{
    if (!m_searching || !m_walkDone || !m_pending.isEmpty() || !m_adder.rowsDone())
        return;
    m_searching = false;
    m_progress->stop();
    m_adder.holdTags(false);
    setControlsEnabled(true);
    emit searchFinished(false);
    accept();
}

void FolderSearchWindow::stopSearch()
{
    if (!m_searching)
        return;
    m_searching = false;
    m_progress->stop();
    m_walker->cancel();
    m_pending.clear();
    if (m_handedOver && !m_adder.rowsDone())
        m_adder.cancel();
    m_adder.holdTags(false);
    setControlsEnabled(true);
    emit searchFinished(true);
}

void FolderSearchWindow::done(int result)
{
    stopSearch();
    QDialog::done(result);
    // Unloaded: the next opening starts afresh at the current directory.
    m_walkFolder.clear();
    setFolder(m_currentDirectory);
}

} // namespace kes
