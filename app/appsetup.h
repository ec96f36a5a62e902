// Process set-up shared by the executable and the whole-program tests.
#pragma once

class QApplication;

// Before the application object exists: pins the media back end.
void prepareEnvironment();
// Fonts, translations, the decoder library, the main window and the event loop.
// Returns the process exit status.
int runKestrine(QApplication &app);
// Japanese font fallbacks and stand-ins for the classic fonts; idempotent.
void installFontSubstitutions();
