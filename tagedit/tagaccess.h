// One format's own tag in a file, seen as texts under keys: ID3v2 frame ids ("TIT2",
// "COMM" and "USLT" without a description, "SYLT" as an LRC, "TXXX:NAME"), Xiph comment
// names ("TRACKNUMBER" and "DISCNUMBER" carry "n/total" and keep TRACKTOTAL / DISCTOTAL),
// MP4 atom names ("trkn", "disk", "----:com.apple.iTunes:name"), APEv2 item names.  An
// empty text is no field.  Blocking; one object per thread.
#pragma once

#include "audiodigest.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace kes
{

enum class TagFormat { Mp3, Flac, OggVorbis, OggFlac, Opus, Mp4, WavPack, Ape };

// The format of the file at fileName by its ending (and an Ogg stream's first packet).
std::optional<TagFormat> tagFormatOf(const QByteArray &fileName);
AudioLayout audioLayoutOf(TagFormat format);

class TagAccess
{
public:
    // readOnly: the file is only read, never opened for writing.
    static std::unique_ptr<TagAccess> open(TagFormat format, const QByteArray &fileName, bool readOnly);
    virtual ~TagAccess() = default;

    virtual bool isValid() const = 0;
    virtual QString get(const QString &key) const = 0;
    virtual void set(const QString &key, const QString &value) = 0;
    // The text get() gives back after set(key, value).
    virtual QString normalized(const QString & /*key*/, const QString &value) const { return value; }
    virtual bool save() = 0;
};

// An LRC document's timed lines as (milliseconds, text), in time order, its [offset:]
// applied; and the canonical text of such a list, one "[ms]text" a line.
struct TimedLine {
    unsigned ms;
    QString text;
};
QList<TimedLine> lrcLines(const QString &lrc);
QString timedLinesText(const QList<TimedLine> &lines);

// Puts the ID3v1 tag at the end of fileName (when there is one) in step with the ID3v2
// texts given by frame id (TIT2, TPE1, TALB, TDRC, COMM, TRCK, TCON); other fields stay.
// Each text is written in CP932 when CP932 holds it, else in Latin-1, cut at a character.
bool updateId3v1(const QByteArray &fileName, const QList<std::pair<QString, QString>> &texts);

} // namespace kes
