// The options window against the scripted decoder: what it shows, what OK and Cancel
// leave in the file, in the record and in the decoder.
#include "fakedecoder.h"
#include "optionswindow.h"
#include "scriptedprompter.h"
#include "tabcontrol.h"
#include "testfiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace kes;

namespace
{

using Bands = std::vector<int32_t>;

class OptionsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        fake().reset();
    }
    static FakeDecoder &fake() { return FakeDecoder::instance(); }

    // A new window over the file, as "設定" makes one.
    void open()
    {
        window = std::make_unique<OptionsWindow>(live,
            OptionsWindow::Context {
                FakeDecoder::api(), &prompter, ini(), folder, [this](const QString &p) { pattern = p; } });
        window->formLoad();
        window->show();
    }
    QString ini() const { return dir.filePath(QStringLiteral("kestrine.ini")); }
    template <typename W> W *child(const QString &name) const
    {
        W *w = window->findChild<W *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QCheckBox *box(const QString &name) const { return child<QCheckBox>(name); }
    QLineEdit *edit(const QString &name) const { return child<QLineEdit>(name); }
    QScrollBar *slider(int i) const { return child<QScrollBar>(QStringLiteral("VScroll1(%1)").arg(i)); }
    QRadioButton *preset(int i) const { return child<QRadioButton>(QStringLiteral("Opt_eq(%1)").arg(i)); }
    Bands positions() const
    {
        Bands p(10);
        std::generate(p.begin(), p.end(), [this, i = 0]() mutable { return slider(i++)->value(); });
        return p;
    }
    Bands bands() const { return Bands(live.EqBands.begin(), live.EqBands.end()); }
    void click(const QString &name) { child<QAbstractButton>(name)->click(); }

    // What the control of a key shows, as the text the save would write for it.
    QString shown(const SettingKey &k) const
    {
        const QString name = QString::fromUtf8(k.control);
        switch (k.kind) {
        case SettingKey::Kind::Flag:
            return box(name)->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
        case SettingKey::Kind::Choice:
            return QString::number(child<QComboBox>(name)->currentIndex());
        case SettingKey::Kind::Option:
            for (int i = 0; i < 6; ++i)
                if (preset(i)->isChecked())
                    return QString::number(i);
            return QStringLiteral("none");
        case SettingKey::Kind::Band:
            return QString::number(-slider(k.band)->value());
        default:
            return edit(name)->text();
        }
    }

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    Settings live;
    std::function<QString()> folder;
    QString pattern = QStringLiteral("unset");
    std::unique_ptr<OptionsWindow> window;
};

} // namespace

TEST_F(OptionsWindowTest, ShowsWhatWasLoadedAndSavesOnlyThat)
{
    const struct {
        const char *name;
        QByteArray file;
        Bands positions;
        int presetShown;
    } cases[] = {
        { "no file", {}, Bands(10, 0), 0 },
        { "every field changed",
            "[検索設定]\nMP3=0\nWMA=1\n[印刷設定]\nFONT1=07\nFont_Color1=-1\nFont_Color2=6\n"
            "[その他設定]\nOp_kasi=0\nOp_01=0\nOp_14=/m/def.m3u\nOp_07=1\nOp_17=/m/\nOp_09=1\n"
            "[EQSETUP]\ncustom-0=-60\ncustom-9=60\nset-no=0\nset-onoff=1\n",
            { 60, 0, 0, 0, 0, 0, 0, 0, 0, -60 }, 0 },
        // Values the load refuses are the settings' tests'; presets, the tests below.
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(ini());
        if (!c.file.isNull())
            writeBytes(ini(), c.file);
        open();
        EXPECT_EQ(positions(), c.positions);
        EXPECT_TRUE(preset(c.presetShown)->isChecked());
        EXPECT_EQ(window->tabs()->currentIndex(), 0);
        QStringList before;
        for (const SettingKey &k : settingKeys())
            if (k.control)
                before << shown(k);
        click("cmdOK");
        EXPECT_TRUE(prompter.messages.isEmpty());
        int i = 0;
        for (const SettingKey &k : settingKeys()) {
            if (k.control) {
                EXPECT_EQ(ReadIni(QString::fromUtf8(k.section), QLatin1String(k.key), "missing", ini()), before[i++])
                    << k.key;
            }
        }
    }
}

TEST_F(OptionsWindowTest, OkGivesTheSearchPatternOfTheTickedTypes)
{
    const std::pair<const char *, const char *> ticksAndPattern[] = { { "0000000", "" }, { "0010001", "*.wav;*.wma" } };
    for (const auto &[ticks, expected] : ticksAndPattern) {
        open();
        for (int i = 0; i < 7; ++i)
            box(QStringLiteral("Check(%1)").arg(i))->setChecked(ticks[i] == '1');
        click("cmdOK");
        EXPECT_EQ(pattern, QString::fromLatin1(expected));
    }
}

TEST_F(OptionsWindowTest, ChangesActAtOnceAndCancelUndoesThem)
{
    open();
    box("Check1")->setChecked(false); // the spectrum switch, read by the position timer
    EXPECT_EQ(live.Op_01, 0);
    click("cmdCancel");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(live.Op_01, 1) << "Cancel reads the record again from the file";
    EXPECT_FALSE(QFile::exists(ini()));
}

TEST_F(OptionsWindowTest, FailedSaveShowsTheMessageAndClosesAllTheSame)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("kestrine.ini")); // no file can be written there
    open();
    box("Check3")->setChecked(true);
    click("cmdOK");
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("設定の保存に失敗しました") });
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(live.Op_03, 0);
}

TEST_F(OptionsWindowTest, CurrentFolderButton)
{
    const struct {
        const char *folder; // nullptr: the hook is not wired
        const char *shown;
    } cases[] = { { "/home/me/曲", "/home/me/曲/" }, { "/mnt/usb/", "/mnt/usb/" }, { nullptr, "/kept/" } };
    for (const auto &c : cases) {
        folder = c.folder ? std::function<QString()>([&] { return QString::fromUtf8(c.folder); }) : nullptr;
        open();
        edit("Def_OP_Path")->setText("/kept/");
        click("Cmd_OP_Path");
        EXPECT_EQ(edit("Def_OP_Path")->text(), QString::fromUtf8(c.shown));
        EXPECT_EQ(live.Op_17, QString::fromUtf8(c.shown));
    }
}

TEST_F(OptionsWindowTest, SwitchOffTheDecoderHearsNothingUntilTicked)
{
    open();
    click("Opt_eq(2)");
    slider(0)->setValue(-5);
    click("Cmd_save");
    EXPECT_EQ(fake().equalizerCalls, 0);
    EXPECT_EQ(bands(), (Bands { 5, -20, -20, 10, 30, 40, 20, 30, 10, 10 }));
    box("Eq_true")->setChecked(true);
    EXPECT_EQ(fake().equalizerCalls, 1);
    EXPECT_EQ(fake().equalizer, bands());
    box("Eq_true")->setChecked(false);
    EXPECT_EQ(fake().equalizerCalls, 2);
    EXPECT_TRUE(fake().equalizer.empty()) << "unticking sends NULL";
    click("cmdOK");
    EXPECT_GE(fake().equalizerCalls, 3);
    EXPECT_TRUE(fake().equalizer.empty()) << "OK with the box unticked sends NULL again";

    open(); // the switch ticked but not saved is switched off by Cancel
    box("Eq_true")->setChecked(true);
    EXPECT_FALSE(fake().equalizer.empty());
    click("cmdCancel");
    EXPECT_EQ(live.EqOn, 0);
    EXPECT_TRUE(fake().equalizer.empty());
}

TEST_F(OptionsWindowTest, PresetsWithTheSwitchOn)
{
    writeBytes(ini(), "[EQSETUP]\nset-onoff=1\nset-no=0\ncustom-4=10\n");
    open();
    EXPECT_EQ(fake().equalizer, (Bands { 0, 0, 0, 0, 10, 0, 0, 0, 0, 0 })) << "the load applies the preset";

    // Picking a preset shows its pick curve and the decoder hears it.
    click("Opt_eq(2)");
    EXPECT_EQ(positions(), (Bands { 20, 20, 20, -10, -30, -40, -20, -30, -10, -10 }));
    EXPECT_EQ(fake().equalizer, bands());
    // OK and the next window: the load curve.
    click("cmdOK");
    open();
    EXPECT_EQ(positions(), (Bands { 0, 0, 0, 0, -20, -40, -60, -40, -20, 0 }));
    EXPECT_TRUE(preset(2)->isChecked());
    EXPECT_EQ(fake().equalizer, bands());

    // "Custom" right after "Bass" keeps every band at -30.
    click("Opt_eq(5)");
    const int calls = fake().equalizerCalls;
    click("Opt_eq(0)");
    EXPECT_EQ(bands(), Bands(10, -30));
    EXPECT_EQ(fake().equalizerCalls, calls) << "Custom moves nothing";

    // Cancel after moving sliders restores the saved curve, and the decoder hears it.
    slider(3)->setValue(50);
    EXPECT_EQ(fake().equalizer[3], -50);
    click("cmdCancel");
    EXPECT_EQ(live.EqPreset, 2);
    EXPECT_EQ(bands(), (Bands { 0, 0, 0, 0, 20, 40, 60, 40, 20, 0 }));
    EXPECT_EQ(fake().equalizer, bands());
}
