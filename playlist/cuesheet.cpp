#include "cuesheet.h"

#include "filename.h"
#include "mediatypes.h"
#include "pathbytes.h"
#include "textcodec.h"

#include <QHash>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string_view>

namespace kes
{

namespace
{

constexpr std::chrono::milliseconds kReadTimeLimit { 5000 };

QString fromUtf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The text of the sheet's bytes by the program's rule for file text (see the header).
QString decodeSheet(QByteArrayView bytes, CueSheet::Encoding &encoding)
{
    const auto b = [&](qsizetype i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0; };
    if ((b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF)) {
        encoding = CueSheet::Encoding::Utf16;
        QStringDecoder decoder(b(0) == 0xFF ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        return decoder(bytes.sliced(2));
    }
    encoding = CueSheet::Encoding::Utf8;
    if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF)
        return QString::fromUtf8(bytes.sliced(3));
    const std::string_view view(bytes.data(), static_cast<size_t>(bytes.size()));
    if (isValidUtf8(view))
        return QString::fromUtf8(bytes);
    const Cp932Evidence evidence = cp932Evidence(view);
    if (evidence.valid && evidence.japanese > evidence.western) {
        bool ok = false;
        const std::string text = cp932ToUtf8(evidence.cutLead ? view.substr(0, view.size() - 1) : view, &ok);
        if (ok) {
            encoding = CueSheet::Encoding::Cp932;
            return fromUtf8(text);
        }
    }
    // Judged with no Japanese evidence, the bytes read as Windows-1252.
    encoding = CueSheet::Encoding::Latin1;
    Cp932Evidence western;
    western.valid = false;
    return fromUtf8(latin1TagToUtf8(view, western));
}

// The ways a FILE name may be spelt as a path: its text, and its bytes in the sheet's own
// encoding (a file copied from Windows without renaming keeps the CP932 bytes).
QStringList nameSpellings(const QString &name, CueSheet::Encoding encoding)
{
    QStringList names { name };
    QByteArray bytes;
    switch (encoding) {
    case CueSheet::Encoding::Utf8:
    case CueSheet::Encoding::Utf16:
        break;
    case CueSheet::Encoding::Cp932: {
        bool ok = false;
        const QByteArray utf8 = name.toUtf8();
        const std::string cp932 = utf8ToCp932(std::string_view(utf8.constData(), size_t(utf8.size())), &ok);
        if (ok)
            bytes = QByteArray(cp932.data(), qsizetype(cp932.size()));
        break;
    }
    case CueSheet::Encoding::Latin1: {
        QStringEncoder encoder("windows-1252");
        bytes = encoder.isValid() ? QByteArray(encoder(name)) : name.toLatin1();
        if (encoder.isValid() && encoder.hasError())
            bytes.clear();
        break;
    }
    }
    if (!bytes.isEmpty()) {
        const QString spelt = pathFromBytes(bytes);
        if (spelt != name)
            names << spelt;
    }
    return names;
}

// The rank of an audio ending (lower is preferred), or -1 for any other name.
int audioRank(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return -1;
    const QString ending = fileName.sliced(dot + 1).toString().toLower();
    const MediaType *type = mediaTypeOfEnding(ending);
    if (!type || QLatin1StringView(type->mimeTypes).startsWith(QLatin1StringView("video/")))
        return -1;
    static const QLatin1StringView lossless[]
        = { QLatin1StringView("flac"), QLatin1StringView("wv"), QLatin1StringView("ape"), QLatin1StringView("wav") };
    for (int i = 0; i < int(std::size(lossless)); ++i)
        if (ending == lossless[i])
            return i;
    return int(std::size(lossless)) + int(type - kMediaTypes);
}

QString stemOf(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return (dot > 0 ? fileName.first(dot) : fileName).toString();
}

QStringList folderEntries(const QString &folder)
{
    QStringList names = namesInFolder(folder);
    std::sort(names.begin(), names.end());
    return names;
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool isValueChar(QChar c)
{
    return !c.isSpace();
}

// The value of a command: the text between the first and the last double quote, or the
// rest of the line when it does not start with one.
QString valueOf(QStringView rest)
{
    rest = rest.trimmed();
    if (!rest.startsWith(QLatin1Char('"')))
        return rest.toString();
    const qsizetype close = rest.lastIndexOf(QLatin1Char('"'));
    return (close > 0 ? rest.sliced(1, close - 1) : rest.sliced(1)).toString();
}

// A ReplayGain value: a number, optionally followed by "dB".
std::optional<double> gainOf(QStringView rest)
{
    QString text = valueOf(rest).trimmed();
    if (text.endsWith(QLatin1StringView("db"), Qt::CaseInsensitive))
        text.chop(2);
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// mm:ss:ff as CD frames; -1 when it is not that (ss < 60, ff < 75, mm of 1 to 4 digits).
qint64 framesOf(QStringView text)
{
    const QList<QStringView> parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() != 3)
        return -1;
    qint64 v[3];
    for (int i = 0; i < 3; ++i) {
        const QStringView p = parts[i];
        if (p.isEmpty() || p.size() > (i == 0 ? 4 : 2))
            return -1;
        v[i] = 0;
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return -1;
            v[i] = v[i] * 10 + (c.unicode() - '0');
        }
    }
    if (v[1] >= 60 || v[2] >= kCdFramesPerSecond)
        return -1;
    return (v[0] * 60 + v[1]) * kCdFramesPerSecond + v[2];
}

// A whole number of digits only, or -1.
int numberOf(QStringView text, int max)
{
    if (text.isEmpty() || text.size() > 4)
        return -1;
    int n = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        n = n * 10 + (c.unicode() - '0');
    }
    return n <= max ? n : -1;
}

// The blank-separated words of a text.
QList<QStringView> wordsOf(QStringView text)
{
    QList<QStringView> words;
    for (qsizetype i = 0; i < text.size();) {
        while (i < text.size() && !isValueChar(text[i]))
            ++i;
        const qsizetype start = i;
        while (i < text.size() && isValueChar(text[i]))
            ++i;
        if (i > start)
            words.append(text.sliced(start, i - start));
    }
    return words;
}

struct SheetFile {
    QString name, type, path; // path: empty when no media file was found
};

struct SheetTrack {
    CueTrack track;
    bool audio = true;
    int line = 0;
    int startFile = -1; // the FILE of INDEX 01
    int pregapFile = -1; // the FILE of INDEX 00
};

class Parser
{
public:
    Parser(const QString &sheetPath, const CueFileResolver &resolve, CueSheet &out)
        : m_resolve(resolve)
        , m_out(out)
    {
        const qsizetype slash = sheetPath.lastIndexOf(QLatin1Char('/'));
        m_folder = slash < 0 ? workingFolder() : sheetPath.left(std::max<qsizetype>(slash, 1));
    }

    void parse(QStringView text)
    {
        int line = 0;
        for (qsizetype i = 0; i < text.size() && !m_stopped;) {
            qsizetype end = i;
            while (end < text.size() && text[end] != QLatin1Char('\r') && text[end] != QLatin1Char('\n'))
                ++end;
            ++line;
            if (end - i > kMaxCueLineLength)
                fault(CueFault::Kind::LineTooLong, line);
            else
                command(text.sliced(i, end - i).trimmed(), line);
            i = end;
            if (i < text.size() && text[i] == QLatin1Char('\r'))
                ++i;
            if (i < text.size() && text[i] == QLatin1Char('\n') && (i == end || text[i - 1] == QLatin1Char('\r')))
                ++i;
        }
        finish();
    }

private:
    void fault(CueFault::Kind kind, int line) { m_out.faults.append({ kind, line }); }

    void command(QStringView line, int lineNo)
    {
        qsizetype cut = 0;
        while (cut < line.size() && isValueChar(line[cut]))
            ++cut;
        const QString word = line.first(cut).toString().toUpper();
        const QStringView rest = line.sliced(cut).trimmed();
        CueTrack *track = m_tracks.isEmpty() ? nullptr : &m_tracks.last().track;
        if (word == QLatin1StringView("FILE")) {
            addFile(rest, lineNo);
        } else if (word == QLatin1StringView("TRACK")) {
            addTrack(rest, lineNo);
        } else if (word == QLatin1StringView("INDEX")) {
            addIndex(rest, lineNo);
        } else if (m_skipping) {
            // The lines of a track left out.
        } else if (word == QLatin1StringView("TITLE")) {
            (track ? track->title : m_out.title) = valueOf(rest);
        } else if (word == QLatin1StringView("PERFORMER")) {
            (track ? track->performer : m_out.performer) = valueOf(rest);
        } else if (word == QLatin1StringView("SONGWRITER")) {
            (track ? track->songwriter : m_out.songwriter) = valueOf(rest);
        } else if (word == QLatin1StringView("ISRC")) {
            if (track)
                track->isrc = valueOf(rest);
        } else if (word == QLatin1StringView("CATALOG")) {
            m_out.catalog = valueOf(rest);
        } else if (word == QLatin1StringView("REM")) {
            remark(rest, track);
        }
    }

    void remark(QStringView rest, CueTrack *track)
    {
        qsizetype cut = 0;
        while (cut < rest.size() && isValueChar(rest[cut]))
            ++cut;
        const QString key = rest.first(cut).toString().toUpper();
        const QStringView value = rest.sliced(cut);
        if (key == QLatin1StringView("REPLAYGAIN_ALBUM_GAIN"))
            m_out.albumGain = gainOf(value);
        else if (key == QLatin1StringView("REPLAYGAIN_ALBUM_PEAK"))
            m_out.albumPeak = gainOf(value);
        else if (key == QLatin1StringView("REPLAYGAIN_TRACK_GAIN") && track)
            track->gain = gainOf(value);
        else if (key == QLatin1StringView("REPLAYGAIN_TRACK_PEAK") && track)
            track->peak = gainOf(value);
        else if (track)
            return; // the album's remarks only
        else if (key == QLatin1StringView("DATE"))
            m_out.date = valueOf(value);
        else if (key == QLatin1StringView("GENRE"))
            m_out.genre = valueOf(value);
        else if (key == QLatin1StringView("COMMENT"))
            m_out.comment = valueOf(value);
        else if (key == QLatin1StringView("DISCNUMBER"))
            m_out.discNumber = valueOf(value);
    }

    void addFile(QStringView rest, int lineNo)
    {
        SheetFile f;
        if (rest.startsWith(QLatin1Char('"'))) {
            const qsizetype close = rest.lastIndexOf(QLatin1Char('"'));
            f.name = (close > 0 ? rest.sliced(1, close - 1) : rest.sliced(1)).toString();
            f.type = close > 0 ? rest.sliced(close + 1).trimmed().toString() : QString();
        } else {
            qsizetype space = rest.size();
            while (space > 0 && isValueChar(rest[space - 1]))
                --space;
            f.name = (space > 0 ? rest.first(space) : rest).trimmed().toString();
            f.type = space > 0 ? rest.sliced(space).toString() : QString();
        }
        if (!f.name.isEmpty()) {
            const QStringList names = nameSpellings(f.name, m_out.encoding);
            auto found = m_resolved.constFind(names);
            if (found == m_resolved.cend())
                found = m_resolved.insert(names, m_resolve(m_folder, names));
            f.path = *found;
        }
        if (f.path.isEmpty())
            fault(CueFault::Kind::MissingFile, lineNo);
        // A FILE line naming a file named before goes on in it: its indexes stay in order.
        if (const auto known = m_fileIndex.constFind(f.path); !f.path.isEmpty() && known != m_fileIndex.cend()) {
            m_file = *known;
            return;
        }
        if (m_files.size() == kMaxCueTracks) {
            fault(CueFault::Kind::TooManyTracks, lineNo);
            m_stopped = true;
            return;
        }
        m_file = int(m_files.size());
        if (!f.path.isEmpty())
            m_fileIndex.insert(f.path, m_file);
        m_files.append(std::move(f));
        m_lastPos.append(-1);
        m_lastStart.append(-1);
    }

    void addTrack(QStringView rest, int lineNo)
    {
        m_skipping = true;
        if (m_trackLines == kMaxCueTracks) {
            fault(CueFault::Kind::TooManyTracks, lineNo);
            m_stopped = true;
            return;
        }
        ++m_trackLines;
        if (m_files.isEmpty()) {
            fault(CueFault::Kind::NoFile, lineNo);
            return;
        }
        const QList<QStringView> words = wordsOf(rest);
        const int number = words.isEmpty() ? -1 : numberOf(words[0], kMaxCueTracks);
        if (number < 1 || words.size() < 2) {
            fault(CueFault::Kind::BadTrack, lineNo);
            return;
        }
        SheetTrack t;
        t.track.number = number;
        t.audio = words[1].compare(QLatin1StringView("AUDIO"), Qt::CaseInsensitive) == 0;
        t.line = lineNo;
        m_tracks.append(std::move(t));
        m_skipping = false;
    }

    void addIndex(QStringView rest, int lineNo)
    {
        if (m_skipping)
            return;
        if (m_tracks.isEmpty()) {
            fault(CueFault::Kind::NoFile, lineNo);
            return;
        }
        const QList<QStringView> words = wordsOf(rest);
        const int number = words.isEmpty() ? -1 : numberOf(words[0], 99);
        const qint64 pos = words.size() == 2 ? framesOf(words[1]) : -1;
        if (number < 0 || pos < 0) {
            fault(CueFault::Kind::BadTime, lineNo);
            return;
        }
        SheetTrack &t = m_tracks.last();
        const int file = m_file;
        if (t.startFile >= 0 && number <= 1)
            return; // a second INDEX 00 or 01 of the track: the first stands
        // Within one file the indexes never go back, and each track starts after the one
        // before it.
        if (pos < m_lastPos[file] || (number == 1 && pos <= m_lastStart[file])) {
            fault(CueFault::Kind::TimeOutOfOrder, lineNo);
            return;
        }
        m_lastPos[file] = pos;
        if (number == 0) {
            t.track.pregap = pos;
            t.pregapFile = file;
        } else if (number == 1) {
            t.track.start = pos;
            t.startFile = file;
            m_lastStart[file] = pos;
        }
    }

    void finish()
    {
        // Every track with an INDEX 01, data tracks too, ends the one before it in its file.
        SheetTrack *before = nullptr;
        for (SheetTrack &t : m_tracks) {
            if (t.startFile < 0) {
                fault(CueFault::Kind::NoIndex, t.line);
                continue;
            }
            if (before && before->startFile == t.startFile)
                before->track.end = t.track.start;
            before = &t;
        }
        for (SheetTrack &t : m_tracks) {
            if (!t.audio || t.startFile < 0 || m_files[t.startFile].path.isEmpty())
                continue;
            CueTrack &track = t.track;
            track.file = m_files[t.startFile].path;
            track.fileType = m_files[t.startFile].type;
            if (t.pregapFile != t.startFile)
                track.pregap = -1;
            if (track.performer.isEmpty())
                track.performer = m_out.performer;
            m_out.tracks.append(std::move(track));
        }
        if (m_out.tracks.isEmpty())
            fault(CueFault::Kind::NoTracks, 0);
        std::stable_sort(m_out.faults.begin(), m_out.faults.end(),
            [](const CueFault &a, const CueFault &b) { return a.line < b.line; });
    }

    const CueFileResolver &m_resolve;
    CueSheet &m_out;
    QString m_folder;
    QList<SheetFile> m_files; // each file once
    QHash<QString, int> m_fileIndex; // a found file's index in m_files
    int m_file = -1; // the file of the last FILE line
    QList<qint64> m_lastPos; // per file: the last index accepted in it
    QList<qint64> m_lastStart; // per file: the last INDEX 01 accepted in it
    QHash<QStringList, QString> m_resolved;
    QList<SheetTrack> m_tracks;
    int m_trackLines = 0;
    bool m_skipping = false; // inside a track left out
    bool m_stopped = false;
};

} // namespace

QString resolveCueFile(const QString &sheetFolder, const QStringList &names)
{
    QStringList paths;
    for (const QString &name : names) {
        paths << absolutePathIn(sheetFolder, name);
        const qsizetype backslash = name.lastIndexOf(QLatin1Char('\\'));
        if (backslash >= 0 && backslash + 1 < name.size())
            paths << absolutePathIn(sheetFolder, name.sliced(backslash + 1));
    }
    for (const QString &path : paths)
        if (audioRank(FileNameOf(path)) >= 0 && isRegularFile(path))
            return path;
    QHash<QString, QStringList> listings;
    const auto entriesOf = [&](const QString &folder) -> const QStringList & {
        auto it = listings.find(folder);
        if (it == listings.end())
            it = listings.insert(folder, folderEntries(folder));
        return *it;
    };
    const auto folderOf = [](const QString &path) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        return path.left(std::max<qsizetype>(slash, 1));
    };
    for (const QString &path : paths) {
        const QString folder = folderOf(path), name = FileNameOf(path);
        for (const QString &entry : entriesOf(folder))
            if (entry.compare(name, Qt::CaseInsensitive) == 0 && audioRank(entry) >= 0
                && isRegularFile(joined(folder, entry)))
                return joined(folder, entry);
    }
    for (const QString &path : paths) {
        const QString folder = folderOf(path), stem = stemOf(FileNameOf(path));
        QString best;
        int bestRank = -1;
        for (const QString &entry : entriesOf(folder)) {
            const int rank = audioRank(entry);
            if (rank < 0 || (bestRank >= 0 && rank >= bestRank) || stemOf(entry).compare(stem, Qt::CaseInsensitive) != 0
                || !isRegularFile(joined(folder, entry)))
                continue;
            best = joined(folder, entry);
            bestRank = rank;
        }
        if (!best.isEmpty())
            return best;
    }
    return QString();
}

CueSheet parseCueSheet(QByteArrayView bytes, const QString &sheetPath)
{
    return parseCueSheet(bytes, sheetPath, resolveCueFile);
}

CueSheet parseCueSheet(QByteArrayView bytes, const QString &sheetPath, const CueFileResolver &resolve)
{
    CueSheet sheet;
    if (bytes.size() > kMaxCueSheetBytes) {
        sheet.faults.append({ CueFault::Kind::TooBig, 0 });
        return sheet;
    }
    const QString text = decodeSheet(bytes, sheet.encoding);
    if (text.contains(QChar(0))) {
        sheet.faults.append({ CueFault::Kind::NotText, 0 });
        return sheet;
    }
    Parser(sheetPath, resolve, sheet).parse(text);
    return sheet;
}

CueSheet readCueSheet(const QString &sheetPath)
{
    BoundedFile file;
    QByteArray bytes;
    if (file.open(sheetPath, kMaxCueSheetBytes, kReadTimeLimit) != BoundedFile::Status::Ok || !file.readAll(bytes)) {
        CueSheet sheet;
        sheet.faults.append(
            { file.status() == BoundedFile::Status::TooBig ? CueFault::Kind::TooBig : CueFault::Kind::Unreadable, 0 });
        return sheet;
    }
    return parseCueSheet(bytes, sheetPath);
}

} // namespace kes
