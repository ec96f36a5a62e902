#include "searchtext.h"

#include <QRegularExpression>

namespace kes
{

namespace
{

// Marks that a title is written with or without.
bool ignorable(char16_t c)
{
    switch (c) {
    case u'\u30FB': // ・ (half-width ･ after NFKC)
    case u'\u30FC': // ー (half-width ｰ after NFKC)
    case u'~': // ～ after NFKC
    case u'\u301C': // 〜
        return true;
    default:
        return false;
    }
}

char16_t hiraganaOf(char16_t c)
{
    // ァ..ヶ over ぁ..ゖ (ヴ over ゔ), and the iteration marks ヽ ヾ over ゝ ゞ.
    if ((c >= u'\u30A1' && c <= u'\u30F6') || c == u'\u30FD' || c == u'\u30FE')
        return char16_t(c - 0x60);
    return c;
}

} // namespace

QString foldForSearch(QStringView text)
{
    const QString folded = text.toString().normalized(QString::NormalizationForm_KC).toCaseFolded();
    QString out;
    out.reserve(folded.size());
    for (const QChar ch : folded) {
        if (ch.isSpace() || ignorable(ch.unicode()))
            continue;
        if (ch == u'\u00DF') { // Qt folds one character to one: ß as ss by hand
            out.append(QStringLiteral("ss"));
            continue;
        }
        out.append(QChar(hiraganaOf(ch.unicode())));
    }
    return out;
}

QString foldRowTexts(const QStringList &fields)
{
    QString out;
    for (const QString &f : fields) {
        if (!out.isEmpty())
            out.append(u'\x1F');
        out.append(foldForSearch(f));
    }
    return out;
}

SearchQuery::SearchQuery(QStringView typed)
{
    // Split after NFKC so that a full-width space parts words too.
    const QString wide = typed.toString().normalized(QString::NormalizationForm_KC);
    for (const QString &word : wide.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        QString f = foldForSearch(word);
        if (!f.isEmpty())
            m_words << f;
    }
}

bool SearchQuery::matches(QStringView folded) const
{
    for (const QString &w : m_words) {
        if (!folded.contains(w))
            return false;
    }
    return true;
}

bool SearchQuery::narrows(const SearchQuery &earlier) const
{
    for (const QString &old : earlier.m_words) {
        bool held = false;
        for (const QString &w : m_words) {
            if (w.contains(old)) {
                held = true;
                break;
            }
        }
        if (!held)
            return false;
    }
    return true;
}

} // namespace kes
