// File names of the player's paths, which are Linux paths (a playlist's Windows paths
// never become rows: they name no file here).
#pragma once

#include <QString>

namespace kes
{

// The last component of path: the text after the last '/'.  A backslash or a colon is
// part of a Linux file name ("AC\DC - TNT.mp3").  A '/' that ends the path or is followed
// by another '/' does not count, so "/music/x/" gives "x/".  The whole path when it has
// no such '/'.
QString FileNameOf(const QString &path);

// path made absolute against baseDir (an absolute folder) and cleaned ("." and ".." gone).
// A name that starts with ':' is an ordinary relative name here; QDir and QFileInfo would
// take ":/..." for a path into Qt's resources and leave it as it is.
QString absolutePathIn(const QString &baseDir, const QString &path);

} // namespace kes
