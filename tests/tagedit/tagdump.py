#!/usr/bin/python3
"""Makes and reads the tag writer's test files through mutagen, an independent reader.

  tagdump.py dump FILE        prints {key: text} as JSON for every tag item: several values
                              joined by " / ", pairs as "n/total", pictures and other
                              binary values as "sha1:<hex>"; "ID3v1" holds the raw ID3v1
                              tag in hex, "id3version" the ID3v2 version
  tagdump.py tag FILE KIND    gives a fresh file its starting tags: a title, a composer, a
                              ReplayGain value and a picture in KIND's own tag (id3v23,
                              id3v24, id3v23+v1, xiph, flac, mp4, ape)
  tagdump.py latin1 FILE JSON sets ID3v2.3 frames {id: hex bytes} marked Latin-1 (and UTF-16
                              ones for {id: "u:text"}); "v1" holds a raw ID3v1 tag in hex"""
import base64
import hashlib
import json
import sys

import mutagen
import mutagen.mp4
from mutagen import id3
from mutagen.apev2 import APEv2, APEBinaryValue
from mutagen.flac import FLAC, Picture
from mutagen.mp4 import MP4, MP4Cover, MP4FreeForm

PICTURE = bytes(range(256)) * 4


def text(value):
    if isinstance(value, MP4Cover) or isinstance(value, APEBinaryValue):
        return "sha1:" + hashlib.sha1(bytes(value) if isinstance(value, MP4Cover) else value.value).hexdigest()
    if isinstance(value, MP4FreeForm):
        return bytes(value).decode("utf-8", "replace")
    if isinstance(value, tuple):
        return "/".join(str(v) for v in value)
    if isinstance(value, id3.Frame):
        if hasattr(value, "data"):
            return "sha1:" + hashlib.sha1(value.data).hexdigest()
        if isinstance(value, id3.SYLT):
            return " / ".join("%d:%s" % (t, s) for s, t in value.text)
        v = value.text
        return " / ".join(str(t) for t in v) if isinstance(v, list) else str(v)
    if isinstance(value, list):
        return " / ".join(text(v) for v in value)
    return str(value)


def dump(path):
    f = mutagen.File(path)
    out = {}
    if f.tags is not None:
        for key, value in f.tags.items():
            out[key if isinstance(f.tags, (id3.ID3, mutagen.mp4.MP4Tags)) else key.upper()] = text(value)
        if isinstance(f.tags, id3.ID3):
            out["id3version"] = "%d.%d" % f.tags.version[:2]
    for picture in getattr(f, "pictures", []):
        out["picture"] = "sha1:" + hashlib.sha1(picture.data).hexdigest()
    with open(path, "rb") as raw:
        raw.seek(-128, 2)
        tail = raw.read()
        if tail[:3] == b"TAG":
            out["ID3v1"] = tail.hex()
    print(json.dumps(out, ensure_ascii=False))


def tag(path, kind):
    if kind.startswith("id3"):
        tags = id3.ID3()
        tags.add(id3.TIT2(encoding=1, text="Old title"))
        tags.add(id3.TCOM(encoding=1, text="Composer"))
        tags.add(id3.TXXX(encoding=1, desc="REPLAYGAIN_TRACK_GAIN", text="-1.00 dB"))
        tags.add(id3.APIC(encoding=0, mime="image/png", type=3, desc="", data=PICTURE))
        tags.add(id3.PRIV(owner="kestrine.test", data=b"\x00\x01private"))
        tags.save(path, v2_version=3 if "v23" in kind else 4, v1=2 if "v1" in kind else 0)
    elif kind in ("xiph", "flac"):
        f = mutagen.File(path)
        f["TITLE"] = "Old title"
        f["COMPOSER"] = "Composer"
        f["REPLAYGAIN_TRACK_GAIN"] = "-1.00 dB"
        picture = Picture()
        picture.type, picture.mime, picture.data = 3, "image/png", PICTURE
        if kind == "flac":
            f.add_picture(picture)
        else:
            f["METADATA_BLOCK_PICTURE"] = base64.b64encode(picture.write()).decode("ascii")
        f.save()
    elif kind == "mp4":
        f = MP4(path)
        f["\u00a9nam"] = "Old title"
        f["\u00a9wrt"] = "Composer"
        f["----:com.apple.iTunes:replaygain_track_gain"] = MP4FreeForm(b"-1.00 dB")
        f["covr"] = [MP4Cover(PICTURE, MP4Cover.FORMAT_PNG)]
        f.save()
    elif kind == "ape":
        f = APEv2()
        f["Title"] = "Old title"
        f["Composer"] = "Composer"
        f["REPLAYGAIN_TRACK_GAIN"] = "-1.00 dB"
        f["Cover Art (Front)"] = APEBinaryValue(b"cover.png\x00" + PICTURE)
        f.save(path)


def latin1(path, frames):
    frames = json.loads(frames)
    tags = id3.ID3()
    for key, value in frames.items():
        if key == "v1":
            continue
        utf16 = value.startswith("u:")
        words = value[2:] if utf16 else bytes.fromhex(value).decode("latin-1")
        if key == "COMM":
            tags.add(id3.COMM(encoding=1 if utf16 else 0, lang="jpn", desc="", text=words))
        else:
            tags.add(id3.Frames[key](encoding=1 if utf16 else 0, text=words))
    tags.save(path, v2_version=3, v1=0)
    if "v1" in frames:
        with open(path, "ab") as f:
            f.write(bytes.fromhex(frames["v1"]))


{"dump": dump, "tag": tag, "latin1": latin1}[sys.argv[1]](*sys.argv[2:])
