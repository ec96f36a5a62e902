// The about window: its version read-outs, and the pop-up item that opens it.
#include "aboutwindow.h"
#include "fakedecoder.h"
#include "mainwindow.h"
#include "scriptedprompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kes;

namespace
{

QString labelText(QWidget &w, const char *name)
{
    auto *l = w.findChild<QLabel *>(QString::fromLatin1(name));
    return l ? l->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
}

int32_t g_version = 0;
int g_versionCalls = 0;
int32_t scriptedVersion()
{
    ++g_versionCalls;
    return g_version;
}

// Stands in for the desktop's browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

TEST(AboutWindow, HomePageGoesToTheDesktopsBrowser)
{
    UrlCatcher browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    ScriptedPrompter prompter;
    HomePage_Click(prompter);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    EXPECT_EQ(browser.urls, QList<QUrl> { homePageUrl() });
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST(AboutWindow, VersionTexts)
{
    EXPECT_EQ(AboutWindow::versionText(QVersionNumber(2, 2, 2)), QStringLiteral("ﾊﾞｰｼﾞｮﾝ 2.2.2"));
    EXPECT_EQ(AboutWindow::versionText(QVersionNumber(10, 0)), QStringLiteral("ﾊﾞｰｼﾞｮﾝ 10.0.0"));
    // The decoder's number over 100 as the shortest single-precision decimal.
    const struct {
        int32_t version;
        const char *text;
    } cases[] = { { 200, "VBMP3.DLL Ver 2" }, { 199, "VBMP3.DLL Ver 1.99" }, { 251, "VBMP3.DLL Ver 2.51" },
        { 100000000, "VBMP3.DLL Ver 1000000" }, { -5, "VBMP3.DLL Ver -0.05" } };
    for (const auto &c : cases) {
        g_version = c.version;
        AboutWindow w(scriptedVersion, QPixmap());
        EXPECT_EQ(labelText(w, "vbmp3_ver"), QString::fromLatin1(c.text)) << c.version;
    }
}

TEST(AboutWindow, PopupItemOpensItModallyAndEachOpeningLoadsAgain)
{
    FakeDecoder::instance().reset();
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    MainWindow::Context ctx { FakeDecoder::api(), &prompter, dir.filePath(QStringLiteral("kestrine.ini")), dir.path() };
    ctx.api.getVersion = scriptedVersion;
    MainWindow window(ctx);
    ASSERT_TRUE(window.formLoad());
    auto *about = window.findChild<QAction *>(QStringLiteral("about"));
    ASSERT_NE(about, nullptr);

    g_versionCalls = 0;
    int shown = 0;
    for (int opening = 0; opening < 2; ++opening) {
        QTimer::singleShot(0, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            ++shown;
            modal->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
        });
        about->trigger();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(g_versionCalls, 2); // read again at each opening
    EXPECT_TRUE(window.findChildren<AboutWindow *>().isEmpty());
}

#include "about_test.moc"
