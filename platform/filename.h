// File names of paths that may come from either world: Linux paths, and Windows paths
// read from playlists made on Windows.
#pragma once

#include <QString>

namespace kes
{

// The last component of path: the text after the last '/' or '\' or after a drive colon
// ("C:"), as the Windows shell finds it.  A separator that ends the path or is followed by
// another separator does not count, so "C:\Music\" gives "Music\".  The whole path when
// it has no such separator.
QString FileNameOf(const QString &path);

// path made absolute against baseDir (an absolute folder) and cleaned ("." and ".." gone).
// A name that starts with ':' is an ordinary relative name here; QDir and QFileInfo would
// take ":/..." for a path into Qt's resources and leave it as it is.
QString absolutePathIn(const QString &baseDir, const QString &path);

} // namespace kes
