// An INI document read from and written back to one file, keeping everything it does not
// touch byte for byte: other sections and keys, comments, blank lines, their order, the
// line endings and the file's encoding.  Not thread-safe; each command loads, changes and
// saves its own copy.
//
// Reading follows the rules of the Windows INI reader the settings file comes from:
// section and key names match without regard to case, the first matching section and the
// first matching key in it count, blanks around a value are dropped and so is one pair of
// enclosing matching quotes (' or "), and a value longer than 249 bytes (in its line's
// encoding) reads back cut to 249 bytes at a character boundary.
//
// Encodings: each line reads as UTF-8 when its bytes are valid UTF-8, else as CP932, so a
// file may mix the two and writing one line never changes how another reads.  A written
// line takes the file's encoding when it reads back exactly so, else UTF-8; text that the
// file's encoding cannot hold is not written.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace kes
{

class IniFile
{
public:
    enum class Encoding { Utf8, Cp932 };

    static constexpr int MaxValueBytes = 249;

    // An empty document that will be written as UTF-8 with LF line endings.
    IniFile() = default;

    // At most this much of a file is read.  A longer one loads up to its last line break
    // before MaxFileBytes - SaveRoomBytes (the room left lets the player's keys be added
    // and still read back whole); the rest is not read as INI, and a save copies it byte
    // for byte from the file after what was loaded.  A section added then goes before
    // the last loaded section (which may go on past the cut), so that it holds its keys
    // alone.
    static constexpr qint64 MaxFileBytes = 1024 * 1024;
    static constexpr qint64 SaveRoomBytes = 64 * 1024;

    // Reads the file at path (its name's bytes, pathbytes.h).  A missing file gives an
    // empty document and true; a file that exists but cannot be read (a folder, a named
    // pipe or device, no permission, too slow to read) gives false and leaves the
    // document empty; nothing waits for a writer.  The file's encoding (the one written
    // lines prefer) is UTF-8 when all its bytes are valid UTF-8, else CP932.
    bool load(const QString &path);
    // Whether load() cut the file at MaxFileBytes.
    bool wasCut() const { return m_cut; }
    // Takes bytes as the content of a file.
    void setContent(const QByteArray &bytes);
    // The bytes of what was loaded and changed; save() writes them, then the rest of a
    // file cut at load.
    QByteArray content() const;

    // Writes the whole document to path at once: the new content goes to a new file that
    // then replaces the old one, so a failed save (read-only file or folder, disk full)
    // leaves the old file as it was.  Creates the folder when it is missing.  A document
    // cut at load is saved only while the file it came from is as it was loaded.  On
    // failure returns false and errorString() says why.
    bool save(const QString &path);

    // The value of key in section after the reading rules above; nullopt when the
    // section or the key is missing.
    std::optional<QString> value(const QString &section, const QString &key) const;
    QString value(const QString &section, const QString &key, const QString &defaultValue) const;

    // A value that names a file by bytes that are not text (pathbytes.h): pathValue gives
    // the value's bytes as a path, whatever the line's encoding, cut at MaxValueBytes as
    // value() cuts; setPathValue writes such a path's bytes exactly (refusing only what
    // cannot stand on one line) and any other path as setValue does.
    std::optional<QString> pathValue(const QString &section, const QString &key) const;
    bool setPathValue(const QString &section, const QString &key, const QString &path);

    // Sets key in section to value (stored as given, blanks and quotes included):
    // replaces the value in place, keeping the key's spelling as it stands in the file;
    // or appends the key after the last key of its section; or appends the section at the
    // end of the document.  Returns false, changing nothing, for a value or name that
    // cannot stand on one INI line (line breaks, NUL; '=' in a key; ']' in a section) or
    // that the file's encoding cannot hold exactly (a character with no CP932 form, or no
    // CP932 converter at all).
    bool setValue(const QString &section, const QString &key, const QString &value);

    Encoding encoding() const { return m_encoding; }
    // "\r\n" for a file from Windows, else "\n".
    QByteArray lineEnding() const { return m_eol; }
    QString errorString() const { return m_error; }

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        QByteArray raw; // without its line ending
        QByteArray eol; // "\r\n", "\n", or empty for a last line without one
        Kind kind = Kind::Other;
        QString name; // section or key name, decoded and trimmed
        qsizetype valueAt = -1; // Key: offset of the value in raw (after '=')
        bool utf8 = true; // raw is valid UTF-8, so it reads as UTF-8
    };

    struct RawValue {
        QByteArray bytes;
        bool utf8;
    };
    // The bytes of key's value after the reading rules, and whether its line is UTF-8;
    // asText: cut as value() cuts, else as pathValue() does.
    std::optional<RawValue> rawValue(const QString &section, const QString &key, bool asText) const;

    static void parse(Line &line);
    static QString decode(const QByteArray &bytes, bool utf8);
    // nullopt when the encoding cannot hold text (a character with no CP932 form, no
    // CP932 converter, a lone surrogate).
    static std::optional<QByteArray> encode(const QString &text, Encoding encoding);
    // head + text as a line's bytes: in the file's encoding when the line reads back as
    // head's reading + text so, else in UTF-8 (head re-encoded too if need be); nullopt
    // when the file's encoding cannot hold text or no form reads back.
    std::optional<QByteArray> composeLine(const QByteArray &head, bool headUtf8, const QString &text) const;
    qsizetype findSection(const QString &section) const;
    // Index of the key line in the section starting at sectionLine, or -1.
    qsizetype findKey(qsizetype sectionLine, const QString &key) const;
    void insertLine(qsizetype at, const QByteArray &raw);

    std::vector<Line> m_lines;
    bool m_bom = false;
    Encoding m_encoding = Encoding::Utf8;
    QByteArray m_eol = "\n";
    QString m_error;
    bool m_cut = false;
    // A file cut at load: where its rest begins, and the file as it was then.
    struct Source {
        QString path;
        qint64 restAt = 0;
        std::array<qint64, 4> identity {}; // device, inode, size, modification time
    };
    Source m_source;
    bool saveWithRest(const QString &path);
};

} // namespace kes
