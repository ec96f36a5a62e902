#include "atomicwrite.h"

#include <QSaveFile>

namespace kes
{

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // Unbuffered, so that a short write shows in the count written: through the buffer
    // QSaveFile would commit the cut file as a success.
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (ok && file.write(bytes) != bytes.size()) {
        ok = false;
        file.cancelWriting();
    }
    if (ok)
        ok = file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

} // namespace kes
