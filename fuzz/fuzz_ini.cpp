// The INI reader and writer of the settings file: arbitrary bytes as a settings file.
// What is not touched stays byte for byte; a value set reads back as set, and setting it
// changes no other key.
#include "inifile.h"
#include "pathbytes.h"

#include <algorithm>

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

    // A path of any bytes (but line breaks and NUL) is stored and read back exactly, and
    // changes no other key.
    QByteArray name
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(std::min<size_t>(size, 200)));
    name.replace('\n', '_').replace('\r', '_').replace('\0', '_');
    name = "/" + name.trimmed();
    // Values are read without their outer blanks and quotes.
    while (name.endsWith('"') || name.endsWith('\'') || name.endsWith(' ') || name.endsWith('\t'))
        name.chop(1);
    const QString path = kes::pathFromBytes(name);
    if (!reread.setPathValue(QStringLiteral("その他設定"), QStringLiteral("Op_14"), path)) {
        // Text goes as any value (a CP932 file refuses what CP932 cannot hold); bytes never fail.
        if (kes::hasEscapedBytes(path))
            __builtin_trap();
        return 0;
    }
    kes::IniFile third;
    third.setContent(reread.content());
    const std::optional<QString> back = kes::hasEscapedBytes(path)
        ? third.pathValue(QStringLiteral("その他設定"), QStringLiteral("Op_14"))
        : third.value(QStringLiteral("その他設定"), QStringLiteral("Op_14"));
    if (back != std::optional<QString>(path)
        || third.value(section, QStringLiteral("USER")) != std::optional<QString>(value))
        __builtin_trap();
    return 0;
}
