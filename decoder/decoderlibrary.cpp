#include "decoderapi.h"

#include <QDir>
#include <QFileInfo>

#include <dlfcn.h>

namespace kes
{

namespace
{

// The library's file name with its SONAME version; KESTRINE_PRIVATE_LIBDIR is where an
// installed player keeps it, relative to the program's folder.
constexpr const char *kLibraryName = KESTRINE_VBMP3_SONAME;

template <typename Fn> bool resolve(void *handle, const char *name, Fn &slot, QString &missing)
{
    slot = reinterpret_cast<Fn>(dlsym(handle, name));
    if (!slot && missing.isEmpty())
        missing = QString::fromLatin1(name);
    return slot != nullptr;
}

} // namespace

bool loadDecoderLibrary(const QString &programDir, DecoderApi &api, QString &error)
{
    // path-rule: the program's own folder and the library's fixed name.
    const QDir dir(programDir);
    void *handle = nullptr;
    bool found = false;
    for (const QString &folder : { dir.filePath(QStringLiteral(KESTRINE_PRIVATE_LIBDIR)), dir.path() }) {
        // path-rule: the same folders.
        const QString candidate = QDir(folder).filePath(QString::fromLatin1(kLibraryName));
        if (QFileInfo::exists(candidate)) {
            handle = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
            found = true; // a copy that is there but does not load is reported, not passed over
            break;
        }
    }
    if (!found)
        handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = QStringLiteral("%1 が見つかりません。(%2)")
                    .arg(QString::fromLatin1(kLibraryName), QString::fromLocal8Bit(dlerror()));
        return false;
    }
    // The library is ours and private, loaded by its SONAME: every function of the
    // interface (VBMP3_INTERFACE_VERSION) must be there, or none is used.
    DecoderApi t;
    QString missing;
#define KES_RESOLVE(field, symbol) resolve(handle, #symbol, t.field, missing)
    KES_RESOLVE(init, vbmp3_init);
    KES_RESOLVE(free, vbmp3_free);
    KES_RESOLVE(callback, vbmp3_callback);
    KES_RESOLVE(stopCallback, vbmp3_stopCallback);
    KES_RESOLVE(setVbmp3Option, vbmp3_setVbmp3Option);
    KES_RESOLVE(setDecodeOption, vbmp3_setDecodeOption);
    KES_RESOLVE(setLyrics3Use, vbmp3_setLyrics3Use);
    KES_RESOLVE(open, vbmp3_open);
    KES_RESOLVE(close, vbmp3_close);
    KES_RESOLVE(play, vbmp3_play);
    KES_RESOLVE(stop, vbmp3_stop);
    KES_RESOLVE(pause, vbmp3_pause);
    KES_RESOLVE(restart, vbmp3_restart);
    KES_RESOLVE(seek, vbmp3_seek);
    KES_RESOLVE(getState, vbmp3_getState);
    KES_RESOLVE(getFileType, vbmp3_getFileType);
    KES_RESOLVE(readLyrics3Data, vbmp3_readLyrics3Data);
    KES_RESOLVE(setLyricsFile, vbmp3_setLyricsFile);
    KES_RESOLVE(getFileInfo2, vbmp3_getFileInfo2);
    KES_RESOLVE(getFileTagInfo, vbmp3_getFileTagInfo);
    KES_RESOLVE(getMpegInfo, vbmp3_getMpegInfo);
    KES_RESOLVE(getSpectrum, vbmp3_getSpectrum);
    KES_RESOLVE(getLyrics, vbmp3_getLyrics);
    KES_RESOLVE(getLyricsWait, vbmp3_getLyricsWait);
    KES_RESOLVE(getVersion, vbmp3_getVersion);
    KES_RESOLVE(setEqualizer, vbmp3_setEqualizer);
    KES_RESOLVE(setOutput, vbmp3_setOutput);
    KES_RESOLVE(getOutputVolume, vbmp3_getOutputVolume);
    KES_RESOLVE(setOutputVolume, vbmp3_setOutputVolume);
    KES_RESOLVE(getOutputName, vbmp3_getOutputName);
    KES_RESOLVE(getOpenInfo, vbmp3_getOpenInfo);
    KES_RESOLVE(getStreamInfo, vbmp3_getStreamInfo);
    KES_RESOLVE(getPositionMs, vbmp3_getPositionMs);
    KES_RESOLVE(getFilePicture, vbmp3_getFilePicture);
    KES_RESOLVE(readEmbeddedLyrics, vbmp3_readEmbeddedLyrics);
    KES_RESOLVE(queueNext, vbmp3_queueNext);
    KES_RESOLVE(getOutputDevices, vbmp3_getOutputDevices);
    KES_RESOLVE(setOutputDevice, vbmp3_setOutputDevice);
    KES_RESOLVE(getOutputDevice, vbmp3_getOutputDevice);
    KES_RESOLVE(setReplayGain, vbmp3_setReplayGain);
    KES_RESOLVE(setNativeOutputFormat, vbmp3_setNativeOutputFormat);
    KES_RESOLVE(openRange, vbmp3_openRange);
    KES_RESOLVE(queueNextRange, vbmp3_queueNextRange);
    KES_RESOLVE(getFileCueSheet, vbmp3_getFileCueSheet);
    KES_RESOLVE(openUrl, vbmp3_openUrl);
    KES_RESOLVE(getStreamState, vbmp3_getStreamState);
    KES_RESOLVE(readerOpen, vbmp3_readerOpen);
    KES_RESOLVE(readerRead, vbmp3_readerRead);
    KES_RESOLVE(readerClose, vbmp3_readerClose);
    KES_RESOLVE(getFileSortTags, vbmp3_getFileSortTags);
#undef KES_RESOLVE
    if (!missing.isEmpty()) {
        error = QStringLiteral("%1 に関数 %2 がありません。").arg(QString::fromLatin1(kLibraryName), missing);
        dlclose(handle);
        return false;
    }
    api = t;
    return true;
}

} // namespace kes
