#!/usr/bin/env python3
"""Writes the small seed inputs of the fuzz targets into fuzz/seeds/."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "seeds")


def frame(header=b"\xff\xfb\x18\xc4", size=144, body=b""):
    """An MPEG-1 Layer III frame, 32 kb/s, 32 kHz, mono (144 bytes), mostly silence."""
    data = header + body
    return data + b"\0" * (size - len(data))


def xing_frame(frames):
    body = b"\0" * 17 + b"Xing" + struct.pack(">II", 1, frames)
    return frame(body=body)


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3v23(frames):
    body = b"".join(fid + struct.pack(">I", len(d)) + b"\0\0" + d for fid, d in frames)
    return b"ID3\x03\x00\x00" + synchsafe(len(body)) + body


def id3v24_ext(frames):
    ext = synchsafe(6) + b"\x01\x00"
    body = ext + b"".join(fid + synchsafe(len(d)) + b"\0\0" + d for fid, d in frames)
    return b"ID3\x04\x00\x40" + synchsafe(len(body)) + body


def id3v22(frames):
    body = b"".join(fid + struct.pack(">I", len(d))[1:] + d for fid, d in frames)
    return b"ID3\x02\x00\x00" + synchsafe(len(body)) + body


def id3v1(title, artist, genre=17):
    return (b"TAG" + title.ljust(30, b"\0") + artist.ljust(30, b"\0") + b"Album".ljust(30, b"\0")
            + b"1999" + b"comment".ljust(28, b"\0") + b"\0\x03" + bytes([genre]))


def chunk(cid, data):
    return cid + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def riff(form, chunks):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def info(pairs):
    return chunk(b"LIST", b"INFO" + b"".join(chunk(k, v + b"\0") for k, v in pairs))


def lyrics3v2(fields):
    body = b"LYRICSBEGIN" + b"".join(k + b"%05d" % len(v) + v for k, v in fields)
    return body + b"%06d" % len(body) + b"LYRICS200"


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    audio = xing_frame(2) + frame() + frame()
    sjis = "歌の題名".encode("cp932")
    utf16 = b"\x01" + "タイトル".encode("utf-16")

    write("tags", "v23.mp3", id3v23([(b"TIT2", utf16), (b"TPE1", b"\x00" + sjis), (b"TCON", b"\x00(17)"),
                                     (b"COMM", b"\x00eng\x00note")]) + audio + id3v1(sjis, b"Artist"))
    write("tags", "v24ext.mp3", id3v24_ext([(b"TIT2", b"\x03Title"), (b"TDRC", b"\x032001-02-03")]) + audio)
    write("tags", "v22.mp3", id3v22([(b"TT2", b"\x00Title"), (b"TP1", b"\x01" + "A".encode("utf-16"))]) + audio)
    write("tags", "v1.mp3", audio + id3v1(b"Only v1", sjis))

    data = audio
    write("riff", "rmp.rmp", riff(b"RMP3", [chunk(b"data", data), info([(b"INAM", sjis), (b"IART", b"Artist"),
                                                                       (b"IPRD", b"Album")])]))
    write("riff", "wave.wav", riff(b"WAVE", [chunk(b"fmt ", struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)),
                                             info([(b"INAM", b"Wave")]), chunk(b"data", b"\x80" * 33)]))

    write("lyrics3", "v1.mp3", audio + b"LYRICSBEGIN" + "[00:01]一行目\r\n[00:02]二行目".encode("cp932")
          + b"LYRICSEND" + id3v1(b"T", b"A"))
    write("lyrics3", "v2.mp3", audio + lyrics3v2([(b"IND", b"11"), (b"LYR", b"[00:01]one\r\n[00:03][00:05]two"),
                                                  (b"ETT", b"Title")]) + id3v1(b"T", b"A"))

    write("lrc", "stamps.lrc", "\ufeff[ar:Artist]\r\n[offset:+250]\r\n[00:01.50]一\r\n[00:03:20][01:00.123]二\r\n"
          .encode("utf-8"))
    write("lrc", "cp932.txt", "歌詞の一行目\r二行目\r\n\r\n三行目\n".encode("cp932"))

    write("open", "xing.mp3", audio)
    write("open", "id3.mp3", id3v23([(b"TIT2", b"\x00T")]) + b"\0" * 20 + frame() + frame() + frame())
    write("open", "mpeg2.mp3", frame(b"\xff\xf3\x28\xc4", 72) * 3)
    free = frame(b"\xff\xfb\x08\xc4", 200)
    write("open", "free.mp3", free * 4)
    write("open", "layer2.mp2", frame(b"\xff\xfd\x18\xc4", 144) * 3)

    write("m3u", "extended.m3u", b"#EXTM3U\r\n#EXTINF:123,Artist - Title\r\n/music/a.mp3\r\nsub/b.mp3\r\n\r\n"
          + "/音楽/曲.mp3\n".encode("cp932") + b"../c.wav\r")
    write("m3u", "utf16.m3u", "\ufeff/music/a.mp3\r\n/音楽/b.mp3\r\n".encode("utf-16-le"))
    write("m3u", "utf8bom.m3u", "\ufeff/音楽/a.mp3\r\n#comment\r\n/b.mp3".encode("utf-8"))

    write("cuesheet", "eac.cue", ("REM GENRE \"J-Pop\"\r\nREM DATE 1998\r\nREM REPLAYGAIN_ALBUM_GAIN -7.50 dB\r\n"
          "PERFORMER \"歌手ｶﾀｶﾅ\"\r\nTITLE \"表示ソ|ポ\"\r\nFILE \"CDImage.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n"
          "    TITLE \"一曲目\"\r\n    ISRC JPXX09800001\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n"
          "    INDEX 00 04:10:20\r\n    INDEX 01 04:12:00\r\n").encode("cp932"))
    write("cuesheet", "files.cue", "\ufeffFILE \"01.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
          "  TRACK 02 AUDIO\n    INDEX 00 03:00:00\nFILE \"02.flac\" WAVE\n    INDEX 01 00:00:00\n"
          "  TRACK 03 MODE1/2352\n    INDEX 01 01:00:00\n".encode("utf-16-le"))

    write("ini", "settings.ini", "[システム]\r\nUSER=ユーザー\r\nPASSWORD=\r\n; comment\r\n\r\n[その他設定]\r\n"
          "Op_01=1\r\nOp_14=\"/home/u/kestrine_def.m3u\"\r\n[EQSETUP]\r\nEqOn=0\r\n".encode("cp932"))
    write("ini", "utf8.ini", "\ufeff[システム]\nuser = 名前 \n[EQSETUP]\nEQ1=-12\n[その他設定]\nop_01='0'\n".encode("utf-8"))

    write("textcodec", "cp932.txt", "夜空ノムコウ～①ｱｲｳ\\".encode("cp932"))
    write("textcodec", "utf8.txt", "\ufeffGrüße 歌 😀".encode("utf-8"))
    write("textcodec", "latin1.txt", "Céline Björk".encode("latin-1"))

    jpeg = b"\xff\xd8\xff\xe0" + b"\0" * 16
    png = b"\x89PNG\r\n\x1a\n" + b"\0" * 16
    apic = b"\x00image/jpeg\x00\x03front\x00" + jpeg
    write("picture", "apic.mp3", id3v23([(b"APIC", apic), (b"APIC", b"\x00-->\x00\x03\x00http://x/y.jpg")]) + audio)
    picture = struct.pack(">I", 3) + struct.pack(">I", 9) + b"image/png" + struct.pack(">I", 0) + b"\0" * 16 \
        + struct.pack(">I", len(png)) + png
    streaminfo = b"\x00\x00\x00\x22" + struct.pack(">HH", 4096, 4096) + b"\0" * 6 + b"\x0a\xc4\x42\xf0" + b"\0" * 20
    write("picture", "picture.flac", b"fLaC" + streaminfo + bytes([0x86]) + struct.pack(">I", len(picture))[1:]
          + picture)
    write("picture", "empty-padding.flac", b"fLaC" + streaminfo + b"\x01\x00\x00\x00" + bytes([0x86])
          + struct.pack(">I", len(picture))[1:] + picture)
    def cue_track(offset, number, indexes):
        return struct.pack(">QB", offset, number) + b"JPXX09800001" + b"\0" * 14 + bytes([len(indexes)]) \
            + b"".join(struct.pack(">QB", o, n) + b"\0" * 3 for o, n in indexes)
    cue = b"4988000000000".ljust(128, b"\0") + struct.pack(">Q", 88200) + b"\x80" + b"\0" * 258 + bytes([3]) \
        + cue_track(0, 1, [(0, 1)]) + cue_track(44100, 2, [(0, 0), (588, 1)]) + cue_track(88200, 170, [])
    sheet = b"CUESHEET=FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
    comment = struct.pack("<I", 1) + b"v" + struct.pack("<I", 1) + struct.pack("<I", len(sheet)) + sheet
    write("tags", "cuesheet.flac", b"fLaC" + streaminfo + bytes([0x04]) + struct.pack(">I", len(comment))[1:]
          + comment + bytes([0x85]) + struct.pack(">I", len(cue))[1:] + cue)
    ape_item = struct.pack("<II", len(b"c.jpg\0" + jpeg), 2) + b"Cover Art (Front)\0" + b"c.jpg\0" + jpeg
    ape_size = len(ape_item) + 32
    ape_footer = b"APETAGEX" + struct.pack("<IIII", 2000, ape_size, 1, 0) + b"\0" * 8
    write("picture", "ape.mp3", audio + ape_item + ape_footer)

    # Call sequences: a count, the calls (see fuzz_api.cpp), then the file.
    write("api", "play-seek.mp3", bytes([8, 0, 2, 8, 0x35, 9, 3, 4, 6]) + audio * 4)
    write("api", "lyrics.mp3", bytes([7, 1, 0x1C, 0x1B, 2, 10, 13, 7]) + audio + lyrics3v2([(b"LYR", b"[00:00]x")])
          + id3v1(b"T", b"A"))
    write("api", "wav.wav", bytes([6, 0, 2, 0x65, 14, 6, 15]) + riff(b"WAVE", [
        chunk(b"fmt ", struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)), chunk(b"data", b"\x80" * 800)]))


if __name__ == "__main__":
    main()
