#include "tagaccess.h"

#include "textcodec.h"

#include <QRegularExpression>

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/synchronizedlyricsframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kes
{

namespace
{

TagLib::String toTag(const QString &text)
{
    return TagLib::String(text.toStdString(), TagLib::String::UTF8);
}

QString fromTag(const TagLib::String &text)
{
    return QString::fromStdString(text.to8Bit(true));
}

QString joined(const TagLib::StringList &values)
{
    QStringList out;
    for (const TagLib::String &v : values)
        out << fromTag(v);
    return out.join(QStringLiteral(" / "));
}

// "n/total" as its two halves; the total is empty when not given.
std::pair<QString, QString> numberAndTotal(const QString &text)
{
    const qsizetype slash = text.indexOf('/');
    if (slash < 0)
        return { text.trimmed(), QString() };
    return { text.left(slash).trimmed(), text.mid(slash + 1).trimmed() };
}

// ---- MP3: ID3v2.4, UTF-8 ----

class Id3v2Access : public TagAccess
{
public:
    Id3v2Access(const QByteArray &fileName, bool readOnly)
        : m_stream(fileName.constData(), readOnly)
        , m_file(&m_stream, TagLib::ID3v2::FrameFactory::instance(), false)
    {
    }
    bool isValid() const override { return m_stream.isOpen() && m_file.isValid(); }

    QString get(const QString &key) const override
    {
        const TagLib::ID3v2::Tag *tag = m_file.ID3v2Tag();
        if (!tag)
            return {};
        if (key.startsWith(QLatin1String("TXXX:"))) {
            const auto *frame = userText(tag, key.mid(5));
            if (!frame)
                return {};
            TagLib::StringList values = frame->fieldList();
            if (!values.isEmpty())
                values.erase(values.begin()); // the description
            return joined(values);
        }
        const TagLib::ByteVector id(key.toLatin1().constData());
        for (TagLib::ID3v2::Frame *frame : tag->frameList(id)) {
            if (key == QLatin1String("SYLT")) {
                QList<TimedLine> lines;
                for (const auto &l : static_cast<TagLib::ID3v2::SynchronizedLyricsFrame *>(frame)->synchedText())
                    lines.append({ l.time, fromTag(l.text) });
                return timedLinesText(lines);
            }
            if (isDescribed(frame))
                continue;
            if (auto *text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame *>(frame))
                return joined(text->fieldList());
            return fromTag(frame->toString());
        }
        return {};
    }

    void set(const QString &key, const QString &value) override
    {
        TagLib::ID3v2::Tag *tag = m_file.ID3v2Tag(true);
        if (key.startsWith(QLatin1String("TXXX:"))) {
            while (auto *frame = userText(tag, key.mid(5)))
                tag->removeFrame(frame);
            if (!value.isEmpty())
                tag->addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(
                    toTag(key.mid(5)), TagLib::StringList(toTag(value)), TagLib::String::UTF8));
            return;
        }
        const TagLib::ByteVector id(key.toLatin1().constData());
        const TagLib::ID3v2::FrameList frames = tag->frameList(id);
        TagLib::ByteVector language("XXX");
        for (TagLib::ID3v2::Frame *frame : frames) {
            if (isDescribed(frame))
                continue;
            if (auto *comment = dynamic_cast<TagLib::ID3v2::CommentsFrame *>(frame))
                language = comment->language();
            else if (auto *lyrics = dynamic_cast<TagLib::ID3v2::UnsynchronizedLyricsFrame *>(frame))
                language = lyrics->language();
            tag->removeFrame(frame);
        }
        if (value.isEmpty())
            return;
        if (key == QLatin1String("COMM")) {
            auto *frame = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
            frame->setLanguage(language);
            frame->setText(toTag(value));
            tag->addFrame(frame);
        } else if (key == QLatin1String("USLT")) {
            auto *frame = new TagLib::ID3v2::UnsynchronizedLyricsFrame(TagLib::String::UTF8);
            frame->setLanguage(language);
            frame->setText(toTag(value));
            tag->addFrame(frame);
        } else if (key == QLatin1String("SYLT")) {
            auto *frame = new TagLib::ID3v2::SynchronizedLyricsFrame(TagLib::String::UTF8);
            frame->setLanguage(language);
            frame->setTimestampFormat(TagLib::ID3v2::SynchronizedLyricsFrame::AbsoluteMilliseconds);
            frame->setType(TagLib::ID3v2::SynchronizedLyricsFrame::Lyrics);
            TagLib::ID3v2::SynchronizedLyricsFrame::SynchedTextList list;
            for (const TimedLine &line : lrcLines(value))
                list.append({ line.ms, toTag(line.text) });
            frame->setSynchedText(list);
            tag->addFrame(frame);
        } else {
            auto *frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
            frame->setText(toTag(value));
            tag->addFrame(frame);
        }
    }

    QString normalized(const QString &key, const QString &value) const override
    {
        return key == QLatin1String("SYLT") ? timedLinesText(lrcLines(value)) : value;
    }

    bool save() override
    {
        // Only the ID3v2 tag is written; an ID3v1 or APE tag stays as it is.
        return m_file.save(
            TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate);
    }

private:
    // COMM and USLT frames with a description belong to other programs (iTunNORM…).
    static bool isDescribed(TagLib::ID3v2::Frame *frame)
    {
        if (auto *comment = dynamic_cast<TagLib::ID3v2::CommentsFrame *>(frame))
            return !comment->description().isEmpty();
        if (auto *lyrics = dynamic_cast<TagLib::ID3v2::UnsynchronizedLyricsFrame *>(frame))
            return !lyrics->description().isEmpty();
        return false;
    }
    static TagLib::ID3v2::UserTextIdentificationFrame *userText(const TagLib::ID3v2::Tag *tag, const QString &name)
    {
        for (TagLib::ID3v2::Frame *frame : tag->frameList("TXXX")) {
            auto *text = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame *>(frame);
            if (text && fromTag(text->description()).compare(name, Qt::CaseInsensitive) == 0)
                return text;
        }
        return nullptr;
    }

    TagLib::FileStream m_stream;
    mutable TagLib::MPEG::File m_file;
};

// ---- FLAC, Ogg FLAC, Vorbis, Opus: Xiph comments ----

template <typename File> class XiphAccess : public TagAccess
{
public:
    XiphAccess(const QByteArray &fileName, bool readOnly)
        : m_stream(fileName.constData(), readOnly)
        , m_file(makeFile(&m_stream))
    {
    }
    bool isValid() const override { return m_stream.isOpen() && m_file.isValid() && comment(); }

    QString get(const QString &key) const override
    {
        const TagLib::Ogg::XiphComment *tag = comment();
        const QString total = totalKey(key);
        const QString value = tag ? field(tag, key) : QString();
        if (total.isEmpty() || value.contains('/'))
            return value;
        QString count = field(tag, total);
        if (count.isEmpty())
            count = field(tag, key == QLatin1String("TRACKNUMBER") ? "TOTALTRACKS" : "TOTALDISCS");
        return count.isEmpty() ? value : value + '/' + count;
    }

    void set(const QString &key, const QString &value) override
    {
        TagLib::Ogg::XiphComment *tag = comment();
        const QString total = totalKey(key);
        if (total.isEmpty()) {
            put(tag, key, value);
            return;
        }
        const auto [number, count] = numberAndTotal(value);
        put(tag, key, number);
        put(tag, total, count);
        tag->removeFields(key == QLatin1String("TRACKNUMBER") ? "TOTALTRACKS" : "TOTALDISCS");
    }

    QString normalized(const QString &key, const QString &value) const override
    {
        if (totalKey(key).isEmpty())
            return value;
        const auto [number, count] = numberAndTotal(value);
        return count.isEmpty() ? number : number + '/' + count;
    }

    bool save() override { return m_file.save(); }

private:
    static File makeFile(TagLib::IOStream *stream)
    {
        if constexpr (std::is_same_v<File, TagLib::FLAC::File>)
            return File(stream, TagLib::ID3v2::FrameFactory::instance(), false);
        else
            return File(stream, false);
    }
    TagLib::Ogg::XiphComment *comment() const
    {
        if constexpr (std::is_same_v<File, TagLib::FLAC::File>)
            return m_file.xiphComment(true);
        else
            return m_file.tag();
    }
    static QString totalKey(const QString &key)
    {
        return key == QLatin1String("TRACKNUMBER") ? QStringLiteral("TRACKTOTAL")
            : key == QLatin1String("DISCNUMBER")   ? QStringLiteral("DISCTOTAL")
                                                   : QString();
    }
    static QString field(const TagLib::Ogg::XiphComment *tag, const QString &key)
    {
        const auto &map = tag->fieldListMap();
        const auto found = map.find(toTag(key));
        return found == map.end() ? QString() : joined(found->second);
    }
    static void put(TagLib::Ogg::XiphComment *tag, const QString &key, const QString &value)
    {
        if (value.isEmpty())
            tag->removeFields(toTag(key));
        else
            tag->addField(toTag(key), toTag(value), true);
    }

    TagLib::FileStream m_stream;
    mutable File m_file;
};

// ---- MP4 atoms ----

class Mp4Access : public TagAccess
{
public:
    Mp4Access(const QByteArray &fileName, bool readOnly)
        : m_stream(fileName.constData(), readOnly)
        , m_file(&m_stream, false)
    {
    }
    bool isValid() const override { return m_stream.isOpen() && m_file.isValid() && m_file.tag(); }

    QString get(const QString &key) const override
    {
        const TagLib::MP4::Tag *tag = m_file.tag();
        const QString found = existing(key);
        if (found.isEmpty())
            return {};
        const TagLib::MP4::Item item = tag->item(toTag(found));
        if (isPair(key)) {
            const auto pair = item.toIntPair();
            return pair.second > 0 ? QStringLiteral("%1/%2").arg(pair.first).arg(pair.second)
                                   : QString::number(pair.first);
        }
        return joined(item.toStringList());
    }

    void set(const QString &key, const QString &value) override
    {
        TagLib::MP4::Tag *tag = m_file.tag();
        for (QString found = existing(key); !found.isEmpty(); found = existing(key))
            tag->removeItem(toTag(found));
        if (key == QStringLiteral("©gen"))
            tag->removeItem("gnre");
        if (value.isEmpty())
            return;
        if (isPair(key)) {
            const auto [number, count] = numberAndTotal(value);
            tag->setItem(toTag(key), TagLib::MP4::Item(number.toInt(), count.toInt()));
        } else {
            tag->setItem(toTag(key), TagLib::StringList(toTag(value)));
        }
    }

    QString normalized(const QString &key, const QString &value) const override
    {
        if (!isPair(key) || value.isEmpty())
            return value;
        const auto [number, count] = numberAndTotal(value);
        return count.toInt() > 0 ? QStringLiteral("%1/%2").arg(number.toInt()).arg(count.toInt())
                                 : QString::number(number.toInt());
    }

    bool save() override { return m_file.save(); }

private:
    static bool isPair(const QString &key) { return key == QLatin1String("trkn") || key == QLatin1String("disk"); }
    // The item's key as the file spells it (free-form names differ in case between writers).
    QString existing(const QString &key) const
    {
        for (const auto &item : m_file.tag()->itemMap()) {
            const QString name = fromTag(item.first);
            if (name.compare(key, key.startsWith(QLatin1String("----")) ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0)
                return name;
        }
        return {};
    }

    TagLib::FileStream m_stream;
    mutable TagLib::MP4::File m_file;
};

// ---- WavPack, Monkey's Audio: APEv2 ----

template <typename File> class ApeAccess : public TagAccess
{
public:
    ApeAccess(const QByteArray &fileName, bool readOnly)
        : m_stream(fileName.constData(), readOnly)
        , m_file(&m_stream, false)
    {
    }
    bool isValid() const override { return m_stream.isOpen() && m_file.isValid(); }

    QString get(const QString &key) const override
    {
        const TagLib::APE::Tag *tag = m_file.APETag(false);
        if (!tag)
            return {};
        const auto &map = tag->itemListMap();
        const auto found = map.find(toTag(key).upper());
        return found == map.end() ? QString() : joined(found->second.values());
    }

    void set(const QString &key, const QString &value) override
    {
        TagLib::APE::Tag *tag = m_file.APETag(true);
        if (value.isEmpty())
            tag->removeItem(toTag(key));
        else
            tag->addValue(toTag(key), toTag(value), true);
    }

    bool save() override { return m_file.save(); }

private:
    TagLib::FileStream m_stream;
    mutable File m_file;
};

// The codec of an Ogg stream from its first packet.
std::optional<TagFormat> oggCodec(const QByteArray &fileName)
{
    const int fd = ::open(fileName.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    char head[64] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    const QByteArray bytes(head, got > 0 ? got : 0);
    if (!bytes.startsWith("OggS") || bytes.size() < 28)
        return std::nullopt;
    const QByteArray packet = bytes.mid(27 + quint8(bytes[26]));
    if (packet.startsWith("\x01vorbis"))
        return TagFormat::OggVorbis;
    if (packet.startsWith("OpusHead"))
        return TagFormat::Opus;
    if (packet.startsWith("\x7f"
                          "FLAC"))
        return TagFormat::OggFlac;
    return std::nullopt;
}

} // namespace

std::optional<TagFormat> tagFormatOf(const QByteArray &fileName)
{
    const QByteArray ending = fileName.mid(fileName.lastIndexOf('.') + 1).toLower();
    if (ending == "mp3")
        return TagFormat::Mp3;
    if (ending == "flac")
        return TagFormat::Flac;
    if (ending == "ogg" || ending == "oga" || ending == "opus")
        return oggCodec(fileName);
    if (ending == "m4a" || ending == "m4b" || ending == "mp4")
        return TagFormat::Mp4;
    if (ending == "wv")
        return TagFormat::WavPack;
    if (ending == "ape")
        return TagFormat::Ape;
    return std::nullopt;
}

AudioLayout audioLayoutOf(TagFormat format)
{
    switch (format) {
    case TagFormat::Mp3:
    case TagFormat::WavPack:
    case TagFormat::Ape:
        return AudioLayout::TagsAround;
    case TagFormat::Flac:
        return AudioLayout::Flac;
    case TagFormat::OggVorbis:
    case TagFormat::OggFlac:
    case TagFormat::Opus:
        return AudioLayout::Ogg;
    case TagFormat::Mp4:
        return AudioLayout::Mp4;
    }
    return AudioLayout::TagsAround;
}

std::unique_ptr<TagAccess> TagAccess::open(TagFormat format, const QByteArray &fileName, bool readOnly)
{
    switch (format) {
    case TagFormat::Mp3:
        return std::make_unique<Id3v2Access>(fileName, readOnly);
    case TagFormat::Flac:
        return std::make_unique<XiphAccess<TagLib::FLAC::File>>(fileName, readOnly);
    case TagFormat::OggVorbis:
        return std::make_unique<XiphAccess<TagLib::Ogg::Vorbis::File>>(fileName, readOnly);
    case TagFormat::OggFlac:
        return std::make_unique<XiphAccess<TagLib::Ogg::FLAC::File>>(fileName, readOnly);
    case TagFormat::Opus:
        return std::make_unique<XiphAccess<TagLib::Ogg::Opus::File>>(fileName, readOnly);
    case TagFormat::Mp4:
        return std::make_unique<Mp4Access>(fileName, readOnly);
    case TagFormat::WavPack:
        return std::make_unique<ApeAccess<TagLib::WavPack::File>>(fileName, readOnly);
    case TagFormat::Ape:
        return std::make_unique<ApeAccess<TagLib::APE::File>>(fileName, readOnly);
    }
    return nullptr;
}

QList<TimedLine> lrcLines(const QString &lrc)
{
    static const QRegularExpression stamp(QStringLiteral(R"(^\[(\d+):(\d{1,2})(?:[.:](\d{1,3}))?\])"));
    static const QRegularExpression offset(
        QStringLiteral(R"(^\[offset:\s*([+-]?\d+)\s*\])"), QRegularExpression::CaseInsensitiveOption);
    qint64 shift = 0;
    QList<std::pair<qint64, QString>> timed;
    for (QString line : lrc.split('\n')) {
        line.remove('\r');
        if (const auto m = offset.match(line); m.hasMatch()) {
            shift = m.captured(1).toLongLong();
            continue;
        }
        QList<qint64> times;
        for (auto m = stamp.match(line); m.hasMatch(); m = stamp.match(line)) {
            const QString fraction = m.captured(3);
            const qint64 ms = fraction.isEmpty() ? 0 : fraction.leftJustified(3, '0').toLongLong();
            times.append((m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong()) * 1000 + ms);
            line = line.mid(m.capturedLength());
        }
        for (const qint64 t : times)
            timed.append({ t, line.trimmed() });
    }
    std::stable_sort(timed.begin(), timed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<TimedLine> out;
    // A positive offset shows the lines earlier.
    for (const auto &[t, text] : timed)
        out.append({ static_cast<unsigned>(std::clamp<qint64>(t - shift, 0, UINT_MAX)), text });
    return out;
}

QString timedLinesText(const QList<TimedLine> &lines)
{
    QString out;
    for (const TimedLine &line : lines)
        out += QStringLiteral("[%1]%2\n").arg(line.ms).arg(line.text);
    return out;
}

namespace
{

// text in at most size bytes of an ID3v1 field, NUL-padded.
QByteArray id3v1Field(const QString &text, int size)
{
    bool cp932 = false;
    std::string bytes = utf8ToCp932(text.toStdString(), &cp932);
    if (!cp932)
        bytes = text.toLatin1().toStdString();
    std::size_t cut = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t width = cp932 && isCp932LeadByte(static_cast<unsigned char>(bytes[i])) ? 2 : 1;
        if (i + width > static_cast<std::size_t>(size))
            break;
        i += width;
        cut = i;
    }
    QByteArray out(bytes.data(), static_cast<qsizetype>(cut));
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

} // namespace

bool updateId3v1(const QByteArray &fileName, const QList<std::pair<QString, QString>> &texts)
{
    const int fd = ::open(fileName.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    QByteArray tag(128, '\0');
    if (size < 128 || ::pread(fd, tag.data(), 128, size - 128) != 128 || !tag.startsWith("TAG")) {
        ::close(fd);
        return true; // no ID3v1 tag to keep in step
    }
    for (const auto &[key, text] : texts) {
        const auto put = [&](int at, int n) { tag.replace(at, n, id3v1Field(text, n)); };
        if (key == QLatin1String("TIT2"))
            put(3, 30);
        else if (key == QLatin1String("TPE1"))
            put(33, 30);
        else if (key == QLatin1String("TALB"))
            put(63, 30);
        else if (key == QLatin1String("TDRC"))
            put(93, 4);
        else if (key == QLatin1String("COMM"))
            put(97, tag[125] == '\0' && tag[126] != '\0' ? 28 : 30);
        else if (key == QLatin1String("TRCK")) {
            const int track = numberAndTotal(text).first.toInt();
            // ID3v1.1: the comment's last two bytes hold a zero and the track.
            if (track > 0 && track < 256 && tag[125] == '\0') {
                tag[126] = static_cast<char>(track);
            } else if (track <= 0 && tag[125] == '\0') {
                tag[126] = '\0';
            }
        } else if (key == QLatin1String("TCON")) {
            const int genre = text.isEmpty() ? -1 : TagLib::ID3v1::genreIndex(toTag(text));
            tag[127] = static_cast<char>(genre < 0 || genre > 255 ? 255 : genre);
        }
    }
    const bool ok = ::pwrite(fd, tag.constData(), 128, size - 128) == 128 && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

} // namespace kes
