// The folder search window `Frm_FF` ("File Search"): pick a drive and a folder and add the
// matching files of that folder, or of it and every folder below it, to the playlist.
//
// One per process, owned by the main window; shown modally.  The folders are read by a
// FolderWalker on worker threads and the files go to the playlist through the same
// TrackAdder as drops, so the window keeps repainting and can be closed while a search
// runs (closing stops the search; the rows added so far stay and still get their tags).
// When every file found is a row the window closes itself; the tags are filled in later.  Every closing "unloads" it:
// the next opening starts at the current directory (the process's at start, then the root of the drive picked last).
//
// GUI thread only.  The model, the adder and the prompter must outlive the window.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QComboBox;
class QListView;
class QStringListModel;
class QTimer;

namespace kes
{

class FolderWalker;
class PlaylistModel;
class Prompter;
class TrackAdder;

class FolderSearchWindow : public QDialog
{
    Q_OBJECT
public:
    struct Drive {
        QString path; // mount point (or the home folder)
        QString label; // file system label, may be empty
        QString text() const;
    };
    // What a user picks from: "/", the home folder, and the file systems mounted under
    // /media, /mnt and /run/media.
    static QList<Drive> mountedDrives();

    FolderSearchWindow(PlaylistModel &model, TrackAdder &adder, Prompter &prompter, QWidget *parent = nullptr);
    ~FolderSearchWindow() override;

    // The `Dir1` path: the folder a search starts from (the options window reads it).
    QString currentFolder() const { return m_folder; }
    // The `File1` pattern, "*.mp3;*.rmp" style (start-up and the options window set it).
    void setPattern(const QString &pattern);
    QString pattern() const { return m_pattern; }
    // The start-up folder: a drive's mount point selects that drive (as a user's pick
    // would), any other folder becomes the `Dir1` path.  false, with nothing changed
    // and nothing shown, when it is no folder that can be read.
    bool presetFolder(const QString &path);
    // Shows the window modally (returns at once).  An opening reads the drives and the
    // folder's lists again.
    void openModal();

    // Where the drive list comes from (mountedDrives() unless replaced); read at once
    // and at every opening.
    void setDriveSource(std::function<QList<Drive>()> source);
    // Replaces the drive list until the next opening reads it again.
    void setDrives(const QList<Drive> &drives);
    QList<Drive> drives() const { return m_drives; }
    // The drive list's change to index: the chosen drive's root becomes the current
    // directory and the `Dir1` path.  When it cannot be read, a message with the system's
    // text offers Retry (try again) and Cancel (the list goes back to the drive of the
    // `Dir1` path).
    void drive1Change(int index);
    int driveIndex() const;
    // Sets the `Dir1` path; `File1` follows.  Their lists fill in when the folder has been
    // read (listingShown()).
    void setFolder(const QString &path);
    QStringList subFolders() const { return m_subFolders; }
    QStringList fileNames() const;

    // The four commands of the menu `FS`.
    void f1FormatClick();
    void f1UnformatClick();
    void faFormatClick();
    void faUnformatClick();
    bool isSearching() const { return m_searching; }

signals:
    // Dir1 and File1 show what the folder currentFolder() holds.
    void listingShown();
    // A search has ended: every file found has been offered to the playlist (the rows
    // are in, their tags may still be being read), or the search was stopped (cancelled).
    void searchFinished(bool cancelled);

public:
    void done(int result) override;

private:
    void buildControls();
    void search(bool recursive, bool clearFirst);
    void setControlsEnabled(bool enabled);
    void handOver();
    void finishIfDone();
    void stopSearch();
    void selectDriveOf(const QString &path);
    // read: the lists are the folder's contents, not the placeholder shown meanwhile.
    void showListing(const QString &folder, const QStringList &folders, const QStringList &files, bool read);
    void dir1Activated(int row);

    PlaylistModel &m_model;
    TrackAdder &m_adder;
    Prompter &m_prompter;
    FolderWalker *m_walker;

    QComboBox *m_drive1 = nullptr;
    QListView *m_dir1 = nullptr;
    QListView *m_file1 = nullptr;
    QStringListModel *m_dirModel = nullptr;
    QStringListModel *m_fileModel = nullptr;
    QList<QAction *> m_commands;
    QTimer *m_progress = nullptr;

    std::function<QList<Drive>()> m_driveSource = mountedDrives;
    QList<Drive> m_drives;
    QString m_currentDirectory; // the folder every opening starts at
    QString m_folder; // the Dir1 path
    QString m_pattern;
    QStringList m_dirPaths; // the full path of each Dir1 row
    QStringList m_subFolders; // full paths of the sub-folders Dir1 lists
    QStringList m_fileNames; // the names File1 shows, as the folder holds them

    // The running search.
    bool m_searching = false;
    bool m_walkDone = false;
    bool m_handedOver = false; // the adder has been given files of this search
    QStringList m_pending; // found, not yet given to the adder
    QString m_walkFolder; // the folder the walk read last
};

} // namespace kes
