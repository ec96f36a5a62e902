#include "coverart.h"

#include "atomicwrite.h"
#include "cuetrack.h"
#include "pathbytes.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QStandardPaths>

#include <algorithm>

namespace kes
{

namespace
{

// A picture file beside a track is read whole up to this size, within this time.
constexpr qint64 kMaxPictureBytes = 64 * 1024 * 1024;
constexpr std::chrono::seconds kPictureTimeLimit { 5 };

QString withSlash(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

// A picture scaled at reading to fit kImageSize, without decoding it whole first where
// the format allows.
QImage readImage(QImageReader &reader)
{
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > CoverArt::kImageSize || size.height() > CoverArt::kImageSize))
        reader.setScaledSize(size.scaled(CoverArt::kImageSize, CoverArt::kImageSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > CoverArt::kImageSize || image.height() > CoverArt::kImageSize))
        image = image.scaled(CoverArt::kImageSize, CoverArt::kImageSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QString extensionOf(const QString &mimeType)
{
    if (mimeType == u"image/png")
        return QStringLiteral("png");
    if (mimeType == u"image/gif")
        return QStringLiteral("gif");
    if (mimeType == u"image/bmp")
        return QStringLiteral("bmp");
    if (mimeType == u"image/webp")
        return QStringLiteral("webp");
    return QStringLiteral("jpg");
}

} // namespace

CoverArt::CoverArt(const DecoderApi &api, const QString &cacheDir, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_cacheDir(cacheDir)
{
    m_pool.setMaxThreadCount(1);
}

CoverArt::~CoverArt()
{
    m_pool.waitForDone();
}

QString CoverArt::defaultCacheDir()
{
    // path-rule: the desktop cache folder, named by the environment.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("kestrine/covers"));
}

void CoverArt::request(const QString &trackPath)
{
    const quint64 serial = ++m_serial;
    if (trackPath.isEmpty()) {
        m_current = {};
        emit found();
        return;
    }
    m_pool.start([this, serial, api = m_api, trackPath, cacheDir = m_cacheDir] {
        Cover cover = search(api, trackPath, cacheDir);
        QMetaObject::invokeMethod(
            this,
            [this, serial, cover = std::move(cover)] {
                if (serial != m_serial)
                    return; // a newer request is on its way
                m_current = cover;
                emit found();
            },
            Qt::QueuedConnection);
    });
}

QStringList CoverArt::folderCovers(const QString &trackPath)
{
    static const QStringList names { QStringLiteral("cover"), QStringLiteral("folder"), QStringLiteral("front"),
        QStringLiteral("album"), QStringLiteral("albumart") };
    static const QStringList endings { QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
        QStringLiteral("gif"), QStringLiteral("bmp"), QStringLiteral("webp") };
    // The folder is listed by its bytes: its name need not be UTF-8.
    const QString folder = trackPath.left(std::max<qsizetype>(trackPath.lastIndexOf(u'/'), 1));
    QStringList entries = namesInFolder(folder);
    std::sort(entries.begin(), entries.end());
    QList<std::pair<qsizetype, QString>> found;
    for (const QString &name : std::as_const(entries)) {
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot <= 0)
            continue;
        const qsizetype rank = names.indexOf(name.left(dot).toLower());
        const QString path = withSlash(folder) + name;
        if (rank >= 0 && endings.contains(name.mid(dot + 1).toLower()) && isRegularFile(path))
            found.append({ rank, path });
    }
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList paths;
    for (const auto &[rank, path] : found)
        paths.append(path);
    return paths;
}

QString CoverArt::cachedPicture(const QByteArray &bytes, const QString &mimeType, const QString &cacheDir)
{
    const QString name = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex())
        + QLatin1Char('.') + extensionOf(mimeType);
    // path-rule: a cache file of ours, named by a hash of its bytes.
    const QString path = QDir(cacheDir).filePath(name);
    const QFileInfo existing(path);
    if (existing.isFile() && existing.size() == bytes.size())
        return path; // written by an earlier track or run
    // path-rule: the cache folder of ours.
    if (!QDir().mkpath(cacheDir) || !writeFileAtomically(path, bytes))
        return {};
    return path;
}

CoverArt::Cover CoverArt::search(const DecoderApi &api, const QString &trackPath, const QString &cacheDir)
{
    Cover cover { trackPath, {}, {} };
    // A cue track's cover is its image's.
    const QString file = fileOfPath(trackPath);
    const QByteArray path = pathToBytes(file);
    char mime[VBMP3_MIME_TYPE_SIZE] = {};
    const int32_t size = api.getFilePicture(path.constData(), nullptr, 0, nullptr);
    if (size > 0) {
        QByteArray bytes(size, Qt::Uninitialized);
        // The file may have changed in between: only a picture of the size told counts.
        if (api.getFilePicture(path.constData(), bytes.data(), size, mime) == size) {
            QBuffer buffer(&bytes);
            QImageReader reader(&buffer);
            cover.image = readImage(reader);
            if (!cover.image.isNull())
                cover.file = cachedPicture(bytes, QString::fromLatin1(mime), cacheDir);
        }
    }

    if (cover.image.isNull()) {
        for (const QString &beside : folderCovers(file)) { // the first that reads
            QByteArray bytes;
            BoundedFile file;
            if (file.open(beside, kMaxPictureBytes, kPictureTimeLimit) != BoundedFile::Status::Ok
                || !file.readAll(bytes))
                continue;
            QBuffer buffer(&bytes);
            QImageReader reader(&buffer);
            QImage image = readImage(reader);
            if (!image.isNull()) {
                cover = { trackPath, beside, std::move(image) };
                break;
            }
        }
    }
    return cover;
}

} // namespace kes
