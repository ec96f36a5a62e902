// The one way this folder writes a file: a checked copy edited under the format's own
// keys (tagaccess.h), read back, compared, then put in place by SafeReplace.  Blocking;
// thread-safe for distinct files.
#pragma once

#include "tagaccess.h"
#include "tagwriter.h"

#include <QList>
#include <QString>

#include <functional>

namespace kes
{

struct TagEdit {
    QString key; // empty: a field the format does not keep
    QString value; // empty: the field goes
};

struct EditOptions {
    bool force = false; // rewrite a field even when it already reads as the value
    bool syncId3v1 = true; // keep an MP3's ID3v1 tag in step
};

WriteResult editFile(
    const QString &path, const std::function<QList<TagEdit>(TagFormat)> &editsFor, const EditOptions &options = {});

} // namespace kes
