#include "lrcdocument.h"

#include "textcodec.h"

#include <QRegularExpression>

#include <algorithm>
#include <string>

namespace kes
{

namespace
{

qint64 toHundredths(qint64 ms)
{
    return std::max<qint64>(0, (ms + 5) / 10 * 10);
}

// "mm:ss", "mm:ss.x" .. "mm:ss.xxx", with '.' or ':' before the fraction.
std::optional<qint64> parseStamp(const QString &inner)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,6}):(\\d{1,2})(?:[.:](\\d{1,3}))?$"));
    const QRegularExpressionMatch m = re.match(inner);
    if (!m.hasMatch())
        return std::nullopt;
    qint64 ms = (m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong()) * 1000;
    const QString frac = m.captured(3);
    if (!frac.isEmpty())
        ms += frac.toLongLong() * (frac.size() == 1 ? 100 : frac.size() == 2 ? 10 : 1);
    return ms;
}

bool isTagKey(QStringView key)
{
    return !key.isEmpty() && std::all_of(key.begin(), key.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u'#';
    });
}

void readLine(LrcDocument &doc, const QString &raw)
{
    QString rest = raw.trimmed();
    QList<qint64> stamps;
    while (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            break;
        const QString inner = rest.mid(1, close - 1);
        if (const auto ms = parseStamp(inner)) {
            stamps << *ms;
        } else {
            const qsizetype colon = inner.indexOf(u':');
            if (colon <= 0 || !isTagKey(QStringView(inner).left(colon)))
                break; // brackets that belong to the text
            if (!stamps.isEmpty())
                break;
            if (inner.left(colon).compare(QStringLiteral("offset"), Qt::CaseInsensitive) == 0) {
                bool ok = false;
                const qint64 v = inner.mid(colon + 1).trimmed().toLongLong(&ok);
                if (ok)
                    doc.offset = v;
            } else {
                doc.tags << rest.left(close + 1);
            }
            rest = rest.mid(close + 1).trimmed();
            if (rest.isEmpty())
                return;
            continue;
        }
        rest = rest.mid(close + 1);
    }
    if (stamps.isEmpty()) {
        doc.lines << LrcLine { std::nullopt, rest };
        return;
    }
    for (qint64 ms : stamps)
        doc.lines << LrcLine { toHundredths(ms), rest.trimmed() };
}

} // namespace

LrcDocument LrcDocument::fromBytes(const QByteArray &bytes)
{
    LrcDocument doc;
    const std::string_view view(bytes.constData(), static_cast<size_t>(bytes.size()));
    bool cp932 = false;
    if (!isValidUtf8(view))
        cp932ToUtf8(view, &cp932);
    doc.encoding = cp932 ? Encoding::Cp932 : Encoding::Utf8;
    const std::string utf8 = systemOrCp932ToUtf8(view);
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    doc.crlf = text.contains(QStringLiteral("\r\n"));
    QStringList raw = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    while (!raw.isEmpty() && raw.back().trimmed().isEmpty())
        raw.removeLast();
    for (const QString &line : raw)
        readLine(doc, line);
    return doc;
}

QString LrcDocument::stampText(qint64 ms)
{
    const qint64 cs = toHundredths(ms) / 10;
    return QStringLiteral("[%1:%2.%3]")
        .arg(cs / 6000, 2, 10, QLatin1Char('0'))
        .arg(cs / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(cs % 100, 2, 10, QLatin1Char('0'));
}

QString LrcDocument::toText() const
{
    QStringList out = tags;
    if (offset != 0)
        out << QStringLiteral("[offset:%1]").arg(offset);
    for (const LrcLine &l : lines)
        out << (l.ms ? stampText(*l.ms) + l.text : l.text);
    const QString eol = crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    return out.join(eol) + eol;
}

QByteArray LrcDocument::toBytes(bool *fellBack) const
{
    const QByteArray utf8 = toText().toUtf8();
    bool fits = false;
    if (encoding == Encoding::Cp932) {
        const std::string cp = utf8ToCp932(std::string_view(utf8.constData(), size_t(utf8.size())), &fits);
        if (fits) {
            if (fellBack)
                *fellBack = false;
            return QByteArray(cp.data(), static_cast<qsizetype>(cp.size()));
        }
    }
    if (fellBack)
        *fellBack = encoding == Encoding::Cp932;
    return utf8;
}

std::optional<qint64> LrcDocument::shownAt(int i) const
{
    const std::optional<qint64> &ms = lines.at(i).ms;
    if (!ms)
        return std::nullopt;
    return std::max<qint64>(0, *ms - offset);
}

void LrcDocument::stamp(int i, qint64 positionMs)
{
    lines[i].ms = toHundredths(positionMs + offset);
}

void LrcDocument::nudgeLine(int i, qint64 deltaMs)
{
    if (lines[i].ms)
        lines[i].ms = toHundredths(*lines[i].ms + deltaMs);
}

void LrcDocument::nudgeAll(qint64 deltaMs)
{
    offset -= deltaMs;
}

} // namespace kes
