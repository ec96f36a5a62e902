#include "appsetup.h"

#include "aboutwindow.h"
#include "boxgate.h"
#include "decoderapi.h"
#include "exitwatchdog.h"
#include "externalfiles.h"
#include "instancechannel.h"
#include "mainwindow.h"
#include "mediatypes.h"
#include "mprisbridge.h"
#include "mprisservice.h"
#include "outputdevicechoice.h"
#include "outputnotice.h"
#include "pathbytes.h"
#include "playbackcontroller.h"
#include "qtprompter.h"
#include "settings.h"
#include "settingsrun.h"
#include "singleinstance.h"
#include "toolbaricons.h"
#include "volumememory.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTranslator>

#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace kes
{

void prepareEnvironment()
{
    // The FFmpeg media back end crashes without a sound device; GStreamer is solid.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    // X11: the window's repaints are small and frequent (a few spectrum columns five times
    // a second, the time once a second).  Through MIT-SHM each one first waits for a round
    // trip to the X server and then wakes Qt's event thread with the server's completion
    // event; sent over the connection they cost the player a fifth less CPU while it plays.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

void installFontSubstitutions()
{
    const QStringList gothic { QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
        QStringLiteral("Noto Sans CJK JP") };
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), gothic);
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"), gothic);
    QFont::insertSubstitutions(
        QStringLiteral("Terminal"), { QStringLiteral("DejaVu Sans Mono"), QStringLiteral("IPAGothic") });
}

bool installJapaneseTranslations(QCoreApplication &app)
{
    auto *qtTranslator = new QTranslator(&app);
    if (!qtTranslator->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qtTranslator;
        return false;
    }
    QCoreApplication::installTranslator(qtTranslator);
    return true;
}

namespace
{

int g_signalPipe[2] = { -1, -1 };

// The window's close, before its shutdown sequence waits for anything.
class QuitGuard : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            armExitWatchdog();
        return QObject::eventFilter(watched, event);
    }
};

// SIGTERM (a session's end, `kill`) and SIGINT close the window as its close box does,
// so the shutdown sequence runs and the process ends with status 0.  The handler only
// arms the exit watchdog (should the GUI thread be stuck) and writes to a pipe; the
// window is closed on the GUI thread.
void closeOnTerminationSignals(QWidget &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
        window.close();
        QCoreApplication::quit(); // also ends a modal dialog's loop
    });
    handleQuitSignals(g_signalPipe[1]);
}

} // namespace

void describeCommandLine(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("kestrine: music player with lyrics and a spectrum display"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(QString::fromLatin1(ExternalFiles::kEnqueueWord).mid(2),
        QStringLiteral("Add the files to the play queue (they play next) instead of playing the first.")));
    parser.addPositionalArgument(QStringLiteral("files"),
        QStringLiteral("Files or an M3U playlist to add and play; a running player takes them over."),
        QStringLiteral("[FILE...]"));
}

bool wantsOnlyText(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view a(argv[i]);
        if (a == "--")
            return false;
        if (a == "-h" || a == "--help" || a == "-?" || a == "--help-all" || a == "-v" || a == "--version")
            return true;
    }
    return false;
}

int printHelpOrVersion(QCoreApplication &app)
{
    QCoreApplication::setApplicationName(QStringLiteral("kestrine"));
    QCoreApplication::setApplicationVersion(AboutWindow::programVersion().toString());
    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(app); // prints and exits
    return 0;
}

int runKestrine(QApplication &app, int argc, char **argv)
{
    QApplication::setApplicationName(QStringLiteral("kestrine"));
    QApplication::setApplicationVersion(AboutWindow::programVersion().toString());
    QApplication::setWindowIcon(QIcon(applicationIcon(64)));

    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(app);
    // The words of argv, not the parser's: those decode names that are not UTF-8 lossily.
    const QStringList files
        = ExternalFiles::absolutePaths(ExternalFiles::commandLineWords(argc, argv), workingFolder());

    // A second start with files hands them to the running player and ends quietly; one
    // without files goes on to the duplicate-start message of the start-up sequence.
    SingleInstance instance;
    InstanceChannel channel;
    const bool enqueue = parser.isSet(QString::fromLatin1(ExternalFiles::kEnqueueWord).mid(2));
    if (!files.isEmpty() && !instance.tryAcquire()
        && channel.send(enqueue ? QStringList { QString::fromLatin1(ExternalFiles::kEnqueueWord) } + files : files))
        return 0;

    installFontSubstitutions();
    installJapaneseTranslations(app);

    QtPrompter prompter;
    MainWindow::Context ctx;
    QString error;
    if (!loadDecoderLibrary(QCoreApplication::applicationDirPath(), ctx.api, error)) {
        prompter.message(error, Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return 2;
    }
    ctx.prompter = &prompter;
    // The settings' threads, joined when the run ends (after everything below has gone).
    SettingsRun settingsRun;
    ctx.iniPath = kestrineIniPath();
    ctx.programFolder = programFolder();
    ctx.instance = &instance;
    VolumeMemory volume(ctx.iniPath);
    ctx.volume = &volume;

    MainWindow window(ctx);
    prompter.setParent(&window);
    if (!window.formLoad())
        return 1;
    QuitGuard quitGuard;
    window.installEventFilter(&quitGuard);
    closeOnTerminationSignals(window);
    ExternalFiles external(window);
    OutputNotice outputNotice(ctx.api, &window);
    QObject::connect(window.controller(), &PlaybackController::trackStarted, &outputNotice, [&outputNotice] {
        // The options window may have chosen another device since the last track.
        outputNotice.setChosenDevice(appliedOutputDevice());
        outputNotice.trackStarted();
    });
    channel.listen();
    QObject::connect(&channel, &InstanceChannel::filesReceived, &external, [&external](const QStringList &paths) {
        runWhenNoBox(&external, [&external, paths] {
            external.raiseWindow();
            if (paths.value(0) == QLatin1String(ExternalFiles::kEnqueueWord))
                external.enqueue(paths.mid(1));
            else
                external.open(paths);
        });
    });
    // Media keys and the desktop's player controls; without a session bus, none.
    MprisBridge mpris(window, window.playbackState(), ctx.api, external);
    MprisService mprisService(mpris);
    mprisService.setMimeTypes(supportedMimeTypes());
    if (mprisService.registerOn(QDBusConnection::sessionBus()))
        mpris.watch(mprisService);
    window.show();
    if (enqueue)
        external.enqueue(files);
    else
        external.open(files);
    const int status = app.exec();
    // Settings saves still on their way reach the file before the process ends, however
    // slow the disk, within a limit of their own (the watchdog ends what is stuck past it).
    {
        QuitWork saves;
        volume.flush();
        if (!settingsRun.saver().flush(kQuitSaveLimit))
            qWarning("kestrine: the settings were not saved within %lld s",
                static_cast<long long>(kQuitSaveLimit.count() / 1000));
    }
    return status;
}

} // namespace kes
