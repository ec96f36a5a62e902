#!/usr/bin/env bash
# idle-cost.sh [MEDIA] [SECONDS]: what the running player and the sound server cost while
# nothing is heard.  The player (build/bin, or BIN) plays make_media.sh's five-minute MP3 into
# a private PulseAudio server's null sink under Xvfb, with a settings folder of its own and
# the spectrum on; through MPRIS (on a private session bus) it is paused, then stopped, then
# played again and its window minimised.  Per state, after two seconds to settle, the CPU of
# the player and of the server over SECONDS (default 30), in ms per second.
# Goal: paused and stopped, each at most 0.2 ms/s for the player and for the server.
# Needs pulseaudio, pulseaudio-utils, xvfb, xdotool and dbus.
set -uo pipefail
HERE=$(cd "$(dirname "$0")/.." && pwd)
MEDIA=${1:-/tmp/perf/media}
SPAN=${2:-30}
BIN=$(cd "${BIN:-$HERE/build/bin}" && pwd)
[ -f "$MEDIA/cbr192.mp3" ] || { echo "idle-cost: $MEDIA/cbr192.mp3 is missing (make_media.sh)" >&2; exit 1; }
[ -x "$BIN/kestrine" ] || { echo "idle-cost: build first ($BIN/kestrine missing)" >&2; exit 1; }
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ -z "${IDLE_COST_BUS:-}" ]; then
  exec env IDLE_COST_BUS=1 dbus-run-session -- "$0" "$@"
fi
S=$(mktemp -d)
TCK=$(getconf CLK_TCK)
ticks() { local s; s=$(<"/proc/$1/stat"); s=${s##*) }; set -- $s; echo $(( ${12} + ${13} )); }
export XDG_RUNTIME_DIR=$S/rt; mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
  -L "module-null-sink sink_name=idle_null rate=44100 channels=2" \
  -L "module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse.sock auth-anonymous=1" >"$S/pulse.log" 2>&1 &
PA=$!; export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse.sock
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
XP=; if [ -z "${DISPLAY:-}" ]; then Xvfb :95 -screen 0 1280x800x24 -nolisten tcp >"$S/xvfb.log" 2>&1 & XP=$!; export DISPLAY=:95; sleep 1; fi
cleanup() { [ -n "${P:-}" ] && kill "$P" 2>/dev/null; wait "${P:-}" 2>/dev/null; [ -n "$XP" ] && kill "$XP"; kill "$PA" 2>/dev/null; rm -rf "$S"; }
trap cleanup EXIT
mkdir -p "$S/cfg"
KESTRINE_CONFIG_DIR=$S/cfg "$BIN/kestrine" "$MEDIA/cbr192.mp3" >"$S/player.log" 2>&1 &
P=$!
mpris() {
  dbus-send --session --type=method_call --dest=org.mpris.MediaPlayer2.kestrine /org/mpris/MediaPlayer2 \
    "org.mpris.MediaPlayer2.Player.$1" >/dev/null 2>&1
}
measure() { # LABEL
  sleep 2
  local c1 s1 w1 c2 s2 w2
  c1=$(ticks $P); s1=$(ticks $PA); w1=$EPOCHREALTIME
  sleep "$SPAN"
  c2=$(ticks $P); s2=$(ticks $PA); w2=$EPOCHREALTIME
  awk -v L="$1" -v c=$((c2 - c1)) -v s=$((s2 - s1)) -v w1="$w1" -v w2="$w2" -v t="$TCK" \
    'BEGIN { w = w2 - w1; printf "%-18s player %6.2f ms/s   server %6.2f ms/s\n", L, c / t / w * 1000, s / t / w * 1000 }'
}
sleep 4
measure "playing"
mpris Pause
measure "paused"
mpris Stop
measure "stopped"
mpris Play
sleep 1
xdotool search --pid "$P" --onlyvisible 2>/dev/null | while read -r w; do xdotool windowminimize "$w"; done
measure "playing, minimised"
