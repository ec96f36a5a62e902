#!/usr/bin/env bash
# gap-measure.sh [PLAYER_CMD...]: the silence between tracks that follow each other, as heard
# on a PulseAudio null sink.  Starts a private sound server with a null sink, records its
# monitor, and starts the player (default: build/bin/kestrine under xvfb-run) on three
# two-second tone MP3s (LAME headers, 44.1 kHz) in Normal order; then prints each run of
# silence (below -60 dBFS, longer than 1 ms) between the first sound and the last, and the
# longest.  {} in PLAYER_CMD stands for the three files.  RATE_CHANGE=1 makes the second
# tone 48 kHz, so that both joins change the rate (the device is opened again at each).
# Needs pulseaudio, parec, sox, lame, xvfb-run.
set -euo pipefail
HERE=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d /tmp/gap-measure.XXXXXX)
trap 'kill $(cat "$WORK/parec.pid" 2>/dev/null) 2>/dev/null; [ -f "$WORK/run/pulse/pid" ] && kill "$(cat "$WORK/run/pulse/pid")" 2>/dev/null; rm -rf "$WORK"' EXIT
mkdir -p "$WORK/run" "$WORK/home" && chmod 700 "$WORK/run"
SOCK=$WORK/run/pulse.sock
XDG_RUNTIME_DIR=$WORK/run HOME=$WORK/run pulseaudio -D -n --exit-idle-time=-1 --system=false \
  -L "module-null-sink sink_name=gap" -L "module-native-protocol-unix socket=$SOCK auth-anonymous=1"
export PULSE_SERVER=unix:$SOCK
RATES=(44100 44100 44100)
[ "${RATE_CHANGE:-0}" = 1 ] && RATES=(44100 48000 44100)
for i in 1 2 3; do
  sox -n -r "${RATES[$((i - 1))]}" -c 2 -b 16 -t wav - synth 2 sine $((300 * i)) gain -6 2>/dev/null |
    lame --quiet -b 192 - "$WORK/tone$i.mp3"
done
FILES="$WORK/tone1.mp3 $WORK/tone2.mp3 $WORK/tone3.mp3"
parec --device=gap.monitor --format=s16le --rate=44100 --channels=2 --latency-msec=10 >"$WORK/rec.raw" &
echo $! >"$WORK/parec.pid"
sleep 0.5
CMD=${*:-"xvfb-run -a $HERE/build/bin/kestrine {}"}
CMD=${CMD//\{\}/$FILES}
HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config timeout 12 $CMD >"$WORK/player.log" 2>&1 || true
kill "$(cat "$WORK/parec.pid")"; sleep 0.2
python3 - "$WORK/rec.raw" <<'PY'
import sys, array
data = array.array('h'); data.frombytes(open(sys.argv[1], 'rb').read())
rate, limit = 44100, 33  # -60 dBFS
frames = [max(abs(data[i]), abs(data[i + 1])) for i in range(0, len(data) - 1, 2)]
loud = [i for i, v in enumerate(frames) if v > limit]
if not loud:
    sys.exit("no sound was recorded")
first = loud[0]
gaps, run = [], 0
end = loud[-1] + 1  # the joins heard, the last track's repeat included
for i in range(first, end):
    if frames[i] <= limit:
        run += 1
    else:
        if run > rate // 1000:
            gaps.append((i - run - first, run))
        run = 0
for at, n in gaps:
    print(f"silence at {at / rate:7.3f} s for {n / rate * 1000:8.1f} ms")
print(f"longest silence between the tracks: {max([n for _, n in gaps], default=0) / rate * 1000:.1f} ms")
PY
