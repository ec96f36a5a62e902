/*
 * vbmp3 — kestrine's decoder and player library.
 *
 * Plays one opened MPEG audio (Layer I, II, III; MPEG-1, 2, 2.5), RMP (RIFF "RMP3"),
 * WAV, FLAC (native or in Ogg), Ogg Vorbis, Ogg Opus, MP4/M4A (AAC, ALAC), WavPack or
 * Monkey's Audio file at a time on the library's own threads, and answers questions about
 * files: type codes, tags, lyrics, spectrum.  Loaded by name (libvbmp3.so) and called
 * through the plain C functions below.  The decoders of the formats after WAV are loaded
 * when a file of their kind is first opened: libFLAC, libvorbisfile, libopusfile,
 * libwavpack, and FFmpeg (libavformat, libavcodec) for MP4 and Monkey's Audio.
 *
 * Conventions
 *  - Every function returns a 32-bit result; 0 means failure unless said otherwise.
 *    No C++ exception leaves the library: a call that fails inside (running out of
 *    memory included) returns its failure result, and playback, if any, is stopped.
 *  - Only regular files are read: a named pipe, device or folder is refused at once, as
 *    a missing file would be.
 *  - Texts are NUL-terminated in the system code page, which is UTF-8 on Linux.  Text
 *    fields of the records are NUL-padded; a text that fills its whole field carries no
 *    NUL.  Texts are cut at a character boundary.
 *  - Threads: every function may be called from any one controlling thread (the player
 *    calls them all from its GUI thread); calls are serialised inside the library.  The
 *    file-information functions (vbmp3_getFileType, vbmp3_getFileTagInfo,
 *    vbmp3_getFileInfo2) keep no state and may also be called from other threads at
 *    the same time.  vbmp3_open, vbmp3_openRange, vbmp3_queueNext and
 *    vbmp3_queueNextRange may run on a thread of their own: they read the file without
 *    holding up the other calls, which answer about the files open and queued until
 *    then.  No function blocks on decoding or on the sound device.
 *  - The callback runs on a library thread; it must return quickly and must not call
 *    back into the library.
 */
#ifndef VBMP3_H
#define VBMP3_H

#include <stdint.h>

/* The interface's version: raised by one with every function added or meaning changed,
 * never lowered; functions are never taken away.  vbmp3_getVersion (100 = 1.00) is the
 * library's release and says nothing of this.  The library is private to the player and
 * loaded by its SONAME (libvbmp3.so.1): the player needs every function below at load,
 * and a library without one of them is refused as a whole.
 *
 * History
 *  1  2026-12-06  vbmp3_init … vbmp3_setEqualizer: the 28 functions of the first release.
 *  2  2026-12-06  vbmp3_getOutputName, vbmp3_getLyricsWait, vbmp3_getOpenInfo.
 *  3  2026-12-07  vbmp3_getPositionMs, vbmp3_getFilePicture, vbmp3_getStreamInfo
 *                 (with the formats after WAV and their type codes 3, 5, 6, 7, 9, 10, 11).
 *  4  2026-12-07  vbmp3_queueNext (gapless joins; the callback's join report).
 *  5  2026-12-07  vbmp3_getOutputDevices, vbmp3_getOutputDevice, vbmp3_setOutputDevice
 *                 (the ALSA output after the sound server).
 *  6  2026-12-07  vbmp3_readEmbeddedLyrics.
 *  7  2026-12-08  vbmp3_setReplayGain, vbmp3_setNativeOutputFormat.
 *  8  2026-12-08  vbmp3_openRange, vbmp3_queueNextRange, vbmp3_getFileCueSheet (cue-sheet tracks).
 *  9  2026-12-09  vbmp3_readerOpen, vbmp3_readerRead, vbmp3_readerClose (decoding for measurement).
 *                 vbmp3_getFileSortTags (sort tags); vbmp3_getFileInfo2's stream facts
 *                 (rate, bit rate, length) for the formats after WAV.  vbmp3_openUrl and
 *                 vbmp3_getStreamState are declared and refuse every URL for now.
 */
#define VBMP3_INTERFACE_VERSION 9

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VBMP3_BUILDING)
#define VBMP3_API __attribute__((visibility("default")))
#else
#define VBMP3_API
#endif

/* Filled by vbmp3_open.
 *  text1: a description of the stream, for example "MPEG-1 Layer III, 44100 Hz, Joint Stereo",
 *         "WAV PCM 16-bit, 48000 Hz, Stereo", "FLAC 24-bit, 96000 Hz, 6 channels",
 *         "Ogg FLAC 16-bit, 44100 Hz, Stereo", "Ogg Vorbis, 44100 Hz, Stereo",
 *         "Ogg Opus, 48000 Hz, Mono", "MP4 AAC LC, 44100 Hz, Stereo" (HE-AAC, HE-AACv2),
 *         "MP4 ALAC 24-bit, 96000 Hz, Stereo", "WavPack 16-bit, 44100 Hz, Stereo" (also
 *         "WavPack float 32-bit", "WavPack lossy 16-bit", "WavPack DSD"),
 *         "Monkey's Audio 16-bit, 44100 Hz, Stereo".
 *  text2: the name of the component that decodes it: "vbmp3/libmpg123", "vbmp3/libsndfile",
 *         "vbmp3/libFLAC", "vbmp3/libvorbisfile", "vbmp3/libopusfile", "vbmp3/libwavpack"
 *         or "vbmp3/FFmpeg".
 *  reserved: 0.
 *  bitrate: kb/s of a constant-bit-rate MPEG stream, 0 when its bit rate varies (VBR, ABR,
 *           free format); for WAV the PCM rate (rate x channels x bits / 1000); for the
 *           other formats, lossless or lossy, the average over the track (the size of
 *           its audio data over its length), never 0 for a track that plays.
 *  frequency: sample rate in Hz.
 *  totalSeconds: the length in whole seconds, rounded down; the length the container
 *           states (STREAMINFO, granule positions, the MP4 track after its edit list)
 *           where it states one.
 * A long MPEG stream whose length no Xing/Info/VBRI header states would take a while to
 * count: vbmp3_open then estimates bitrate and totalSeconds from its size and counts its
 * frames on a library thread; vbmp3_getOpenInfo gives the counted values once known. */
typedef struct {
    char text1[128];
    char text2[128];
    int32_t reserved;
    int32_t bitrate;
    int32_t frequency;
    int32_t totalSeconds;
} OpenInfo;

/* Tag texts: from ID3v2 (2.2, 2.3, 2.4) when the file has one with the field, else from
 * ID3v1.  FLAC, Ogg FLAC, Ogg Vorbis and Opus files give their Vorbis comment (TITLE,
 * ARTIST, ALBUM, DATE, COMMENT else DESCRIPTION, GENRE), MP4 files their atoms, WavPack and
 * Monkey's Audio files their APEv2 tag (else their ID3v1 or ID3v2 tag); several values of
 * one field are joined by " / ".  year is four characters and a NUL (the year a date
 * begins with); genre is the ID3v1 genre number (-1 when none or not a standard genre),
 * genreName its name or the free genre text. */
typedef struct {
    char title[128];
    char artist[128];
    char album[128];
    char year[5];
    char comment[128];
    char pad[3];
    int32_t genre;
    char genreName[128];
} TagInfo;

/* RIFF INFO texts of an RMP (or WAV) file, one per INFO id:
 *   0 INAM title      1 IART artist     2 IPRD album (product)   3 ICRD date
 *   4 IGNR genre      5 ICMT comment    6 ICOP copyright         7 IENG engineer
 *   8 ISFT software   9 ISRC source    10 ISBJ subject          11 IKEY keywords
 *  12 ITCH technician 13 ISRF source form
 * The player shows text 0 as title, 1 as artist and 2 as album. */
typedef struct {
    char text[14][128];
} ListInfo;

/* Stream facts, fourteen 32-bit integers (0 where they do not apply, as for WAV; for
 * FLAC, Ogg Vorbis, Ogg Opus, MP4, WavPack and Monkey's Audio files only 2, the average
 * bit rate over the file, 3 and 11, from the container's headers without decoding):
 *   0 MPEG version: 1, 2, or 25 for MPEG-2.5     1 layer: 1, 2 or 3
 *   2 bit rate of the first audio frame, kb/s (0 = free format)
 *   3 sample rate, Hz                           4 channel mode: 0 stereo, 1 joint stereo,
 *                                                 2 dual channel, 3 mono
 *   5 mode extension                            6 emphasis
 *   7 1 = frames carry a CRC                    8 1 = copyright bit set
 *   9 1 = original bit set                     10 number of audio frames (from the
 *                                                 Xing/VBRI header, else counted)
 *  11 length in milliseconds                   12 VBR header: 0 none, 1 Xing or Info
 *                                                 (LAME), 2 VBRI
 *  13 byte offset of the first audio frame in the file */
typedef struct {
    int32_t value[14];
} MpegInfo;

/* Five lyrics lines around what is heard now.  line2 is the current line (the last line
 * whose time has come), line1 and line0 the two before it (line0 on top), line3 and
 * line4 the two after it.  Lines that do not exist are empty.  current is the index of
 * the current line, -1 before the first line's time and when there are no lyrics. */
typedef struct {
    int32_t current;
    char line4[128];
    char line3[128];
    char line2[128];
    char line1[128];
    char line0[128];
} LyricsLines;

/* Buffering and output timing.
 *  value[0]: size of the decoded-ahead buffer in KiB of 16-bit PCM (16..4096; the player
 *            passes 128, about 0.74 s of 44.1 kHz stereo).
 *  value[1]: number of periods the sound device holds (2..64; the player passes 10).
 *  value[2]: length of one device period in ms (2..100; the player passes 10), so the
 *            device holds value[1] x value[2] ms (100 ms).  Position, spectrum and lyrics
 *            follow what has left the device, whatever these values are.
 *  value[3]: 0 = normal priority for the library's threads, 1 = ask for real-time
 *            priority for the output thread (silently ignored when refused).
 * Returns 0 (and changes nothing) when a value is out of range.  Takes effect at the
 * next vbmp3_play. */
typedef struct {
    int32_t value[4];
} Vbmp3Option;

/* Output format.
 *  value[0]: channels: 0 = as the file (up to 8, in the WAVE order FL FR FC LFE BL BR
 *            (BC) SL SR, with the sound server told each channel's position), 1 = mix
 *            down to mono, 2 = always stereo (a file of more channels mixed down: the
 *            side and back channels and the centre at -3 dB, the LFE left out).
 *  value[1]: device sample format: 0 = 16-bit signed, 1 = 32-bit float.
 *  value[2]: device sample rate in Hz (8000..192000), or 0 for the track's own rate.
 *            When the sound device runs at another rate than the track, the library
 *            converts with a high-quality resampler (libsoxr).  The player passes 48000.
 * The null output and the file output always run at the track's own rate.
 * Returns 0 (and changes nothing) when a value is out of range. */
typedef struct {
    int32_t value[3];
} DecodeOption;

/* Type codes of vbmp3_getFileType.  The content decides, never the name: a container's
 * own signature (after leading ID3v2 tags) before any search for MPEG frames, so that a
 * FLAC or MP4 file whose data happens to hold an MPEG frame sync is not taken for MPEG.
 * 16 and 32 are added to the MPEG and RMP codes only; the codes from 3 on are never
 * above 31, so "above 32" still means Lyrics3 data. */
enum {
    VBMP3_TYPE_UNKNOWN = -1,
    VBMP3_TYPE_MPEG = 0, /* MPEG audio stream */
    VBMP3_TYPE_WAV = 1,
    VBMP3_TYPE_RMP = 2,
    VBMP3_TYPE_FLAC = 3, /* native FLAC stream ("fLaC") */
    VBMP3_TYPE_OGG_FLAC = 5, /* FLAC in Ogg */
    VBMP3_TYPE_OGG_VORBIS = 6,
    VBMP3_TYPE_OGG_OPUS = 7,
    VBMP3_TYPE_MEDIA = 8, /* MPEG program stream, AVI, ASF (WMA/WMV): not played here */
    VBMP3_TYPE_MP4 = 9, /* MP4/M4A ("ftyp"): plays an AAC or ALAC track (also MP3, FLAC, Opus) */
    VBMP3_TYPE_WAVPACK = 10, /* "wvpk" */
    VBMP3_TYPE_APE = 11, /* Monkey's Audio ("MAC ") */
    VBMP3_TYPE_ID3V1 = 16, /* added: the file ends in an ID3v1 tag */
    VBMP3_TYPE_LYRICS3 = 32 /* added with 16: Lyrics3 data stands before that tag */
};

/* Codecs of StreamInfo. */
enum {
    VBMP3_CODEC_NONE = 0,
    VBMP3_CODEC_MPEG = 1, /* MPEG audio Layer I, II or III */
    VBMP3_CODEC_PCM = 2, /* WAV */
    VBMP3_CODEC_FLAC = 3,
    VBMP3_CODEC_VORBIS = 4,
    VBMP3_CODEC_OPUS = 5,
    VBMP3_CODEC_AAC = 6,
    VBMP3_CODEC_ALAC = 7,
    VBMP3_CODEC_WAVPACK = 8,
    VBMP3_CODEC_APE = 9 /* Monkey's Audio */
};

/* Facts of the open stream in any format (vbmp3_getStreamInfo).
 *  codec: VBMP3_CODEC_*.
 *  codecName: short, for a read-out: "Layer III" (I, II), "PCM", "FLAC", "Vorbis", "Opus",
 *             "AAC LC" ("HE-AAC", "HE-AACv2"), "ALAC", "WavPack", "Monkey's Audio".
 *  channels: of what plays, 1..8, in the WAVE order; channelMask: their WAVE speaker bits
 *            (FL 0x1, FR 0x2, FC 0x4, LFE 0x8, BL 0x10, BR 0x20, BC 0x100, SL 0x200,
 *            SR 0x400, ...), 0 when the file does not say where they go.
 *  bitsPerSample: the width of the decoded samples of a lossless source (8..32); 0 for a
 *                 lossy codec and for floating-point data.
 *  lossless: 1 when the decoded samples are the ones that were encoded.
 *  sampleRate: Hz.  bitrate: kb/s as in OpenInfo.
 *  totalFrames: the length in sample frames (per channel); an estimate while
 *               vbmp3_getStreamInfo returns 1. */
typedef struct {
    int32_t codec;
    int32_t channels;
    int32_t bitsPerSample;
    int32_t lossless;
    uint32_t channelMask;
    int32_t sampleRate;
    int64_t totalFrames;
    int32_t bitrate;
    int32_t reserved;
    char codecName[32];
} StreamInfo;

/* Callback messages.  A play ends with exactly one of END_OF_TRACK and OUTPUT_FAILED.
 *  END_OF_TRACK: the last sample has been heard.
 *  OUTPUT_FAILED: the output could not take the sound (the file output's disk is full or
 *    its file size limit reached): playback stopped there, and the file's header tells the
 *    sound it holds.  No end of track is reported for that play.
 *  TRACK_JOINED: the file queued with vbmp3_queueNext has begun to be heard, right after
 *    the last sample of the track before it: it is the open file now (see vbmp3_queueNext).
 *    The play goes on; no end of track is reported for the track before.  param is 0.
 *  VOLUME_CHANGED: the output volume was changed outside the player, in the desktop's
 *    mixer (sound server output only); param is the new volume word (the bits of the
 *    uint32_t), which vbmp3_getOutputVolume gives from now on.  Not tied to a play: it may
 *    come while stopped. */
enum {
    VBMP3_MSG_END_OF_TRACK = 4,
    VBMP3_MSG_OUTPUT_FAILED = 5,
    VBMP3_MSG_TRACK_JOINED = 6,
    VBMP3_MSG_VOLUME_CHANGED = 7
};

/* Playing states of vbmp3_getState. */
enum { VBMP3_STOPPED = 0, VBMP3_PLAYING = 1, VBMP3_PAUSED = 2 };

/* Starts the library (idempotent: a second call without vbmp3_free returns 1 and keeps
 * everything as it is, apart from stopping playback).  Returns 1. */
VBMP3_API int32_t vbmp3_init(void);
/* Stops playback, closes the file, ends the library's threads and drops the callback. */
VBMP3_API int32_t vbmp3_free(void);
/* Registers proc, called on a library thread with message 4 exactly once when the last
 * sample of a play has been heard (or 5 when its output failed instead), 6 each time a
 * queued file joins, 7 when the desktop's mixer changed the volume.  A report of a play is
 * dropped when vbmp3_play, vbmp3_stop, vbmp3_open or vbmp3_close came in the meantime: once
 * one of them has returned, no report of an earlier play comes (one already running is
 * waited for).  Returns 0 when the library is not started. */
VBMP3_API int32_t vbmp3_callback(void (*proc)(int32_t message, int32_t param));
/* Unregisters the callback; when it returns, the callback is not running and will not
 * be called again. */
VBMP3_API int32_t vbmp3_stopCallback(void);
VBMP3_API int32_t vbmp3_setVbmp3Option(const Vbmp3Option *option);
VBMP3_API int32_t vbmp3_setDecodeOption(const DecodeOption *option);
/* 1 = the sound devices (sound server, ALSA) follow each track from the next vbmp3_play
 * on: its own rate, and samples as wide as it gives them: 16-bit for sources of at most 16
 * bits, 32-bit words with the 24 bits high for wider lossless ones (bit-exact), 32-bit
 * float for lossy decoders (MP3, Vorbis, Opus, AAC); DecodeOption's sample format and rate
 * are then not used.  A track joined to the one before at another rate or channel count
 * opens the device again (as briefly as it allows).  0 (the default) = DecodeOption
 * decides.  Returns 0 for other values or when the library is not started. */
VBMP3_API int32_t vbmp3_setNativeOutputFormat(int32_t native);
/* 1 = read Lyrics3 data of a file at vbmp3_open, 0 = only on vbmp3_readLyrics3Data. */
VBMP3_API int32_t vbmp3_setLyrics3Use(int32_t use);
/* Opens path: reads it, then closes what was open (which stops playback and drops the
 * lyrics) and puts it in its place; of two opens at once, the one that ends last leaves
 * its file open.  The format is found from the content, not the name.  Returns 0 (info cleared) when the file
 * cannot be opened or is not MPEG audio with at least two frames, RMP or WAV with one or
 * two channels, or a FLAC, Ogg Vorbis, Ogg Opus, MP4 (AAC, ALAC), WavPack or Monkey's
 * Audio file with at least one sample of one to eight channels at 1 to 768 kHz that its
 * decoder (loaded now, the first time) accepts.  A file damaged further on opens and ends
 * where its decoder gives up. */
VBMP3_API int32_t vbmp3_open(const char *path, OpenInfo *info);
/* The open file's OpenInfo as vbmp3_open filled it, with the counted length and bit rate
 * once a count that vbmp3_open left running has finished.  Returns 0 (info cleared) when
 * no file is open, 1 while the count runs (the values are estimates), 2 when final.
 * Returns at once. */
VBMP3_API int32_t vbmp3_getOpenInfo(OpenInfo *info);
/* The open file's StreamInfo; returns as vbmp3_getOpenInfo does (0 and info cleared when no
 * file is open, 1 while the length is an estimate, 2 when final).  Returns at once. */
VBMP3_API int32_t vbmp3_getStreamInfo(StreamInfo *info);
/* Returns 0 when no file was open. */
VBMP3_API int32_t vbmp3_close(void);
/* Queues path to follow the open file without a gap: when the open file ends while it
 * plays, the queued one goes on from its first sample in the same stream, sample for
 * sample (the encoder delay and padding of both already removed: LAME/Xing for MP3,
 * iTunSMPB and the edit list for MP4 AAC, Opus pre-skip, the stated lengths of FLAC,
 * Vorbis and WAV).  A file of another sample rate or channel count joins as closely as the
 * output allows: the sound server's stream goes on when only the rate changes, else plays
 * out and starts again; the file output goes on in a further file (see vbmp3_setOutput).
 * The file is opened now (the same checks as vbmp3_open).  NULL or "" clears the queue.
 * Once the queued file begins to be heard, message 6 is reported and it becomes the open
 * file: vbmp3_getOpenInfo, vbmp3_getStreamInfo, vbmp3_getMpegInfo, vbmp3_getState's
 * seconds, vbmp3_seek, the spectrum and the lyrics refer to it, its lyrics start empty
 * (vbmp3_setLyricsFile, vbmp3_readLyrics3Data; read at once with vbmp3_setLyrics3Use(1)),
 * and the queue is empty again.  Until then everything refers to the track before, and a
 * new queue, a clear or a seek undoes what was decoded of the queued file ahead.
 * vbmp3_stop, vbmp3_open and vbmp3_close clear the queue; a play that ends before the
 * queued file could join (queued while the output was already playing out the end) ends
 * as without it, with message 4, and the file stays queued for the next vbmp3_play.
 * Returns 1 when queued (or cleared), 0 when no file is open or path cannot be opened (the
 * queue is then empty), 2 when the file queued before has already begun to be heard
 * (its message 6 is on its way or came; nothing changed: queue again after it). */
VBMP3_API int32_t vbmp3_queueNext(const char *path);
/* A track that is a part of a file: a CD image's track named by its cue sheet.
 *  start: the track's first sample, in CD frames (1/75 s) from the file's start; the
 *         sample is start * rate / 75 (rounded down), so that one track's end and the
 *         next track's start name the same sample.
 *  end:   the first sample past the track, in CD frames; -1 = the file's end.
 *  gains: 0 = the file's own ReplayGain tags; bit 0 (VBMP3_RANGE_TRACK_GAIN) = trackGain
 *         and trackPeak hold; bit 1 (VBMP3_RANGE_ALBUM_GAIN) = albumGain and albumPeak hold
 *         (the sheet's REM REPLAYGAIN_*); these replace the file's tags for this track: when
 *         gains is not 0, the file's own values are not used for it at all.
 *  trackGain, albumGain in dB; trackPeak, albumPeak linear (1.0 = full scale; 0 = none). */
enum { VBMP3_RANGE_TRACK_GAIN = 1, VBMP3_RANGE_ALBUM_GAIN = 2 };
typedef struct {
    int64_t start;
    int64_t end;
    int32_t gains;
    double trackGain, trackPeak, albumGain, albumPeak;
} TrackRange;
/* As vbmp3_open, for the part of the file that range names: the length, position, seek,
 * spectrum, the end of the track and the callback's reports are the track's own (position
 * 0 = its first sample).  Returns 0 when range is NULL, start < 0, end >= 0 and end <= start,
 * or start lies past the file's end; an end past the file's end is the file's end.  A seek
 * lands on the very sample wherever the format's seek does (WAV, FLAC, WavPack, Monkey's
 * Audio), and as closely as vbmp3_seek does elsewhere. */
VBMP3_API int32_t vbmp3_openRange(const char *path, const TrackRange *range, OpenInfo *info);
/* As vbmp3_queueNext, for a part of a file (NULL or "" path clears the queue; a NULL range
 * with a path is refused as a file that cannot be opened).  When path is the file playing
 * now and range->start is where the playing track ends, the same decoding goes on across
 * the join: nothing is reopened, and no sample is lost, repeated or inserted.  The join is
 * reported (message 6) as any join, and the length and position become the new track's at
 * its first sample. */
VBMP3_API int32_t vbmp3_queueNextRange(const char *path, const TrackRange *range);
/* The cue sheet stored inside the file at path: a FLAC CUESHEET block (written out as a
 * sheet's text, UTF-8, with FILE naming the file itself), else a CUESHEET comment (FLAC,
 * Ogg FLAC) or an APEv2 "Cuesheet" item (WavPack, Monkey's Audio) as stored.  Returns the
 * sheet's size in bytes, 0 when there is none (or over 1 MiB); when buffer is not NULL and
 * size is at least that, the bytes are copied there (no NUL added).  Keeps no state: may
 * run on any thread, like vbmp3_getFileInfo2. */
VBMP3_API int32_t vbmp3_getFileCueSheet(const char *path, char *buffer, int32_t size);
/* Plays the open file from its start (also while it plays, after a stop and after the end
 * of the track).  The output set by vbmp3_setOutput is opened on the library's thread; a
 * "file:" target that cannot be created makes this return 0.  Returns 0 when no file is
 * open. */
VBMP3_API int32_t vbmp3_play(void);
/* Stops; the position goes back to 0; the queue is cleared.  Returns 0 when no file is
 * open. */
VBMP3_API int32_t vbmp3_stop(void);
/* Pause keeps the position; restart resumes at the same sample.  0 when not applicable. */
VBMP3_API int32_t vbmp3_pause(void);
VBMP3_API int32_t vbmp3_restart(void);
/* Goes on playing (or stays paused) from the given second; clamped to the track, so a
 * second past the end ends the track.  Returns 0 when stopped or no file is open. */
VBMP3_API int32_t vbmp3_seek(int32_t seconds);
/* Returns the state and, when elapsedSeconds is not NULL, the whole seconds heard so far
 * (what has left the sound device, not what was decoded ahead): 0 after a stop, the
 * track's length after its end.  Before vbmp3_init: 0 and 0. */
VBMP3_API int32_t vbmp3_getState(int32_t *elapsedSeconds);
VBMP3_API int32_t vbmp3_getFileType(const char *path);
/* Reads the Lyrics3 (v1 or v2.00) lyrics of the open file and makes them the current
 * lyrics.  Returns -1 when lyrics were read, 0 otherwise. */
VBMP3_API int32_t vbmp3_readLyrics3Data(void);
/* Reads the lyrics embedded in the open file's tags and makes them the current lyrics:
 * ID3v2 synchronised lyrics (SYLT, millisecond stamps; stamps in MPEG frames are taken at
 * 1152 samples of 44.1 kHz), else unsynchronised lyrics (USLT); in FLAC, Ogg and Opus the
 * Vorbis comment LYRICS, else UNSYNCEDLYRICS; in MP4 the ©lyr atom; in WavPack and Monkey's
 * Audio the APEv2 item Lyrics.  LRC time stamps inside the text are timed as in a lyrics
 * file; a text without stamps is spread evenly over the track.  Returns 1 when lyrics were
 * read, 0 when no file is open or it has none (the current lyrics are then kept). */
VBMP3_API int32_t vbmp3_readEmbeddedLyrics(void);
/* Loads a lyrics text file (LRC time stamps, or plain lines spread evenly over the
 * track; at most 1 MiB) for the open file; "" or NULL drops the lyrics.  Returns 1 when
 * lyrics were loaded or dropped, 0 when no file is open or the file cannot be read. */
VBMP3_API int32_t vbmp3_setLyricsFile(const char *path);
/* Any record pointer may be NULL.  Records are cleared first.  Returns 0 when the file
 * cannot be read.  These two keep no state and may run on any thread. */
VBMP3_API int32_t vbmp3_getFileInfo2(const char *path, TagInfo *tag, MpegInfo *mpeg, ListInfo *list);
VBMP3_API int32_t vbmp3_getFileTagInfo(const char *path, TagInfo *tag);
/* MPEG facts of the open file; cleared and 0 when none is open. */
VBMP3_API int32_t vbmp3_getMpegInfo(MpegInfo *mpeg);
/* Spectrum of what is heard now, 256 bands per channel (second = first for mono; the
 * front pair of a track of more channels),
 * log-spaced from 40 Hz (band 0) to 16 kHz (band 255); bands 0, 16, ..., 240 are sixteen
 * bands from bass to treble.  Level = 2 x (dB relative to full scale + 60), clamped to
 * 0..120: a full-scale sine reads about 120, -60 dB and silence 0.  It is taken after the
 * equalizer and before the output volume, from the last 2048 samples heard (1024 below
 * 32 kHz), Hann-windowed.  Zeros when nothing plays (stopped or paused).  Returns 0
 * before vbmp3_init. */
VBMP3_API int32_t vbmp3_getSpectrum(int32_t *first, int32_t *second);
/* Fills lines for the position heard now; returns 1 when there are lyrics, else 0 with
 * every line empty and current -1.  Cheap: meant to be called every few milliseconds. */
VBMP3_API int32_t vbmp3_getLyrics(LyricsLines *lines);
/* 100 = version 1.00. */
VBMP3_API int32_t vbmp3_getVersion(void);
/* Ten peaking filters (Q 1.41, about an octave) at 60, 170, 310, 600, 1k, 3k, 6k, 12k,
 * 14k, 16k Hz; one unit is 0.2 dB, clamped to -60..60 (+-12 dB).  NULL or all zero
 * bypasses the equalizer exactly.  Every channel is filtered alike.  Bands at or above
 * 0.45 x the track's rate are left
 * out.  Changes glide in over 20 ms, without clicks, and reach the device within 50 ms
 * (they are heard after the device's own buffer, Vbmp3Option value[1] x value[2] ms;
 * through the sound server, whose stream holds two seconds, what it has not played yet
 * is filtered again and rewritten, so that they are heard within about 100 ms). */
VBMP3_API int32_t vbmp3_setEqualizer(const int32_t *bands);

/* Extensions. */
/* "auto" (the device chosen by vbmp3_setOutputDevice; when it does not open, the sound
 * server's default, then ALSA's "default" PCM, then the null output), "null" (a
 * device that consumes sound in real time), "file:PATH" (writes what would be heard as
 * a PCM WAV file at the track's rate and channel count, as fast as decoding allows;
 * complete when the end of track is reported).  The file keeps a lossless source's
 * samples: 16-bit for sources of up to 16 bits (8-bit samples x 256, 12-bit x 16), 24-bit
 * for 17 to 32 bits (20-bit samples x 16); lossy and floating-point sources as 16-bit.
 * More than two channels or 24 bits make it WAVE_FORMAT_EXTENSIBLE with the channel mask
 * and the source's own valid bits.  With the equalizer off and the volume at full, it
 * holds the decoded samples exactly.  When a queued file of another format joins, the
 * file so far is completed and the play goes on in PATH with "-2", "-3", ... put before
 * the name's extension (out.wav, out-2.wav), each file created afresh.  The sound server's
 * stream stays open between plays (a stop flushes and pauses it), so that the desktop's
 * mixer keeps showing the player.  Takes effect at the next vbmp3_play.  Returns 0 for an
 * unknown target. */
VBMP3_API int32_t vbmp3_setOutput(const char *target);
/* Output volume word: low 16 bits left, high 16 bits right, 0xFFFF = full (the default
 * 0xFFFFFFFF leaves the samples untouched).  A mono track takes the mean of the two; in
 * a track of more channels the speakers on the left take the left half, those on the
 * right the right half, the centre ones (centre, LFE, back centre) the mean.
 * Through the sound server it is the stream's own volume (0xFFFF = the server's 100 %), so
 * that the desktop's mixer shows it, and a change made there comes back as message 7;
 * the other outputs scale the samples, the file output too, within one block (about
 * 23 ms). */
VBMP3_API uint32_t vbmp3_getOutputVolume(void);
VBMP3_API int32_t vbmp3_setOutputVolume(uint32_t word);
/* The output a playing track goes to: "pulse" (the sound server), "alsa" (an ALSA PCM,
 * when no sound server answered or one was chosen), "null" (asked for, or standing in for
 * devices that did not answer or went away), "file", or "" while no device is open (the
 * output opens on the library's thread shortly after vbmp3_play; the sound server's
 * stream stays open after the play, paused).
 * Copies at most size - 1 bytes and a NUL into name; returns the name's length. */
VBMP3_API int32_t vbmp3_getOutputName(char *name, int32_t size);
/* The devices "auto" can play through, one a line: an id, a tab, the description the
 * system gives it, a newline.  Ids are "pulse:SINK" (the sound server's sinks, first) and
 * "alsa:PCM" (ALSA's PCMs that play, as snd_device_name_hint lists them); tabs and
 * newlines in descriptions become spaces.  Asks the sound server and may take about a
 * second when none answers: call it off any thread that must not wait.  Needs no
 * vbmp3_init.  Copies at most size - 1 bytes and a NUL into list; returns the full text's
 * length (0: no device found). */
VBMP3_API int32_t vbmp3_getOutputDevices(char *list, int32_t size);
/* The device "auto" tries first from the next vbmp3_play on: an id of
 * vbmp3_getOutputDevices, or NULL or "" for the default (the sound server's default sink).
 * A device that does not open then is replaced by the defaults as vbmp3_setOutput says.
 * Returns 0 (and changes nothing) for a string that is no device id. */
VBMP3_API int32_t vbmp3_setOutputDevice(const char *device);
/* The chosen device's id while the open output plays through it; "" while it plays
 * through a default (the chosen device did not open, or none was chosen) or no output is
 * open.  Copies at most size - 1 bytes and a NUL into device; returns the id's length. */
VBMP3_API int32_t vbmp3_getOutputDevice(char *device, int32_t size);
/* Milliseconds of playing from the position heard now until vbmp3_getLyrics gives other
 * lines (the next line's time); -1 when no line follows or there are no lyrics.  The
 * heard position stands still while paused or stopped: ask again after a resume or seek.
 * Lets a caller sleep until the lines change instead of polling vbmp3_getLyrics. */
VBMP3_API int32_t vbmp3_getLyricsWait(void);
/* The position heard now in milliseconds: what vbmp3_getState counts in whole seconds,
 * not rounded down (0 after a stop, the track's length after its end; 0 before
 * vbmp3_init).  Returns at once. */
VBMP3_API int32_t vbmp3_getPositionMs(void);

/* ReplayGain: each file played at the loudness its tags state.
 *  mode: VBMP3_REPLAYGAIN_OFF (the samples pass untouched, bit for bit), _TRACK (the
 *        track's gain, else the album's), _ALBUM (the album's gain, else the track's).
 *  preamp: added to the gain a file states, in 0.1 dB (-150..150).
 *  defaultGain: the gain of a file that states none, in 0.1 dB (-150..150; the preamp is
 *        not added to it).
 *  preventClipping: 1 = the gain is lowered where the peak the file states (of the track
 *        or the album, as the gain taken) would pass full scale, so that peak x gain <= 1;
 *        a file that states no peak keeps its gain.  0 = the gain stands.
 * The values are read from the file's tags when it starts to decode, on a library thread:
 * ID3v2 TXXX frames REPLAYGAIN_TRACK_GAIN, _TRACK_PEAK, _ALBUM_GAIN, _ALBUM_PEAK and RVA2
 * frames "track" and "album" (their master volume), else the LAME header's radio
 * (track) and audiophile (album) gains and its peak (MPEG, RMP); Vorbis comments
 * REPLAYGAIN_* (FLAC, Ogg FLAC, Ogg Vorbis, Opus); R128_TRACK_GAIN and R128_ALBUM_GAIN of
 * Opus (Q7.8 dB against -23 LUFS, taken 5 dB louder to the ReplayGain reference; the
 * header's output gain is part of the decoded sound already); MP4 freeform atoms
 * ----:com.apple.iTunes:replaygain_*; APEv2 REPLAYGAIN_* (WavPack, Monkey's Audio).
 * The gain is applied to the decoded samples, before the equalizer and the output volume.
 * A change applies to what is decoded from then on (heard after the decoded-ahead buffer,
 * Vbmp3Option value[0]); a queued file's gain begins with its first sample at the join.
 * Off when the library starts; a vbmp3_init that restarts it keeps the setting.
 * Returns 0 (and changes nothing) when option is NULL or a value is out of range, or
 * before vbmp3_init. */
enum { VBMP3_REPLAYGAIN_OFF = 0, VBMP3_REPLAYGAIN_TRACK = 1, VBMP3_REPLAYGAIN_ALBUM = 2 };
typedef struct {
    int32_t mode;
    int32_t preamp;
    int32_t defaultGain;
    int32_t preventClipping;
} ReplayGainOption;
VBMP3_API int32_t vbmp3_setReplayGain(const ReplayGainOption *option);

/* Limits of vbmp3_getFilePicture: the largest picture it hands out, and the size of its
 * mimeType field (NUL included). */
enum { VBMP3_PICTURE_MAX = 16 * 1024 * 1024, VBMP3_MIME_TYPE_SIZE = 64 };
/* The cover picture embedded in the file at path: an ID3v2 APIC frame (MP3; the ID3v2
 * chunk of WAV and AIFF), a FLAC PICTURE block, a METADATA_BLOCK_PICTURE comment (Ogg
 * Vorbis, Opus, Ogg FLAC), an MP4 "covr" item or an APEv2 "Cover Art (Front)" item
 * (Monkey's Audio, WavPack, MP3).  The front cover when the file holds several pictures,
 * else the first one.  Returns the picture's size in bytes; 0 when the file has no
 * picture of at most VBMP3_PICTURE_MAX bytes in an image format it can name, or cannot
 * be read.  When buffer is not NULL and size is at least the picture's size, the picture
 * is copied there (otherwise nothing is copied: call again with a larger buffer).
 * mimeType, when not NULL, receives the picture's type ("image/jpeg", "image/png",
 * "image/gif", "image/webp", "image/bmp", or the type the file declares), NUL-terminated
 * in at most VBMP3_MIME_TYPE_SIZE bytes; "" when there is no picture.  Reads the file's
 * tags, at most 24 MiB of it, and keeps no state: may run on any thread, like
 * vbmp3_getFileInfo2. */
VBMP3_API int32_t vbmp3_getFilePicture(const char *path, void *buffer, int32_t size, char *mimeType);

/* ---- Interface version 9 ---------------------------------------------------------- */

/* Internet radio and HTTP streams.
 * vbmp3_openUrl opens an http:// or https:// URL (proxies from the usual environment
 * variables) as the open file, in place of what was open, as vbmp3_open does; it returns
 * at once, before anything is read (1; 0, info cleared, for a URL that is not http(s) or
 * too long), and the library connects, reads the answer and fills its buffer on a thread
 * of its own.  vbmp3_play may follow at once: sound starts once a few seconds are
 * buffered.  MP3 and AAC (ADTS) streams, Ogg Vorbis and Ogg Opus streams (chained).
 * A live stream has no length: OpenInfo's totalSeconds and StreamInfo's totalFrames are 0,
 * vbmp3_seek returns 0, vbmp3_getState's seconds and vbmp3_getPositionMs count the time
 * heard since vbmp3_play.  A stream that drops (the connection closes, the server stalls)
 * is connected again with growing waits (1, 2, 4, 8, then every 15 s), keeping the open
 * file, until vbmp3_stop, vbmp3_close or another open; a stream that cannot be opened at
 * all (host not found, refused, an HTTP error, a TLS error, too many redirects, not
 * audio) fails without retrying.  vbmp3_stop, vbmp3_close and vbmp3_free return at once
 * also while connecting.  Memory stays bounded whatever the server sends (headers and
 * metadata blocks are capped).  The end of a stream is never reported (message 4) while
 * it reconnects; a failure stops it and is said by vbmp3_getStreamState. */
VBMP3_API int32_t vbmp3_openUrl(const char *url, OpenInfo *info);

/* States of StreamState.state. */
enum {
    VBMP3_STREAM_NONE = 0, /* the open file is not a stream (or nothing is open) */
    VBMP3_STREAM_CONNECTING = 1, /* connecting, or waiting for the answer */
    VBMP3_STREAM_BUFFERING = 2, /* connected; bufferPercent says how far */
    VBMP3_STREAM_PLAYING = 3, /* sound flows (or would, when not playing) */
    VBMP3_STREAM_RECONNECTING = 4, /* dropped; attempt says which try, retryInMs when */
    VBMP3_STREAM_FAILED = 5 /* cannot be played; error says why */
};
/* Causes of VBMP3_STREAM_FAILED (and of the last drop while reconnecting). */
enum {
    VBMP3_STREAM_OK = 0,
    VBMP3_STREAM_ERR_HOST = 1, /* the host's name was not found */
    VBMP3_STREAM_ERR_CONNECT = 2, /* refused or unreachable */
    VBMP3_STREAM_ERR_HTTP = 3, /* an HTTP error status: httpStatus holds it */
    VBMP3_STREAM_ERR_TLS = 4, /* the secure connection could not be made */
    VBMP3_STREAM_ERR_REDIRECTS = 5, /* too many redirects */
    VBMP3_STREAM_ERR_TIMEOUT = 6, /* no answer, or the server stalled */
    VBMP3_STREAM_ERR_FORMAT = 7, /* the answer is not audio the library plays */
    VBMP3_STREAM_ERR_ENDED = 8, /* the server closed the stream */
    VBMP3_STREAM_ERR_PROTOCOL = 9 /* a malformed answer (headers or metadata over the caps) */
};
/* What a stream is doing; texts UTF-8 (ICY bytes decoded by the library's rule: UTF-8
 * when valid, else CP932 where it scores so, else Latin-1).
 *  title: the stream title now heard (ICY StreamTitle, or "ARTIST - TITLE" of a chained
 *         Ogg link's comments); titleSerial is raised each time it changes.
 *  name, genre: icy-name / icy-genre (or the Ogg link's ORGANIZATION); "" when unknown.
 *  bitrate: kb/s (icy-br, else the codec's), 0 when unknown. */
typedef struct {
    int32_t state;
    int32_t error;
    int32_t httpStatus;
    int32_t bufferPercent;
    int32_t attempt;
    int32_t retryInMs;
    int32_t bitrate;
    uint32_t titleSerial;
    char name[256];
    char genre[128];
    char title[512];
} StreamState;
/* Fills state for the open file; returns 0 (state cleared, state->state NONE) when nothing
 * is open or the open file is not a stream, else 1.  Returns at once. */
VBMP3_API int32_t vbmp3_getStreamState(StreamState *state);

/* Decoding for measurement (the ReplayGain scanner): a reader decodes a file (or a part of
 * it, as vbmp3_openRange names it) to interleaved 32-bit float frames on the caller's
 * thread, without the output, the equalizer, the volume or ReplayGain.  Readers keep no
 * state of the library's: any number may be open on any threads at once, also while the
 * library plays, and vbmp3_init is not needed.
 * vbmp3_readerOpen returns a handle (NULL when the file cannot be opened as vbmp3_open
 * would refuse it) and fills *sampleRate and *channels. */
typedef struct Vbmp3Reader Vbmp3Reader;
VBMP3_API Vbmp3Reader *vbmp3_readerOpen(
    const char *path, const TrackRange *range, int32_t *sampleRate, int32_t *channels);
/* Decodes up to frames frames into buffer (frames x channels floats, full scale +-1.0);
 * returns how many (fewer than asked is not the end), 0 at the end, -1 when reader or
 * buffer is NULL or frames < 0.  A decoding error ends the frames as it ends playback: what
 * was decoded before it counts, then 0.  One thread at a time per reader.
 * vbmp3_readerClose takes NULL. */
VBMP3_API int32_t vbmp3_readerRead(Vbmp3Reader *reader, float *buffer, int32_t frames);
VBMP3_API void vbmp3_readerClose(Vbmp3Reader *reader);

/* Sort tags: the reading of a name that column sorts use (ID3v2 TSOP/TSOT/TSOA/TSO2,
 * Vorbis ARTISTSORT/TITLESORT/ALBUMSORT/ALBUMARTISTSORT, MP4 soar/sonm/soal/soaa, APEv2
 * the same keys as Vorbis).  UTF-8, "" when absent; several values of one field are
 * joined by " / ".  Returns 1 when the file has at least one, else 0 (also when it cannot
 * be read).  Reads the file's own tag only (a leading ID3v2 tag of MPEG and RMP files) and
 * keeps no state: may run on any thread, like vbmp3_getFileInfo2. */
typedef struct {
    char title[128];
    char artist[128];
    char album[128];
    char albumArtist[128];
} SortTags;
VBMP3_API int32_t vbmp3_getFileSortTags(const char *path, SortTags *tags);

#ifdef __cplusplus
}
#endif

#endif
