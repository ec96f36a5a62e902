#include "textcodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

using namespace kes;

TEST(TextCodec, Cp932RoundTripUsesMicrosoftMapping)
{
    // "日本語～\" in CP932; 0x8160 is the wave dash of Windows, 0x5C the backslash.
    const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea\x81\x60\x5c";
    bool ok = false;
    const std::string utf8 = cp932ToUtf8(sjis, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(utf8, "日本語\xef\xbd\x9e\\");
    EXPECT_EQ(utf8ToCp932(utf8, &ok), sjis);
    EXPECT_TRUE(ok);
    utf8ToCp932("😀", &ok);
    EXPECT_FALSE(ok);
}

TEST(TextCodec, FileBytesFromEitherWorld)
{
    EXPECT_EQ(systemOrCp932ToUtf8("C:\\\x8b\xc8.mp3"), "C:\\曲.mp3");
    // Neither UTF-8 nor CP932 (lone lead byte at the end): Latin-1.
    EXPECT_EQ(systemOrCp932ToUtf8("caf\xe9"), "café");
}

// Tag texts of both worlds as writers store them in fields marked Latin-1: Japanese ones
// in CP932 (kanji, kana, half-width katakana, full-width forms, mixed with ASCII), Western
// ones in Latin-1 with the punctuation of Windows-1252 (’ “ ” – … Œ œ).  Real artist, title
// and album names.
const char *const kJapaneseTexts[] = { "宇多田ヒカル", "浜崎あゆみ", "サザンオールスターズ", "椎名林檎",
    "丸の内サディスティック", "東京事変", "スピッツ", "ロビンソン", "チェリー", "空も飛べるはず", "名もなき詩",
    "米津玄師", "感電", "あいみょん", "マリーゴールド", "中島みゆき", "糸", "松任谷由実", "卒業写真", "山下達郎",
    "クリスマス・イブ", "竹内まりや", "プラスティック・ラヴ", "坂本龍一", "戦場のメリークリスマス", "久石譲",
    "となりのトトロ", "美空ひばり", "川の流れのように", "上を向いて歩こう", "夏川りみ", "涙そうそう", "島唄",
    "安室奈美恵", "ドリームズ・カム・トゥルー", "未来予想図II", "稲葉浩志", "松田聖子", "赤いスイートピー", "中森明菜",
    "少女A", "尾崎豊", "15の夜", "長渕剛", "乾杯", "井上陽水", "少年時代", "玉置浩二", "安全地帯", "ワインレッドの心",
    "ゆず", "夏色", "いきものがかり", "ありがとう", "嵐", "世界に一つだけの花", "夜空ノムコウ", "秦基博",
    "ひまわりの約束", "星野源", "恋", "Official髭男dism", "高嶺の花子さん", "前前前世", "すずめ", "白日", "夜に駆ける",
    "群青", "紅蓮華", "炎", "残響散歌", "藤井風", "死ぬのがいいわ", "優里", "ドライフラワー", "うっせぇわ", "新時代",
    "初音ミク", "千本桜", "高橋洋子", "残酷な天使のテーゼ", "魂のルフラン", "大塚愛", "さくらんぼ", "森山直太朗",
    "さくら（独唱）", "ケツメイシ", "絢香", "三日月", "コブクロ", "蕾", "平井堅", "瞳をとじて", "一青窈", "ハナミズキ",
    "福山雅治", "桜坂", "氷室京介", "紅", "ラルク・アン・シエル", "L'Arc～en～Ciel", "誘惑", "ザ・ブルーハーツ",
    "リンダリンダ", "人にやさしく", "エレファントカシマシ", "今宵の月のように", "くるり", "ばらの花", "ナンバーガール",
    "透明少女", "相対性理論", "電気グルーヴ", "カラオケ ABC", "オアシス", "ビートルズ", "ザ・ビートルズ", "クイーン",
    "ボヘミアン・ラプソディ", "マイケル・ジャクソン", "スリラー", "ビリー・ジョエル", "ストレンジャー",
    "カーペンターズ", "イエスタデイ・ワンス・モア", "ABBA ゴールド", "ベスト・オブ・ビートルズ", "DJオズマ",
    "アゲ♂アゲ♂EVERY☆騎士", "CDアルバム Vol.2", "ベートーヴェン: 交響曲第9番 ニ短調", "モーツァルト",
    "アイネ・クライネ・ナハトムジーク", "ショパン", "夜想曲第2番", "ドビュッシー", "月の光", "トラック01",
    "不明なアーティスト", "不明なアルバム", "ボーナストラック", "ライブ音源", "(インストゥルメンタル)", "リマスター版",
    "【高音質】", "「君の名は。」", "～愛のテーマ～", "①オープニング", "Ｔｈｅ　Ｂｅｓｔ", "ＴＯＫＹＯ",
    "Mr.Children「Tomorrow never knows」", "Vol.3 ～ 夏の終わり", "小澤征爾", "ウィーン・フィル", "Disc 1 - 本編",
    "J-POP ヒット", "アニメ", "演歌", "歌謡曲", "ｻｻﾞﾝｵｰﾙｽﾀｰｽﾞ", "ｽﾋﾟｯﾂ", "ﾛﾋﾞﾝｿﾝ", "ｶﾗｵｹ ABC", "ﾋﾞｰﾄﾙｽﾞ", "ｱﾆﾒ ｿﾝｸﾞ",
    "ﾄﾗｯｸ 01", "ﾃﾞｨｽｸ2", "ｵﾘｼﾞﾅﾙ･ｻｳﾝﾄﾞﾄﾗｯｸ", "ﾍﾞｽﾄ", "ﾀﾞﾝｽ", "ﾊﾞﾝﾄﾞ", "宇多田ﾋｶﾙ", "ﾐｽﾁﾙ", "ｸﾘｽﾏｽ･ｲﾌﾞ" };

const char *const kWesternTexts[] = { "Weißwurst", "ÉTÉ", "ØRESUND", "Céline Dion", "Björk", "Sigur Rós",
    "Ágætis byrjun", "Mötley Crüe", "Beyoncé", "Édith Piaf", "Françoise Hardy", "Ça plane pour moi", "Déjà vu", "Noël",
    "Café del Mar", "Mañana", "Canción de cuna", "Corazón espinado", "Maná", "Niña", "España cañí", "São Paulo",
    "Coração", "João Gilberto", "Águas de março", "Jónsi", "Hoppípolla", "Für Elise", "Götterdämmerung", "Schöne Grüße",
    "Straße", "Blåbærsyltetøy", "Kärlek", "Smörgåsbord", "Æther", "Motörhead", "Queensrÿche", "Blue Öyster Cult",
    "Hüsker Dü", "Röyksopp", "Mädchen", "Über", "ÜBER ALLES", "CRÈME BRÛLÉE", "À bientôt", "Où est la plage", "Naïve",
    "Zoë", "Chloé", "Renée", "Señorita", "Pokémon", "Café", "Les Misérables", "Amélie", "La Bohème", "Édition limitée",
    "Intégrale", "Mêlée", "Fiancée", "élan vital", "écoute", "Éric Serra", "L'été indien", "Hélène",
    "Pièces de clavecin", "Gymnopédie No.1", "Trois Gnossiennes", "Clair de lune (Debussy)", "Für Alina", "Arvo Pärt",
    "Jóhann Jóhannsson", "Ólafur Arnalds", "Emilíana Torrini", "Mari Boine", "Sámi",
    "Kaizers Orchestra – Ompa til du dør", "Dødheimsgard", "Ulver", "Mayhem – De Mysteriis Dom Sathanas",
    "Bohren & der Club of Gore", "Einstürzende Neubauten", "Kraftwerk", "Trans-Europa Express", "Die Ärzte",
    "Rammstein – Sehnsucht", "Nena – 99 Luftballons", "Falco", "Rock Me Amadeus", "Herbert Grönemeyer", "Männer",
    "Wolfgang Amadeus Mozart", "Eine kleine Nachtmusik", "Tchaïkovski", "Camille Saint-Saëns", "Danse macabre",
    "Léo Ferré", "Gérard Lenorman", "Stromae – Papaoutai", "Indochine", "Mylène Farmer", "Désenchantée", "Étienne Daho",
    "Zaz – Je veux", "Christine and the Queens", "Alizée", "Moi… Lolita", "Don’t Stop Me Now", "It’s My Life",
    "I’m Yours", "“Heroes”", "Live… at Pompeii", "Guns N’ Roses", "Rock ’n’ Roll", "C’est la vie",
    "Qu’est-ce que c’est", "Ne me quitte pas", "Sœur Sourire", "Œuvres complètes", "Vol. 2 – Live",
    "Greatest Hits (1970–1980)", "NOËL", "CAFÉ", "ÉLÉGIE", "À LA CARTE", "ÅSA", "ÖSTERREICH", "LÆTITIA", "ÑANDÚ",
    "NIÑO", "CORAÇÃO", "AÇÃO", "INFORMAÇÕES", "GÖTTERDÄMMERUNG", "MÜNCHEN", "ZÜRICH", "BJÖRK", "SIGUR RÓS", "ÍSLAND",
    "FÆRØERNE", "ÉCOLE", "ÉTUDE", "ÉDITION", "ÇA VA", "DÉJÀ VU", "¡Viva España!", "¿Qué?", "«Liberté»", "Nº 5", "100°",
    "½ Gentlemen/Not Beasts", "© 2003 EMI", "µ-Ziq", "Ångström", "Æon Flux", "Åsa Jinder", "Øystein Sevåg", "Ísold",
    "Þursaflokkurinn", "Ég anda", "Sjón", "Orquesta Típica", "Bésame mucho", "Cántame", "Piñata", "Jalapeño",
    "Crème de la crème", "Über den Wolken", "Naïveté", "Beyoncé – Halo", "Señor", "Caña", "Aïda", "Måneskin",
    "Zitti e buoni", "Perché", "Però", "Così fan tutte", "Nessun dorma", "Città", "Volerò", "Più bella cosa",
    "Elisa – Luce", "Laura Pausini – La solitudine", "Ramazzotti – Più che puoi" };

// A Western text as a writer on Western Windows stores it: Latin-1, with Windows-1252's
// punctuation and letters in 0x80-0x9F.
std::string westernBytes(const std::string &utf8)
{
    static const std::pair<char32_t, unsigned char> kCp1252[] = { { U'€', 0x80 }, { U'…', 0x85 }, { U'Š', 0x8A },
        { U'Œ', 0x8C }, { U'Ž', 0x8E }, { U'‘', 0x91 }, { U'’', 0x92 }, { U'“', 0x93 }, { U'”', 0x94 }, { U'–', 0x96 },
        { U'—', 0x97 }, { U'™', 0x99 }, { U'š', 0x9A }, { U'œ', 0x9C }, { U'ž', 0x9E }, { U'Ÿ', 0x9F } };
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
        for (size_t k = 1; k < n; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        if (cp < 0x100) {
            out += static_cast<char>(cp);
            continue;
        }
        const auto *found
            = std::find_if(std::begin(kCp1252), std::end(kCp1252), [&](const auto &p) { return p.first == cp; });
        EXPECT_NE(found, std::end(kCp1252)) << utf8;
        out += static_cast<char>(found != std::end(kCp1252) ? found->second : '?');
    }
    return out;
}

// The measure of the rule: how many texts of each world come back as they were written.
TEST(TextCodec, Latin1FieldsJudgedOverACorpusOfTagTexts)
{
    size_t japaneseRight = 0, westernRight = 0;
    std::string misread;
    for (const char *text : kJapaneseTexts) {
        bool ok = false;
        const std::string bytes = utf8ToCp932(text, &ok);
        ASSERT_TRUE(ok) << text;
        const std::string read = latin1TagToUtf8(bytes);
        read == text ? ++japaneseRight : (misread += std::string(" [") + text + " as " + read + "]", 0);
    }
    for (const char *text : kWesternTexts) {
        const std::string read = latin1TagToUtf8(westernBytes(text));
        read == text ? ++westernRight : (misread += std::string(" [") + text + " as " + read + "]", 0);
    }
    const size_t japanese = std::size(kJapaneseTexts), western = std::size(kWesternTexts);
    std::printf("corpus: Japanese %zu of %zu right, Western %zu of %zu right\n", japaneseRight, japanese, westernRight,
        western);
    EXPECT_GE(double(japaneseRight) / double(japanese), 0.98) << misread;
    EXPECT_GE(double(westernRight) / double(western), 0.98) << misread;
    // The shapes a rule that weighs neighbouring bytes gets wrong: katakana whose trail
    // bytes are ASCII letters, upper-case accents and ß that are half-width katakana in CP932.
    for (const char *text : { "オアシス", "ビートルズ", "カラオケ ABC", "DJオズマ" })
        EXPECT_EQ(latin1TagToUtf8(utf8ToCp932(text)), text);
    for (const char *text : { "Weißwurst", "ÉTÉ", "ØRESUND", "Don’t Stop" })
        EXPECT_EQ(latin1TagToUtf8(westernBytes(text)), text);
}

TEST(TextCodec, Latin1TagFieldsTellJapaneseFromLatin1)
{
    struct Case {
        const char *name;
        std::string bytes;
        std::string expected;
    } cases[] = {
        { "ascii", "Blue Train", "Blue Train" },
        { "cp932 kana", "\x82\xa0\x82\xa2\x82\xa4", "あいう" },
        { "cp932 half-width", "\xb1\xb2\xb3", "ｱｲｳ" },
        { "latin1 accent + letter", "C\xe9line", "Céline" },
        { "latin1 umlaut (user-defined area)", "Bj\xf6rk", "Björk" },
        { "latin1 accent at the end of a word", "Janelle Mon\xe1\x65/Roman", "Janelle Monáe/Roman" },
        { "cp932 katakana after a blank", "CD \x83\x41\x83\x43/x", "CD アイ/x" },
        { "utf8 in a latin1 field", "Bj\xc3\xb6rk", "Björk" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(latin1TagToUtf8(c.bytes), c.expected) << c.name;
}

TEST(TextCodec, FieldsOfOneTagJudgedTogetherAndCutCharactersDropped)
{
    // A level-2 kanji alone weighs no more than the Latin-1 letter its lead byte is ("åQ");
    // the other fields of its tag decide.
    const std::string bud = utf8ToCp932("蕾"), band = utf8ToCp932("コブクロ");
    Cp932Evidence tag = cp932Evidence(bud);
    tag += cp932Evidence(band);
    EXPECT_EQ(latin1TagToUtf8(bud, tag), "蕾");
    EXPECT_EQ(latin1TagToUtf8(westernBytes("Björk"), tag), "Björk") << "not CP932 at all";
    EXPECT_EQ(latin1TagToUtf8("Blue Train", tag), "Blue Train");
    // A writer that cut a field at a fixed length may split the last character: it goes,
    // when the rest is Japanese; a Western field ending in a letter whose byte is a lead
    // byte keeps it.
    const std::string beatles = utf8ToCp932("ビートルズ"), kana = utf8ToCp932("あいう");
    EXPECT_EQ(latin1TagToUtf8(beatles.substr(0, beatles.size() - 1)), "ビートル");
    EXPECT_EQ(latin1TagToUtf8(kana.substr(0, kana.size() - 1)), "あい");
    EXPECT_EQ(latin1TagToUtf8(westernBytes("Beyoncé")), "Beyoncé");
}

TEST(TextCodec, CutNeverSplitsACharacter)
{
    const std::string s = "ab日本"; // 2 + 3 + 3 bytes
    for (auto [limit, cut] : { std::pair { 100u, 8u }, { 5u, 5u }, { 6u, 5u }, { 7u, 5u }, { 2u, 2u } })
        EXPECT_EQ(utf8CutLength(s, limit), cut) << limit;
    EXPECT_FALSE(isValidUtf8("\xe6\x97"));
    EXPECT_FALSE(isValidUtf8("\xc0\xaf")); // overlong
    EXPECT_TRUE(isValidUtf8("日本"));
}
