#include "audiodigest.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kes
{

namespace
{

class Reader
{
public:
    explicit Reader(const QByteArray &name)
        : m_fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {
        struct stat st {
        };
        if (m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode))
            m_size = st.st_size;
        else
            m_size = -1;
    }
    ~Reader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    qint64 size() const { return m_size; }

    // Exactly n bytes at offset, or an empty array.
    QByteArray at(qint64 offset, qint64 n) const
    {
        if (offset < 0 || n < 0 || offset + n > m_size)
            return {};
        QByteArray out(n, Qt::Uninitialized);
        qint64 done = 0;
        while (done < n) {
            const ssize_t got = ::pread(m_fd, out.data() + done, static_cast<size_t>(n - done), offset + done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return {};
            done += got;
        }
        return out;
    }

    bool hash(QCryptographicHash &sha, qint64 begin, qint64 end) const
    {
        for (qint64 at = begin; at < end;) {
            const qint64 n = std::min<qint64>(end - at, 1 << 20);
            const QByteArray chunk = this->at(at, n);
            if (chunk.isEmpty())
                return false;
            sha.addData(chunk);
            at += n;
        }
        return true;
    }

private:
    int m_fd;
    qint64 m_size;
};

quint32 syncsafe(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return (quint32(u[0] & 0x7F) << 21) | (quint32(u[1] & 0x7F) << 14) | (quint32(u[2] & 0x7F) << 7) | (u[3] & 0x7F);
}

// The end of an ID3v2 tag at offset 0 (with its footer), else 0.
qint64 id3v2End(const Reader &file)
{
    const QByteArray head = file.at(0, 10);
    if (!head.startsWith("ID3"))
        return 0;
    return 10 + qint64(syncsafe(head.constData() + 6)) + ((head[5] & 0x10) ? 10 : 0);
}

// Where the audio ends, before an APEv2 tag and an ID3v1 tag at the end of the file.
qint64 tailTagsStart(const Reader &file)
{
    qint64 end = file.size();
    for (bool found = true; found;) {
        found = false;
        if (end >= 128 && file.at(end - 128, 3) == "TAG") {
            end -= 128;
            found = true;
        }
        const QByteArray footer = end >= 32 ? file.at(end - 32, 32) : QByteArray();
        if (footer.startsWith("APETAGEX")) {
            const qint64 size = qFromLittleEndian<quint32>(footer.constData() + 12);
            const bool header = qFromLittleEndian<quint32>(footer.constData() + 20) & 0x80000000u;
            end -= size + (header ? 32 : 0);
            found = true;
        }
    }
    return end;
}

std::optional<AudioDigest> tagsAround(const Reader &file, QCryptographicHash &sha)
{
    const qint64 begin = id3v2End(file);
    const qint64 end = tailTagsStart(file);
    if (begin > end || !file.hash(sha, begin, end))
        return std::nullopt;
    return AudioDigest { end - begin, {} };
}

std::optional<AudioDigest> flac(const Reader &file, QCryptographicHash &sha)
{
    qint64 at = id3v2End(file);
    if (file.at(at, 4) != "fLaC")
        return std::nullopt;
    at += 4;
    for (bool last = false; !last;) {
        const QByteArray header = file.at(at, 4);
        if (header.isEmpty())
            return std::nullopt;
        last = header[0] & 0x80;
        at += 4 + (qint64(quint8(header[1])) << 16 | qint64(quint8(header[2])) << 8 | quint8(header[3]));
    }
    const qint64 end = tailTagsStart(file);
    if (at > end || !file.hash(sha, at, end))
        return std::nullopt;
    return AudioDigest { end - at, {} };
}

std::optional<AudioDigest> ogg(const Reader &file, QCryptographicHash &sha)
{
    qint64 bytes = 0;
    bool inHeaders = true;
    for (qint64 at = 0; at < file.size();) {
        const QByteArray header = file.at(at, 27);
        if (!header.startsWith("OggS"))
            return std::nullopt;
        const int segments = quint8(header[26]);
        const QByteArray lacing = file.at(at + 27, segments);
        if (lacing.size() != segments)
            return std::nullopt;
        qint64 body = 0;
        for (const char l : lacing)
            body += quint8(l);
        const qint64 bodyAt = at + 27 + segments;
        // The header packets' pages carry granule position 0; audio starts on a page of
        // its own after them.
        inHeaders = inHeaders && qFromLittleEndian<qint64>(header.constData() + 6) == 0;
        if (!inHeaders) {
            sha.addData(QByteArrayView(header.constData() + 6, 8));
            if (!file.hash(sha, bodyAt, bodyAt + body))
                return std::nullopt;
            bytes += body;
        }
        at = bodyAt + body;
    }
    return AudioDigest { bytes, {} };
}

std::optional<AudioDigest> mp4(const Reader &file, QCryptographicHash &sha)
{
    qint64 bytes = 0;
    for (qint64 at = 0; at < file.size();) {
        const QByteArray header = file.at(at, 8);
        if (header.isEmpty())
            return std::nullopt;
        qint64 size = qFromBigEndian<quint32>(header.constData());
        qint64 headerSize = 8;
        if (size == 1) {
            const QByteArray large = file.at(at + 8, 8);
            if (large.isEmpty())
                return std::nullopt;
            size = qFromBigEndian<qint64>(large.constData());
            headerSize = 16;
        } else if (size == 0) {
            size = file.size() - at;
        }
        if (size < headerSize || at + size > file.size())
            return std::nullopt;
        if (header.mid(4, 4) == "mdat") {
            if (!file.hash(sha, at + headerSize, at + size))
                return std::nullopt;
            bytes += size - headerSize;
        }
        at += size;
    }
    return AudioDigest { bytes, {} };
}

} // namespace

std::optional<AudioDigest> audioDigest(const QByteArray &fileName, AudioLayout layout)
{
    const Reader file(fileName);
    if (file.size() < 0)
        return std::nullopt;
    QCryptographicHash sha(QCryptographicHash::Sha1);
    std::optional<AudioDigest> digest;
    switch (layout) {
    case AudioLayout::TagsAround:
        digest = tagsAround(file, sha);
        break;
    case AudioLayout::Flac:
        digest = flac(file, sha);
        break;
    case AudioLayout::Ogg:
        digest = ogg(file, sha);
        break;
    case AudioLayout::Mp4:
        digest = mp4(file, sha);
        break;
    }
    if (digest)
        digest->sha1 = sha.result();
    return digest;
}

} // namespace kes
