// The options window against the scripted decoder: what it shows, what OK and Cancel
// leave in the file, in the record and in the decoder.
#include "fakedecoder.h"
#include "optionswindow.h"
#include "scriptedprompter.h"
#include "testfiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>

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
    template <typename W = QAbstractButton> W *child(const QString &name) const
    {
        W *w = window->findChild<W *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void click(const QString &name) const { child(name)->click(); }
    QScrollBar *slider(int i) const { return child<QScrollBar>(QStringLiteral("VScroll1(%1)").arg(i)); }
    Bands positions() const
    {
        Bands p(10);
        for (int i = 0; i < 10; ++i)
            p[i] = slider(i)->value();
        return p;
    }
    Bands bands() const { return Bands(live.EqBands.begin(), live.EqBands.end()); }
    int presetShown() const
    {
        for (int i = 0; i < 6; ++i)
            if (child(QStringLiteral("Opt_eq(%1)").arg(i))->isChecked())
                return i;
        return -1;
    }
    // What the control of a key shows, as the text the save would write for it.
    QString shown(const SettingKey &k) const
    {
        if (k.kind == SettingKey::Kind::Option)
            return QString::number(presetShown());
        if (k.kind == SettingKey::Kind::Band)
            return QString::number(-slider(k.band)->value());
        QObject *w = child<QObject>(QString::fromUtf8(k.control));
        if (auto *box = qobject_cast<QCheckBox *>(w))
            return QString::number(box->isChecked());
        if (auto *combo = qobject_cast<QComboBox *>(w))
            return QString::number(combo->currentIndex());
        return qobject_cast<QLineEdit *>(w)->text();
    }

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    Settings live;
    std::function<QString()> folder;
    QString pattern = QStringLiteral("unset");
    std::unique_ptr<OptionsWindow> window;
};

} // namespace

// The window shows the record as loaded (values out of range or no numbers as their
// defaults), the decoder hears its equalizer, and OK saves exactly what is shown and
// gives the search pattern of the ticked types.
TEST_F(OptionsWindowTest, ShowsWhatWasLoadedAndOkSavesThat)
{
    const struct {
        const char *name;
        QByteArray file;
        Bands positions;
        int preset;
        const char *pattern;
        QByteArrayList saved; // lines of the file after OK
    } cases[] = {
        { "no file", {}, Bands(10, 0), 0, "*.mp3;*.rmp", {} },
        { "every field changed",
            "[検索設定]\nMP3=0\nWMA=1\n[印刷設定]\nFONT1=07\nFont_Color1=-1\nFont_Color2=6\n"
            "[その他設定]\nOp_kasi=0\nOp_01=0\nOp_14=/m/def.m3u\nOp_07=1\nOp_17=/m/\nOp_09=1\n"
            "[EQSETUP]\ncustom-0=-60\ncustom-9=60\nset-no=0\nset-onoff=1\n",
            { 60, 0, 0, 0, 0, 0, 0, 0, 0, -60 }, 0, "*.rmp;*.wma", {} },
        { "values refused",
            "[検索設定]\nMP3=0\nRMP=0\n[印刷設定]\nFONT1=abc\nFont_Color1=7\nFont_Color2=-1\n"
            "[EQSETUP]\ncustom-5=61\ncustom-6=-60\n",
            { 0, 0, 0, 0, 0, 0, 60, 0, 0, 0 }, 0, "", { "FONT1=6", "Font_Color1=0", "Font_Color2=-1", "custom-5=0" } },
        { "preset out of range: Flat", "[EQSETUP]\ncustom-2=30\nset-no=9\nset-onoff=1\n", Bands(10, 0), 1,
            "*.mp3;*.rmp", { "custom-2=0", "set-no=1" } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake().reset();
        QFile::remove(ini());
        if (!c.file.isNull())
            writeBytes(ini(), c.file);
        open();
        EXPECT_EQ(positions(), c.positions);
        EXPECT_EQ(presetShown(), c.preset);
        EXPECT_EQ(fake().equalizer, live.EqOn ? bands() : Bands {});
        QStringList before, after;
        for (const SettingKey &k : settingKeys())
            if (k.control)
                before << shown(k);
        click("cmdOK");
        EXPECT_TRUE(prompter.messages.isEmpty());
        EXPECT_EQ(pattern, QString::fromLatin1(c.pattern));
        for (const SettingKey &k : settingKeys())
            if (k.control)
                after << ReadIni(QString::fromUtf8(k.section), k.key, "missing", ini());
        EXPECT_EQ(after, before);
        for (const QByteArray &line : c.saved)
            EXPECT_TRUE(readBytes(ini()).contains("\n" + line + "\n")) << line.constData();
    }
}

TEST_F(OptionsWindowTest, FailedSaveShowsTheMessageAndClosesAllTheSame)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("kestrine.ini")); // no file can be written there
    open();
    child<QCheckBox>("Check3")->setChecked(true);
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
        child<QLineEdit>("Def_OP_Path")->setText("/kept/");
        click("Cmd_OP_Path");
        EXPECT_EQ(child<QLineEdit>("Def_OP_Path")->text(), QString::fromUtf8(c.shown));
        EXPECT_EQ(live.Op_17, QString::fromUtf8(c.shown));
    }
}

TEST_F(OptionsWindowTest, SwitchOffTheDecoderHearsNothingUntilTicked)
{
    open(); // changes act at once; Cancel reads the record again from the file
    child<QCheckBox>("Check1")->setChecked(false); // the spectrum switch, read by the position timer
    child<QCheckBox>("Eq_true")->setChecked(true);
    EXPECT_EQ(live.Op_01, 0);
    EXPECT_FALSE(fake().equalizer.empty());
    click("cmdCancel");
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(live.Op_01 == 1 && live.EqOn == 0);
    EXPECT_TRUE(fake().equalizer.empty()) << "the switch ticked but not saved is switched off";
    EXPECT_FALSE(QFile::exists(ini()));

    open();
    fake().reset();
    click("Opt_eq(2)");
    slider(0)->setValue(-5);
    click("Cmd_save");
    EXPECT_EQ(fake().equalizerCalls, 0);
    EXPECT_EQ(bands(), (Bands { 5, -20, -20, 10, 30, 40, 20, 30, 10, 10 }));
    child<QCheckBox>("Eq_true")->setChecked(true);
    EXPECT_EQ(fake().equalizer, bands());
    child<QCheckBox>("Eq_true")->setChecked(false);
    EXPECT_EQ(fake().equalizerCalls, 2);
    EXPECT_TRUE(fake().equalizer.empty()) << "unticking sends NULL";
    click("cmdOK");
    EXPECT_GE(fake().equalizerCalls, 3);
    EXPECT_TRUE(fake().equalizer.empty()) << "OK with the box unticked sends NULL again";
}

TEST_F(OptionsWindowTest, PresetsWithTheSwitchOn)
{
    writeBytes(ini(), "[EQSETUP]\nset-onoff=1\n");
    open();
    // Picking a preset shows its pick curve and the decoder hears it; OK, and the next
    // window holds its load curve.
    click("Opt_eq(2)");
    EXPECT_EQ(positions(), (Bands { 20, 20, 20, -10, -30, -40, -20, -30, -10, -10 }));
    EXPECT_EQ(fake().equalizer, bands());
    click("cmdOK");
    open();
    EXPECT_EQ(presetShown(), 2);
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
