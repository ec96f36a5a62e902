// Files that reach the player from outside the window: the command line and a second
// start's hand-over.  Each request is added by the wide rules of a drop
// (TrackAdder::openFiles: playlists of any spelling, folders, a message naming the files
// not added), after whatever the adder is still doing (the start-up playlist), and then
// the first file it added plays as a double click would play it.  Requests run one after another.  GUI thread only;
// the window outlives this object.
#pragma once

#include <QObject>
#include <QQueue>
#include <QStringList>

namespace kes
{

class MainWindow;

class ExternalFiles : public QObject
{
    Q_OBJECT
public:
    explicit ExternalFiles(MainWindow &window, QObject *parent = nullptr);

    // Command-line words as paths: file: URLs become local paths (their escapes decoded
    // as bytes), relative paths are taken from workingDir.
    static QStringList absolutePaths(const QStringList &words, const QString &workingDir);
    // The file words of a command line, each as the path of its bytes (pathbytes.h):
    // the arguments after argv[0] that are no options ("-x", "--x"; every word after
    // "--" counts).  argv as the application object leaves it.
    static QStringList commandLineWords(int argc, char **argv);

    // Adds paths and plays the first row they added (or, when every file was listed
    // already, the row of the first path).  Returns at once.
    void open(const QStringList &paths);
    // Adds paths as open() does, then puts their rows (those added, and those listed
    // already) at the end of the play queue instead of playing one.
    void enqueue(const QStringList &paths);
    // The word that starts a hand-over asking for enqueue() (no path starts with it).
    static constexpr const char *kEnqueueWord = "--enqueue";
    // Brings the window to the front, out of its minimised state.
    void raiseWindow();

signals:
    // A request has been added; row is the row that started playing, 0 for none.
    void done(int row);

private:
    void startNext();
    void finish();

    struct Request {
        QStringList paths;
        bool enqueue = false;
    };
    void request(const QStringList &paths, bool enqueue);

    MainWindow &m_window;
    QQueue<Request> m_queue;
    Request m_current;
    QString m_firstAdded; // full path of the first row the running request added
    QStringList m_added; // the full paths of the rows the running request added
    bool m_waiting = false; // a request is being added
};

} // namespace kes
