#!/usr/bin/env bash
# A fuzz campaign by hand: runs targets one after another for the given numbers of
# executions, at nice 19, and appends each run's count to build-fuzz/ledger.txt.
#   tools/fuzz-campaign.sh tags:10000000 m3u:500000 ...
# Build first with tools/fuzz-smoke.sh.  A run that ends on an out-of-memory is replayed
# alone: when its input peaks under 128 MiB by itself, the stop was the sanitizer
# allocator's resident size creeping over a long run, and the target goes on with the
# executions still owed.  Any other stop is a finding: its input is in build-fuzz/findings/.
# Stop a run with Ctrl-C (libFuzzer prints its count); touch build-fuzz/STOP to end the rest.
set -uo pipefail
cd "$(dirname "$0")/.."
# Short allocation stacks and a smaller quarantine: more executions a second (half again
# on the INI target).  Replay a finding by hand without them for its full report.
export ASAN_OPTIONS=quarantine_size_mb=16:malloc_context_size=2:allocator_release_to_os_interval_ms=500
# Leaks inside the system's libraries that no caller can mend (see the file).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}
mkdir -p build-fuzz/logs build-fuzz/findings
ledger=build-fuzz/ledger.txt
for job in "$@"; do
  target=${job%%:*}
  left=${job##*:}
  while [ "$left" -gt 0 ] && [ ! -f build-fuzz/STOP ]; do
    log=build-fuzz/logs/$(date -u +%Y%m%dT%H%M%S)_$target.log
    corpus=build-fuzz/corpus/fuzz_$target
    mkdir -p "$corpus"
    nice -n 19 "build-fuzz/bin/fuzz_$target" -runs="$left" -max_len=4194304 -rss_limit_mb=256 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" "$corpus" \
      "fuzz/seeds/$target" >"$log" 2>&1
    rc=$?
    done_runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$log")
    echo "$(date -u +%FT%TZ) $target rc=$rc executed=${done_runs:-0} log=$log" | tee -a "$ledger"
    left=$((left - ${done_runs:-0}))
    [ $rc -eq 0 ] && break
    input=$(grep -o 'Test unit written to [^ ]*' "$log" | awk '{ print $5 }')
    if grep -q 'out-of-memory' "$log" && [ -n "$input" ]; then
      /usr/bin/time -f '%M' -o build-fuzz/replay.kib "build-fuzz/bin/fuzz_$target" -rss_limit_mb=256 "$input" >/dev/null 2>&1
      peak=$(tail -n 1 build-fuzz/replay.kib)
      echo "$(date -u +%FT%TZ) $target out-of-memory replayed alone: $input peaks at ${peak} KiB" | tee -a "$ledger"
      [ "${peak:-999999}" -lt 131072 ] && continue
    fi
    echo "$(date -u +%FT%TZ) $target stopped (rc=$rc): see $log" | tee -a "$ledger"
    break
  done
done
