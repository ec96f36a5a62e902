#!/usr/bin/env bash
# Decoding five minutes of each format through libvbmp3.so's file output (vbmp3bench writes
# the WAV into /dev/null) against the format's reference command-line decoder on the same
# file, also writing a WAV into /dev/null: `flac -d`, `oggdec`, `opusdec` (without dither,
# at the file's own 48 kHz), `wvunpack`, and `ffmpeg -f null` for M4A (AAC and ALAC).
# CPU is user + system of each whole process (the library's threads included), the best of
# RUNS runs taken in turns.  Goal: every ratio <= 1.1.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${BIN:-build/bin}
RUNS=${RUNS:-5}
for tool in sox flac metaflac oggenc oggdec opusenc opusdec wavpack wvunpack ffmpeg bc; do
  command -v "$tool" >/dev/null || { echo "formats-bench: $tool is missing" >&2; exit 1; }
done
[ -x "$BIN/vbmp3bench" ] || { echo "formats-bench: build first ($BIN/vbmp3bench missing)" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Five minutes of music-like sound at 48 kHz (Opus's own rate): pink noise under a chord.
sox -n -r 48000 -c 2 -b 16 "$tmp/five.wav" synth 300 pinknoise synth 300 sine mix 220 synth 300 sine mix 330 \
  tremolo 3 40 gain -12 2>/dev/null
flac -s -f -o "$tmp/five.flac" "$tmp/five.wav"
oggenc -Q -q 5 -o "$tmp/five.ogg" "$tmp/five.wav"
opusenc --quiet --bitrate 128 "$tmp/five.wav" "$tmp/five.opus"
ffmpeg -v error -y -i "$tmp/five.wav" -c:a aac -b:a 192k "$tmp/five.m4a"
ffmpeg -v error -y -i "$tmp/five.wav" -c:a alac "$tmp/five-alac.m4a"
wavpack -q -y "$tmp/five.wav" -o "$tmp/five.wv"
rm -f "$tmp/five.wav"

# CPU seconds (user + system, milliseconds from the shell's `times`) of one run of "$@".
cpu_of() {
  (("$@" >/dev/null 2>&1); times) | tail -1 | sed -E 's/([0-9]+)m([0-9.]+)s/\1*60+\2/g; s/ /+/' | bc -l
}
lower() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

printf '%-18s %-26s %10s %10s %8s\n' "file" "reference" "ref CPU s" "vbmp3 s" "ratio"
worst=0
bench() { # label file reference-command...
  local label=$1 file=$2
  shift 2
  local ref="" ours=""
  for _ in $(seq "$RUNS"); do
    ref=$(lower "$ref" "$(cpu_of "$@")")
    ours=$(lower "$ours" "$(cpu_of "$BIN/vbmp3bench" "$file")")
  done
  local ratio; ratio=$(echo "$ours / $ref" | bc -l)
  printf '%-18s %-26s %10.3f %10.3f %8.2f\n' "$label" "$(basename "$1")" "$ref" "$ours" "$ratio"
  if [ "$(echo "$ratio > $worst" | bc -l)" = 1 ]; then worst=$ratio; fi
}
bench "FLAC" "$tmp/five.flac" flac -d -s -c "$tmp/five.flac"
bench "Ogg Vorbis" "$tmp/five.ogg" oggdec -Q -o /dev/null "$tmp/five.ogg"
bench "Opus" "$tmp/five.opus" opusdec --quiet --no-dither "$tmp/five.opus" /dev/null
bench "M4A AAC" "$tmp/five.m4a" ffmpeg -v error -i "$tmp/five.m4a" -f null -
bench "M4A ALAC" "$tmp/five-alac.m4a" ffmpeg -v error -i "$tmp/five-alac.m4a" -f null -
bench "WavPack" "$tmp/five.wv" wvunpack -q -y "$tmp/five.wv" -o /dev/null
printf 'worst ratio %.2f (goal: <= 1.1)\n' "$worst"

# Metadata the decoder skips rather than loads: the peak memory of playing the five-minute FLAC
# with a 16 MB picture added against the plain one (vbmp3bench's third figure).
head -c 16000000 /dev/urandom >"$tmp/big.jpg"
cp "$tmp/five.flac" "$tmp/picture.flac"
metaflac --import-picture-from="3|image/jpeg||320x240x24|$tmp/big.jpg" "$tmp/picture.flac"
plain_kib=$("$BIN/vbmp3bench" "$tmp/five.flac" | awk '{ print $3 }')
picture_kib=$("$BIN/vbmp3bench" "$tmp/picture.flac" | awk '{ print $3 }')
printf 'FLAC with a 16 MB picture: peak %d KiB, plain %d KiB, growth %d KiB (goal: < 2048)\n' \
  "$picture_kib" "$plain_kib" "$((picture_kib - plain_kib))"
