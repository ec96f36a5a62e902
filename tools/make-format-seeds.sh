#!/usr/bin/env bash
# Writes small seed inputs for the container fuzz targets (flac, ogg, mp4, wavpack, ape) into
# fuzz/seeds/, made with the reference encoders from a fifth of a second of tones, and
# adds FLAC, Opus and AAC files to the seeds of the decode and api targets.  Monkey's Audio
# has no encoder on Debian: its seed is a header written here around a few frames of noise.
set -euo pipefail
cd "$(dirname "$0")/.."
seeds=fuzz/seeds
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$seeds"/{flac,ogg,mp4,wavpack,ape,decode,api}

sox -n -r 8000 -c 1 -b 16 "$tmp/mono.wav" synth 0.2 sine 440 gain -6
sox -n -r 44100 -c 2 -b 24 "$tmp/hires.wav" synth 0.05 sine 440 sine 660 gain -6
sox -n -r 8000 -c 6 -b 16 "$tmp/six.wav" synth 0.1 sine 300 sine 400 sine 500 sine 60 sine 700 sine 800 gain -9

flac -s -f --no-padding -o "$seeds/flac/mono.flac" "$tmp/mono.wav"
flac -s -f --no-padding -o "$seeds/flac/hires.flac" "$tmp/hires.wav"
flac -s -f --no-padding --ogg -o "$seeds/flac/mono.oga" "$tmp/mono.wav"
oggenc -Q -o "$seeds/ogg/mono.ogg" "$tmp/mono.wav"
oggenc -Q -o "$seeds/ogg/six.ogg" "$tmp/six.wav"
opusenc --quiet --bitrate 16 "$tmp/mono.wav" "$seeds/ogg/mono.opus"
opusenc --quiet --bitrate 96 "$tmp/six.wav" "$seeds/ogg/six.opus"
cp "$seeds/flac/mono.oga" "$seeds/ogg/"
ffmpeg -v error -y -i "$tmp/mono.wav" -c:a aac -b:a 24k -movflags +faststart "$seeds/mp4/aac.m4a"
ffmpeg -v error -y -i "$tmp/hires.wav" -c:a alac "$seeds/mp4/alac.m4a"
wavpack -q -y "$tmp/mono.wav" -o "$seeds/wavpack/mono.wv"
wavpack -q -y -b128 "$tmp/hires.wav" -o "$seeds/wavpack/lossy.wv"
cp "$seeds/flac/mono.flac" "$seeds/decode/"
cp "$seeds/ogg/mono.opus" "$seeds/decode/"
# fuzz_api's calls first (a count, then open, play, state, seek to 1 s, spectrum, pause, restart, stop).
for f in flac/mono.flac ogg/six.opus mp4/aac.m4a; do
  { printf '\x08\x00\x02\x08\x35\x09\x03\x04\x06'; cat "$seeds/$f"; } >"$seeds/api/$(basename "$f")"
done

# Monkey's Audio 3.99: descriptor (52 bytes), header (24), a seek table of one frame, frame data.
python3 - "$seeds/ape/noise.ape" <<'PY'
import struct, sys, random
random.seed(1)
frame = bytes(random.getrandbits(8) for _ in range(1024))
seek = struct.pack("<I", 52 + 24 + 4)
descriptor = b"MAC " + struct.pack("<HHIIIIIII", 3990, 0, 52, 24, len(seek), 0, len(frame), 0, 0) + bytes(16)
header = struct.pack("<HHIIIHHI", 2000, 0x20, 73728, 4096, 1, 16, 2, 44100)
open(sys.argv[1], "wb").write(descriptor + header + seek + frame)
PY
du -sh "$seeds"/{flac,ogg,mp4,wavpack,ape}
