// The about window: its version read-outs, and the pop-up item that opens it.
#include "aboutwindow.h"
#include "windowtest.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

using namespace kes;

TEST(AboutWindow, VersionTexts)
{
    EXPECT_EQ(AboutWindow::versionText(QVersionNumber(2, 2, 2)), u"ﾊﾞｰｼﾞｮﾝ 2.2.2"_s);
    EXPECT_EQ(AboutWindow::versionText(QVersionNumber(10, 0)), u"ﾊﾞｰｼﾞｮﾝ 10.0.0"_s);
    // The decoder's number over 100 as the shortest single-precision decimal.
    for (auto [version, text] : { std::pair { 200, "VBMP3.DLL Ver 2" }, { 199, "VBMP3.DLL Ver 1.99" },
             { 251, "VBMP3.DLL Ver 2.51" }, { 100000000, "VBMP3.DLL Ver 1000000" }, { -5, "VBMP3.DLL Ver -0.05" } }) {
        AboutWindow w([v = version] { return int32_t(v); }, QPixmap());
        auto *label = w.findChild<QLabel *>(u"vbmp3_ver"_s);
        EXPECT_EQ(label ? label->text() : QString(), QString::fromLatin1(text)) << version;
    }
}

using AboutWindowTest = WindowTest;

TEST_F(AboutWindowTest, PopupItemOpensItModallyAndEachOpeningLoadsAgain)
{
    auto window = start();
    int shown = 0;
    for (int opening = 0; opening < 2; ++opening) {
        QTimer::singleShot(0, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            ++shown;
            child<QPushButton>(*modal, u"cmdOK"_s)->click();
        });
        child<QAction>(*window, u"about"_s)->trigger();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(std::ranges::count(fake.calls, "getVersion"), 2); // read again at each opening
    EXPECT_TRUE(window->findChildren<AboutWindow *>().isEmpty());
}
