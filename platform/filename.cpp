#include "filename.h"

#include <QDir>

namespace kes
{

namespace
{

bool isSeparator(QChar c)
{
    return c == u'/' || c == u'\\';
}

bool isDriveColon(const QString &path, qsizetype i)
{
    return i == 1 && path.at(i) == u':' && path.at(0).unicode() < 0x80 && path.at(0).isLetter();
}

} // namespace

QString FileNameOf(const QString &path)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i + 1 < path.size(); ++i) {
        if ((isSeparator(path.at(i)) || isDriveColon(path, i)) && !isSeparator(path.at(i + 1)))
            start = i + 1;
    }
    return path.mid(start);
}

QString absolutePathIn(const QString &baseDir, const QString &path)
{
    return QDir::cleanPath(path.startsWith(u'/') ? path : baseDir + u'/' + path);
}

} // namespace kes
