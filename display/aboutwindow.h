// The about window `frmAbout`: title, version, description, the decoder library's
// version, the home page and an ownership notice.  Shown modally from the pop-up menu
// item "about"; every opening builds it anew, so its load steps run each time.
// GUI thread only.
#pragma once

#include <QDialog>
#include <QUrl>
#include <QVersionNumber>

#include <cstdint>
#include <functional>

class QLabel;

namespace kes
{

class Prompter;

// Where the pop-up item "HomePage" and the about window point.
QUrl homePageUrl();
// The pop-up item "HomePage": asks the desktop to open the home page in its browser and
// returns at once.  A desktop that cannot open it gets its message through prompter.
void HomePage_Click(Prompter &prompter);

class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    // getVersion is the decoder library's vbmp3_getVersion; icon fills `picIcon`.
    AboutWindow(std::function<int32_t()> getVersion, const QPixmap &icon, QWidget *parent = nullptr);

    // "ﾊﾞｰｼﾞｮﾝ 2.2.2": major, minor and revision in decimal.
    static QString versionText(const QVersionNumber &version);
    // "VBMP3.DLL Ver 2.51": the library's number over 100 as a single-precision number
    // in its shortest decimal form (200 gives 2, 199 gives 1.99).
    static QString decoderVersionText(int32_t version);
    // The program's own version (the build's project version).
    static QVersionNumber programVersion();

    void formLoad();
    void cmdOK_Click();

private:
    std::function<int32_t()> m_getVersion;
    QLabel *m_lblTitle = nullptr;
    QLabel *m_lblVersion = nullptr;
    QLabel *m_vbmp3Ver = nullptr;
};

} // namespace kes
