// kestrine: the process entry.
#include "appsetup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    kes::prepareEnvironment();
    if (kes::wantsOnlyText(argc, argv)) {
        QCoreApplication app(argc, argv);
        return kes::printHelpOrVersion(app);
    }
    QApplication app(argc, argv);
    return kes::runKestrine(app, argc, argv);
}
