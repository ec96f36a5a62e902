// The main window as the benchmarks run it: the real decoder library from libraryDir,
// settings in a scratch folder, sound to the null output, shown (offscreen unless the
// caller chose a platform).  Create after the QApplication.
#pragma once

#include "decoderapi.h"
#include "mainwindow.h"
#include "scriptedprompter.h"
#include "settingsrun.h"

#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace kes
{

struct BenchWindow {
    SettingsRun settings; // the settings' threads, joined after the window
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    MainWindow::Context ctx;
    std::unique_ptr<MainWindow> window;

    // False (with the reason on stderr) when the library cannot be loaded, or start-up
    // refused to go on.
    bool open(const QString &libraryDir, const char *program)
    {
        QString error;
        if (!loadDecoderLibrary(libraryDir, ctx.api, error)) {
            std::fprintf(stderr, "%s: %s\n", program, qPrintable(error));
            return false;
        }
        ctx.prompter = &prompter;
        ctx.iniPath = dir.filePath(QStringLiteral("kestrine.ini"));
        ctx.programFolder = dir.path();
        window = std::make_unique<MainWindow>(ctx);
        if (!window->formLoad())
            return false;
        ctx.api.setOutput("null");
        window->show();
        return true;
    }
};

} // namespace kes
