#!/usr/bin/env bash
# player-cost.sh [RUNS] [T1] [T2]: the running player's CPU per second of audio beside
# Audacious with its Qt window, in one interleaved run of the peer bench
# (../shared/bench/bench_player.sh, "audqt self"), in two set-ups:
#   none   no sound server answers: the library falls back to ALSA, then to its null
#          output (Audacious plays on SDL's dummy timed output: the same footing);
#   pulse  a private PulseAudio server with a null sink (Audacious stays on SDL's dummy).
# The player runs under Xvfb with a settings folder of its own, spectrum and lyrics on as
# a user has them, on the bench's five-minute MP3 with a timed lyrics file beside it.
# Prints, per set-up, the bench's table, kestrine/Audacious Qt ratios (the median of the
# per-run ratios with their range, and the ratio of the medians), and what each of the
# player's threads cost between T1 and T2 (CPU ms and voluntary context switches per
# second, medians over the runs).
# Environment: MEDIA (make_media.sh's folder, default /tmp/perf/media), BIN (default
# build/bin), SETUPS (default "none pulse"), SCRATCH (default /tmp/perf/player-cost).
# Needs what bench_player.sh needs, and pulseaudio for the "pulse" set-up.
set -uo pipefail
HERE=$(cd "$(dirname "$0")/.." && pwd)
PEER=${PEER:-$HERE/../shared/bench/bench_player.sh}
RUNS=${1:-3}
T1=${2:-5}
T2=${3:-35}
MEDIA=${MEDIA:-/tmp/perf/media}
BIN=$(cd "${BIN:-$HERE/build/bin}" && pwd)
SETUPS=${SETUPS:-"none pulse"}
SCRATCH=${SCRATCH:-/tmp/perf/player-cost}
[ -x "$PEER" ] || { echo "player-cost: $PEER is missing" >&2; exit 1; }
[ -f "$MEDIA/cbr192.mp3" ] || { echo "player-cost: $MEDIA/cbr192.mp3 is missing (make_media.sh)" >&2; exit 1; }
# 192 kb/s: the file must play past T2.
[ "$(stat -L -c %s "$MEDIA/cbr192.mp3")" -ge $((24000 * (T2 + 5))) ] ||
  { echo "player-cost: $MEDIA/cbr192.mp3 is shorter than $((T2 + 5)) s (make_media.sh's is 300 s)" >&2; exit 1; }
[ -x "$BIN/kestrine" ] || { echo "player-cost: build first ($BIN/kestrine missing)" >&2; exit 1; }
mkdir -p "$SCRATCH"

# The bench's file, with a lyrics file beside it that turns a line every 1.5 s.
media=$SCRATCH/media
mkdir -p "$media"
ln -sf "$MEDIA/cbr192.mp3" "$media/cbr192.mp3"
awk 'BEGIN { for (t = 0; t < 300; t += 1.5) printf "[%02d:%05.2f]line %d\n", int(t / 60), t - 60 * int(t / 60), t / 1.5 }' \
  >"$media/cbr192.txt"

# What the bench starts as "self": the player on the file with settings of its own, and a
# sampler that reads each thread's CPU ticks and voluntary switches at T1 and T2.
self=$SCRATCH/self.sh
cat >"$self" <<SELF
#!/usr/bin/env bash
cfg=\$(mktemp -d "$SCRATCH/cfg.XXXXXX")
export KESTRINE_CONFIG_DIR=\$cfg
# Threads of one name are told apart by their order of creation: "kestrine#2".
snap() {
  declare -A seen
  for t in \$(ls /proc/\$1/task | sort -n); do
    t=/proc/\$1/task/\$t; name=\$(<"\$t/comm"); seen[\$name]=\$((\${seen[\$name]:-0} + 1))
    printf '%s#%s\t%s\t%s\n' "\$name" "\${seen[\$name]}" "\$(awk '{ s = \$0; sub(/^.*\\) /, "", s); split(s, f, " "); print f[12] + f[13] }' "\$t/stat")" \
      "\$(awk '/^voluntary_ctxt_switches/ { print \$2 }' "\$t/status")"
  done 2>/dev/null
}
# The second look a second before the bench ends the player.
( sleep $T1; snap \$\$ >"\$cfg/t1"; sleep $((T2 - T1 - 1)); snap \$\$ >"\$cfg/t2"
  cat "\$cfg/t1" >>"$SCRATCH/\$SETUP.threads.t1.\$\$"; cat "\$cfg/t2" >>"$SCRATCH/\$SETUP.threads.t2.\$\$" ) &
exec "$BIN/kestrine" "\$1"
SELF
chmod +x "$self"

pulse_pid=
stop_pulse() {
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null
  pulse_pid=
}
trap stop_pulse EXIT

for setup in $SETUPS; do
  rm -rf "$SCRATCH/$setup".threads.* "$SCRATCH/$setup.tsv" "$SCRATCH"/cfg.*
  case $setup in
    none) export PULSE_SERVER=unix:$SCRATCH/no-server ;;
    pulse)
      run=$SCRATCH/pulse-run
      rm -rf "$run"; mkdir -p "$run"; chmod 700 "$run"
      XDG_RUNTIME_DIR=$run HOME=$run pulseaudio -D -n --exit-idle-time=-1 --system=false \
        -L "module-null-sink sink_name=cost" -L "module-native-protocol-unix socket=$run/pulse.sock auth-anonymous=1"
      pulse_pid=$(cat "$run/pulse/pid" 2>/dev/null)
      export PULSE_SERVER=unix:$run/pulse.sock
      ;;
    *) echo "player-cost: unknown set-up $setup" >&2; continue ;;
  esac
  echo "== set-up: $setup"
  SETUP=$setup SCRATCH=$SCRATCH PLAYER_RESULTS=$SCRATCH/$setup.tsv SELF_CMD="$self {}" SELF_THREAD=. \
    "$PEER" "$media" "$RUNS" "$T1" "$T2" "audqt self"
  [ "$setup" = pulse ] && stop_pulse
  unset PULSE_SERVER
  awk -F'\t' '
    function med(a, n,   i, j, t) { for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j+1] = a[j]; a[j+1] = t }
                                     return (n % 2) ? a[(n+1)/2] : (a[n/2] + a[n/2+1]) / 2 }
    { v[$1, $2] = $5 * 1000; if ($2 > runs) runs = $2 }
    END { n = 0
      for (r = 1; r <= runs; r++) if ((("self", r) in v) && (("audqt", r) in v) && v["audqt", r] > 0) {
        q[++n] = v["self", r] / v["audqt", r]; s[n] = v["self", r]; a[n] = v["audqt", r] }
      if (n == 0) { print "no complete run"; exit 1 }
      ms = med(s, n); ma = med(a, n); mq = med(q, n)
      printf "kestrine %.2f ms/s [%.2f-%.2f], Audacious Qt %.2f ms/s [%.2f-%.2f]\n", ms, s[1], s[n], ma, a[1], a[n]
      printf "ratio kestrine/Audacious Qt: per run median %.2f [%.2f-%.2f], of medians %.2f\n", mq, q[1], q[n], ms / ma }' \
    "$SCRATCH/$setup.tsv"
  # Per thread: CPU ms and voluntary switches per second between the two samples.
  for t1 in "$SCRATCH/$setup".threads.t1.*; do
    [ -f "$t1" ] || continue
    t2=${t1/.t1./.t2.}
    awk -F'\t' -v span=$((T2 - T1 - 1)) -v tck="$(getconf CLK_TCK)" '
      NR == FNR { c[$1] += $2; w[$1] += $3; next }
      { c2[$1] += $2; w2[$1] += $3 }
      END { for (k in c2) printf "%s\t%.2f\t%.1f\n", k, (c2[k] - c[k]) * 1000 / tck / span, (w2[k] - w[k]) / span }' "$t1" "$t2"
  done | awk -F'\t' '
    function med(a, n,   i, j, t) { for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j+1] = a[j]; a[j+1] = t }
                                     return (n % 2) ? a[(n+1)/2] : (a[n/2] + a[n/2+1]) / 2 }
    { if (!($1 in n)) o[++k] = $1; i = ++n[$1]; cpu[$1, i] = $2; sw[$1, i] = $3 }
    END { printf "%-18s %10s %12s\n", "thread", "cpu ms/s", "switches/s"
      for (q = 1; q <= k; q++) { t = o[q]; delete a; delete b
        for (i = 1; i <= n[t]; i++) { a[i] = cpu[t, i]; b[i] = sw[t, i] }
        printf "%-18s %10.2f %12.1f\n", t, med(a, n[t]), med(b, n[t]) } }'
done
