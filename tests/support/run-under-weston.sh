#!/usr/bin/env bash
# Runs a test program as a Wayland client of a headless weston of its own: a private
# runtime folder and socket, the compositor ended (by its pid) when the program ends.
# Usage: run-under-weston.sh PROGRAM [ARGS...]
set -u
if ! command -v weston >/dev/null; then
  echo "weston is not installed: the test skips"; exit 0
fi
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
weston --backend=headless-backend.so --socket=wayland-test --idle-time=0 >"$runtime/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
  [ -S "$runtime/wayland-test" ] && break
  sleep 0.05
done
if [ ! -S "$runtime/wayland-test" ]; then
  echo "weston did not start:"; cat "$runtime/weston.log"
  kill "$weston_pid" 2>/dev/null; rm -rf "$runtime"; exit 1
fi
WAYLAND_DISPLAY=wayland-test QT_QPA_PLATFORM=wayland "$@"
status=$?
kill "$weston_pid" 2>/dev/null
wait "$weston_pid" 2>/dev/null
rm -rf "$runtime"
exit $status
