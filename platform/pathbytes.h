// File names are bytes on Linux; the player carries them as QString.  A name's bytes that
// are valid UTF-8 become their characters; every byte of a sequence that is not valid
// UTF-8 becomes the lone surrogate U+DC00 + byte (U+DC80..U+DCFF), which no valid text
// holds, so pathToBytes(pathFromBytes(b)) == b for any bytes b.  Such a QString may be
// compared, hashed, split at '/' and cleaned like any other; it must not reach the system
// through Qt's file classes (they encode it as UTF-8 and the escaped bytes are lost):
// every file-system call goes through pathToBytes and the helpers here.  Shown names go
// through displayPath.  Thread-safe.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <chrono>

class QUrl;

namespace kes
{

QString pathFromBytes(QByteArrayView bytes);
QByteArray pathToBytes(QStringView path);
// Whether path holds escaped bytes (it did not come from valid UTF-8).
bool hasEscapedBytes(QStringView path);

// The path as a person reads it: each '/'-separated part that holds escaped bytes is
// decoded by the rules of file text (CP932 when it decodes cleanly, else Latin-1); parts
// of valid UTF-8 stay as they are.  For showing only: it does not name the file.
QString displayPath(QStringView path);

// A file: URL's path as the bytes it names (percent escapes decoded as bytes, not as
// UTF-8); the empty text for other URLs.  Accepts "file:///p", "file://localhost/p" and
// "file:/p".
QString pathFromFileUrl(QByteArrayView url);
QString pathFromFileUrl(const QUrl &url);
// The file: URL of an absolute path, every byte outside the unreserved set escaped.
QByteArray fileUrlOfPath(QStringView path);

enum class FileType { Missing, Regular, Folder, Other };
// What path names, links followed.  Never opens the file, so a named pipe or a device
// is told apart without waiting.
FileType fileTypeOf(QStringView path);
inline bool isRegularFile(QStringView path)
{
    return fileTypeOf(path) == FileType::Regular;
}
inline bool isFolder(QStringView path)
{
    return fileTypeOf(path) == FileType::Folder;
}

// The names in folder (not "." and ".."), unsorted; none when it cannot be read.
QStringList namesInFolder(QStringView folder);

// The working folder of the process as a path.
QString workingFolder();

// A regular file opened for reading without ever waiting for a writer: the open does not
// block (a named pipe, a device or a folder is refused after the open, before any read),
// and reading gives up at a byte limit or a time limit.  Move-only; closes the file when
// it goes.
class BoundedFile
{
public:
    enum class Status { Ok, Missing, NotRegular, Unreadable, TooBig, TooSlow };

    BoundedFile() = default;
    BoundedFile(const BoundedFile &) = delete;
    BoundedFile &operator=(const BoundedFile &) = delete;
    BoundedFile(BoundedFile &&other) noexcept;
    BoundedFile &operator=(BoundedFile &&other) noexcept;
    ~BoundedFile();

    // Opens path; at most maxBytes may be read from it, within timeLimit of the open.
    Status open(QStringView path, qint64 maxBytes, std::chrono::milliseconds timeLimit);
    // Appends up to chunk bytes to out; 0 at the end of the file.  Past the byte limit
    // it returns -1 with status() TooBig, past the time limit -1 with TooSlow, on a read
    // error -1 with Unreadable.
    qint64 readChunk(QByteArray &out, qint64 chunk = 64 * 1024);
    // Reads the rest into out (see readChunk); true at the end of the file.
    bool readAll(QByteArray &out);
    Status status() const { return m_status; }
    // The file's size when it was opened.
    qint64 size() const { return m_size; }

private:
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_read = 0;
    qint64 m_maxBytes = 0;
    std::chrono::steady_clock::time_point m_deadline;
    Status m_status = Status::Missing;
};

} // namespace kes
