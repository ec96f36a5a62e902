#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short smoke time.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${FUZZ_SECONDS:-15}
CC=clang CXX=clang++ cmake -S vbmp3/fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build-fuzz -j "$(nproc)"
status=0
for target in build-fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=vbmp3/fuzz/seeds/${name#fuzz_}
  echo "== $name for ${SECONDS_EACH}s"
  if ! "$target" -max_total_time="$SECONDS_EACH" -max_len=65536 -rss_limit_mb=1024 -timeout=5 \
       "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) >build-fuzz/$name.log 2>&1; then
    tail -n 40 build-fuzz/$name.log
    status=1
  else
    tail -n 1 build-fuzz/$name.log
  fi
done
exit $status
