// The options window: what it shows, what OK and Cancel leave in the file, the record and the decoder.
#include "eqpresets.h"
#include "fakedecoder.h"
#include "optionswindow.h"
#include "scriptedprompter.h"
#include "settingsrun.h"
#include "settingssaver.h"
#include "testfiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>

#include <atomic>
#include <cmath>
#include <thread>

using namespace kes;

namespace
{

using Bands = std::vector<int32_t>;

class OptionsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override { fake().reset(); }
    static FakeDecoder &fake() { return FakeDecoder::instance(); }
    // A new window over the file, as "設定" makes one.
    void open()
    {
        window = std::make_unique<OptionsWindow>(
            live, OptionsWindow::Context { api, &prompter, ini(), folder, [this](const QString &p) { pattern = p; } });
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
            return QString::number(-slider(k.index)->value());
        QObject *w = child<QObject>(QString::fromUtf8(k.control));
        if (auto *box = qobject_cast<QCheckBox *>(w))
            return QString::number(box->isChecked());
        if (auto *combo = qobject_cast<QComboBox *>(w))
            return k.kind == SettingKey::Kind::Keyed ? combo->currentData().toString()
                                                     : QString::number(combo->currentIndex());
        if (auto *spin = qobject_cast<QDoubleSpinBox *>(w))
            return QString::number(std::lround(spin->value() * 10));
        return qobject_cast<QLineEdit *>(w)->text();
    }

    DecoderApi api = FakeDecoder::api();
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    Settings live;
    std::function<QString()> folder;
    QString pattern = QStringLiteral("unset");
    std::unique_ptr<OptionsWindow> window;
};

} // namespace

// Each round-trip file as shown (refused values as defaults, a bad preset as Flat); OK saves what a load and save
// write.
TEST_F(OptionsWindowTest, ShowsWhatWasLoadedAndOkSavesThat)
{
    const std::tuple<const char *, int, const char *> cases[] = { // file, preset shown, search pattern
        { "empty.ini", 0, "*.mp3;*.rmp;*.flac;*.ogg;*.oga;*.opus;*.m4a;*.wv;*.ape" },
        { "full-bom-crlf.ini", 3, "*.wav;*.m3u;*.mpg;*.avi;*.wma" }, { "not-numbers.ini", 0, "*.mp3;*.rmp" },
        { "edges.ini", 1, "" }
    };
    for (const auto &[file, preset, searchPattern] : cases) {
        SCOPED_TRACE(file);
        const QByteArray bytes = readBytes(QStringLiteral(KESTRINE_SOURCE_DIR "/tests/settings/roundtrip/") + file);
        writeBytes(ini(), bytes);
        Settings loaded;
        LoadSettings(loaded, ini());
        ApplyEqPreset(loaded, FakeDecoder::api());
        ASSERT_TRUE(SaveSettings(loaded, ini()));
        const QByteArray saved = readBytes(ini());
        writeBytes(ini(), bytes);
        fake().reset();
        open();
        EXPECT_EQ(presetShown(), preset);
        EXPECT_EQ(fake().equalizer, live.EqOn ? bands() : Bands {});
        QStringList before, after;
        for (const SettingKey &k : settingKeys())
            if (k.control)
                before << shown(k);
        click("cmdOK");
        EXPECT_EQ(pattern, QString::fromLatin1(searchPattern));
        EXPECT_EQ(readBytes(ini()), saved);
        // A key written only when changed stays out of a file that never held it.
        for (const SettingKey &k : settingKeys())
            if (k.control)
                after << ReadIni(QString::fromUtf8(k.section), k.key,
                    k.saved != SettingKey::Saved::WhenChanged ? QStringLiteral("missing")
                        : k.text                              ? QString::fromUtf8(k.textDefault)
                                                              : QString::number(k.numberDefault),
                    ini());
        EXPECT_EQ(after, before);
    }
}

// On each page no two controls overlap (beyond the classic check boxes' 2 pixels), and each lies inside its page.
TEST_F(OptionsWindowTest, NoControlsOverlapOnAPage)
{
    open();
    const auto pages = window->findChild<QWidget *>(QStringLiteral("SSTab1"))->findChildren<QWidget *>();
    int checked = 0;
    for (const QWidget *page : pages) {
        QList<const QWidget *> controls;
        for (const QObject *o : page->children())
            if (qobject_cast<const QAbstractButton *>(o) || qobject_cast<const QLineEdit *>(o)
                || qobject_cast<const QComboBox *>(o) || qobject_cast<const QGroupBox *>(o)
                || qobject_cast<const QAbstractSlider *>(o))
                controls << static_cast<const QWidget *>(o);
        if (controls.size() < 2)
            continue;
        ++checked;
        for (qsizetype i = 0; i < controls.size(); ++i) {
            EXPECT_TRUE(page->rect().contains(controls[i]->geometry())) << controls[i]->objectName().toStdString();
            for (qsizetype j = i + 1; j < controls.size(); ++j) {
                const QRect both = controls[i]->geometry() & controls[j]->geometry();
                EXPECT_TRUE(both.isEmpty() || std::min(both.width(), both.height()) <= 2)
                    << controls[i]->objectName().toStdString() << " and " << controls[j]->objectName().toStdString();
            }
        }
    }
    EXPECT_GE(checked, 4); // the four pages
}

// The current folder button; OK when no file can be written says so and closes all the same.
TEST_F(OptionsWindowTest, CurrentFolderButtonAndAFailedSave)
{
    const std::pair<const char *, QString> cases[] = { // the current folder (nullptr: no hook), shown
        { "/home/me/曲", "/home/me/曲/" }, { "/mnt/usb/", "/mnt/usb/" }, { nullptr, "/kept/" }
    };
    for (const auto &[current, shown] : cases) {
        folder = current ? std::function<QString()>([&] { return QString::fromUtf8(current); }) : nullptr;
        open();
        child<QLineEdit>("Def_OP_Path")->setText("/kept/");
        click("Cmd_OP_Path");
        EXPECT_EQ(QStringList({ child<QLineEdit>("Def_OP_Path")->text(), live.Op_17 }), QStringList({ shown, shown }));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("kestrine.ini"));
    child<QCheckBox>("Check3")->setChecked(true);
    click("cmdOK");
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("設定の保存に失敗しました") });
    EXPECT_TRUE(!window->isVisible() && live.Op_03 == 0);
    // A value the file's code page cannot hold is named, and the rest is saved.
    ASSERT_TRUE(QDir(dir.path()).rmdir("kestrine.ini"));
    QFile cp932(ini());
    ASSERT_TRUE(cp932.open(QIODevice::WriteOnly) && cp932.write("[\x82\xb5\x82\xb7\x82\xc4\x82\xde]\r\n") > 0);
    cp932.close();
    prompter.messages.clear();
    open();
    child<QLineEdit>("Def_OP_Path")->setText("/mnt/Café/");
    child<QCheckBox>("Check3")->setChecked(true);
    click("cmdOK");
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("設定の保存に失敗しました\nOp_17 = /mnt/Café/") });
    EXPECT_TRUE(live.Op_03 == 1 && live.Op_17 != "/mnt/Café/");
    // A large file is not waited for: OK returns, and the failure is told once written.
    QByteArray large = readBytes(ini());
    while (large.size() < 2 * SettingsSaver::SmallFileBytes)
        large += "k=" + QByteArray(998, 'v') + "\r\n";
    writeBytes(ini(), large);
    prompter.messages.clear();
    open();
    child<QLineEdit>("Def_OP_Path")->setText("/mnt/Café/");
    click("cmdOK");
    EXPECT_TRUE(prompter.messages.isEmpty() && !window->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !prompter.messages.isEmpty(); }, 5000));
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("設定の保存に失敗しました\nOp_17 = /mnt/Café/") });
}

// Devices listed off the GUI thread, a chosen one missing from the list by its id; only a changed OK keeps and hands
// over.
TEST_F(OptionsWindowTest, OutputDeviceListedOffTheGuiThreadAndKept)
{
    const QString usb = QStringLiteral("alsa:hw:CARD=X,DEV=0");
    fake().deviceList = "pulse:a\tSpeakers\n" + usb.toStdString() + "\tUSB DAC\n";
    fake().deviceListMs = 1000;
    const auto items = [this] {
        auto *combo = child<QComboBox>(QStringLiteral("cmbOutputDevice"));
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
        return std::pair(texts, combo->currentText());
    };
    const auto openListed = [&] {
        const auto start = std::chrono::steady_clock::now();
        open();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700))
            << "the list held the window";
        QSignalSpy listed(window.get(), &OptionsWindow::devicesListed);
        ASSERT_TRUE(listed.wait(3000));
    };
    const QStringList all { QStringLiteral("default"), QStringLiteral("Speakers"), QStringLiteral("USB DAC") };

    openListed();
    EXPECT_EQ(items(), std::pair(all, QStringLiteral("default")));
    child<QComboBox>(QStringLiteral("cmbOutputDevice"))->setCurrentIndex(2);
    click("cmdCancel");
    EXPECT_EQ(ReadIni(QStringLiteral("その他設定"), QStringLiteral("OutputDevice"), "missing", ini()), "missing");
    EXPECT_EQ(fake().chosenDevice, "");

    openListed();
    child<QComboBox>(QStringLiteral("cmbOutputDevice"))->setCurrentIndex(2);
    click("cmdOK");
    EXPECT_EQ(ReadIni(QStringLiteral("その他設定"), QStringLiteral("OutputDevice"), "missing", ini()), usb);
    EXPECT_EQ(fake().chosenDevice, usb.toStdString());

    openListed();
    EXPECT_EQ(items(), std::pair(all, QStringLiteral("USB DAC")));
    fake().deviceList = "pulse:a\tSpeakers\n";
    fake().chosenDevice = "untouched";
    openListed();
    EXPECT_EQ(items(), std::pair(QStringList { QStringLiteral("default"), QStringLiteral("Speakers"), usb }, usb));
    click("cmdOK");
    EXPECT_EQ(fake().chosenDevice, "untouched");

    openListed();
    child<QComboBox>(QStringLiteral("cmbOutputDevice"))->setCurrentIndex(0);
    click("cmdOK");
    EXPECT_EQ(ReadIni(QStringLiteral("その他設定"), QStringLiteral("OutputDevice"), "missing", ini()), "");
    EXPECT_EQ(fake().chosenDevice, "");
}

// The end of the run waits for a device list underway, whose answer goes nowhere once the window has gone.
TEST_F(OptionsWindowTest, TheEndOfTheRunWaitsForADeviceList)
{
    static std::atomic<int> s_list { 0 }; // 1 asked, 2 answered
    api.getOutputDevices = [](char *, int32_t) {
        s_list = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s_list = 2;
        return int32_t(0);
    };
    {
        SettingsRun run;
        open();
        ASSERT_TRUE(QTest::qWaitFor([] { return s_list != 0; }, 2000));
        window.reset();
    }
    EXPECT_EQ(s_list, 2);
}

// ReplayGain off by default; Cancel leaves file and library alone, OK keeps and hands over, the next window shows it.
TEST_F(OptionsWindowTest, ReplayGainKeptAndHandedOver)
{
    const auto show = [this](int mode, double preamp, bool clip) {
        auto *combo = child<QComboBox>(QStringLiteral("cmbReplayGain"));
        EXPECT_EQ(QStringList({ combo->itemText(0), combo->itemText(1), combo->itemText(2) }),
            QStringList({ QStringLiteral("オフ"), QStringLiteral("トラック"), QStringLiteral("アルバム") }));
        EXPECT_EQ(std::tuple(combo->currentIndex(), child<QDoubleSpinBox>(QStringLiteral("spnPreamp"))->value(),
                      child<QCheckBox>(QStringLiteral("chkPreventClip"))->isChecked()),
            std::tuple(mode, preamp, clip));
    };
    const auto choose = [this] {
        child<QComboBox>(QStringLiteral("cmbReplayGain"))->setCurrentIndex(2);
        child<QDoubleSpinBox>(QStringLiteral("spnPreamp"))->setValue(-2.5);
        child<QCheckBox>(QStringLiteral("chkPreventClip"))->setChecked(false);
    };
    open();
    show(0, 0.0, true);
    choose();
    click("cmdCancel");
    EXPECT_EQ(ReadIni(QStringLiteral("その他設定"), QStringLiteral("ReplayGainMode"), "missing", ini()), "missing");
    EXPECT_FALSE(fake().replayGain);
    open();
    choose();
    click("cmdOK");
    EXPECT_EQ(ReadIni(QStringLiteral("その他設定"), QStringLiteral("ReplayGainPreamp"), "missing", ini()), "-25");
    ASSERT_TRUE(fake().replayGain);
    EXPECT_EQ(std::tuple(fake().replayGain->mode, fake().replayGain->preamp, fake().replayGain->preventClipping),
        std::tuple(2, -25, 0));
    open();
    show(2, -2.5, false);
}

// Changes act at once; closing reads the record and its equalizer again; the switch off sends nothing.
TEST_F(OptionsWindowTest, EqualizerOkAndCancel)
{
    open();
    child<QCheckBox>("Check1")->setChecked(false); // the spectrum switch, read by the position timer
    child<QCheckBox>("Eq_true")->setChecked(true);
    EXPECT_FALSE(live.Op_01 || fake().equalizer.empty());
    click("cmdCancel");
    EXPECT_FALSE(window->isVisible() || QFile::exists(ini()));
    EXPECT_TRUE(live.Op_01 == 1 && live.EqOn == 0);
    EXPECT_TRUE(fake().equalizer.empty()) << "the switch ticked but not saved is switched off";

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
    EXPECT_TRUE(fake().equalizerCalls == 2 && fake().equalizer.empty()) << "unticking sends NULL";
    child<QCheckBox>("Eq_true")->setChecked(true);
    child<QLineEdit>("txt_Pr_Font1")->setText("07"); // print boxes are saved as typed
    child<QLineEdit>("txt_Pr_Gyo")->clear();
    click("cmdOK");
    EXPECT_TRUE(readBytes(ini()).contains("\nFONT1=07\n") && readBytes(ini()).contains("\nGyo=\n"));
    EXPECT_TRUE(live.FONT1 == 7 && live.Gyo == 78);

    open(); // the load curve of the preset saved
    EXPECT_EQ(presetShown(), 2);
    EXPECT_EQ(fake().equalizer, bands());
    click("Opt_eq(5)"); // "Custom" right after "Bass" keeps every band at -30
    const int calls = fake().equalizerCalls;
    click("Opt_eq(0)");
    EXPECT_EQ(bands(), Bands(10, -30));
    EXPECT_EQ(fake().equalizerCalls, calls) << "Custom moves nothing";
    slider(3)->setValue(50);
    EXPECT_EQ(fake().equalizer[3], -50);
    click("cmdCancel"); // restores the saved curve, and the decoder hears it
    EXPECT_EQ(live.EqPreset, 2);
    EXPECT_EQ(bands(), (Bands { 0, 0, 0, 0, 20, 40, 60, 40, 20, 0 }));
    EXPECT_EQ(fake().equalizer, bands());
}
