#include "settings.h"

#include "inifile.h"
#include "pathbytes.h"
#include "settingsrun.h"
#include "settingssaver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

namespace kes
{

namespace
{

using Kind = SettingKey::Kind;
using Saved = SettingKey::Saved;
using S = Settings;
using P = Settings::PrintText;

constexpr const char *System = "システム";
constexpr const char *Search = "検索設定";
constexpr const char *Print = "印刷設定";
constexpr const char *Other = "その他設定";
constexpr const char *Eq = "EQSETUP";
constexpr int32_t Int16Min = std::numeric_limits<int16_t>::min();
constexpr int32_t Int16Max = std::numeric_limits<int16_t>::max();

constexpr SettingKey account(const char *section, const char *key, QString S::*field, const char *dflt)
{
    return { .section = section, .key = key, .kind = Kind::Account, .text = field, .textDefault = dflt };
}
constexpr SettingKey text(const char *section, const char *key, QString S::*field, const char *control)
{
    return { .section = section, .key = key, .kind = Kind::Text, .text = field, .textDefault = "", .control = control };
}
constexpr SettingKey path(const char *section, const char *key, QString S::*field, const char *control)
{
    return { .section = section,
        .key = key,
        .kind = Kind::Text,
        .text = field,
        .textDefault = "",
        .control = control,
        .path = true };
}
constexpr SettingKey flag(const char *section, const char *key, int16_t S::*field, int16_t dflt, const char *control,
    Saved saved = Saved::Always)
{
    return { .section = section,
        .key = key,
        .kind = Kind::Flag,
        .number = field,
        .high = 1,
        .numberDefault = dflt,
        .control = control,
        .saved = saved };
}
constexpr SettingKey typed(const char *key, int16_t S::*field, QString P::*typed, int16_t dflt, const char *control)
{
    return { .section = Print,
        .key = key,
        .kind = Kind::Typed,
        .number = field,
        .typed = typed,
        .low = Int16Min,
        .high = Int16Max,
        .numberDefault = dflt,
        .control = control };
}
constexpr SettingKey choice(const char *key, int16_t S::*field, const char *control)
{
    return {
        .section = Print, .key = key, .kind = Kind::Choice, .number = field, .low = -1, .high = 6, .control = control
    };
}
constexpr SettingKey band(const char *key, int index)
{
    return {
        .section = Eq, .key = key, .kind = Kind::Band, .index = index, .low = -60, .high = 60, .control = "VScroll1"
    };
}
constexpr SettingKey option(const char *key, int16_t S::*field, const char *control)
{
    return { .section = Eq,
        .key = key,
        .kind = Kind::Option,
        .number = field,
        .low = Int16Min,
        .high = Int16Max,
        .control = control };
}
// The ReplayGain keys are written only once the user has chosen other than the file holds.
constexpr SettingKey tenths(const char *key, int16_t S::*field, const char *control)
{
    return { .section = Other,
        .key = key,
        .kind = Kind::Tenths,
        .number = field,
        .low = -150,
        .high = 150,
        .control = control,
        .saved = Saved::WhenChanged };
}

// The boxes of the added types follow the seven classic ones, Check(0) .. Check(6).
constexpr const char *AddedTypeBoxes[]
    = { "Check(7)", "Check(8)", "Check(9)", "Check(10)", "Check(11)", "Check(12)", "Check(13)", "Check(14)" };
static_assert(std::size(AddedTypeBoxes) >= kAddedTypeCount, "a box for each added type");

// The default 1 is that of a file without search types; LoadSettings decides the other.
constexpr SettingKey addedType(int index)
{
    return { .section = Search,
        .key = kMediaTypes[kFirstAddedType + index].searchKey,
        .kind = Kind::AddedType,
        .index = index,
        .high = 1,
        .numberDefault = 1,
        .control = AddedTypeBoxes[index] };
}

// Print's Check10 is read by the classic program and dropped, and never written: it has
// no entry here, and a save leaves it in the file as it stands.
// set-no takes any 16-bit number: ApplyEqPreset turns one outside 0..5 into Flat.
template <std::size_t... Added> constexpr auto makeKeys(std::index_sequence<Added...>)
{
    return std::array {
        account(System, "USER", &S::USER, "GUEST"),
        account(System, "PASSWORD", &S::PASSWORD, "TESORA"),
        flag(Search, "MP3", &S::MP3, 1, "Check(0)"),
        flag(Search, "RMP", &S::RMP, 1, "Check(1)"),
        flag(Search, "WAV", &S::WAV, 0, "Check(2)"),
        flag(Search, "M3U", &S::M3U, 0, "Check(3)"),
        flag(Search, "MPG", &S::MPG, 0, "Check(4)"),
        flag(Search, "AVI", &S::AVI, 0, "Check(5)"),
        flag(Search, "WMA", &S::WMA, 0, "Check(6)"),
        addedType(Added)...,
        typed("FONT1", &S::FONT1, &P::FONT1, 6, "txt_Pr_Font1"),
        typed("FONT2", &S::FONT2, &P::FONT2, 4, "txt_Pr_Font2"),
        typed("TAB_SP1", &S::TAB_SP1, &P::TAB_SP1, 48, "txt_Pr_Tab1"),
        typed("TAB_SP2", &S::TAB_SP2, &P::TAB_SP2, 22, "txt_Pr_Tab2"),
        typed("TAB_SP3", &S::TAB_SP3, &P::TAB_SP3, 140, "txt_Pr_Tab3"),
        choice("Font_Color1", &S::Font_Color1, "Cmb_Pr_Color1"),
        choice("Font_Color2", &S::Font_Color2, "Cmb_Pr_Color2"),
        typed("Gyo", &S::Gyo, &P::Gyo, 78, "txt_Pr_Gyo"),
        typed("Gyo_St", &S::Gyo_St, &P::Gyo_St, 3, "txt_Pr_Gyo_St"),
        flag(Other, "Op_kasi", &S::Op_Kasi, 1, "Opt_Chk_Ks"),
        flag(Other, "Op_01", &S::Op_01, 1, "Check1"),
        flag(Other, "Op_03", &S::Op_03, 0, "Check3"),
        flag(Other, "Op_04", &S::Op_04, 0, "Check4"),
        path(Other, "Op_14", &S::Op_14, "Def_PL_Path"),
        flag(Other, "Op_06", &S::Op_06, 0, "Check6"),
        flag(Other, "Op_07", &S::Op_07, 0, "Check7"),
        path(Other, "Op_17", &S::Op_17, "Def_OP_Path"),
        flag(Other, "Op_09", &S::Op_09, 0, "Check9"),
        flag(Other, "RESUME_LIST", &S::RESUME_LIST, 0, "resumeList"),
        band("custom-0", 0),
        band("custom-1", 1),
        band("custom-2", 2),
        band("custom-3", 3),
        band("custom-4", 4),
        band("custom-5", 5),
        band("custom-6", 6),
        band("custom-7", 7),
        band("custom-8", 8),
        band("custom-9", 9),
        option("set-no", &S::EqPreset, "Opt_eq"),
        flag(Eq, "set-onoff", &S::EqOn, 0, "Eq_true"),
        SettingKey { .section = Other,
            .key = "ReplayGainMode",
            .kind = Kind::Keyed,
            .number = &S::ReplayGainMode,
            .high = 2,
            .control = "cmbReplayGain",
            .saved = Saved::WhenChanged },
        tenths("ReplayGainPreamp", &S::ReplayGainPreamp, "spnPreamp"),
        tenths("ReplayGainDefault", &S::ReplayGainDefault, "spnDefaultGain"),
        flag(Other, "ReplayGainPreventClip", &S::ReplayGainPreventClip, 1, "chkPreventClip", Saved::WhenChanged),
        // An id of the library's device list; the options window writes it in a request of
        // its own, so that the library hears a new device once the file holds it.
        SettingKey { .section = Other,
            .key = "OutputDevice",
            .kind = Kind::Keyed,
            .text = &S::OutputDevice,
            .textDefault = "",
            .control = "cmbOutputDevice",
            .saved = Saved::WhenChanged },
        flag(Other, "LyricsLookup", &S::LyricsLookup, 0, "chkLyricsLookup", Saved::WhenChanged),
        SettingKey { .section = Other,
            .key = "LyricsServer",
            .kind = Kind::Text,
            .text = &S::LyricsServer,
            .textDefault = "https://lrclib.net",
            .control = "txtLyricsServer",
            .saved = Saved::WhenChanged },
        flag(Other, "WideDrops", &S::WideDrops, 0, "chkWideDrops", Saved::WhenChanged),
        // Kept by VolumeMemory as the slider settles, which a save of the record must not undo.
        SettingKey { .section = Other,
            .key = "VOLUME",
            .kind = Kind::Word,
            .word = &S::VOLUME,
            .high = 0xFFFF,
            .numberDefault = -1,
            .saved = Saved::Apart },
    };
}

constexpr auto Keys = makeKeys(std::make_index_sequence<kAddedTypeCount>());

// The number a key's text stands for, or nullopt when it is none in the key's range.
std::optional<int32_t> numberOf(const QString &text, const SettingKey &k)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok, 10);
    if (!ok || n < k.low || n > k.high)
        return std::nullopt;
    return static_cast<int32_t>(n);
}

// The text the save writes for one key.
QString savedText(const Settings &s, const SettingKey &k)
{
    switch (k.kind) {
    case Kind::Account:
        return QString();
    case Kind::Text:
        return s.*k.text;
    case Kind::Typed: {
        const QString &typedText = s.printText.*k.typed;
        return typedText.isNull() ? QString::number(s.*k.number) : typedText;
    }
    case Kind::Band:
        return QString::number(s.EqBands[k.index]);
    case Kind::AddedType:
        return QString::number(s.addedTypes[k.index]);
    case Kind::Word:
        return QString::number(s.*k.word);
    case Kind::Keyed:
        return k.text ? s.*k.text : QString::number(s.*k.number);
    case Kind::Flag:
    case Kind::Choice:
    case Kind::Option:
    case Kind::Tenths:
        return QString::number(s.*k.number);
    }
    return QString();
}

// Sets a numeric key's field to n.
void setNumber(Settings &s, const SettingKey &k, int32_t n)
{
    if (k.kind == Kind::AddedType)
        s.addedTypes[k.index] = static_cast<int16_t>(n);
    else if (k.kind == Kind::Band)
        s.EqBands[k.index] = n;
    else if (k.word)
        s.*k.word = n;
    else
        s.*k.number = static_cast<int16_t>(n);
}

} // namespace

Settings::Settings()
{
    for (const SettingKey &k : Keys) {
        if (k.text)
            this->*k.text = QString::fromUtf8(k.textDefault);
        else
            setNumber(*this, k, k.numberDefault);
    }
}

std::span<const SettingKey> settingKeys()
{
    return std::span<const SettingKey>(Keys);
}

const SettingKey &settingKey(const char *key)
{
    const auto it = std::find_if(std::begin(Keys), std::end(Keys),
        [key](const SettingKey &k) { return std::string_view(k.key) == std::string_view(key); });
    if (it == std::end(Keys))
        qFatal("kestrine: no settings key %s", key);
    return *it;
}

void setTypedNumber(Settings &s, const SettingKey &k, const QString &text)
{
    s.printText.*k.typed = text;
    s.*k.number = static_cast<int16_t>(numberOf(text, k).value_or(k.numberDefault));
}

QString chooseProgramFolder(const QString &overrideDir, const QString &appDir, const QString &configHome)
{
    if (!overrideDir.isEmpty())
        // path-rule: the settings folder, the program's own.
        return QDir(overrideDir).absolutePath();
    if (!appDir.isEmpty()) {
        const QFileInfo info(appDir);
        if (info.isDir() && info.isWritable())
            return info.absoluteFilePath();
    }
    // path-rule: the same.
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
    // path-rule: the same.
    return QDir(programFolder()).filePath(QStringLiteral("kestrine.ini"));
}

QString ReadIni(const QString &section, const QString &key, const QString &defaultValue, const QString &path)
{
    IniFile ini;
    if (!ini.load(path))
        return defaultValue;
    if (const SettingsRun *run = SettingsRun::current())
        run->saver().applyPending(path, ini);
    return ini.value(section, key, defaultValue);
}

bool WriteIni(const QString &section, const QString &key, const QString &value, const QString &path)
{
    return writeIniEdits(path, { { section, key, value } }).ok;
}

void LoadSettings(Settings &s, const QString &iniPath)
{
    IniFile ini;
    // An unreadable file reads as an empty one: every key its default.  A readable one
    // reads with the keys still on their way to it.
    if (ini.load(iniPath)) {
        if (const SettingsRun *run = SettingsRun::current())
            run->saver().applyPending(iniPath, ini);
    }
    // A file that holds the classic search types was saved before the added ones existed,
    // or with them: the flag of an added type it lacks is off, so the saved pattern stays.
    const bool typesSaved = std::any_of(std::begin(Keys), std::end(Keys), [&ini](const SettingKey &k) {
        return k.kind == Kind::Flag && std::string_view(k.section) == Search
            && ini.value(QString::fromUtf8(k.section), QLatin1String(k.key)).has_value();
    });
    for (const SettingKey &k : Keys) {
        const QString section = QString::fromUtf8(k.section);
        std::optional<QString> raw = ini.value(section, QLatin1String(k.key));
        if (k.path && raw) {
            // The bytes of a line that is not UTF-8 may be a file's own name rather than
            // CP932 text: the name that exists wins.
            const std::optional<QString> bytes = ini.pathValue(section, QLatin1String(k.key));
            if (bytes && *bytes != *raw && fileTypeOf(*bytes) != FileType::Missing
                && fileTypeOf(*raw) == FileType::Missing)
                raw = bytes;
        }
        if (k.text) {
            s.*k.text = raw.value_or(QString::fromUtf8(k.textDefault));
            continue;
        }
        const int32_t fallback = k.kind == Kind::AddedType && typesSaved ? 0 : k.numberDefault;
        const int32_t n = raw ? numberOf(*raw, k).value_or(fallback) : fallback;
        setNumber(s, k, n);
        if (k.typed)
            s.printText.*k.typed = QString::number(n);
    }
}

IniEdit settingEdit(const Settings &s, const SettingKey &k)
{
    return { QString::fromUtf8(k.section), QLatin1String(k.key), savedText(s, k), k.path };
}

std::vector<IniEdit> settingEdits(const Settings &s, const Settings *stored)
{
    std::vector<IniEdit> edits;
    edits.reserve(Keys.size());
    for (const SettingKey &k : Keys) {
        switch (k.saved) {
        case Saved::Always:
            edits.push_back(settingEdit(s, k));
            break;
        case Saved::WhenChanged:
            if (stored && savedText(s, k) != savedText(*stored, k))
                edits.push_back(settingEdit(s, k));
            break;
        case Saved::Apart:
        case Saved::Never:
            break;
        }
    }
    return edits;
}

bool SaveSettings(const Settings &s, const QString &iniPath, QStringList *unwritten)
{
    Settings stored;
    LoadSettings(stored, iniPath);
    SaveResult result = writeIniEdits(iniPath, settingEdits(s, &stored));
    if (unwritten)
        *unwritten = std::move(result.unwritten);
    return result.ok;
}

QString BuildSearchPattern(const Settings &s)
{
    const std::pair<int16_t, const char *> types[] = { { s.MP3, "mp3" }, { s.RMP, "rmp" }, { s.WAV, "wav" },
        { s.M3U, "m3u" }, { s.MPG, "mpg" }, { s.AVI, "avi" }, { s.WMA, "wma" } };
    QStringList parts;
    for (const auto &[flag, ext] : types)
        if (flag == 1)
            parts << QStringLiteral("*.") + QLatin1String(ext);
    for (int i = 0; i < kAddedTypeCount; ++i)
        if (s.addedTypes[i] == 1)
            parts << QStringLiteral("*.") + QLatin1String(addedMediaTypes()[i].ending);
    return parts.join(QLatin1Char(';'));
}

} // namespace kes
