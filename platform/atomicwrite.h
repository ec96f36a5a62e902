// Replacing a file as a whole, for the settings file and the playlist and tag files.
#pragma once

#include <QByteArray>
#include <QString>

namespace kes
{

// Writes bytes to a temporary file beside path and renames it over path, so that a reader
// (or a crash) sees the old file or the new one, never a part.  A short write (disk full,
// file size limit) fails instead of committing a cut file.  On failure the old file stays,
// the temporary one is removed, and error (when given) gets the reason.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

} // namespace kes
