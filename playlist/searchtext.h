// Text as the find box compares it.  A title is typed in hiragana or katakana, full or half
// width, in any letter case, with or without its long-vowel marks and middle dots, and file
// names may arrive decomposed (NFD): each of these forms folds to the same text, so that a
// word typed one way finds a row written another.  Letters with accents stay apart from
// those without (é is not e), and kana with their voicing marks stay apart from those
// without (が is not か).  Plain functions of their arguments: any thread.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace kes
{

// NFKC (widths, compatibility forms, NFD composed), case folded (ß as ss), katakana as hiragana
// (ヴ as ゔ), and the marks a title is written with or without left out: white space, ・,
// ー, ～ (and ~), 〜.
QString foldForSearch(QStringView text);

// The texts of a row (title, artist, album, file name…), folded and joined by a separator
// that folding keeps, so that no typed word runs from one field into the next.
QString foldRowTexts(const QStringList &fields);

// What the user typed: its words, each folded.  A row matches when its folded text holds
// every word.
class SearchQuery
{
public:
    SearchQuery() = default;
    explicit SearchQuery(QStringView typed);

    bool isEmpty() const { return m_words.isEmpty(); }
    // folded: a row's texts as foldRowTexts gives them.
    bool matches(QStringView folded) const;
    // Whether every row this query matches is also matched by earlier, so that a search
    // may look only at earlier's matches (the user typed on).
    bool narrows(const SearchQuery &earlier) const;

private:
    QStringList m_words;
};

} // namespace kes
