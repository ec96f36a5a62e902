#include "printwindow.h"

#include "jacketpreview.h"
#include "playlistmodel.h"
#include "prompter.h"
#include "settings.h"
#include "twips.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPrintDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <utility>

namespace kes
{

namespace
{

struct LayoutList {
    const char *name;
    const char *caption;
    QList<int> values;
    int preset;
};

const LayoutList kLists[5] = {
    { "Combo1", "Fontsize", { 3, 4, 5, 6, 7 }, 5 },
    { "Combo2", "Start Pos", { 1, 2, 3 }, 2 },
    { "Combo3", "Max Line", { 50, 52, 54, 56, 58, 60, 62, 64, 66, 68, 70 }, 60 },
    { "Combo4", "１列目", { 8, 10, 12, 14, 16 }, 12 },
    { "Combo5", "２列目", { 86, 88, 90, 92, 94, 96 }, 92 },
};

constexpr int kListTops[5] = { 300, 825, 1350, 1875, 2400 };
constexpr int kQuestionRows = 160;

QPushButton *makeButton(const char *name, const QString &text, QRect twips, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setGeometry(twips);
    return b;
}

} // namespace

PrintWindow::PrintWindow(const PlaylistModel *playlist, Prompter *prompter, const Settings *settings, QWidget *parent)
    : QDialog(parent)
    , m_playlist(playlist)
    , m_prompter(prompter)
    , m_settings(settings)
{
    setObjectName(QStringLiteral("print1"));
    setWindowTitle(QStringLiteral("print set"));
    setModal(true);
    m_printer.setDocName(QStringLiteral("cdjacket"));
    m_printDialog = [this](QPrinter &printer) {
        QPrintDialog dialog(&printer, this);
        return dialog.exec() == QDialog::Accepted;
    };
    buildControls();
    if (m_playlist) {
        connect(m_playlist, &QAbstractItemModel::dataChanged, this, &PrintWindow::runAfterTags);
        connect(m_playlist, &QAbstractItemModel::layoutChanged, this, &PrintWindow::runAfterTags);
        connect(m_playlist, &QAbstractItemModel::modelReset, this, &PrintWindow::runAfterTags);
    }
}

PrintWindow::~PrintWindow() = default;

void PrintWindow::buildControls()
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSize(9);
    setFont(font);

    auto *menuBar = new QMenuBar(this);
    QAction *option = menuBar->addAction(QStringLiteral("オプション"));
    option->setObjectName(QStringLiteral("option"));
    connect(option, &QAction::triggered, this, &PrintWindow::optionClick);

    // The client area below the menu bar, laid out in twips.
    auto *client = new QWidget(this);
    client->setFixedSize(twipsToPx(11115), twipsToPx(7395));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->setMenuBar(menuBar);
    outer->addWidget(client);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    auto *frame1 = new QGroupBox(QStringLiteral("ラベル選択・印刷"), client);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setGeometry(twipsRect(60, 150, 2235, 2055));
    const QString shapes[2] = { QStringLiteral("表（120*120）"), QStringLiteral("裏（118*150）") };
    for (int i = 0; i < 2; ++i) {
        m_option1[i] = new QRadioButton(shapes[i], frame1);
        m_option1[i]->setObjectName(QStringLiteral("Option1(%1)").arg(i));
        m_option1[i]->setGeometry(twipsRect(240, i == 0 ? 330 : 750, 1900, 300));
        connect(m_option1[i], &QRadioButton::clicked, this, [this, i] { Option1_Click(i); });
    }
    auto *cmdLblPr
        = makeButton("CmdLblPr", QStringLiteral("印刷（枠線のみ）"), twipsRect(150, 1110, 1980, 390), frame1);
    connect(cmdLblPr, &QPushButton::clicked, this, &PrintWindow::CmdLblPr_Click);
    auto *label6 = new QLabel(QStringLiteral("印刷枚数"), frame1);
    label6->setObjectName(QStringLiteral("Label6"));
    label6->setGeometry(twipsRect(210, 1620, 1050, 300));
    auto *text6 = new QLineEdit(QStringLiteral("1"), frame1);
    text6->setObjectName(QStringLiteral("Text6"));
    text6->setGeometry(twipsRect(1320, 1560, 600, 330));

    auto *frame2 = new QGroupBox(QStringLiteral("Data配置・印刷"), client);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(twipsRect(60, 2310, 2235, 3750));
    QFont bold = font;
    bold.setBold(true);
    for (int i = 0; i < 5; ++i) {
        auto *label = new QLabel(QString::fromUtf8(kLists[i].caption), frame2);
        label->setFont(bold);
        label->setGeometry(twipsRect(120, kListTops[i], 1110, 330));
        m_combo[i] = new QComboBox(frame2);
        m_combo[i]->setObjectName(QString::fromUtf8(kLists[i].name));
        m_combo[i]->setGeometry(twipsRect(1260, kListTops[i], 855, 330));
        connect(m_combo[i], &QComboBox::currentIndexChanged, this, &PrintWindow::CmdDataSet_Click);
    }
    auto *cmdDataSet
        = makeButton("CmdDataSet", QStringLiteral("Ｄａｔａ 仮表示"), twipsRect(120, 2925, 1935, 360), frame2);
    connect(cmdDataSet, &QPushButton::clicked, this, &PrintWindow::CmdDataSet_Click);
    auto *cmdDataPrint
        = makeButton("CmdDataPrint", QStringLiteral("印刷（dataのみ）"), twipsRect(120, 3285, 1935, 360), frame2);
    connect(cmdDataPrint, &QPushButton::clicked, this, &PrintWindow::CmdDataPrint_Click);

    auto *printAll = makeButton("Cmd_Print_Al", QStringLiteral("両印刷"), twipsRect(120, 6240, 990, 555), client);
    connect(printAll, &QPushButton::clicked, this, &PrintWindow::Cmd_Print_Al_Click);
    auto *close = makeButton("Cmd_close", QStringLiteral("閉じる"), twipsRect(1230, 6240, 930, 555), client);
    connect(close, &QPushButton::clicked, this, &PrintWindow::Cmd_close_Click);

    m_picWork = new JacketPreview(client);
    m_picWork->move(twipsToPx(2400), twipsToPx(90));
    m_picWork->setSizeTwips(JacketPainter::boxTwips(JacketShape::Back));
}

void PrintWindow::showModal()
{
    if (formLoad())
        exec();
}

bool PrintWindow::formLoad()
{
    m_rowCount = m_playlist ? m_playlist->count() : 0;
    if (m_rowCount >= kQuestionRows) {
        const QString question
            = QStringLiteral("ＤＡＴＡが%1個あります。続けますか（印字最大１６０件）").arg(m_rowCount);
        if (m_prompter->message(question, Prompter::Buttons::OkCancel) == Prompter::Answer::Cancel) {
            close();
            return false;
        }
    }
    for (int i = 0; i < 5; ++i) {
        const QSignalBlocker block(m_combo[i]);
        m_combo[i]->clear();
        for (int v : kLists[i].values)
            m_combo[i]->addItem(QString::number(v), v);
        m_combo[i]->setCurrentIndex(static_cast<int>(kLists[i].values.indexOf(kLists[i].preset)));
    }
    m_option1[1]->setChecked(true);
    m_picWork->setSizeTwips(JacketPainter::boxTwips(JacketShape::Back));
    return true;
}

JacketShape PrintWindow::shape() const
{
    return m_option1[0]->isChecked() ? JacketShape::Front : JacketShape::Back;
}

TrackListLayout PrintWindow::layout() const
{
    auto value = [this](int i) { return m_combo[i]->currentData().toInt(); };
    return { value(0), value(1), value(2), value(3), value(4) };
}

QList<JacketEntry> PrintWindow::entries() const
{
    QList<JacketEntry> out;
    const int n = m_playlist ? std::min(m_rowCount, m_playlist->count()) : 0;
    out.reserve(n);
    for (int i = 1; i <= n; ++i)
        out.append({ m_playlist->title(i), m_playlist->artist(i) });
    return out;
}

bool PrintWindow::tagsPending() const
{
    // Rows past two full columns are not printed: their tags are not waited for.
    const int shown = 2 * layout().maxLine;
    const int n = m_playlist ? std::min({ m_rowCount, m_playlist->count(), shown }) : 0;
    for (int i = 1; i <= n; ++i)
        if (m_playlist->tagsPending(i))
            return true;
    return false;
}

void PrintWindow::afterTags(Waiter waiter, std::function<void()> then)
{
    m_afterTags[static_cast<int>(waiter)] = std::move(then);
    runAfterTags();
}

void PrintWindow::runAfterTags()
{
    const bool waiting = tagsPending();
    for (auto &then : m_afterTags)
        if (then && !waiting)
            std::exchange(then, {})();
    // A print that waits for tags says so.
    if (m_afterTags[static_cast<int>(Waiter::Print)])
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void PrintWindow::hideEvent(QHideEvent *event)
{
    // A print still waiting for tags goes with the window.
    m_afterTags[static_cast<int>(Waiter::Print)] = {};
    m_afterTags[static_cast<int>(Waiter::Preview)] = {};
    unsetCursor();
    QDialog::hideEvent(event);
}

void PrintWindow::drawTrackListInPreview()
{
    m_picWork->clear();
    QPainter p(&m_picWork->image());
    JacketPainter::DrawTrackList(p, entries(), layout(), m_settings->Font_Color2);
    p.end();
    m_picWork->update();
}

void PrintWindow::CmdDataSet_Click()
{
    drawTrackListInPreview();
    // Rows whose tags are on their way show their file names meanwhile.
    if (tagsPending())
        afterTags(Waiter::Preview, [this] { drawTrackListInPreview(); });
}

void PrintWindow::drawOutlineInPreview()
{
    m_picWork->setSizeTwips(JacketPainter::boxTwips(shape()));
    QPainter p(&m_picWork->image());
    constexpr qreal pxPerTwip = 1.0 / kTwipsPerPixel;
    JacketPainter::drawOutline(p, shape(), pxPerTwip, pxPerTwip);
    p.end();
    m_picWork->update();
}

void PrintWindow::Option1_Click(int index)
{
    m_option1[index]->setChecked(true);
    drawOutlineInPreview();
    CmdDataSet_Click();
}

bool PrintWindow::askPrinter()
{
    if (!m_printDialog(m_printer))
        return false;
    // One copy of the whole job, whatever the dialog was given.
    m_printer.setCopyCount(1);
    m_printer.setPrintRange(QPrinter::AllPages);
    return true;
}

void PrintWindow::printPage(bool outline)
{
    const bool trackList = JacketPainter::qbColor(m_settings->Font_Color2).has_value();
    if (!outline && !trackList)
        return;
    QPainter p;
    if (!p.begin(&m_printer))
        return;
    if (outline)
        JacketPainter::printOutline(p, shape(), m_printer.resolution() / 25.4);
    // A failed track list leaves the outline on the page.
    JacketPainter::DrawTrackList(p, entries(), layout(), m_settings->Font_Color2);
    p.end();
}

void PrintWindow::CmdLblPr_Click()
{
    drawOutlineInPreview();
    // A real printer takes the job without asking.  A file is asked for at every print,
    // so that no earlier print's file is overwritten unasked.
    if (m_printer.outputFormat() != QPrinter::NativeFormat && !askPrinter())
        return;
    QPainter p;
    if (!p.begin(&m_printer))
        return;
    JacketPainter::printOutline(p, shape(), m_printer.resolution() / 25.4);
    p.end();
}

void PrintWindow::CmdDataPrint_Click()
{
    if (!askPrinter())
        return;
    afterTags(Waiter::Print, [this] { printPage(false); });
}

void PrintWindow::Cmd_Print_Al_Click()
{
    if (!askPrinter())
        return;
    drawOutlineInPreview();
    afterTags(Waiter::Print, [this] { printPage(true); });
}

void PrintWindow::Cmd_close_Click()
{
    close();
}

void PrintWindow::optionClick()
{
    if (m_optionsHook)
        m_optionsHook();
}

} // namespace kes
