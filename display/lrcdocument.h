// A lyrics file as the timing editor works on it: tag lines ("[ar:...]", kept as they
// are), the "[offset:]" tag (milliseconds; a positive offset shows the lines earlier, as
// the decoder library reads it) and the lines, each with at most one time ("[00:12.34]");
// a line the file gives several times becomes one line per time.  Times are kept in
// hundredths of a second, the precision every LRC reader takes, so that a file saved here
// reads back the same in kestrine and in other players.  QtCore only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kes
{

struct LrcLine {
    std::optional<qint64> ms; // as written in the file, before the offset
    QString text;
    bool operator==(const LrcLine &) const = default;
};

class LrcDocument
{
public:
    enum class Encoding { Utf8, Cp932 };

    // Bytes as the library reads them: UTF-8 (a BOM dropped), else CP932 when they decode
    // cleanly, else Windows-1252 (saved back as UTF-8).
    static LrcDocument fromBytes(const QByteArray &bytes);
    // The file in its encoding: CP932 stays CP932 when every character has a CP932 form;
    // otherwise UTF-8, and fellBack (when given) says so.
    QByteArray toBytes(bool *fellBack = nullptr) const;
    QString toText() const;

    // "[mm:ss.xx]" of a time in ms (rounded to hundredths).
    static QString stampText(qint64 ms);

    // The time line i is shown at: its own minus the offset; nullopt when it has none.
    std::optional<qint64> shownAt(int i) const;
    // Line i is shown at positionMs from now on (rounded to hundredths).
    void stamp(int i, qint64 positionMs);
    // Line i (or every line, through the offset) is shown deltaMs later; never before 0.
    void nudgeLine(int i, qint64 deltaMs);
    void nudgeAll(qint64 deltaMs);

    QStringList tags; // tag lines other than the offset, as written, in order
    qint64 offset = 0;
    QList<LrcLine> lines;
    Encoding encoding = Encoding::Utf8;
    bool crlf = false;

    bool operator==(const LrcDocument &) const = default;
};

} // namespace kes
