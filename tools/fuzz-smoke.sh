#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short smoke time.  Inputs go
# up to 4 MiB, so that size fields are reached; an input that makes a target use more than
# 256 MiB (or ask for it in one allocation) is a finding.  FUZZ_SECONDS sets the time per
# target; a campaign runs one target by hand with -runs=N (see README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${FUZZ_SECONDS:-15}
# AddressSanitizer keeps freed memory in quarantine (256 MiB by default), which would
# count against the 256 MiB limit of each input; with long allocation stacks and freed pages
# kept, its own resident size also creeps up over tens of thousands of large inputs (the
# tags and picture targets), so the smoke runs with the campaign's settings.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=2:allocator_release_to_os_interval_ms=500}
# Leaks inside the system's libraries that no caller can mend (see the file).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}
# A tree configured from the fuzz targets' former project of their own is configured
# again from the top; its corpora, logs and ledger stay.
if grep -qsx 'CMAKE_PROJECT_NAME:STATIC=vbmp3_fuzz' build-fuzz/CMakeCache.txt; then
  rm -rf build-fuzz/CMakeCache.txt build-fuzz/CMakeFiles build-fuzz/fuzz_*
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRINE_FUZZ=ON \
  -DKESTRINE_TESTS=OFF -DKESTRINE_BENCH=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
  >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzzers
# The targets are single-threaded: as many run at once as there are cores (FUZZ_JOBS sets
# another number); their reports follow in the targets' order once all have ended.
parallel=${FUZZ_JOBS:-$(nproc)}
smoke() {
  local target=$1 name corpus seeds
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=fuzz/seeds/${name#fuzz_}
  local status=0
  "$target" -max_total_time="$SECONDS_EACH" -max_len=4194304 -rss_limit_mb=256 -timeout=5 \
    "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) >build-fuzz/$name.log 2>&1 || status=$?
  echo "$status" >build-fuzz/$name.status
}
targets=()
for target in build-fuzz/bin/fuzz_*; do
  [ -x "$target" ] && targets+=("$target")
done
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  rm -f "build-fuzz/$(basename "$target").status"
  smoke "$target" &
done
wait
status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  echo "== $name for ${SECONDS_EACH}s"
  if [ "$(cat "build-fuzz/$name.status" 2>/dev/null)" != 0 ]; then
    tail -n 40 build-fuzz/$name.log
    status=1
  else
    tail -n 1 build-fuzz/$name.log
  fi
done
exit $status
