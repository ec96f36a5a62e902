#!/usr/bin/env bash
# A tree of 10,000 tagged 1-second files of mixed formats for the folder-search benchmark:
# 100 folders of 100 files, file n in the format n mod 6 of mp3, flac, ogg (Vorbis), opus,
# m4a (AAC) and wv, each with its own title, artist, album, track, year and genre in the
# format's own tag (ID3v2.3, Vorbis comments, MP4 atoms, APEv2).
#   bench/make-mixed-tree.sh [OUT] [MEDIA]
# OUT (default /tmp/perf/mixed) gets tree/ and tree20/ (two hard-linked copies); MEDIA
# (default /tmp/perf/media) holds music.wav from ../shared/bench/make_media.sh, made when
# missing.  Needs sox lame id3v2 flac vorbis-tools opus-tools ffmpeg wavpack.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-/tmp/perf/mixed}
MEDIA=${2:-/tmp/perf/media}
MAKE_MEDIA=${MAKE_MEDIA:-../shared/bench/make_media.sh}
for tool in sox lame id3v2 flac metaflac oggenc vorbiscomment opusenc ffmpeg wavpack; do
  command -v "$tool" >/dev/null || { echo "make-mixed-tree: $tool is missing" >&2; exit 1; }
done
[ -s "$MEDIA/music.wav" ] || bash "$MAKE_MEDIA" "$MEDIA" >/dev/null
mkdir -p "$OUT"
if [ ! -f "$OUT/tree/.done" ]; then
  rm -rf "$OUT/tree" "$OUT/tree20"
  mkdir -p "$OUT/tree"
  t=$OUT/templates
  mkdir -p "$t"
  sox "$MEDIA/music.wav" "$t/one.wav" trim 0 1
  sox "$t/one.wav" -r 48000 "$t/one48.wav"
  lame --quiet -b 128 "$t/one.wav" "$t/one.mp3"
  flac -s -f -o "$t/one.flac" "$t/one.wav"
  oggenc -Q -q 5 -o "$t/one.ogg" "$t/one.wav"
  ffmpeg -v error -y -i "$t/one.wav" -c:a aac -b:a 160k "$t/one.m4a"
  genres=(Rock Pop Jazz Classical Electronic Folk Blues Ambient)
  words=(Morning Rain "Blue Shift" Harbor "Long Road Home" Echo Lantern "Paper Moon" Drift Static Ember "Night Train")
  n=0
  for ((i = 0; i < 10; i++)); do
    for ((j = 0; j < 10; j++)); do
      d=$(printf '%s/tree/a%02d/b%02d' "$OUT" "$i" "$j")
      mkdir -p "$d"
      artist=$(printf 'Artist %02d' "$i")
      album=$(printf 'Album %02d-%02d' "$i" "$j")
      for ((k = 0; k < 100; k++)); do
        title=$(printf 'Title %05d %s' "$n" "${words[(n * 7) % 12]}")
        track=$((k + 1)) year=$((1970 + n % 50)) genre=${genres[n % 8]}
        f=$(printf '%s/%04d' "$d" "$n")
        case $((n % 6)) in
        0)
          cp "$t/one.mp3" "$f.mp3"
          id3v2 -2 -t "$title" -a "$artist" -A "$album" -T "$track/100" -y "$year" -g "$genre" "$f.mp3" >/dev/null
          ;;
        1)
          cp "$t/one.flac" "$f.flac"
          metaflac --set-tag="TITLE=$title" --set-tag="ARTIST=$artist" --set-tag="ALBUM=$album" \
            --set-tag="TRACKNUMBER=$track" --set-tag="DATE=$year" --set-tag="GENRE=$genre" "$f.flac"
          ;;
        2)
          cp "$t/one.ogg" "$f.ogg"
          vorbiscomment -w -t "TITLE=$title" -t "ARTIST=$artist" -t "ALBUM=$album" -t "TRACKNUMBER=$track" \
            -t "DATE=$year" -t "GENRE=$genre" "$f.ogg"
          ;;
        3)
          opusenc --quiet --bitrate 96 --title "$title" --artist "$artist" --album "$album" \
            --tracknumber "$track" --date "$year" --genre "$genre" "$t/one48.wav" "$f.opus"
          ;;
        4)
          ffmpeg -v error -y -i "$t/one.m4a" -c copy -metadata title="$title" -metadata artist="$artist" \
            -metadata album="$album" -metadata track="$track" -metadata date="$year" -metadata genre="$genre" "$f.m4a"
          ;;
        5)
          wavpack -q -y -w "Title=$title" -w "Artist=$artist" -w "Album=$album" -w "Track=$track" \
            -w "Year=$year" -w "Genre=$genre" "$t/one.wav" -o "$f.wv"
          ;;
        esac
        n=$((n + 1))
      done
    done
  done
  touch "$OUT/tree/.done"
fi
if [ ! -d "$OUT/tree20/2" ]; then
  mkdir -p "$OUT/tree20"
  cp -al "$OUT/tree" "$OUT/tree20/1"
  cp -al "$OUT/tree" "$OUT/tree20/2"
fi
for e in mp3 flac ogg opus m4a wv; do printf '%s %s  ' "$e" "$(find "$OUT/tree" -name "*.$e" | wc -l)"; done
echo
