// main() for test programs that need a QApplication (widgets) and an event loop.
#include "appsetup.h"
#include "settingsrun.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace kes;

int main(int argc, char **argv)
{
    prepareEnvironment();
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    installFontSubstitutions();
    SettingsRun settingsRun; // as the program's run, joined before the application goes
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
