// The player's settings record and the settings file kestrine.ini.
//
// Load and save read or write the whole file within the call and hold nothing open; a
// load sees the keys of saves still waiting in SettingsSaver.  The GUI thread hands its
// saves to SettingsSaver (settingEdits).  Values are stored as text in five sections
// (システム, 検索設定, 印刷設定, その他設定, EQSETUP); settingKeys() lists the keys, and a
// setting of the file is one line there and its field in the record, nothing else.
#pragma once

#include "mediatypes.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kes
{

class IniFile;
struct IniEdit;

// Field names are the names of their keys.  A default-constructed record holds the
// defaults that a load without a file gives (taken from settingKeys()).
struct Settings {
    Settings();

    QString USER;
    QString PASSWORD;
    // File types of the folder search (flags, 0 or 1).
    int16_t MP3, RMP, WAV, M3U, MPG, AVI, WMA;
    // The flags of the types added after those seven, in the order of addedMediaTypes()
    // (keys FLAC, OGG, OGA, OPUS, M4A, WV, APE of 検索設定).
    std::array<int16_t, kAddedTypeCount> addedTypes;
    // CD jacket print layout.
    int16_t FONT1, FONT2, TAB_SP1, TAB_SP2, TAB_SP3, Gyo, Gyo_St;
    int16_t Font_Color1, Font_Color2; // colour list index, -1 for no selection
    // Options (flags, 0 or 1) and the two start-up paths.
    int16_t Op_Kasi; // lyrics files
    int16_t Op_01; // spectrum display
    int16_t Op_03; // compact start
    int16_t Op_04; // load the default playlist Op_14 at start
    QString Op_14;
    int16_t Op_06; // folder-search option, stored only
    int16_t Op_07; // preset the folder search on Op_17 at start
    QString Op_17;
    int16_t Op_09; // large toolbar icons
    int16_t RESUME_LIST; // reopen the last run's playlist and current row at start
    // Equalizer: band values -60..60, preset 0..5, switch.
    std::array<int32_t, 10> EqBands;
    int16_t EqPreset;
    int16_t EqOn;
    // ReplayGain (replaygainchoice.h): mode 0 off, 1 track, 2 album; the pre-amp and the
    // gain of a file that states none in tenths of a dB, -150..150; clipping prevention.
    int16_t ReplayGainMode, ReplayGainPreamp, ReplayGainDefault, ReplayGainPreventClip;
    QString OutputDevice; // an id of the decoder library's device list; empty: the default
    // Lyrics looked up on a server (an LRCLIB one, LyricsServer) for a track played without
    // any: off (0) until the user turns it on.
    int16_t LyricsLookup;
    QString LyricsServer;
    int16_t WideDrops; // drops on the list take any playlist and walk folders
    int32_t VOLUME; // the volume slider's value 0..65535 as the last run left it; -1: none

    // The seven print boxes as typed: the save writes these texts unchanged ("07" stays
    // "07", an emptied box saves an empty value).  LoadSettings fills them with the
    // decimal text of the numbers; whoever edits a number edits its text too.  A null
    // text (a record never loaded) saves the number instead.
    struct PrintText {
        QString FONT1, FONT2, TAB_SP1, TAB_SP2, TAB_SP3, Gyo, Gyo_St;
    } printText;
};

// One key of the settings file and the field and control it belongs to.  The table of
// them drives the defaults, the load, the save (in the table's order, which is the order
// of the sections and keys of a file that a first save creates) and the options window's
// binding of controls to fields: a new setting is its field plus one line in the table.
struct SettingKey {
    enum class Kind {
        Account, // text; loaded, but always saved empty
        Text, // text, shown in the line edit `control`
        Flag, // 0 or 1, the check box `control`
        Typed, // number typed into the line edit `control`; saved as typed (printText)
        Choice, // list index of the combo box `control`; -1 for no selection
        Option, // the option button `control`(value) of a group is selected
        Band, // EqBands[index]; the scroll bar `control`(index) stands at -value
        AddedType, // addedTypes[index], 0 or 1, the check box `control`
        Tenths, // tenths of a dB, shown in dB by the spin box `control`
        Keyed, // number or text: the item data of the chosen item of the combo box `control`
        Word, // a 32-bit number (`word`), without a control
    };
    // Which saves write the key.
    enum class Saved {
        Always, // every save of the record
        // A save of the record given the file's record (settingEdits), only when the value
        // differs from the file's: a file that never held another value stays without it.
        WhenChanged,
        Apart, // only its own writer (settingEdit), never a save of the whole record
        Never, // set by hand in the file, never written by the player
    };
    const char *section; // UTF-8
    const char *key; // as a new file spells it; loads match it without regard to case
    Kind kind;
    int16_t Settings::*number = nullptr; // Flag, Typed, Choice, Option, Tenths, Keyed
    QString Settings::*text = nullptr; // Account, Text, Keyed
    QString Settings::PrintText::*typed = nullptr; // Typed
    int32_t Settings::*word = nullptr; // Word
    int index = -1; // Band, AddedType
    int32_t low = 0, high = 0; // numbers outside the range (or no number) load as the default
    int32_t numberDefault = 0;
    const char *textDefault = nullptr; // UTF-8
    const char *control = nullptr; // objectName in the options window; nullptr: none
    bool path = false; // Text that names a file: kept as the name's bytes (IniFile::pathValue)
    Saved saved = Saved::Always;
};

// Every key of the settings file, in the order of the save.
std::span<const SettingKey> settingKeys();
// The key named key (as settingKeys() spells it); it must be there.
const SettingKey &settingKey(const char *key);
// A Typed key's text as the user typed it: kept for the save, and its number set as the
// next load will read it (the key's default when the text is no number in range).
void setTypedNumber(Settings &s, const SettingKey &k, const QString &text);

// The folder search pattern from the file-type flags, in the order mp3, rmp, wav, m3u,
// mpg, avi, wma and then the added types': "*.mp3;*.rmp;*.flac;*.ogg;*.oga;*.opus;*.m4a;
// *.wv;*.ape" with the defaults, empty with no flag set.
QString BuildSearchPattern(const Settings &s);

// The folder of the settings file, which also stands in for the program's folder of the
// default playlist ("kestrine_def.m3u", "playlist.m3u") and the tag file ("csvfile.dat"):
// $KESTRINE_CONFIG_DIR when set (tests); else the executable's folder when it is writable;
// else $XDG_CONFIG_HOME/kestrine (~/.config/kestrine).  Needs the QCoreApplication for the
// executable's folder.  Does not create the folder; saving the settings does.
QString programFolder();
// programFolder()/kestrine.ini.  Computed anew on each call.
QString kestrineIniPath();
// The rule of programFolder() on given inputs (empty overrideDir: none).
QString chooseProgramFolder(const QString &overrideDir, const QString &appDir, const QString &configHome);

// The value of key in section of the file at path, or defaultValue when the file, the
// section or the key is missing (or the file cannot be read).  Blanks and enclosing
// quotes are dropped; values longer than 249 bytes come back cut to 249 bytes.
QString ReadIni(const QString &section, const QString &key, const QString &defaultValue, const QString &path);
// Writes one key (creating file, section or key as needed) and reads it back.  True when
// the file was saved and the value reads back identically.
bool WriteIni(const QString &section, const QString &key, const QString &value, const QString &path);

// Fills s from the file at iniPath.  Every key missing from the file, and every integer
// key whose text is not a decimal number in the key's range (flags: 0 or 1, bands
// -60..60, colours -1..6), takes its default; an unreadable file loads as an empty one.
// The flag of an added type has two defaults: 1 when 検索設定 holds none of the seven
// classic type keys (no search types were ever saved), 0 when it holds any of them (a
// file saved before that type was added: the types the user chose are kept as they were).
// Does not touch the decoder: call ApplyEqPreset afterwards.
void LoadSettings(Settings &s, const QString &iniPath);
// Writes the keys of s that a save of the record writes (settingEdits, against the file
// as it stands) into the file at iniPath in one atomic replacement, then reads the file
// back.  True when the file was written and every key reads back exactly as written.  A
// value that cannot be written exactly (a line break; a character the file's code page
// cannot hold) leaves that key's old value in the file and the other keys are saved all
// the same; unwritten, when given, receives "key = value" for each such key.  False, with
// the old file left whole, when the file cannot be read or written or no key can be
// written; false after the write when a key was left out or a value reads back
// differently (blanks around it, longer than 249 bytes).  Other sections, keys and
// comments of the file are kept.
bool SaveSettings(const Settings &s, const QString &iniPath, QStringList *unwritten = nullptr);
// The keys of s as a save of the record writes them, for a save off the GUI thread
// (settingssaver.h): every Saved::Always key, and when stored (the file's record, as
// LoadSettings gives it) is given, each Saved::WhenChanged key whose value differs from
// stored's.
std::vector<IniEdit> settingEdits(const Settings &s, const Settings *stored = nullptr);
// One key of s as the save writes it: the writer of a key saved apart.
IniEdit settingEdit(const Settings &s, const SettingKey &k);

} // namespace kes
