// The text-encoding fix: an MP3's text fields kept as Latin-1 (ID3v2 frames of encoding 0,
// the ID3v1 tag) that hold Shift-JIS (CP932) bytes, which the player shows as Japanese by
// the rules of textcodec.h, rewritten as Unicode (ID3v2.4, UTF-8).  Blocking: call on a
// worker.  Thread-safe for distinct files.
#pragma once

#include "tagwriter.h"

#include <QList>
#include <QString>

namespace kes
{

struct EncodingFixField {
    QString key; // where it is kept: an ID3v2 frame id ("TIT2", "COMM", "USLT") or "ID3v1:title" etc.
    QString name; // the field's Japanese name, for the list
    QString before; // the bytes read as Latin-1
    QString after; // the bytes read as CP932, as the player shows them
    bool unsure = false; // little Japanese evidence, or Western evidence beside it
};

struct EncodingFixScan {
    bool ok = false; // false: the file could not be read (why says so)
    QString why;
    QList<EncodingFixField> fields; // none: nothing to fix
};

// The fields of path that the player reads as CP932 although they claim Latin-1.  Fields
// that are ASCII, UTF-8, UTF-16, or Western Latin-1 are not listed, nor an ID3v1 field
// whose ID3v2 frame exists (the player shows the frame).  ID3v2.3 and 2.4.
EncodingFixScan scanEncoding(const QString &path);

// Writes the chosen fields (as scanEncoding listed them) as UTF-8 ID3v2.4 frames; an
// ID3v1 field becomes its ID3v2 frame when the ID3v2 tag has none.  The ID3v1 tag keeps
// its bytes: CP932 is how this program writes Japanese into ID3v1 anyway.  Every other
// frame, the ID3v1 tag and the audio stay; the file is replaced as writeTags does.
WriteResult applyEncodingFix(const QString &path, const QList<EncodingFixField> &chosen);

} // namespace kes
