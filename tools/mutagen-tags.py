#!/usr/bin/python3
"""Prints the tag texts mutagen reads from each file given, as the decoder library's tag
record holds them: title, artist, album, year, comment, genre.  Several values of one field
are joined by " / "; the year is the four digits a date begins with.  One record per file,
ended by 0x1E, its fields (the path, "ok" or "error", then the six texts) separated by 0x1F.
Vorbis comments take the comment from COMMENT, else DESCRIPTION; APEv2 the year from
Year, else Date."""
import sys

import mutagen
from mutagen.apev2 import APEv2
from mutagen.mp4 import MP4Tags

KEYS = {
    "vorbis": ("title", "artist", "album", ("date",), ("comment", "description"), "genre"),
    "mp4": ("\u00a9nam", "\u00a9ART", "\u00a9alb", ("\u00a9day",), ("\u00a9cmt",), "\u00a9gen"),
    "ape": ("Title", "Artist", "Album", ("Year", "Date"), ("Comment",), "Genre"),
}


def values(tags, key):
    if tags is None or key not in tags:
        return []
    value = tags[key]
    if isinstance(tags, APEv2):
        return [v for v in list(value)]
    return [str(v) for v in value]


def first(tags, keys):
    """The values of the first of keys that has any."""
    for key in keys:
        vs = [v for v in values(tags, key) if v]
        if vs:
            return vs
    return []


def joined(vs):
    return " / ".join(v for v in vs if v)


def year(dates):
    d = dates[0] if dates else ""
    ok = len(d) >= 4 and d[:4].isdigit() and d[:4].isascii() and (len(d) == 4 or not d[4].isdigit())
    return d[:4] if ok and d[:4] != "0000" else ""


def texts(tags):
    if tags is None:
        return [""] * 6
    kind = "mp4" if isinstance(tags, MP4Tags) else "ape" if isinstance(tags, APEv2) else "vorbis"
    title, artist, album, dates, comments, genre = KEYS[kind]
    return [joined(values(tags, title)), joined(values(tags, artist)), joined(values(tags, album)),
            year(first(tags, dates)), joined(first(tags, comments)), joined(values(tags, genre))]


for path in sys.argv[1:]:
    try:
        audio = mutagen.File(path)
        record = [path, "ok"] + texts(audio.tags if audio is not None else None)
    except Exception:  # mutagen refuses the file: nothing to compare
        record = [path, "error"] + [""] * 6
    sys.stdout.write("\x1f".join(record) + "\x1e")
