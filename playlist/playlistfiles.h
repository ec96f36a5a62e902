// The M3U playlist and CSV tag file formats, and whole-file reading and writing.  Pure
// functions over bytes and paths, thread-safe; they show nothing (callers turn failures
// into messages).
#pragma once

#include "playlistmodel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kes
{

// The entries of an M3U file, in file order.
struct M3uEntries {
    QStringList paths; // relative entries resolved against the playlist's folder
    bool aborted = false; // a line could not be a file name; paths holds the lines before it
};

// Splits bytes into entries.  A line ends at CR LF, a lone CR or a lone LF; a UTF-8 BOM
// is skipped and a UTF-16 file with its BOM is decoded; a line that is not valid UTF-8 is
// read as CP932.  Empty lines and lines starting with '#' are no entries.  An entry not
// starting with '/' is resolved against baseDir (and cleaned); absolute entries are kept
// exactly.  A line holding a NUL, or too long for a path or a file name, ends the
// reading with aborted set.
M3uEntries parseM3u(const QByteArray &bytes, const QString &baseDir);

// Whether an M3U entry names a file that can be listed: an existing regular file
// (symbolic links followed); folders and missing files do not count.
bool isListableFile(const QString &path);

// One entry per line, CR LF after each, UTF-8.
QByteArray m3uBytes(const QStringList &paths);

// One record per row: Full Path, Music Title, Artist, Album, each in double quotes with
// inner double quotes doubled, separated by commas, CR LF after each; UTF-8, no header.
QByteArray csvBytes(const QList<TrackRow> &rows);

// Reads a whole file; false when it is missing, a folder or unreadable.
bool readWholeFile(const QString &path, QByteArray &bytes);
// Writes bytes as the new whole content of path: a new file replaces the old one only
// when everything was written, so a failed write leaves the old file as it was.  false
// when the file cannot be written (bad name, no rights, a folder, disk full).
bool writeWholeFile(const QString &path, const QByteArray &bytes);

// The message texts for those failures, naming the file.
QString readFailedMessage(const QString &path);
QString writeFailedMessage(const QString &path);

} // namespace kes
