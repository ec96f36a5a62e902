// Finding rows as the user types, in a playlist of 100,000 rows of Japanese and Western
// titles, artists, albums and file names.  Measures on the GUI thread (its own CPU time):
//   open      RowFinder::prepare, what opening the find window costs  (goal: instant, < 10 ms)
//   fold      the worker folding every row's texts, wall time until ready (not the GUI's)
//   keystroke find() for each prefix of a few typed queries           (goal: worst <= 50 ms)
// beside a reference measured in the same run: a plain case-insensitive QString::contains
// over the same four texts of every row, which folds nothing and finds far less.
// Usage: find_bench [rows]
#include "playlistmodel.h"
#include "rowfinder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace kes;

namespace
{

double threadMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

const char16_t *const kWords[] = { u"桜", u"さくら", u"サクラ", u"ヴァイオリン", u"ソナタ", u"ラーメン", u"夜空",
    u"ノクターン", u"ｶﾞｰﾃﾞﾝ", u"Love", u"Song", u"Café", u"Straße", u"Night", u"Blue", u"雨", u"東京", u"ﾄﾞﾗﾏ",
    u"モーニング", u"Symphony", u"No.5", u"ジャズ", u"海", u"Rock", u"夏の日", u"月光", u"Étude", u"ピアノ" };

QString words(quint32 &seed, int n)
{
    QString out;
    for (int i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        if (i)
            out += u' ';
        out += QString::fromUtf16(kWords[(seed >> 8) % std::size(kWords)]);
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    PlaylistModel list;
    QList<TrackRow> rows;
    quint32 seed = 1;
    for (int i = 0; i < count; ++i) {
        const QString title = words(seed, 3) + QStringLiteral(" %1").arg(i);
        const QString artist = words(seed, 2);
        const QString album = words(seed, 2);
        rows.append(TrackRow { .title = title,
            .artist = artist,
            .album = album,
            .fullPath = QStringLiteral("/music/%1/%2/%3 %4.flac").arg(artist, album).arg(i % 20).arg(title) });
    }
    list.addRows(rows);

    RowFinder finder(list);
    QEventLoop loop;
    QObject::connect(&finder, &RowFinder::ready, &loop, &QEventLoop::quit);
    QElapsedTimer wall;
    wall.start();
    const double openStart = threadMs();
    finder.prepare();
    const double openMs = threadMs() - openStart;
    loop.exec();
    const double foldMs = wall.elapsed();

    const QString queries[] = { QStringLiteral("ゔぁいおりん そなた"), QStringLiteral("ｻｸﾗ 東京 99"),
        QStringLiteral("strasse night"), QStringLiteral("zzzz") };
    double worst = 0, worstRef = 0, total = 0, totalRef = 0;
    int keys = 0;
    for (const QString &q : queries) {
        for (int n = 1; n <= q.size(); ++n) {
            const QString typed = q.left(n);
            double t = threadMs();
            const qsizetype found = finder.find(typed).size();
            t = threadMs() - t;
            // The reference: every row's four texts, case-insensitive, nothing folded.
            double r = threadMs();
            qsizetype plain = 0;
            for (int i = 1; i <= list.count(); ++i) {
                const TrackRow &row = list.row(i);
                plain += row.title.contains(typed, Qt::CaseInsensitive)
                    || row.artist.contains(typed, Qt::CaseInsensitive) || row.album.contains(typed, Qt::CaseInsensitive)
                    || row.fullPath.contains(typed, Qt::CaseInsensitive);
            }
            r = threadMs() - r;
            worst = std::max(worst, t);
            worstRef = std::max(worstRef, r);
            total += t;
            totalRef += r;
            ++keys;
            std::printf("  %-24s %7lld matches %6.1f ms   (plain contains: %7lld, %6.1f ms)\n",
                typed.toUtf8().constData(), static_cast<long long>(found), t, static_cast<long long>(plain), r);
        }
    }
    std::printf("rows %d\nopen      %.1f ms of the GUI thread (goal < 10)\n", count, openMs);
    std::printf("fold      %.0f ms on the worker until ready\n", foldMs);
    std::printf("keystroke worst %.1f ms (goal <= 50), mean %.1f ms; plain contains worst %.1f, mean %.1f: %.2fx\n",
        worst, total / keys, worstRef, totalRef / keys, (total / keys) / (totalRef / keys));
    return worst <= 50 && openMs < 10 ? 0 : 1;
}
