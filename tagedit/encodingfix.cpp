#include "encodingfix.h"

#include "editfile.h"
#include "pathbytes.h"
#include "textcodec.h"

#include <QHash>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kes
{

namespace
{

constexpr qint64 kTagLimit = 64 << 20;

// A Latin-1 text as it sits in the file.
struct RawText {
    QString key;
    QByteArray bytes;
    bool editable; // a field the fix rewrites (not a TXXX nor a described COMM / USLT)
};

struct RawTags {
    QList<RawText> id3v2;
    QSet<QString> id3v2Frames; // every frame id present, whatever its encoding
    QList<RawText> id3v1;
};

QByteArray readAt(int fd, qint64 offset, qint64 n)
{
    QByteArray out(n, Qt::Uninitialized);
    qint64 done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, out.data() + done, static_cast<size_t>(n - done), offset + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    out.truncate(done);
    return out;
}

quint32 syncsafe(const QByteArray &b, qsizetype at)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 7) | (quint8(b[at + i]) & 0x7F);
    return v;
}

quint32 bigEndian(const QByteArray &b, qsizetype at)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

QByteArray withoutUnsync(QByteArray data)
{
    return data.replace(QByteArray("\xFF\x00", 2), QByteArray("\xFF"));
}

QByteArray upToNul(const QByteArray &b)
{
    const qsizetype nul = b.indexOf('\0');
    return nul < 0 ? b : b.left(nul);
}

void readId3v2(int fd, RawTags &tags)
{
    const QByteArray header = readAt(fd, 0, 10);
    if (header.size() < 10 || !header.startsWith("ID3") || (header[3] != 3 && header[3] != 4))
        return;
    const int version = header[3];
    const qint64 size = syncsafe(header, 6);
    if (size > kTagLimit)
        return;
    QByteArray body = readAt(fd, 10, size);
    if (version == 3 && (header[5] & 0x80))
        body = withoutUnsync(body);
    qsizetype at = 0;
    if ((header[5] & 0x40) && body.size() >= 4)
        at = version == 3 ? 4 + bigEndian(body, 0) : syncsafe(body, 0);
    while (at + 10 <= body.size() && body[at] != '\0') {
        const QString id = QString::fromLatin1(body.mid(at, 4));
        const qint64 frameSize = version == 4 ? syncsafe(body, at + 4) : bigEndian(body, at + 4);
        const quint8 format = quint8(body[at + 9]);
        QByteArray data = body.mid(at + 10, frameSize);
        at += 10 + frameSize;
        tags.id3v2Frames.insert(id);
        const bool packed = version == 4 ? (format & 0x0C) : (format & 0xC0);
        if (packed)
            continue; // compressed or encrypted: not ours to read
        if (version == 4) {
            data = data.mid(((format & 0x40) ? 1 : 0) + ((format & 0x01) ? 4 : 0));
            if (format & 0x02)
                data = withoutUnsync(data);
        } else if (format & 0x20) {
            data = data.mid(1);
        }
        if (data.isEmpty() || data[0] != '\0')
            continue; // not Latin-1
        if (id == QLatin1String("TXXX")) {
            const QByteArray rest = data.mid(1);
            tags.id3v2.append({ id, upToNul(rest.mid(rest.indexOf('\0') + 1)), false });
        } else if (id.startsWith('T')) {
            tags.id3v2.append({ id, upToNul(data.mid(1)), true });
        } else if (id == QLatin1String("COMM") || id == QLatin1String("USLT")) {
            const QByteArray rest = data.mid(4);
            const qsizetype nul = rest.indexOf('\0');
            if (nul >= 0)
                tags.id3v2.append({ id, upToNul(rest.mid(nul + 1)), nul == 0 });
        }
    }
}

void readId3v1(int fd, RawTags &tags)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || st.st_size < 128)
        return;
    const QByteArray tag = readAt(fd, st.st_size - 128, 128);
    if (!tag.startsWith("TAG"))
        return;
    const auto field = [&](const char *key, int at, int n) {
        QByteArray bytes = upToNul(tag.mid(at, n));
        while (bytes.endsWith(' '))
            bytes.chop(1);
        tags.id3v1.append({ QString::fromLatin1(key), bytes, true });
    };
    field("ID3v1:title", 3, 30);
    field("ID3v1:artist", 33, 30);
    field("ID3v1:album", 63, 30);
    field("ID3v1:year", 93, 4);
    field("ID3v1:comment", 97, tag[125] == '\0' && tag[126] != '\0' ? 28 : 30);
}

// The ID3v2 frame an ID3v1 field becomes.
QString frameOfId3v1(const QString &key)
{
    static const QHash<QString, QString> frames { { "ID3v1:title", "TIT2" }, { "ID3v1:artist", "TPE1" },
        { "ID3v1:album", "TALB" }, { "ID3v1:year", "TDRC" }, { "ID3v1:comment", "COMM" } };
    return frames.value(key);
}

QString nameOf(const QString &key)
{
    static const QHash<QString, QString> names { { "TIT2", "タイトル" }, { "TPE1", "アーティスト" },
        { "TALB", "アルバム" }, { "TPE2", "アルバムアーティスト" }, { "TCON", "ジャンル" }, { "TCOM", "作曲者" },
        { "TEXT", "作詞者" }, { "TDRC", "年" }, { "TYER", "年" }, { "COMM", "コメント" }, { "USLT", "歌詞" } };
    const QString frame = key.startsWith(QLatin1String("ID3v1:")) ? frameOfId3v1(key) : key;
    const QString name = names.value(frame, frame);
    return key.startsWith(QLatin1String("ID3v1:")) ? name + QStringLiteral("（ID3v1）") : name;
}

// The fields of one tag that the player reads as CP932, judged as the player judges them:
// by the field alone, or by the evidence of all the tag's fields when two or more need it.
// An ID3v1 field whose frame the ID3v2 tag has is not what the player shows: not listed.
void judge(const QList<RawText> &texts, QList<EncodingFixField> &out, const QSet<QString> &id3v2Frames = {})
{
    Cp932Evidence tag;
    int judged = 0;
    for (const RawText &text : texts) {
        const std::string_view bytes(text.bytes.constData(), static_cast<size_t>(text.bytes.size()));
        if (!isValidUtf8(bytes)) {
            tag += cp932Evidence(bytes);
            ++judged;
        }
    }
    for (const RawText &text : texts) {
        const std::string_view bytes(text.bytes.constData(), static_cast<size_t>(text.bytes.size()));
        if (!text.editable || isValidUtf8(bytes) || id3v2Frames.contains(frameOfId3v1(text.key)))
            continue;
        const Cp932Evidence own = cp932Evidence(bytes);
        const Cp932Evidence &rule = judged >= 2 ? tag : own;
        if (!own.valid || rule.japanese <= rule.western)
            continue;
        const bool unsure = rule.western > 0 || rule.japanese < 4 || own.cutLead;
        out.append({ text.key, nameOf(text.key), QString::fromLatin1(text.bytes),
            QString::fromStdString(latin1TagToUtf8(bytes, rule)), unsure });
    }
}

bool readRaw(const QString &path, RawTags &tags)
{
    const int fd = ::open(pathToBytes(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    readId3v2(fd, tags);
    readId3v1(fd, tags);
    ::close(fd);
    return true;
}

} // namespace

EncodingFixScan scanEncoding(const QString &path)
{
    EncodingFixScan scan;
    RawTags tags;
    if (!readRaw(path, tags)) {
        scan.why = QStringLiteral("ファイルを読み取れません。");
        return scan;
    }
    scan.ok = true;
    judge(tags.id3v2, scan.fields);
    judge(tags.id3v1, scan.fields, tags.id3v2Frames);
    return scan;
}

WriteResult applyEncodingFix(const QString &path, const QList<EncodingFixField> &chosen)
{
    RawTags tags;
    if (!readRaw(path, tags))
        return WriteResult { WriteOutcome::Changed, QStringLiteral("ファイルが見つかりません。") };
    QList<TagEdit> edits;
    QSet<QString> keys;
    for (const EncodingFixField &field : chosen) {
        QString key = field.key;
        if (key.startsWith(QLatin1String("ID3v1:"))) {
            // The ID3v2 tag's own frame wins where there is one.
            key = frameOfId3v1(key);
            if (key.isEmpty() || tags.id3v2Frames.contains(key))
                continue;
        }
        if (!keys.contains(key)) {
            keys.insert(key);
            edits.append({ key, field.after });
        }
    }
    if (edits.isEmpty())
        return WriteResult { WriteOutcome::Unchanged, QString() };
    return editFile(
        path, [&edits](TagFormat format) { return format == TagFormat::Mp3 ? edits : QList<TagEdit> { TagEdit {} }; },
        EditOptions { true, false });
}

} // namespace kes
