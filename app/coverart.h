// The cover of the track that plays, looked for off the GUI thread: the picture embedded
// in the file (through the decoder library's vbmp3_getFilePicture), else a picture file
// beside it (cover, folder, front, album or albumart with the ending jpg, jpeg, png, gif,
// bmp or webp, in any case).  An embedded picture is written once to a file of the cache
// folder named by a hash of its bytes, so that other programs (the desktop's media
// controls) can show it by its file name.  Create, call and destroy on the GUI thread;
// destruction waits for a search still running.
#pragma once

#include "backgroundthread.h"
#include "decoderapi.h"

#include <QImage>
#include <QObject>
#include <QString>

namespace kes
{

class CoverArt : public QObject
{
    Q_OBJECT
public:
    struct Cover {
        QString trackPath; // whose cover this is
        // The picture's file (the cache's or the one beside the track); empty when there is
        // none, or when the cache could not be written.
        QString file;
        // The picture, at most kImageSize pixels on its longer side; null when there is none.
        QImage image;
    };
    static constexpr int kImageSize = 512;

    // cacheDir: where embedded pictures are written (created when needed).
    CoverArt(const DecoderApi &api, const QString &cacheDir, QObject *parent = nullptr);
    ~CoverArt() override;

    // $XDG_CACHE_HOME/kestrine/covers (~/.cache/kestrine/covers).
    static QString defaultCacheDir();

    // Looks for trackPath's cover; found() follows, also when there is none.  A newer
    // request drops what an older one finds.  The empty path clears the cover at once.
    void request(const QString &trackPath);
    // The cover found last (for the track asked for last).
    const Cover &current() const { return m_current; }

    // The steps of a search, run on the worker; public for tests.
    // The picture files beside trackPath by the names above, in the order of the names
    // (files of one name in the order of their names).
    static QStringList folderCovers(const QString &trackPath);
    // The file of an embedded picture in cacheDir, written when it is not there yet;
    // empty when it cannot be written.
    static QString cachedPicture(const QByteArray &bytes, const QString &mimeType, const QString &cacheDir);
    static Cover search(const DecoderApi &api, const QString &trackPath, const QString &cacheDir);

signals:
    void found();

private:
    DecoderApi m_api;
    QString m_cacheDir;
    BackgroundPool m_pool;
    quint64 m_serial = 0; // of the newest request
    Cover m_current;
};

} // namespace kes
