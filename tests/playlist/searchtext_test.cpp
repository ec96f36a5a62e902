// The find box's folding: a title found from each way it is written, Western titles kept apart.
#include "searchtext.h"

#include <gtest/gtest.h>

using kes::foldForSearch;
using kes::foldRowTexts;
using kes::SearchQuery;
using namespace Qt::StringLiterals;

namespace
{

bool finds(const QString &typed, const QString &stored)
{
    return SearchQuery(typed).matches(foldRowTexts({ stored }));
}

} // namespace

TEST(SearchText, EachWritingOfAJapaneseTitleFindsTheOthers)
{
    // Each group: one title written several ways (kana, width, NFD, long vowels, dots,
    // ヴ/ゔ, wave dashes); each form must find every other.
    const QStringList groups[] = {
        { u"ヴァイオリン・ソナタ"_s, u"ゔぁいおりんそなた"_s, u"ｳﾞｧｲｵﾘﾝ･ｿﾅﾀ"_s, u"ヴァイオリン ソナタ"_s },
        { u"ラーメン"_s, u"らーめん"_s, u"ﾗｰﾒﾝ"_s, u"ラメン"_s },
        { u"がっこうぐらし"_s, u"か\u3099っこうく\u3099らし"_s, u"ガッコウグラシ"_s },
        { u"ＳＰＥＣＩＡＬ　ＬＯＶＥ～愛～"_s, u"special love 愛"_s, u"Special Love〜愛〜"_s },
        { u"モーニング娘。"_s, u"もーにんぐ娘｡"_s, u"ﾓｰﾆﾝｸﾞ娘。"_s },
        { u"ドラえもん"_s, u"ト\u3099ラえもん"_s, u"ﾄﾞﾗｴﾓﾝ"_s },
    };
    for (const QStringList &g : groups)
        for (const QString &stored : g)
            for (const QString &typed : g)
                EXPECT_TRUE(finds(typed, stored)) << typed.toStdString() << " → " << stored.toStdString();

    // Every typed word must be held, in any field; a word does not run across two fields.
    const QString row = foldRowTexts({ u"残酷な天使のテーゼ"_s, u"高橋洋子"_s, u"NEON GENESIS"_s });
    EXPECT_TRUE(SearchQuery(u"てーぜ 高橋"_s).matches(row));
    EXPECT_FALSE(SearchQuery(u"てーぜ 林"_s).matches(row));
    EXPECT_FALSE(SearchQuery(u"洋子neon"_s).matches(row));
    // Voicing marks and accents are letters of their own.
    EXPECT_FALSE(finds(u"かっこう"_s, u"がっこう"_s));
    EXPECT_FALSE(finds(u"hoffnung"_s, u"Hoffnüng"_s));
}

TEST(SearchText, WesternTitlesWithAccentsFindThemselvesOnly)
{
    const QStringList titles = { u"Café Society"_s, u"Cafe Society"_s, u"Résumé"_s, u"Resume"_s, u"Straße"_s,
        u"Ølstykke"_s, u"Ærø"_s, u"Niño"_s, u"Nino"_s, u"CÉLINE"_s, u"Céline"_s };
    for (const QString &typed : titles)
        for (const QString &stored : titles) {
            const bool same = foldForSearch(typed) == foldForSearch(stored);
            EXPECT_EQ(finds(typed, stored), same) << typed.toStdString() << " → " << stored.toStdString();
        }
    EXPECT_TRUE(finds(u"céline"_s, u"CÉLINE"_s));
    EXPECT_TRUE(finds(u"STRASSE"_s, u"Straße"_s)); // case folding takes ß to ss
}

TEST(SearchText, TypingOnNarrowsTheSearch)
{
    const SearchQuery a(u"ラー"_s), ab(u"らーめん"_s), abc(u"らーめん 屋"_s), other(u"うどん"_s);
    EXPECT_TRUE(ab.narrows(a));
    EXPECT_TRUE(abc.narrows(ab));
    EXPECT_FALSE(a.narrows(ab)); // a word taken back widens
    EXPECT_FALSE(other.narrows(a));
    EXPECT_TRUE(SearchQuery(u" ・ ー "_s).isEmpty());
}
