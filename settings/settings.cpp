#include "settings.h"

#include "inifile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <limits>
#include <utility>
#include <vector>

namespace kes
{

namespace
{

const QString SystemSection = QStringLiteral("システム");
const QString SearchSection = QStringLiteral("検索設定");
const QString PrintSection = QStringLiteral("印刷設定");
const QString OtherSection = QStringLiteral("その他設定");
const QString EqSection = QStringLiteral("EQSETUP");

// Integer keys read from one loaded document; a text that is not a decimal number in
// [low, high] gives the default.
class Reader
{
public:
    explicit Reader(const IniFile &ini)
        : m_ini(ini)
    {
    }

    QString text(const QString &section, const char *key, const QString &defaultValue) const
    {
        return m_ini.value(section, QLatin1String(key), defaultValue);
    }

    qint64 number(const QString &section, const char *key, qint64 defaultValue, qint64 low, qint64 high) const
    {
        const std::optional<QString> raw = m_ini.value(section, QLatin1String(key));
        if (!raw)
            return defaultValue;
        bool ok = false;
        const qint64 n = raw->toLongLong(&ok, 10);
        return ok && n >= low && n <= high ? n : defaultValue;
    }

    int16_t int16(const QString &section, const char *key, int16_t defaultValue) const
    {
        return static_cast<int16_t>(number(
            section, key, defaultValue, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
    }

    int16_t flag(const QString &section, const char *key, int16_t defaultValue) const
    {
        return static_cast<int16_t>(number(section, key, defaultValue, 0, 1));
    }

    int32_t int32(const QString &section, const char *key, int32_t defaultValue) const
    {
        return static_cast<int32_t>(number(
            section, key, defaultValue, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    }

private:
    const IniFile &m_ini;
};

struct Entry {
    QString section;
    QString key;
    QString value;
};

QString typedText(const QString &text, int16_t number)
{
    return text.isNull() ? QString::number(number) : text;
}

// Every key in the order of the save; the lyrics key is written "Op_kasi".
std::vector<Entry> entriesOf(const Settings &s)
{
    const auto n = [](qint64 v) { return QString::number(v); };
    std::vector<Entry> e = {
        { SystemSection, QStringLiteral("USER"), QString() },
        { SystemSection, QStringLiteral("PASSWORD"), QString() },
        { SearchSection, QStringLiteral("MP3"), n(s.MP3) },
        { SearchSection, QStringLiteral("RMP"), n(s.RMP) },
        { SearchSection, QStringLiteral("WAV"), n(s.WAV) },
        { SearchSection, QStringLiteral("M3U"), n(s.M3U) },
        { SearchSection, QStringLiteral("MPG"), n(s.MPG) },
        { SearchSection, QStringLiteral("AVI"), n(s.AVI) },
        { SearchSection, QStringLiteral("WMA"), n(s.WMA) },
        { PrintSection, QStringLiteral("FONT1"), typedText(s.printText.FONT1, s.FONT1) },
        { PrintSection, QStringLiteral("FONT2"), typedText(s.printText.FONT2, s.FONT2) },
        { PrintSection, QStringLiteral("TAB_SP1"), typedText(s.printText.TAB_SP1, s.TAB_SP1) },
        { PrintSection, QStringLiteral("TAB_SP2"), typedText(s.printText.TAB_SP2, s.TAB_SP2) },
        { PrintSection, QStringLiteral("TAB_SP3"), typedText(s.printText.TAB_SP3, s.TAB_SP3) },
        { PrintSection, QStringLiteral("Font_Color1"), n(s.Font_Color1) },
        { PrintSection, QStringLiteral("Font_Color2"), n(s.Font_Color2) },
        { PrintSection, QStringLiteral("Gyo"), typedText(s.printText.Gyo, s.Gyo) },
        { PrintSection, QStringLiteral("Gyo_St"), typedText(s.printText.Gyo_St, s.Gyo_St) },
        { OtherSection, QStringLiteral("Op_kasi"), n(s.Op_Kasi) },
        { OtherSection, QStringLiteral("Op_01"), n(s.Op_01) },
        { OtherSection, QStringLiteral("Op_03"), n(s.Op_03) },
        { OtherSection, QStringLiteral("Op_04"), n(s.Op_04) },
        { OtherSection, QStringLiteral("Op_14"), s.Op_14 },
        { OtherSection, QStringLiteral("Op_06"), n(s.Op_06) },
        { OtherSection, QStringLiteral("Op_07"), n(s.Op_07) },
        { OtherSection, QStringLiteral("Op_17"), s.Op_17 },
        { OtherSection, QStringLiteral("Op_09"), n(s.Op_09) },
    };
    for (int i = 0; i < 10; ++i)
        e.push_back({ EqSection, QStringLiteral("custom-%1").arg(i), n(s.EqBands[i]) });
    e.push_back({ EqSection, QStringLiteral("set-no"), n(s.EqPreset) });
    e.push_back({ EqSection, QStringLiteral("set-onoff"), n(s.EqOn) });
    return e;
}

} // namespace

QString chooseProgramFolder(const QString &overrideDir, const QString &appDir, const QString &configHome)
{
    if (!overrideDir.isEmpty())
        return QDir(overrideDir).absolutePath();
    if (!appDir.isEmpty()) {
        const QFileInfo info(appDir);
        if (info.isDir() && info.isWritable())
            return info.absoluteFilePath();
    }
    return QDir(configHome).filePath(QStringLiteral("kestrine"));
}

QString programFolder()
{
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return chooseProgramFolder(qEnvironmentVariable("KESTRINE_CONFIG_DIR"), appDir,
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

QString kestrineIniPath()
{
    return QDir(programFolder()).filePath(QStringLiteral("kestrine.ini"));
}

QString ReadIni(const QString &section, const QString &key, const QString &defaultValue, const QString &path)
{
    IniFile ini;
    if (!ini.load(path))
        return defaultValue;
    return ini.value(section, key, defaultValue);
}

bool WriteIni(const QString &section, const QString &key, const QString &value, const QString &path)
{
    IniFile ini;
    if (!ini.load(path) || !ini.setValue(section, key, value) || !ini.save(path))
        return false;
    return ReadIni(section, key, QString(), path) == value;
}

void LoadSettings(Settings &s, const QString &iniPath)
{
    IniFile ini;
    ini.load(iniPath); // an unreadable file reads as an empty one: every key its default
    const Reader r(ini);
    const Settings d;

    s.USER = r.text(SystemSection, "USER", d.USER);
    s.PASSWORD = r.text(SystemSection, "PASSWORD", d.PASSWORD);
    s.MP3 = r.flag(SearchSection, "MP3", d.MP3);
    s.RMP = r.flag(SearchSection, "RMP", d.RMP);
    s.WAV = r.flag(SearchSection, "WAV", d.WAV);
    s.M3U = r.flag(SearchSection, "M3U", d.M3U);
    s.MPG = r.flag(SearchSection, "MPG", d.MPG);
    s.AVI = r.flag(SearchSection, "AVI", d.AVI);
    s.WMA = r.flag(SearchSection, "WMA", d.WMA);
    s.FONT1 = r.int16(PrintSection, "FONT1", d.FONT1);
    s.FONT2 = r.int16(PrintSection, "FONT2", d.FONT2);
    s.TAB_SP1 = r.int16(PrintSection, "TAB_SP1", d.TAB_SP1);
    s.TAB_SP2 = r.int16(PrintSection, "TAB_SP2", d.TAB_SP2);
    s.Font_Color1 = r.int16(PrintSection, "Font_Color1", d.Font_Color1);
    s.Font_Color2 = r.int16(PrintSection, "Font_Color2", d.Font_Color2);
    r.int16(PrintSection, "Check10", 0); // read and dropped: nothing uses it
    s.TAB_SP3 = r.int16(PrintSection, "TAB_SP3", d.TAB_SP3);
    s.Gyo = r.int16(PrintSection, "Gyo", d.Gyo);
    s.Gyo_St = r.int16(PrintSection, "Gyo_St", d.Gyo_St);
    s.Op_Kasi = r.flag(OtherSection, "Op_Kasi", d.Op_Kasi);
    s.Op_01 = r.flag(OtherSection, "Op_01", d.Op_01);
    s.Op_03 = r.flag(OtherSection, "Op_03", d.Op_03);
    s.Op_04 = r.flag(OtherSection, "Op_04", d.Op_04);
    s.Op_14 = r.text(OtherSection, "Op_14", d.Op_14);
    s.Op_06 = r.flag(OtherSection, "Op_06", d.Op_06);
    s.Op_07 = r.flag(OtherSection, "Op_07", d.Op_07);
    s.Op_17 = r.text(OtherSection, "Op_17", d.Op_17);
    s.Op_09 = r.flag(OtherSection, "Op_09", d.Op_09);
    for (int i = 0; i < 10; ++i)
        s.EqBands[i] = r.int32(EqSection, QStringLiteral("custom-%1").arg(i).toLatin1().constData(), 0);
    s.EqPreset = r.int16(EqSection, "set-no", d.EqPreset);
    s.EqOn = r.flag(EqSection, "set-onoff", d.EqOn);

    s.printText = { QString::number(s.FONT1), QString::number(s.FONT2), QString::number(s.TAB_SP1),
        QString::number(s.TAB_SP2), QString::number(s.TAB_SP3), QString::number(s.Gyo), QString::number(s.Gyo_St) };
}

bool SaveSettings(const Settings &s, const QString &iniPath)
{
    IniFile ini;
    // A file that exists but cannot be read is not replaced by one holding only our keys.
    if (!ini.load(iniPath))
        return false;
    const std::vector<Entry> entries = entriesOf(s);
    bool result = true;
    for (const Entry &e : entries) {
        if (!ini.setValue(e.section, e.key, e.value))
            result = false;
    }
    if (!ini.save(iniPath))
        return false;

    // The read-back of every key decides, as the file now stands on disk.
    IniFile saved;
    if (!saved.load(iniPath))
        return false;
    for (const Entry &e : entries) {
        if (saved.value(e.section, e.key) != std::optional<QString>(e.value))
            result = false;
    }
    return result;
}

QString BuildSearchPattern(const Settings &s)
{
    const std::pair<int16_t, const char *> types[] = { { s.MP3, "mp3" }, { s.RMP, "rmp" }, { s.WAV, "wav" },
        { s.M3U, "m3u" }, { s.MPG, "mpg" }, { s.AVI, "avi" }, { s.WMA, "wma" } };
    QStringList parts;
    for (const auto &[flag, ext] : types)
        if (flag == 1)
            parts << QStringLiteral("*.") + QLatin1String(ext);
    return parts.join(QLatin1Char(';'));
}

} // namespace kes
