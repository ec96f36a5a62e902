#!/usr/bin/env bash
# Runs every benchmark against the build in build/ (make bench builds it first).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
"$bin/playlist_bench"
"$bin/player_bench" 20
