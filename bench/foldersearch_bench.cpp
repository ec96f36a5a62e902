// The folder search from the click to the last row shown and on to the last tag filled in,
// beside reading the same files' tags with TagLib alone, one after another (the floor), in
// one process and one run.
//
//   foldersearch_bench [--pattern=P] TREE [TREE2 [BIG]]
//
// TREE: a tree of tagged files (bench/foldersearch-bench.sh makes 10,000 MP3s in 100
// folders, bench/make-mixed-tree.sh 10,000 of six formats); TREE2: a larger one (20,000);
// P: the folder search's pattern over TREE and TREE2, and the files TagLib reads (default
// "*.mp3"); BIG: a folder to fill with 100,000 empty WAV
// files when it does not exist yet, listed and searched to show that the window keeps
// responding.  The whole main window runs with libvbmp3.so on the offscreen platform; a
// 10 ms timer records how late it fires, i.e. the longest time the event loop stalled.
// Prints one line per measurement: "<name> <seconds> <rows> <longest stall in ms>": floor
// and floor2 (TagLib over TREE and TREE2); search, search2 and big (the last row shown)
// each followed by the same name with "-tags" (the last tag filled, from the same click;
// the stall is over the whole of it).
#include "benchwindow.h"
#include "decoderapi.h"
#include "foldersearchwindow.h"
#include "folderwalker.h"
#include "mainwindow.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "trackadder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QTreeView>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cstdio>

using namespace kes;

namespace
{

double seconds(const QElapsedTimer &t)
{
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

// The longest gap between ticks of a 10 ms timer while it runs.
class StallProbe
{
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_longest = std::max(m_longest, m_last.restart()); });
        m_last.start();
        m_timer.start();
    }
    qint64 longestMs() { return std::max(m_longest, m_last.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_last;
    qint64 m_longest = 0;
};

QStringList filesOf(const QString &root, const QString &pattern)
{
    QStringList out;
    std::atomic_bool cancelled { false };
    FolderWalker::walk(
        root, true, FilePattern(pattern), [&](QStringList files, const QString &) { out += files; }, cancelled);
    return out;
}

// TagLib alone: title, artist and album of every file, one after another.
double tagFloor(const QStringList &files, int &titled)
{
    QElapsedTimer t;
    t.start();
    titled = 0;
    for (const QString &p : files) {
        TagLib::FileRef f(QFile::encodeName(p).constData(), false);
        if (!f.isNull() && f.tag()) {
            const TagLib::String title = f.tag()->title();
            const TagLib::String artist = f.tag()->artist();
            const TagLib::String album = f.tag()->album();
            if (!title.isEmpty() && artist.size() + album.size() > 0)
                ++titled;
        }
    }
    return seconds(t);
}

bool waitFor(QObject *sender, const char *signal, int timeoutMs)
{
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, SLOT(quit()));
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QElapsedTimer t;
    t.start();
    loop.exec();
    return t.elapsed() < timeoutMs;
}

struct Result {
    double seconds = 0; // the last row shown
    double tagSeconds = 0; // the last tag filled
    int rows = 0;
    qint64 stallMs = 0;
    qint64 listingStallMs = 0;
};

// From the click on "カレント以下の全フォルダを検索(初期化有り)" until the search has ended and
// the list view has painted its last row, and until every tag is in and painted.
Result search(MainWindow &main, const QString &root)
{
    Result r;
    main.findChild<QAbstractButton *>(QStringLiteral("Command2"))->click();
    FolderSearchWindow *fs = main.folderSearch();
    {
        StallProbe probe;
        fs->setFolder(root);
        waitFor(fs, SIGNAL(listingShown()), 60000);
        r.listingStallMs = probe.longestMs();
    }
    auto *view = main.findChild<QTreeView *>(QStringLiteral("ListView"));
    StallProbe probe;
    QElapsedTimer t;
    t.start();
    fs->findChild<QAction *>(QStringLiteral("fa_format"))->trigger();
    waitFor(fs, SIGNAL(searchFinished(bool)), 600000);
    view->scrollToBottom();
    view->repaint();
    r.seconds = seconds(t);
    r.rows = main.playlist()->count();
    main.adder()->waitForIdle();
    view->repaint();
    r.tagSeconds = seconds(t);
    r.stallMs = probe.longestMs();
    return r;
}

void makeBig(const QString &folder)
{
    if (QDir(folder).exists())
        return;
    QDir().mkpath(folder);
    for (int i = 0; i < 100000; ++i) {
        QFile f(QStringLiteral("%1/%2.wav").arg(folder).arg(i, 6, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
            std::exit(1);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString pattern = QStringLiteral("*.mp3");
    if (!args.isEmpty() && args.first().startsWith(QLatin1String("--pattern=")))
        pattern = args.takeFirst().mid(10);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: foldersearch_bench [--pattern=P] TREE [TREE2 [BIG]]\n");
        return 2;
    }

    BenchWindow bench;
    if (!bench.open(QCoreApplication::applicationDirPath(), "foldersearch_bench"))
        return 2;
    MainWindow &main = *bench.window;

    const QStringList files = filesOf(args[0], pattern);
    int titled = 0;
    const double floor = tagFloor(files, titled);
    std::printf("floor %.3f %d 0\n", floor, titled);
    const int floorTitled = titled;
    if (args.size() > 1) {
        const QStringList files2 = filesOf(args[1], pattern);
        const double floor2 = tagFloor(files2, titled);
        std::printf("floor2 %.3f %d 0\n", floor2, titled);
    }
    for (qsizetype i = 0; i < std::min<qsizetype>(args.size(), 3); ++i) {
        if (i == 2) {
            makeBig(args[i]);
            main.folderSearch()->setPattern(QStringLiteral("*.mp3;*.rmp;*.wav"));
        } else {
            main.folderSearch()->setPattern(pattern);
        }
        const Result r = search(main, args[i]);
        const char *name = i == 0 ? "search" : i == 1 ? "search2" : "big";
        const auto stall = static_cast<long long>(std::max(r.stallMs, r.listingStallMs));
        std::printf("%s %.3f %d %lld\n", name, r.seconds, r.rows, stall);
        std::printf("%s-tags %.3f %d %lld\n", name, r.tagSeconds, r.rows, stall);
        if (i > 0)
            continue;
        // Every file listed, and as many rows titled from their tags as TagLib titled.
        const PlaylistModel &list = *main.playlist();
        int rowsTitled = 0;
        for (int row = 1; row <= list.count(); ++row)
            rowsTitled += list.title(row).startsWith(QLatin1String("Title")) ? 1 : 0;
        std::printf("titled %d %d 0\n", rowsTitled, floorTitled);
        if (r.rows != files.size() || rowsTitled == 0) {
            std::fprintf(stderr, "foldersearch_bench: %d rows of %lld, %d titled, first title \"%s\"\n", r.rows,
                static_cast<long long>(files.size()), rowsTitled, qPrintable(list.title(1)));
            return 1;
        }
    }
    std::fflush(stdout);
    main.close();
    return 0;
}
