// kestrine: the process entry.
#include "appsetup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    kes::prepareEnvironment();
    QApplication app(argc, argv);
    return kes::runKestrine(app);
}
