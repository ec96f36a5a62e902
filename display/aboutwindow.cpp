#include "aboutwindow.h"

#include "prompter.h"
#include "twips.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>

#include <array>
#include <charconv>

namespace kes
{

namespace
{

const QColor kLightYellow(255, 255, 192);

QFont gothic(qreal points, bool bold)
{
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

} // namespace

QUrl homePageUrl()
{
    return QUrl(QStringLiteral("https://github.com/kestrine/kestrine"));
}

void HomePage_Click(Prompter &prompter)
{
    // openUrl hands the address to the desktop's opener (xdg-open or the portal) and
    // does not wait for the browser.
    if (!QDesktopServices::openUrl(homePageUrl()))
        prompter.message(QStringLiteral("ホームページを開けませんでした。ブラウザで %1 を開いてください。")
                             .arg(homePageUrl().toString()),
            Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
}

AboutWindow::AboutWindow(std::function<int32_t()> getVersion, const QPixmap &icon, QWidget *parent)
    : QDialog(parent)
    , m_getVersion(std::move(getVersion))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setModal(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kLightYellow);
    setPalette(pal);
    setFixedSize(twipsToPx(4605), twipsToPx(2880));

    auto label = [this](const char *name, const QString &text, QRect twips, const QFont &font, bool filled) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(twips);
        l->setFont(font);
        l->setAutoFillBackground(filled); // filled labels take the window's light yellow
        return l;
    };
    auto *picIcon = label("picIcon", QString(), twipsRect(135, 135, 960, 960), font(), false);
    picIcon->setPixmap(icon.scaled(picIcon->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picIcon->setAlignment(Qt::AlignCenter);
    m_lblTitle = label("lblTitle", QString(), twipsRect(1380, 195, 2835, 480), gothic(18, true), true);
    m_lblVersion
        = label("lblVersion", QStringLiteral("ＶＥＲ．"), twipsRect(2475, 705, 1905, 225), gothic(12, false), true);
    label("lblDescription", QStringLiteral("ＭＰ３のファイル操作ユーティリティ"), twipsRect(1080, 1155, 3345, 210),
        gothic(9, false), true);
    m_vbmp3Ver = label(
        "vbmp3_ver", QStringLiteral("VBMP3.DLL Ver."), twipsRect(2370, 1470, 2070, 210), gothic(9, false), false);
    auto *label1 = label("Label1",
        QStringLiteral("kestrine ホームページ<br><a href=\"%1\">%1</a>").arg(homePageUrl().toString()),
        twipsRect(165, 1875, 4275, 405), gothic(9.75, true), false);
    label1->setTextFormat(Qt::RichText);
    label1->setOpenExternalLinks(true);
    auto *disclaimer
        = label("lblDisclaimer", QStringLiteral("このプログラムの著作権は kestrine の作者が保有しています。"),
            twipsRect(120, 2355, 2940, 405), gothic(9, false), true);
    disclaimer->setWordWrap(true);

    auto *cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twipsRect(3240, 2460, 1260, 345));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &AboutWindow::cmdOK_Click);

    formLoad();
}

QString AboutWindow::versionText(const QVersionNumber &version)
{
    return QStringLiteral("ﾊﾞｰｼﾞｮﾝ %1.%2.%3")
        .arg(version.majorVersion())
        .arg(version.minorVersion())
        .arg(version.microVersion());
}

QString AboutWindow::decoderVersionText(int32_t version)
{
    // Shortest form that reads back as the same float, never in exponent notation.
    const float value = static_cast<float>(version) / 100.0f;
    std::array<char, 64> buf {};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed);
    return QStringLiteral("VBMP3.DLL Ver ") + QString::fromLatin1(buf.data(), res.ptr - buf.data());
}

QVersionNumber AboutWindow::programVersion()
{
    return QVersionNumber::fromString(QStringLiteral(KESTRINE_VERSION));
}

void AboutWindow::formLoad()
{
    const QString title = QApplication::applicationName();
    setWindowTitle(title + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    m_lblVersion->setText(versionText(programVersion()));
    m_lblTitle->setText(title);
    m_vbmp3Ver->setText(decoderVersionText(m_getVersion ? m_getVersion() : 0));
}

void AboutWindow::cmdOK_Click()
{
    accept();
}

} // namespace kes
