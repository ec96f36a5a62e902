// Process set-up shared by the executable and the whole-program tests.
#pragma once

class QApplication;
class QCommandLineParser;
class QCoreApplication;

namespace kes
{

// Before the application object exists: pins the media back end.
void prepareEnvironment();
// The command line: [FILE...], --help, --version.
void describeCommandLine(QCommandLineParser &parser);
// Whether the command line asks only for the help or the version text, which need no
// display: main() answers them with a QCoreApplication and printHelpOrVersion.
bool wantsOnlyText(int argc, char **argv);
int printHelpOrVersion(QCoreApplication &app);
// Fonts, translations, the decoder library, the main window and the event loop; argc and
// argv as the application object left them (the files are taken from their bytes).
// Returns the process exit status.  The caller holds the ExitWatchdog, which the window's
// close and the quit signals arm.
int runKestrine(QApplication &app, int argc, char **argv);
// Qt's own Japanese translations, so standard buttons read はい, キャンセル.  Returns
// false when they are not installed.
bool installJapaneseTranslations(QCoreApplication &app);
// Japanese font fallbacks and stand-ins for the classic fonts; idempotent.
void installFontSubstitutions();

} // namespace kes
