#include "tagwriter.h"

#include "editfile.h"
#include "pathbytes.h"
#include "safereplace.h"

#include <cmath>

namespace kes
{

namespace
{

WriteResult failed(WriteOutcome outcome, const QString &why)
{
    return WriteResult { outcome, why };
}

enum class Field { Title, Artist, Album, AlbumArtist, Year, Track, Disc, Genre, Comment, Lyrics, SyncedLyrics };

QString keyOf(TagFormat format, Field field)
{
    struct Keys {
        const char *id3v2, *xiph, *ape;
        const char16_t *mp4;
    };
    static const Keys table[] = {
        { "TIT2", "TITLE", "Title", u"©nam" },
        { "TPE1", "ARTIST", "Artist", u"©ART" },
        { "TALB", "ALBUM", "Album", u"©alb" },
        { "TPE2", "ALBUMARTIST", "Album Artist", u"aART" },
        { "TDRC", "DATE", "Year", u"©day" },
        { "TRCK", "TRACKNUMBER", "Track", u"trkn" },
        { "TPOS", "DISCNUMBER", "Disc", u"disk" },
        { "TCON", "GENRE", "Genre", u"©gen" },
        { "COMM", "COMMENT", "Comment", u"©cmt" },
        { "USLT", "LYRICS", "Lyrics", u"©lyr" },
        { "SYLT", "", "", u"" },
    };
    const Keys &keys = table[static_cast<int>(field)];
    switch (format) {
    case TagFormat::Mp3:
        return QString::fromLatin1(keys.id3v2);
    case TagFormat::Flac:
    case TagFormat::OggVorbis:
    case TagFormat::OggFlac:
    case TagFormat::Opus:
        return QString::fromLatin1(keys.xiph);
    case TagFormat::Mp4:
        return QString::fromUtf16(keys.mp4);
    case TagFormat::WavPack:
    case TagFormat::Ape:
        return QString::fromLatin1(keys.ape);
    }
    return {};
}

QString gainText(double db)
{
    return QString::asprintf("%+.2f dB", db);
}

QString peakText(double peak)
{
    return QString::asprintf("%.6f", peak);
}

// Opus keeps gains in 1/256 dB against -23 LUFS; the values given are against -18 LUFS.
QString r128Text(double db)
{
    return QString::number(std::clamp<long>(std::lround((db - 5.0) * 256.0), -32768, 32767));
}

} // namespace

WriteResult editFile(
    const QString &path, const std::function<QList<TagEdit>(TagFormat)> &editsFor, const EditOptions &options)
{
    SafeReplace file;
    if (std::optional<WriteResult> error = file.check(path))
        return *error;
    const std::optional<TagFormat> format = tagFormatOf(file.originalName());
    if (!format)
        return failed(WriteOutcome::NotSupported, QStringLiteral("この形式のファイルにはタグを書き込めません。"));
    const QList<TagEdit> edits = editsFor(*format);
    for (const TagEdit &edit : edits) {
        if (edit.key.isEmpty())
            return failed(
                WriteOutcome::NotSupported, QStringLiteral("この形式のファイルには書き込めない項目があります。"));
    }
    const QString unreadable = QStringLiteral("ファイルのタグを読み取れないため、書き込めません。");

    QList<TagEdit> needed;
    {
        const auto original = TagAccess::open(*format, file.originalName(), true);
        if (!original->isValid())
            return failed(WriteOutcome::Failed, unreadable);
        for (const TagEdit &edit : edits) {
            if (options.force || original->get(edit.key) != original->normalized(edit.key, edit.value))
                needed.append(edit);
        }
    }
    if (needed.isEmpty())
        return WriteResult { WriteOutcome::Unchanged, QString() };

    const AudioLayout layout = audioLayoutOf(*format);
    const std::optional<AudioDigest> audio = audioDigest(file.originalName(), layout);
    if (!audio)
        return failed(WriteOutcome::Failed, unreadable);
    if (std::optional<WriteResult> error = file.copy())
        return *error;

    const QString notWritten = QStringLiteral("タグを書き込めませんでした。元のファイルはそのままです。");
    {
        const auto copy = TagAccess::open(*format, file.copyName(), false);
        if (!copy->isValid())
            return failed(WriteOutcome::Failed, notWritten);
        for (const TagEdit &edit : needed)
            copy->set(edit.key, edit.value);
        if (!copy->save())
            return failed(WriteOutcome::Failed, notWritten);
    }
    if (*format == TagFormat::Mp3 && options.syncId3v1) {
        QList<std::pair<QString, QString>> texts;
        for (const TagEdit &edit : needed)
            texts.append({ edit.key, edit.value });
        if (!updateId3v1(file.copyName(), texts))
            return systemFailure(errno, QStringLiteral("ID3v1タグの更新"));
    }

    // What was written must read back as asked, over the same audio.
    const auto check = TagAccess::open(*format, file.copyName(), true);
    bool same = check->isValid() && audioDigest(file.copyName(), layout) == audio;
    for (const TagEdit &edit : edits)
        same = same && check->get(edit.key) == check->normalized(edit.key, edit.value);
    if (!same)
        return failed(WriteOutcome::Failed,
            QStringLiteral("書き込んだ内容を確かめたところ食い違いがあったため、書き込みを取りやめました。"
                           "元のファイルはそのままです。"));
    return file.replace();
}

WriteResult writeTags(const QString &path, const TagChanges &changes)
{
    return editFile(path, [&changes](TagFormat format) {
        QList<TagEdit> edits;
        const auto add = [&](const std::optional<QString> &value, Field field) {
            if (value)
                edits.append({ keyOf(format, field), *value });
        };
        add(changes.title, Field::Title);
        add(changes.artist, Field::Artist);
        add(changes.album, Field::Album);
        add(changes.albumArtist, Field::AlbumArtist);
        add(changes.year, Field::Year);
        add(changes.track, Field::Track);
        add(changes.disc, Field::Disc);
        add(changes.genre, Field::Genre);
        add(changes.comment, Field::Comment);
        add(changes.lyrics, Field::Lyrics);
        add(changes.syncedLyrics, Field::SyncedLyrics);
        return edits;
    });
}

WriteResult writeReplayGain(const QString &path, const ReplayGainValues &values)
{
    return editFile(path, [&values](TagFormat format) {
        QList<TagEdit> edits;
        if (format == TagFormat::Opus) {
            // Opus has no peak fields; its gains are R128's.
            edits.append({ QStringLiteral("R128_TRACK_GAIN"), r128Text(values.trackGain) });
            if (values.albumGain)
                edits.append({ QStringLiteral("R128_ALBUM_GAIN"), r128Text(*values.albumGain) });
            return edits;
        }
        const auto add = [&](const char *name, const QString &text) {
            QString key = QString::fromLatin1(name);
            if (format == TagFormat::Mp3)
                key = QStringLiteral("TXXX:") + key;
            else if (format == TagFormat::Mp4)
                key = QStringLiteral("----:com.apple.iTunes:") + key.toLower();
            edits.append({ key, text });
        };
        add("REPLAYGAIN_TRACK_GAIN", gainText(values.trackGain));
        add("REPLAYGAIN_TRACK_PEAK", peakText(values.trackPeak));
        if (values.albumGain)
            add("REPLAYGAIN_ALBUM_GAIN", gainText(*values.albumGain));
        if (values.albumPeak)
            add("REPLAYGAIN_ALBUM_PEAK", peakText(*values.albumPeak));
        return edits;
    });
}

} // namespace kes
