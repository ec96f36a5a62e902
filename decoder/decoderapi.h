// The decoder library as the player sees it: one table of the functions it calls.
// The real table comes from libvbmp3.so, loaded by name at run time; tests put a
// scripted fake behind the same table.
#pragma once

#include "vbmp3.h"

#include <QString>

namespace kes
{

// Every function of the interface (VBMP3_INTERFACE_VERSION); the loader fills them all
// or refuses the library.
struct DecoderApi {
    decltype(&vbmp3_init) init = nullptr;
    decltype(&vbmp3_free) free = nullptr;
    decltype(&vbmp3_callback) callback = nullptr;
    decltype(&vbmp3_stopCallback) stopCallback = nullptr;
    decltype(&vbmp3_setVbmp3Option) setVbmp3Option = nullptr;
    decltype(&vbmp3_setDecodeOption) setDecodeOption = nullptr;
    decltype(&vbmp3_setNativeOutputFormat) setNativeOutputFormat = nullptr;
    decltype(&vbmp3_setLyrics3Use) setLyrics3Use = nullptr;
    decltype(&vbmp3_open) open = nullptr;
    decltype(&vbmp3_close) close = nullptr;
    decltype(&vbmp3_play) play = nullptr;
    decltype(&vbmp3_stop) stop = nullptr;
    decltype(&vbmp3_pause) pause = nullptr;
    decltype(&vbmp3_restart) restart = nullptr;
    decltype(&vbmp3_seek) seek = nullptr;
    decltype(&vbmp3_getState) getState = nullptr;
    decltype(&vbmp3_getFileType) getFileType = nullptr;
    decltype(&vbmp3_readLyrics3Data) readLyrics3Data = nullptr;
    decltype(&vbmp3_setLyricsFile) setLyricsFile = nullptr;
    decltype(&vbmp3_getFileInfo2) getFileInfo2 = nullptr;
    decltype(&vbmp3_getFileTagInfo) getFileTagInfo = nullptr;
    decltype(&vbmp3_getMpegInfo) getMpegInfo = nullptr;
    decltype(&vbmp3_getSpectrum) getSpectrum = nullptr;
    decltype(&vbmp3_getLyrics) getLyrics = nullptr;
    decltype(&vbmp3_getLyricsWait) getLyricsWait = nullptr;
    decltype(&vbmp3_getVersion) getVersion = nullptr;
    decltype(&vbmp3_setEqualizer) setEqualizer = nullptr;
    decltype(&vbmp3_setOutput) setOutput = nullptr;
    decltype(&vbmp3_getOutputVolume) getOutputVolume = nullptr;
    decltype(&vbmp3_setOutputVolume) setOutputVolume = nullptr;
    decltype(&vbmp3_getOutputName) getOutputName = nullptr;
    decltype(&vbmp3_getOutputDevices) getOutputDevices = nullptr;
    decltype(&vbmp3_setOutputDevice) setOutputDevice = nullptr;
    decltype(&vbmp3_getOutputDevice) getOutputDevice = nullptr;
    decltype(&vbmp3_getOpenInfo) getOpenInfo = nullptr;
    decltype(&vbmp3_getStreamInfo) getStreamInfo = nullptr;
    decltype(&vbmp3_getPositionMs) getPositionMs = nullptr;
    decltype(&vbmp3_getFilePicture) getFilePicture = nullptr;
    decltype(&vbmp3_readEmbeddedLyrics) readEmbeddedLyrics = nullptr;
    decltype(&vbmp3_queueNext) queueNext = nullptr;
    decltype(&vbmp3_setReplayGain) setReplayGain = nullptr;
    decltype(&vbmp3_openRange) openRange = nullptr;
    decltype(&vbmp3_queueNextRange) queueNextRange = nullptr;
    decltype(&vbmp3_getFileCueSheet) getFileCueSheet = nullptr;
    decltype(&vbmp3_openUrl) openUrl = nullptr;
    decltype(&vbmp3_getStreamState) getStreamState = nullptr;
    decltype(&vbmp3_readerOpen) readerOpen = nullptr;
    decltype(&vbmp3_readerRead) readerRead = nullptr;
    decltype(&vbmp3_readerClose) readerClose = nullptr;
    decltype(&vbmp3_getFileSortTags) getFileSortTags = nullptr;
};

// Loads libvbmp3.so.N (N: its SONAME version) from the installed player's private folder
// (<libdir>/kestrine/, found relative to programDir), else from programDir itself (the
// build tree), else from the system's library path, and fills
// api.  On failure returns false and puts into error a message naming the library and,
// when it was found, the missing function.  The library stays loaded for the process.
bool loadDecoderLibrary(const QString &programDir, DecoderApi &api, QString &error);

} // namespace kes
