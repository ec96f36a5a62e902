#include "appsetup.h"

#include "decoderapi.h"
#include "mainwindow.h"
#include "qtprompter.h"
#include "settings.h"
#include "singleinstance.h"
#include "toolbaricons.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

namespace kes
{

void prepareEnvironment()
{
    // The FFmpeg media back end crashes without a sound device; GStreamer is solid.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
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

int runKestrine(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("kestrine"));
    QApplication::setWindowIcon(QIcon(applicationIcon(64)));
    installFontSubstitutions();

    installJapaneseTranslations(app);

    QtPrompter prompter;
    MainWindow::Context ctx;
    QString error;
    if (!loadDecoderLibrary(QCoreApplication::applicationDirPath(), ctx.api, error)) {
        prompter.message(error, Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return 2;
    }
    SingleInstance instance;
    ctx.prompter = &prompter;
    ctx.iniPath = kestrineIniPath();
    ctx.programFolder = programFolder();
    ctx.instance = &instance;

    MainWindow window(ctx);
    prompter.setParent(&window);
    if (!window.formLoad())
        return 1;
    window.show();
    return app.exec();
}

} // namespace kes
