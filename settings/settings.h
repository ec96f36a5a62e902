// The player's settings record and the settings file kestrine.ini.
//
// Load and save run on the GUI thread; each reads or writes the whole file within the
// call and holds nothing open.  Values are stored as text in five sections
// (システム, 検索設定, 印刷設定, その他設定, EQSETUP); see LoadSettings for the keys.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace kes
{

class IniFile;

// Field names are the names of their keys.  A default-constructed record holds the
// defaults that a load without a file gives.
struct Settings {
    QString USER = QStringLiteral("GUEST");
    QString PASSWORD = QStringLiteral("TESORA");
    // File types of the folder search (flags, 0 or 1).
    int16_t MP3 = 1;
    int16_t RMP = 1;
    int16_t WAV = 0;
    int16_t M3U = 0;
    int16_t MPG = 0;
    int16_t AVI = 0;
    int16_t WMA = 0;
    // CD jacket print layout.
    int16_t FONT1 = 6;
    int16_t FONT2 = 4;
    int16_t TAB_SP1 = 48;
    int16_t TAB_SP2 = 22;
    int16_t TAB_SP3 = 140;
    int16_t Gyo = 78;
    int16_t Gyo_St = 3;
    int16_t Font_Color1 = 0; // colour list index, -1 for no selection
    int16_t Font_Color2 = 0;
    // Options (flags, 0 or 1) and the two start-up paths.
    int16_t Op_Kasi = 1; // lyrics files
    int16_t Op_01 = 1; // spectrum display
    int16_t Op_03 = 0; // compact start
    int16_t Op_04 = 0; // load the default playlist Op_14 at start
    QString Op_14;
    int16_t Op_06 = 0; // folder-search option, stored only
    int16_t Op_07 = 0; // preset the folder search on Op_17 at start
    QString Op_17;
    int16_t Op_09 = 0; // large toolbar icons
    // Equalizer: band values (-60..60 in use), preset 0..5, switch.
    std::array<int32_t, 10> EqBands {};
    int16_t EqPreset = 0;
    int16_t EqOn = 0;

    // The seven print boxes as typed: the save writes these texts unchanged ("07" stays
    // "07", an emptied box saves an empty value).  LoadSettings fills them with the
    // decimal text of the numbers; whoever edits a number edits its text too.  A null
    // text (a record never loaded) saves the number instead.
    struct PrintText {
        QString FONT1, FONT2, TAB_SP1, TAB_SP2, TAB_SP3, Gyo, Gyo_St;
    } printText;
};

// The folder search pattern from the seven file-type flags, in the order mp3, rmp, wav,
// m3u, mpg, avi, wma: "*.mp3;*.rmp" with the defaults, empty with no flag set.
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
// key whose text is not a decimal number in the field's range (flags: 0 or 1), takes its
// default.  Does not touch the decoder: call ApplyEqPreset afterwards.
void LoadSettings(Settings &s, const QString &iniPath);
// Writes every key of s into the file at iniPath in one atomic replacement, then reads
// the file back.  True when the file was written and every key reads back exactly as
// written; false when the write failed (the old file stays as it was) or a value reads
// back differently (blanks around it, longer than 249 bytes, not representable in the
// file's code page).  Other sections, keys and comments of the file are kept.
bool SaveSettings(const Settings &s, const QString &iniPath);

} // namespace kes
