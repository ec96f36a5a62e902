// Replacing a file as a whole, for the settings file and the playlist and tag files.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include <sys/types.h>

namespace kes
{

// Writes bytes to a temporary file beside path and renames it over path, so that a reader
// (or a crash) sees the old file or the new one, never a part.  A short write (disk full,
// file size limit) fails instead of committing a cut file.  On failure the old file stays,
// the temporary one is removed, and error (when given) gets the reason.
// A new file gets the permissions the process's umask allows, an existing one keeps its own.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// As above, with the content written to the temporary file's descriptor by write, which
// returns false with errno set when it cannot write it all.
bool writeFileAtomically(const QString &path, const std::function<bool(int fd)> &write, QString *error = nullptr);
// Writes all of bytes to fd (retrying short writes); false with errno set when it cannot.
bool writeAllBytes(int fd, const QByteArray &bytes);

// The process's umask, read once (from /proc/self/status) and never changed.  The
// program does not change its umask while it runs.
mode_t processUmask();

} // namespace kes
