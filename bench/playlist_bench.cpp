// Adding files to the playlist against the time of reading their tags alone.
//
// Writes 20,000 small MP3 files (ID3v2.3 title/artist/album and a few silent MPEG-1
// Layer III frames) in 200 folders of 100, then with libvbmp3.so measures:
//   floor   getFileTagInfo of the first 10,000 files, one after another
//   add 1   the first 10,000 through the adder until idle     (goal: <= 1.3 x floor)
//   add 2   the second 10,000 on top of them                   (goal: <= 2 x add 1)
//   m3u     a 10,000-line playlist into an empty list, and once more into the full one
// Usage: playlist_bench [--fake] [folder-for-files]
//   --fake  runs the same steps against the scripted fake decoder (a dry run of the
//           mechanics; its times say nothing about the real library).
#include "decoderapi.h"
#include "fakedecoder.h"
#include "playlistmodel.h"
#include "trackadder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

using namespace kes;

namespace
{

constexpr int kFolders = 100;
constexpr int kPerFolder = 100;

QByteArray id3Frame(const char *id, const QByteArray &text)
{
    QByteArray f(id, 4);
    const quint32 size = static_cast<quint32>(text.size() + 1);
    f += char(size >> 24);
    f += char(size >> 16);
    f += char(size >> 8);
    f += char(size);
    f += QByteArray(2, '\0'); // flags
    f += '\0'; // ISO-8859-1
    f += text;
    return f;
}

QByteArray mp3Bytes(int set, int folder, int n)
{
    QByteArray frames = id3Frame("TIT2", QStringLiteral("Title %1-%2-%3").arg(set).arg(folder).arg(n).toLatin1())
        + id3Frame("TPE1", QStringLiteral("Artist %1").arg(folder).toLatin1())
        + id3Frame("TALB", QStringLiteral("Album %1-%2").arg(set).arg(folder).toLatin1());
    const quint32 size = static_cast<quint32>(frames.size());
    QByteArray out("ID3\x03\x00\x00", 6);
    out += char((size >> 21) & 0x7F);
    out += char((size >> 14) & 0x7F);
    out += char((size >> 7) & 0x7F);
    out += char(size & 0x7F);
    out += frames;
    // MPEG-1 Layer III, 128 kb/s, 44100 Hz, stereo, no CRC: 417-byte frames of silence.
    QByteArray frame(417, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xFB);
    frame[2] = char(0x90);
    frame[3] = char(0x00);
    for (int i = 0; i < 4; ++i)
        out += frame;
    return out;
}

QStringList writeSet(const QString &root, int set)
{
    QStringList paths;
    for (int d = 0; d < kFolders; ++d) {
        const QString folder = QStringLiteral("%1/set%2/folder%3").arg(root).arg(set).arg(d, 3, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        for (int n = 0; n < kPerFolder; ++n) {
            const QString path = QStringLiteral("%1/track%2.mp3").arg(folder).arg(n, 3, 10, QLatin1Char('0'));
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(mp3Bytes(set, d, n)) < 0) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                std::exit(1);
            }
            paths << path;
        }
    }
    return paths;
}

double seconds(const QElapsedTimer &t)
{
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool fake = args.removeAll(QStringLiteral("--fake")) > 0;

    DecoderApi api;
    if (fake) {
        api = FakeDecoder::api();
    } else {
        QString error;
        if (!loadDecoderLibrary(QCoreApplication::applicationDirPath(), api, error)) {
            std::fprintf(stderr, "playlist_bench: %s\n", qPrintable(error));
            return 2;
        }
    }

    QTemporaryDir tmp;
    const QString root = args.isEmpty() ? tmp.path() : args.first();
    QElapsedTimer t;
    t.start();
    const QStringList first = writeSet(root, 1);
    const QStringList second = writeSet(root, 2);
    std::printf("playlist_bench%s: wrote %lld MP3 files in %.2f s\n", fake ? " (fake decoder)" : "",
        static_cast<long long>(first.size() + second.size()), seconds(t));

    // The floor: the tags alone, one file after another.
    t.restart();
    int tagged = 0;
    for (const QString &p : first) {
        TagInfo tag;
        std::memset(&tag, 0, sizeof tag);
        if (api.getFileTagInfo(p.toUtf8().constData(), &tag) && tag.title[0])
            ++tagged;
    }
    const double floor = seconds(t);

    PlaylistModel model;
    TrackAdder adder(&model, api, nullptr);
    t.restart();
    adder.addFiles(first);
    adder.waitForIdle();
    const double add1 = seconds(t);
    const int rows1 = model.count();
    const bool titled = fake || model.title(1) == QLatin1String("Title 1-0-0");

    t.restart();
    adder.addFiles(second);
    adder.waitForIdle();
    const double add2 = seconds(t);
    const int rows2 = model.count();

    QByteArray m3u;
    for (const QString &p : first)
        m3u += p.toUtf8() + "\r\n";
    const QString listPath = root + QStringLiteral("/bench.m3u");
    QFile list(listPath);
    if (!list.open(QIODevice::WriteOnly) || list.write(m3u) != m3u.size())
        return 1;
    list.close();
    model.clear();
    t.restart();
    adder.loadM3u(listPath);
    adder.waitForIdle();
    const double m3uEmpty = seconds(t);
    const int rows3 = model.count();
    t.restart();
    adder.loadM3u(listPath);
    adder.waitForIdle();
    const double m3uFull = seconds(t);

    std::printf("  floor  getFileTagInfo x %lld        %8.3f s  (%d with a title)\n",
        static_cast<long long>(first.size()), floor, tagged);
    std::printf("  add 1  first 10,000 files          %8.3f s  rows %d  ratio to floor %.2f (goal <= 1.30)\n", add1,
        rows1, add1 / floor);
    std::printf("  add 2  second 10,000 files         %8.3f s  rows %d  ratio to add 1 %.2f (goal <= 2.00)\n", add2,
        rows2, add2 / add1);
    std::printf("  m3u    10,000 lines, empty list    %8.3f s  rows %d  ratio to floor %.2f\n", m3uEmpty, rows3,
        m3uEmpty / floor);
    std::printf("  m3u    10,000 lines, all listed    %8.3f s  rows %d\n", m3uFull, model.count());
    if (!titled)
        std::printf("  ROW TEXTS WRONG: first title \"%s\"\n", qPrintable(model.title(1)));
    const bool ok = titled && rows1 == 10000 && rows2 == 20000 && rows3 == 10000 && model.count() == 10000;
    if (!ok)
        std::printf("  ROW COUNTS WRONG\n");
    return ok ? 0 : 1;
}
