// kestrine: the process entry.
#include "appsetup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    prepareEnvironment();
    QApplication app(argc, argv);
    return runKestrine(app);
}
