// kestrine: the process entry.
#include "appsetup.h"
#include "exitwatchdog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    kes::prepareEnvironment();
    if (kes::wantsOnlyText(argc, argv)) {
        QCoreApplication app(argc, argv);
        return kes::printHelpOrVersion(app);
    }
    // From the word to quit on, the process ends within kQuitLimit whatever is stuck, also
    // in the application object's end (it waits for the thread pools' workers); a quit
    // that gets past that stops the watchdog and joins it.
    kes::ExitWatchdog watchdog;
    QApplication app(argc, argv);
    return kes::runKestrine(app, argc, argv);
}
