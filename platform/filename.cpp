#include "filename.h"

#include <QDir>

namespace kes
{

QString FileNameOf(const QString &path)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i + 1 < path.size(); ++i) {
        if (path.at(i) == u'/' && path.at(i + 1) != u'/')
            start = i + 1;
    }
    return path.mid(start);
}

QString absolutePathIn(const QString &baseDir, const QString &path)
{
    return QDir::cleanPath(path.startsWith(u'/') ? path : baseDir + u'/' + path);
}

} // namespace kes
