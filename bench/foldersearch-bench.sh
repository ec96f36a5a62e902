#!/usr/bin/env bash
# The folder search against reading the same tags with TagLib alone and against Audacious
# adding the same tree, interleaved round by round so that the machine's noise falls on
# all of them alike.
#   bench/foldersearch-bench.sh [MEDIA] [ROUNDS]
#   MIXED=1 bench/foldersearch-bench.sh [MEDIA] [ROUNDS]
# MEDIA (default /tmp/perf/media) gets the 10,000-file tree of ../shared/bench/make_media.sh
# when it has none, a 20,000-file tree of two hard-linked copies, and a folder of 100,000
# empty files.  With MIXED=1, MEDIA (default /tmp/perf/mixed) gets the 10,000 files of six
# formats of bench/make-mixed-tree.sh instead, searched for by all their endings.  Audacious runs headless (`audacious -H`) in a private D-Bus session and
# configuration; the folder is handed over with `audacious -e DIR` and `audtool
# playlist-length` is polled every 10 ms until it reaches 10,000 ("count"); "settled" is
# when its process stops using CPU (150 ms quiet), i.e. when it has read the tags.
# The player is timed twice from the click: to the last row shown ("search": rows go in
# before their tags are read) and to the last tag filled in ("search-tags").
# Goals: search <= 1.3 x floor and <= 0.8 x Audacious; search2 <= 2.1 x search; no stall
# over 100 ms.  Needs audacious audacious-plugins dbus (and sox lame id3v2 for the media).
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${BIN:-build/bin}
MIXED=${MIXED:-}
M=${1:-$([ -n "$MIXED" ] && echo /tmp/perf/mixed || echo /tmp/perf/media)}
ROUNDS=${2:-3}
MAKE_MEDIA=${MAKE_MEDIA:-../shared/bench/make_media.sh}
PATTERN='*.mp3'
[ -z "$MIXED" ] || PATTERN='*.mp3;*.flac;*.ogg;*.opus;*.m4a;*.wv'
[ -x "$BIN/foldersearch_bench" ] || { echo "build foldersearch_bench first" >&2; exit 1; }
for tool in audacious audtool dbus-run-session bc; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
if [ -n "$MIXED" ]; then
  [ -f "$M/tree/.done" ] || bash bench/make-mixed-tree.sh "$M" >/dev/null
elif [ ! -f "$M/tree/.done" ]; then
  bash "$MAKE_MEDIA" "$M" 10 >/dev/null
fi
if [ ! -d "$M/tree20/2" ]; then
  mkdir -p "$M/tree20"
  cp -al "$M/tree" "$M/tree20/1"
  cp -al "$M/tree" "$M/tree20/2"
fi
cat "$M"/tree/*/*/* >/dev/null # a warm page cache for everyone

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

audacious_round() { # prints "count settled" in seconds
  cat >"$out/aud.sh" <<'INNER'
set -u
export XDG_CONFIG_HOME=$1/cfg XDG_RUNTIME_DIR=$1/rt
rm -rf "$XDG_CONFIG_HOME"; mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
audacious -H >"$1/aud.log" 2>&1 &
pid=$!
ready=
for _ in $(seq 200); do audtool playlist-length >/dev/null 2>&1 && { ready=1; break; }; sleep 0.05; done
[ -n "$ready" ] || { echo "NA NA"; kill $pid 2>/dev/null; exit 0; }
cpu() { local s; s=$(<"/proc/$pid/stat"); s=${s##*) }; set -- $s; echo $(( ${12} + ${13} )); }
t0=$EPOCHREALTIME
audacious -e "$2"
n=0
for _ in $(seq 6000); do # a minute at most
  n=$(audtool playlist-length 2>/dev/null || echo 0)
  [ "$n" -ge "$3" ] && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.01
done
[ "$n" -ge "$3" ] || { echo "NA NA"; kill $pid 2>/dev/null; exit 0; }
t1=$EPOCHREALTIME
last=$(cpu); tl=$EPOCHREALTIME; quiet=0
while [ $quiet -lt 15 ] && kill -0 $pid 2>/dev/null; do
  sleep 0.01; c=$(cpu 2>/dev/null || echo "$last")
  if [ "$c" -ne "$last" ]; then last=$c; tl=$EPOCHREALTIME; quiet=0; else quiet=$((quiet + 1)); fi
done
echo "$(echo "$t1 - $t0" | bc) $(echo "$tl - $t0" | bc)"
audtool shutdown >/dev/null 2>&1; wait $pid 2>/dev/null
INNER
  dbus-run-session -- bash "$out/aud.sh" "$out" "$M/tree" 10000 2>/dev/null | tail -n 1
}

for r in $(seq "$ROUNDS"); do
  "$BIN/foldersearch_bench" "--pattern=$PATTERN" "$M/tree" "$M/tree20" "$M/big" 2>/dev/null | sed "s/^/$r /" >>"$out/self"
  for _ in 1 2 3; do # Audacious now and then fails an assertion at start-up: start it again
    read -r count settled < <(audacious_round)
    [ "$count" != NA ] && break
  done
  echo "$r audacious $count 10000 0" >>"$out/self"
  echo "$r audacious-settled $settled 10000 0" >>"$out/self"
done

echo "every round: round name seconds rows stall-ms"
sort -k2,2 -k1,1n "$out/self"
awk '
  function med(name,   n, i, j, t, a) { n = 0; for (i = 1; i <= N; i++) if (L[i] == name) a[++n] = (MS ? T[i] : S[i])
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j+1] = a[j]; a[j+1] = t }
    return (n % 2) ? a[(n+1)/2] : (a[n/2] + a[n/2+1]) / 2 }
  { N++; L[N] = $2; S[N] = $3; T[N] = $5; R[$2] = $4; if ($5 > ST[$2]) ST[$2] = $5; if ($2 == "titled") TI = N }
  END {
    printf "%-20s %10s %8s %24s\n", "median of '"$ROUNDS"'", "seconds", "rows", "stall ms median/worst"
    split("floor floor2 search search-tags search2 search2-tags big big-tags audacious audacious-settled", names, " ")
    for (k = 1; k <= 10; k++) { n = names[k]; m[n] = med(n); MS = 1; st = med(n); MS = 0
      printf "%-20s %10.3f %8d %24s\n", n, m[n], R[n], (n ~ /search|big/ ? st "/" ST[n] : "-") }
    split("search search-tags", w, " ")
    for (k = 1; k <= 2; k++) { n = w[k]; t = (k == 1 ? "last row shown" : "last tag filled")
      printf "%-12s / floor              %.2f  (%s; goal <= 1.30)\n", n, m[n] / m["floor"], t
      printf "%-12s / audacious count    %.2f  (%s; goal <= 0.80)\n", n, m[n] / m["audacious"], t
      printf "%-12s / audacious settled  %.2f  (%s)\n", n, m[n] / m["audacious-settled"], t }
    printf "search2 / search                  %.2f  (goal <= 2.10)\n", m["search2"] / m["search"]
    printf "search2-tags / search-tags        %.2f  (goal <= 2.10)\n", m["search2-tags"] / m["search-tags"]
    printf "floor2 / floor                    %.2f  (the same for TagLib alone)\n", m["floor2"] / m["floor"]
    printf "rows titled from their tags       %d  (TagLib titled %d)\n", S[TI], R["titled"]
    printf "search2-tags / floor2             %.2f\n", m["search2-tags"] / m["floor2"]
  }' "$out/self"
