// Process set-up shared by the executable and the whole-program tests.
#pragma once

class QApplication;
class QCoreApplication;

namespace kes
{

// Before the application object exists: pins the media back end.
void prepareEnvironment();
// Fonts, translations, the decoder library, the main window and the event loop.
// Returns the process exit status.
int runKestrine(QApplication &app);
// Qt's own Japanese translations, so standard buttons read はい, キャンセル.  Returns
// false when they are not installed.
bool installJapaneseTranslations(QCoreApplication &app);
// Japanese font fallbacks and stand-ins for the classic fonts; idempotent.
void installFontSubstitutions();

} // namespace kes
