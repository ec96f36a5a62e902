#include "optionswindow.h"

#include "eqpresets.h"
#include "prompter.h"
#include "replaygainchoice.h"
#include "settingssaver.h"
#include "tabcontrol.h"
#include "twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <memory>

namespace kes
{

namespace
{

constexpr int kClientWidth = 5160;
constexpr int kClientHeight = 5325;

template <typename W> W *place(W *widget, const char *name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(twipsRect(left, top, width, height));
    return widget;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, int left, int top, int width, int height)
{
    return place(new QLabel(text, parent), name, left, top, width, height);
}

QString indexed(const char *name, int index)
{
    return QStringLiteral("%1(%2)").arg(QString::fromUtf8(name)).arg(index);
}

} // namespace

OptionsWindow::OptionsWindow(Settings &live, const Context &context, QWidget *parent)
    : QDialog(parent)
    , m_live(live)
    , m_ctx(context)
{
    setObjectName(QStringLiteral("frmOpt1"));
    setWindowTitle(QStringLiteral("ｵﾌﾟｼｮﾝ"));
    setModal(true);
    setFixedSize(twipsToPx(kClientWidth), twipsToPx(kClientHeight));
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12); // 9 points at 96 dpi
    setFont(font);

    m_tab = place(new TabControl(this), "SSTab1", 90, 75, 4980, 4815);
    buildOptionTab(m_tab->addPage(QStringLiteral("Option setup")));
    buildEqTab(m_tab->addPage(QStringLiteral("EQ setup")));
    buildPrintTab(m_tab->addPage(QStringLiteral("-----")));
    buildPlayerTab(m_tab->addPage(QStringLiteral("Player setup")));

    auto *ok = place(new QPushButton(QStringLiteral("OK"), this), "cmdOK", 3000, 4950, 945, 315);
    auto *cancel = place(new QPushButton(QStringLiteral("Cancel"), this), "cmdCancel", 4020, 4950, 945, 315);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &OptionsWindow::cmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &OptionsWindow::cmdCancel_Click);
    bindControls();
}

void OptionsWindow::buildOptionTab(QWidget *page)
{
    const struct {
        const char *name, *caption;
        int top, width;
    } boxes[] = {
        { "Check3", "起動時にコンパクト化する", 480, 4500 },
        { "Check4", "起動時にデフォルトプレイリストを読み込む", 735, 4500 },
        { "Check7", "起動時に開くフォルダの指定", 1410, 2500 },
        { "Opt_Chk_Ks", "歌詞ファイルの利用", 2055, 4500 },
        { "Check1", "スペアナを利用", 2310, 4500 },
        { "Check6", "下位フォルダは検索しない", 2565, 4500 },
        { "Check9", "Toolbarのアイコンを大きくする（次回起動より有効）", 2820, 4650 },
    };
    for (const auto &b : boxes)
        place(new QCheckBox(QString::fromUtf8(b.caption), page), b.name, 225, b.top, b.width, 285);
    place(new QLineEdit(page), "Def_PL_Path", 480, 1020, 3960, 285);
    auto *pathButton
        = place(new QPushButton(QStringLiteral("現在のフォルダ指定"), page), "Cmd_OP_Path", 2760, 1350, 1695, 315);
    connect(pathButton, &QPushButton::clicked, this, &OptionsWindow::Cmd_OP_Path_Click);
    place(new QLineEdit(page), "Def_OP_Path", 480, 1710, 3960, 285);

    auto *frame = place(new QGroupBox(QStringLiteral("検索ファイルの指定"), page), "fraSample1", 120, 3675, 4740, 975);
    const char *types[] = { "mp3", "rmp", "wav", "m3u", "mpg", "avi", "wma" };
    for (int i = 0; i < 7; ++i) {
        auto *box = new QCheckBox(QString::fromLatin1(types[i]), frame);
        box->setObjectName(indexed("Check", i));
        box->setGeometry(twipsRect(240 + 1080 * (i % 4), i < 4 ? 210 : 570, 900, 285));
    }
    // The added types, in two rows in the free space above the frame, on the columns of the
    // frame's boxes; captioned with their endings as the seven are.
    for (int i = 0; i < kAddedTypeCount; ++i) {
        const QString ending = QString::fromLatin1(addedMediaTypes()[i].ending);
        auto *box = new QCheckBox(ending, page);
        box->setObjectName(indexed("Check", 7 + i));
        box->setGeometry(twipsRect(360 + 1080 * (i % 4), 3105 + 285 * (i / 4), 900, 285));
        box->setToolTip(QStringLiteral("フォルダ検索で *.%1 のファイルを探す").arg(ending));
    }
}

// Options of our own, which the first three pages leave no room for: the last session's
// playlist, the output device ("default" first, the library's devices once it has
// listed them, off this thread) and ReplayGain (mode, preamp, the gain of files without
// values, clipping prevention).
void OptionsWindow::buildPlayerTab(QWidget *page)
{
    place(
        new QCheckBox(QStringLiteral("起動時に前回のプレイリストと曲を開く"), page), "resumeList", 225, 480, 4650, 285);
    label(page, "lblOutputDevice", QStringLiteral("出力デバイス"), 225, 870, 1215, 285);
    m_device = place(new QComboBox(page), "cmbOutputDevice", 1440, 840, 3420, 315);

    auto *group = place(new QGroupBox(QStringLiteral("ReplayGain"), page), "fraReplayGain", 120, 1320, 4740, 1560);
    label(group, "lblReplayGain", QStringLiteral("モード"), 120, 330, 1200, 285);
    auto *mode = place(new QComboBox(group), "cmbReplayGain", 1320, 300, 1500, 315);
    mode->addItem(QStringLiteral("オフ"), 0);
    mode->addItem(QStringLiteral("トラック"), 1);
    mode->addItem(QStringLiteral("アルバム"), 2);
    const auto decibels = [group](const char *name, int top) {
        auto *spin = place(new QDoubleSpinBox(group), name, 1320, top, 1500, 315);
        spin->setRange(-15.0, 15.0);
        spin->setDecimals(1);
        spin->setSingleStep(0.5);
        spin->setSuffix(QStringLiteral(" dB"));
        return spin;
    };
    label(group, "lblPreamp", QStringLiteral("プリアンプ"), 120, 720, 1200, 285);
    decibels("spnPreamp", 690);
    label(group, "lblDefaultGain", QStringLiteral("値のない曲"), 120, 1110, 1200, 285);
    decibels("spnDefaultGain", 1080)->setToolTip(QStringLiteral("ReplayGain の値を持たない曲の音量"));
    place(new QCheckBox(QStringLiteral("クリップを防ぐ"), group), "chkPreventClip", 3000, 720, 1650, 285);
    place(new QCheckBox(QStringLiteral("ドロップしたフォルダと m3u8・pls も追加する"), page), "chkWideDrops", 225, 2910,
        4650, 285)
        ->setToolTip(QStringLiteral("追加しなかったファイルがあれば知らせます"));

    // Lyrics looked up on a server: what is sent, and to whom, stands beside the switch.
    auto *lyrics = place(new QGroupBox(QStringLiteral("歌詞の検索"), page), "fraLyricsLookup", 120, 3195, 4740, 1200);
    place(new QCheckBox(QStringLiteral("歌詞のない曲の歌詞をインターネットで探す"), lyrics), "chkLyricsLookup", 120,
        225, 4500, 285);
    label(lyrics, "lblLyricsServer", QStringLiteral("サーバー"), 120, 510, 900, 285);
    place(new QLineEdit(lyrics), "txtLyricsServer", 1020, 480, 3600, 315);
    QLabel *sent = label(lyrics, "lblLyricsSent",
        QStringLiteral(
            "曲名・アーティスト名・アルバム名・長さを上のサーバーへ送り、見つかった歌詞を .lrc で保存します。"),
        120, 810, 4500, 390);
    sent->setWordWrap(true);
    QFont small = sent->font();
    small.setPixelSize(10);
    sent->setFont(small);
}

void OptionsWindow::buildEqTab(QWidget *page)
{
    // The 0dB line runs behind the sliders.
    label(page, "eqZeroLine", QStringLiteral("0dB") + QString(60, u'-'), 300, 1605, 4350, 255);
    for (int i = 0; i < 10; ++i) {
        auto *slider = new QScrollBar(Qt::Vertical, page);
        slider->setObjectName(indexed("VScroll1", i));
        slider->setGeometry(twipsRect(705 + 360 * i, 480, 200, 2400));
        slider->setRange(-60, 60);
        slider->setSingleStep(1);
        slider->setPageStep(1);
        connect(slider, &QScrollBar::valueChanged, this, [this, i] {
            if (!m_showing)
                VScroll1_Change(i);
        });
        m_sliders[i] = slider;
    }
    label(page, "eqTop(0)", QStringLiteral("12dB"), 120, 705, 540, 255);
    label(page, "eqTop(1)", QStringLiteral("12dB"), 4215, 705, 540, 255);
    label(page, "eqBottom(0)", QStringLiteral("-12dB"), 120, 2550, 570, 255);
    label(page, "eqBottom(1)", QStringLiteral("-12dB"), 4215, 2535, 570, 255);
    QLabel *bands
        = label(page, "eqBands", QStringLiteral(" 60/170/310/600/ 1K/ 3K/ 6K/12K/14K/16K"), 705, 2925, 3495, 255);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPixelSize(10);
    bands->setFont(mono);
    QLabel *note = label(page, "eqNote",
        QStringLiteral(
            "(注) 再生中の設定はうまく行かない場合があリます。　　　　また隣とのバランスが悪いと音が歪みます。"),
        375, 3180, 4140, 405);
    note->setWordWrap(true);
    QFont small = note->font();
    small.setPixelSize(11);
    note->setFont(small);

    m_eqTrue = place(new QCheckBox(QStringLiteral("EQの利用"), page), "Eq_true", 180, 3750, 1140, 330);
    const struct {
        int left, top;
    } at[6] = { { 2550, 4320 }, { 1440, 3690 }, { 1440, 4005 }, { 2550, 3690 }, { 2550, 4005 }, { 1440, 4320 } };
    for (int i = 0; i < 6; ++i) {
        auto *option = new QRadioButton(eqPresetCaption(i), page);
        option->setObjectName(indexed("Opt_eq", i));
        option->setGeometry(twipsRect(at[i].left, at[i].top, 1095, 315));
        connect(option, &QRadioButton::clicked, this, [this, i] { Opt_eq_Click(i); });
        m_presets[i] = option;
    }
    auto *save = place(new QPushButton(QStringLiteral("Custom Save"), page), "Cmd_save", 3630, 4290, 1185, 345);
    connect(save, &QPushButton::clicked, this, &OptionsWindow::Cmd_save_Click);
}

void OptionsWindow::buildPrintTab(QWidget *page)
{
    auto *frame = place(new QGroupBox(QStringLiteral("ＣＤジャケット設定"), page), "Frame1", 240, 480, 4560, 4200);
    const struct {
        const char *caption, *input;
        bool colour;
    } rows[] = {
        { "アルバム名のFontSize(Def=6)", "txt_Pr_Font1", false },
        { "アルバム名のFontcolor", "Cmb_Pr_Color1", true },
        { "アルバムの曲名Tab(Def=48)", "txt_Pr_Tab1", false },
        { "曲名のFontSize(Def=4)", "txt_Pr_Font2", false },
        { "曲名のFontcolor", "Cmb_Pr_Color2", true },
        { "一覧の曲名配置１列目(Def=22)", "txt_Pr_Tab2", false },
        { "一覧の曲名配置２列目(Def=140)", "txt_Pr_Tab3", false },
        { "一覧の曲名配置行数(Def=78)", "txt_Pr_Gyo", false },
        { "一覧の曲名の先頭行(Def=3)", "txt_Pr_Gyo_St", false },
    };
    const QStringList colours = { QStringLiteral("黒"), QStringLiteral("青"), QStringLiteral("緑"),
        QStringLiteral("シアン"), QStringLiteral("赤"), QStringLiteral("マゼンタ"), QStringLiteral("黄") };
    for (int i = 0; i < 9; ++i) {
        const int top = 330 + 420 * i;
        label(frame, "", QString::fromUtf8(rows[i].caption), 90, top, 3300, 285)->setObjectName(indexed("lblPrint", i));
        if (rows[i].colour) {
            auto *list = place(new QComboBox(frame), rows[i].input, 3450, top - 15, 1005, 315);
            list->addItems(colours);
        } else {
            place(new QLineEdit(frame), rows[i].input, 3450, top, 1005, 285);
        }
    }
}

void OptionsWindow::bindControls()
{
    for (const SettingKey &k : settingKeys()) {
        if (!k.control)
            continue;
        const QString name = QString::fromUtf8(k.control);
        switch (k.kind) {
        case SettingKey::Kind::Flag:
            connect(findChild<QCheckBox *>(name), &QCheckBox::toggled, this, [this, &k](bool on) {
                if (!m_showing)
                    m_live.*k.number = on ? 1 : 0;
            });
            break;
        case SettingKey::Kind::AddedType:
            connect(findChild<QCheckBox *>(name), &QCheckBox::toggled, this, [this, &k](bool on) {
                if (!m_showing)
                    m_live.addedTypes[k.index] = on ? 1 : 0;
            });
            break;
        case SettingKey::Kind::Text:
            connect(findChild<QLineEdit *>(name), &QLineEdit::textChanged, this, [this, &k](const QString &text) {
                if (!m_showing)
                    m_live.*k.text = text;
            });
            break;
        case SettingKey::Kind::Typed:
            connect(findChild<QLineEdit *>(name), &QLineEdit::textChanged, this, [this, &k](const QString &text) {
                if (!m_showing)
                    setTypedNumber(m_live, k, text);
            });
            break;
        case SettingKey::Kind::Choice:
            connect(findChild<QComboBox *>(name), &QComboBox::currentIndexChanged, this, [this, &k](int index) {
                if (!m_showing)
                    m_live.*k.number = static_cast<int16_t>(index);
            });
            break;
        case SettingKey::Kind::Keyed: {
            auto *combo = findChild<QComboBox *>(name);
            connect(combo, &QComboBox::currentIndexChanged, this, [this, &k, combo](int index) {
                if (m_showing || index < 0)
                    return;
                if (k.text)
                    m_live.*k.text = combo->itemData(index).toString();
                else
                    m_live.*k.number = static_cast<int16_t>(combo->itemData(index).toInt());
            });
            break;
        }
        case SettingKey::Kind::Tenths:
            connect(findChild<QDoubleSpinBox *>(name), &QDoubleSpinBox::valueChanged, this, [this, &k](double dB) {
                if (!m_showing)
                    m_live.*k.number = static_cast<int16_t>(std::lround(dB * 10));
            });
            break;
        case SettingKey::Kind::Option: // the equalizer's own handlers
        case SettingKey::Kind::Band:
        case SettingKey::Kind::Account:
        case SettingKey::Kind::Word:
            break;
        }
    }
    connect(m_eqTrue, &QCheckBox::toggled, this, [this] {
        if (!m_showing)
            Eq_true_Click();
    });
}

void OptionsWindow::showRecord()
{
    m_showing = true;
    for (const SettingKey &k : settingKeys()) {
        if (!k.control)
            continue;
        const QString name = QString::fromUtf8(k.control);
        switch (k.kind) {
        case SettingKey::Kind::Flag:
            findChild<QCheckBox *>(name)->setChecked(m_live.*k.number == 1);
            break;
        case SettingKey::Kind::AddedType:
            findChild<QCheckBox *>(name)->setChecked(m_live.addedTypes[k.index] == 1);
            break;
        case SettingKey::Kind::Text:
            findChild<QLineEdit *>(name)->setText(m_live.*k.text);
            break;
        case SettingKey::Kind::Typed:
            findChild<QLineEdit *>(name)->setText(m_live.printText.*k.typed);
            break;
        case SettingKey::Kind::Choice:
            findChild<QComboBox *>(name)->setCurrentIndex(m_live.*k.number);
            break;
        case SettingKey::Kind::Keyed: {
            auto *combo = findChild<QComboBox *>(name);
            combo->setCurrentIndex(
                std::max(0, combo->findData(k.text ? QVariant(m_live.*k.text) : QVariant(int(m_live.*k.number)))));
            break;
        }
        case SettingKey::Kind::Tenths:
            findChild<QDoubleSpinBox *>(name)->setValue(m_live.*k.number / 10.0);
            break;
        case SettingKey::Kind::Option:
            if (m_live.*k.number >= 0 && m_live.*k.number < 6)
                m_presets[m_live.*k.number]->setChecked(true);
            break;
        case SettingKey::Kind::Band:
            m_sliders[k.index]->setValue(-m_live.EqBands[k.index]);
            break;
        case SettingKey::Kind::Account:
        case SettingKey::Kind::Word:
            break;
        }
    }
    m_showing = false;
}

void OptionsWindow::showDevices(const QList<OutputDeviceEntry> &devices)
{
    m_showing = true;
    m_device->clear();
    m_device->addItem(QStringLiteral("default"), QString());
    const QString &chosen = m_live.OutputDevice;
    bool listed = chosen.isEmpty();
    for (const OutputDeviceEntry &d : devices) {
        m_device->addItem(d.description, d.id);
        listed = listed || d.id == chosen;
    }
    // A chosen device the list lacks (gone, or not listed yet) stays shown by its id.
    if (!listed)
        m_device->addItem(chosen, chosen);
    m_device->setCurrentIndex(std::max(0, m_device->findData(chosen)));
    m_showing = false;
}

void OptionsWindow::formLoad()
{
    LoadSettings(m_live, m_ctx.iniPath);
    ApplyEqPreset(m_live, m_ctx.api);
    showDevices({});
    listOutputDevices(m_ctx.api, this, [this](const QList<OutputDeviceEntry> &devices) {
        m_devices = devices;
        showDevices(devices);
        emit devicesListed();
    });
    showRecord();
    m_tab->setCurrentIndex(0);
    if (const QScreen *s = (parentWidget() ? parentWidget()->screen() : screen())) {
        const QRect area = s->geometry();
        const QSize frame = frameGeometry().size().expandedTo(size());
        move(area.left() + (area.width() - frame.width()) / 2, area.top() + (area.height() - frame.height()) / 2);
    }
}

void OptionsWindow::reloadRecord()
{
    m_closed = true;
    LoadSettings(m_live, m_ctx.iniPath);
    ApplyEqPreset(m_live, m_ctx.api);
    // A switch ticked in the window and not saved must not leave the decoder equalizing.
    if (!m_live.EqOn)
        m_ctx.api.setEqualizer(nullptr);
}

void OptionsWindow::cmdOK_Click()
{
    if (m_closed)
        return;
    if (m_ctx.setSearchPattern)
        m_ctx.setSearchPattern(BuildSearchPattern(m_live));
    Eq_true_Click();
    // The keys whose value differs from the file's are written (ReplayGain and the device
    // only then, so a file without them stays so), off the GUI thread.
    Settings stored;
    LoadSettings(stored, m_ctx.iniPath);
    std::vector<IniEdit> edits = settingEdits(m_live, &stored);
    SettingsSaver &saver = SettingsSaver::instance();
    QObject *context = parentWidget(); // outlives this window, which goes when it closes
    // A new device is its own request, told first: the library hears it once the file
    // holds it, whatever becomes of the other keys.
    const auto deviceFailed = std::make_shared<bool>(false);
    const QString deviceKey = QString::fromLatin1(settingKey("OutputDevice").key);
    if (const auto device
        = std::find_if(edits.begin(), edits.end(), [&](const IniEdit &e) { return e.key == deviceKey; });
        device != edits.end()) {
        saver.submit(m_ctx.iniPath, { *device }, context,
            [api = m_ctx.api, id = m_live.OutputDevice, deviceFailed](const SaveResult &r) {
                if (r.ok)
                    applyOutputDevice(api, id);
                *deviceFailed = !r.ok;
            });
        edits.erase(device);
    }
    // The library hears the ReplayGain choice at once.
    applyReplayGain(m_ctx.api, m_live);
    // The window waits for the result only when the file is small, else a failure is told
    // when the write is done.  A key the file cannot hold keeps its old value; the message
    // names it.
    saver.save(
        m_ctx.iniPath, std::move(edits), context, [prompter = m_ctx.prompter, deviceFailed](const SaveResult &r) {
            if ((!r.ok || *deviceFailed) && prompter)
                prompter->message(
                    (QStringList { QStringLiteral("設定の保存に失敗しました") } + r.unwritten).join(u'\n'));
        });
    reloadRecord();
    accept();
}

void OptionsWindow::cmdCancel_Click()
{
    reject();
}

void OptionsWindow::reject()
{
    if (!m_closed)
        reloadRecord();
    QDialog::reject();
}

void OptionsWindow::Cmd_OP_Path_Click()
{
    if (!m_ctx.currentFolder)
        return;
    QString folder = m_ctx.currentFolder();
    if (folder.isEmpty())
        return;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    findChild<QLineEdit *>(QStringLiteral("Def_OP_Path"))->setText(folder);
}

void OptionsWindow::Eq_true_Click()
{
    m_live.EqOn = m_eqTrue->isChecked() ? 1 : 0;
    m_ctx.api.setEqualizer(m_live.EqOn ? m_live.EqBands.data() : nullptr);
}

void OptionsWindow::Opt_eq_Click(int index)
{
    m_live.EqPreset = static_cast<int16_t>(index >= 0 && index <= 5 ? index : 1);
    m_presets[m_live.EqPreset]->setChecked(true);
    const EqCurve curve = eqPresetCurve(m_live.EqPreset, EqCurveUse::Pick, m_live.EqBands);
    for (int i = 0; i < 10; ++i)
        m_sliders[i]->setValue(-curve[i]); // a slider that moves runs VScroll1_Change
}

void OptionsWindow::VScroll1_Change(int index)
{
    m_live.EqBands[index] = -m_sliders[index]->value();
    if (m_eqTrue->isChecked())
        m_ctx.api.setEqualizer(m_live.EqBands.data());
}

void OptionsWindow::Cmd_save_Click()
{
    for (int i = 0; i < 10; ++i)
        m_live.EqBands[i] = -m_sliders[i]->value();
}

} // namespace kes
