// The INI reader and writer of the settings file: arbitrary bytes as a settings file.
// What is not touched stays byte for byte; a value set reads back as set, and setting it
// changes no other key.
#include "inifile.h"

#include <QString>

namespace
{

// A plain value (letters and digits) of up to 40 characters made from the data.
QString plainValue(const uint8_t *data, size_t size)
{
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString v;
    for (size_t i = 0; i < size && i < 40; ++i)
        v += QLatin1Char(kAlphabet[data[i] % 62]);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    kes::IniFile ini;
    ini.setContent(bytes);
    if (ini.content() != bytes)
        __builtin_trap();
    const QString value = plainValue(data, size);
    const QString sections[] = { QStringLiteral("システム"), QStringLiteral("EQSETUP"), QStringLiteral("その他設定") };
    const QString section = sections[size % 3];
    const QString other = sections[(size + 1) % 3];
    const std::optional<QString> before = ini.value(other, QStringLiteral("Op_01"));
    if (!ini.setValue(section, QStringLiteral("USER"), value))
        __builtin_trap();
    kes::IniFile reread;
    reread.setContent(ini.content());
    if (reread.value(section, QStringLiteral("USER")) != std::optional<QString>(value)
        || reread.value(other, QStringLiteral("Op_01")) != before)
        __builtin_trap();
    return 0;
}
