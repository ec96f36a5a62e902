#!/usr/bin/env bash
# Runs every benchmark against the build in build/ (make bench builds it first).
# The decoder library: CPU seconds per second of audio for a five-minute MP3 through
# libvbmp3.so's file output (equalizer off; on; on with the spectrum read five times a
# second), beside `mpg123 -t` on the same file, and the peak memory of the playing process.
# On a processor with AVX-512 the equalizer is measured once more with its AVX2 cascade
# (VBMP3_EQ_KERNEL=avx2), and the samples of every cascade are compared.
# Goals: <= 1.15x mpg123 with the equalizer off, <= 1.2x with it on, < 20 MiB.  Then the
# cost of playing in real time through the null output.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${BIN:-build/bin}
RUNS=${RUNS:-3}
for tool in sox lame mpg123; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
[ -x "$BIN/vbmp3bench" ] || { echo "bench: build first ($BIN/vbmp3bench missing)" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Five minutes of music-like sound: pink noise under a chord, joint stereo at 192 kb/s.
sox -n -r 44100 -c 2 -b 16 "$tmp/five.wav" synth 300 pinknoise synth 300 sine mix 220 synth 300 sine mix 330 \
  tremolo 3 40 gain -12 2>/dev/null
lame --quiet -b 192 "$tmp/five.wav" "$tmp/five.mp3"
rm -f "$tmp/five.wav"

# Best (lowest) CPU of RUNS runs; prints "cpu_seconds peak_rss_kib".  The CPU comes from
# the shell's `times` (milliseconds; /usr/bin/time gives only hundredths, 4% of this run),
# the peak memory from one run under /usr/bin/time.
best_mpg123() {
  local best="" rss
  for _ in $(seq "$RUNS"); do
    local c; c=$( (mpg123 -t -q "$tmp/five.mp3" >/dev/null 2>&1; times) | tail -1 |
      sed -E 's/([0-9]+)m([0-9.]+)s/\1*60+\2/g; s/ /+/' | bc -l)
    if [ -z "$best" ] || [ "$(echo "$c < $best" | bc -l)" = 1 ]; then best=$c; fi
  done
  /usr/bin/time -f "%M" -o "$tmp/time" mpg123 -t -q "$tmp/five.mp3" >/dev/null 2>&1
  read -r rss <"$tmp/time"
  echo "$best $rss"
}
best_vbmp3() {
  local best="" rss=0 secs=0
  for _ in $(seq "$RUNS"); do
    read -r secs c m _ < <("$BIN/vbmp3bench" "$tmp/five.mp3" "$@")
    if [ -z "$best" ] || [ "$(echo "$c < $best" | bc -l)" = 1 ]; then best=$c; rss=$m; fi
  done
  echo "$best $rss $secs"
}

read -r ref_cpu ref_rss < <(best_mpg123)
read -r off_cpu off_rss secs < <(best_vbmp3)
read -r eq_cpu eq_rss _ < <(best_vbmp3 eq)
read -r sp_cpu sp_rss _ < <(best_vbmp3 eq spectrum)
# On a processor with AVX-512 the AVX2 cascade is measured as well (what a processor
# without AVX-512 runs), and every cascade must make the same samples.
avx512=$(grep -qw avx512vl /proc/cpuinfo && echo 1 || echo 0)
if [ "$avx512" = 1 ]; then
  read -r eq2_cpu eq2_rss _ < <(VBMP3_EQ_KERNEL=avx2 best_vbmp3 eq)
  read -r sp2_cpu sp2_rss _ < <(VBMP3_EQ_KERNEL=avx2 best_vbmp3 eq spectrum)
fi
for kernel in avx512 avx2 baseline; do
  VBMP3_EQ_KERNEL=$kernel "$BIN/vbmp3bench" "$tmp/five.mp3" eq "out=$tmp/eq-$kernel.wav" >/dev/null
done
for kernel in avx2 baseline; do
  cmp -s "$tmp/eq-avx512.wav" "$tmp/eq-$kernel.wav" || { echo "bench: the $kernel cascade's samples differ" >&2; exit 1; }
done
rm -f "$tmp"/eq-*.wav

printf '%-34s %10s %12s %8s %10s\n' "run (${secs} s of audio)" "CPU s" "CPU s/s" "ratio" "peak MiB"
row() { # name cpu rss
  printf '%-34s %10.3f %12.5f %8.2f %10.1f\n' "$1" "$2" "$(echo "$2 / $secs" | bc -l)" "$(echo "$2 / $ref_cpu" | bc -l)" \
    "$(echo "$3 / 1024" | bc -l)"
}
row "mpg123 -t" "$ref_cpu" "$ref_rss"
row "vbmp3, equalizer off" "$off_cpu" "$off_rss"
row "vbmp3, equalizer on" "$eq_cpu" "$eq_rss"
row "vbmp3, equalizer on + spectrum 5/s" "$sp_cpu" "$sp_rss"
if [ "$avx512" = 1 ]; then
  row "  the same, AVX2 cascade: eq on" "$eq2_cpu" "$eq2_rss"
  row "  the same, AVX2 cascade: + spectrum" "$sp2_cpu" "$sp2_rss"
fi
echo "every equalizer cascade makes the same samples"
echo "goals: <= 1.15 with the equalizer off, <= 1.2 with it on, < 20 MiB"

# Playing in real time through the null output: the library's cost per second of audio and
# how often its process wakes (voluntary context switches; the bench polls 10 times a second).
read -r null_secs null_cpu _ null_wakes < <("$BIN/vbmp3bench" "$tmp/five.mp3" null)
printf 'null output, %d s in real time: %.2f ms CPU and %.0f wake-ups per second of audio\n' "$null_secs" \
  "$(echo "1000 * $null_cpu / $null_secs" | bc -l)" "$(echo "$null_wakes / $null_secs" | bc -l)"

# Timed lyrics against the null output: every line within a poll of 5 ms plus 150 ms of its
# stamp, all within 50 ms of each other, and 10 s of sound played in 10 s.
printf '[00:00.40]one\n[00:02.00]two\n[00:04.50]three\n[00:07.25]four\n' >"$tmp/ten.txt"
sox -n -r 44100 -c 2 -b 16 "$tmp/ten.wav" synth 10 sine 1000 gain -6
read -r lrc_wall lrc_secs lrc_worst lrc_spread < <("$BIN/lyricsstep_bench" "$tmp/ten.wav" "$tmp/ten.txt" | tail -1)
echo "lyrics: latest line ${lrc_worst} ms after its stamp, lags ${lrc_spread} ms apart;" \
  "${lrc_secs} s played in ${lrc_wall} s (goals: < 150 ms, < 50 ms, within 0.2 s)"

# Each format decoded by a library loaded at run time, beside its reference decoder.
bench/formats-bench.sh

# The player: adding files to the playlist, and the player's cost while it plays.
[ -x "$BIN/playlist_bench" ] && "$BIN/playlist_bench"
[ -x "$BIN/player_bench" ] && "$BIN/player_bench" 20
# The GUI thread's worst stall while a long track starts and big lists load.
[ -x "$BIN/guilatency_bench" ] && "$BIN/guilatency_bench"
# The folder search beside TagLib alone and Audacious (needs audacious and the media tree).
if [ -x "$BIN/foldersearch_bench" ] && command -v audacious >/dev/null; then
  bench/foldersearch-bench.sh "${MEDIA:-/tmp/perf/media}" 3
fi
