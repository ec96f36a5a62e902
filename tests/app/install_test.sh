#!/usr/bin/env bash
# Installs the build into a scratch prefix (as `make install DESTDIR=...` does) and checks
# the layout, the desktop and AppStream files, and that the installed player, started
# headless, loads its private copy of the decoder library and ends cleanly on SIGTERM.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$scratch"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$scratch/dest" cmake --install "$build" --prefix /opt/kestrine >/dev/null
root=$scratch/dest/opt/kestrine

# The library is private: one versioned copy in <libdir>/kestrine/, no development link,
# no header.
lib=$(find "$root" -name 'libvbmp3.so.*' -type l)
[ "$(wc -w <<<"$lib")" = 1 ] || fail "expected one libvbmp3.so.N link, found: $lib"
[[ $lib == */lib*/kestrine/libvbmp3.so.1 ]] || fail "library not in <libdir>/kestrine: $lib"
readelf -d "$lib" | grep -q 'SONAME.*\[libvbmp3\.so\.1\]' || fail "no SONAME libvbmp3.so.1"
[ -z "$(find "$root" -name 'libvbmp3.so' -o -name 'vbmp3.h')" ] || fail "development files installed"
for f in bin/kestrine bin/kestrine-vbmp3play share/applications/kestrine.desktop \
  share/metainfo/io.github.kestrine.kestrine.metainfo.xml share/icons/hicolor/scalable/apps/kestrine.svg \
  share/man/man1/kestrine.1; do
  [ -f "$root/$f" ] || fail "missing $f"
done
for size in 16 32 48 128 256; do
  png=$root/share/icons/hicolor/${size}x${size}/apps/kestrine.png
  [ -f "$png" ] || fail "missing $size px icon"
  # PNG width and height: big-endian at bytes 16 and 20.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4, $7*256+$8}')
  [ "$w $h" = "$size $size" ] || fail "$size px icon is ${w}x$h"
done

desktop-file-validate "$root/share/applications/kestrine.desktop" || fail "desktop file"
appstreamcli validate --no-net "$root/share/metainfo/io.github.kestrine.kestrine.metainfo.xml" >/dev/null \
  || fail "metainfo file"

# The front end finds the library through its run path (it prints its usage, status 2).
set +e
"$root/bin/kestrine-vbmp3play" >/dev/null 2>&1
[ $? = 2 ] || fail "kestrine-vbmp3play does not start"
set -e

mkdir "$scratch/cfg"
env -u LD_LIBRARY_PATH KESTRINE_CONFIG_DIR="$scratch/cfg" QT_QPA_PLATFORM=offscreen \
  "$root/bin/kestrine" 2>"$scratch/stderr" &
pid=$!
real_lib=$(readlink -f "$lib")
for _ in $(seq 100); do
  grep -q "$real_lib" "/proc/$pid/maps" 2>/dev/null && break
  sleep 0.1
done
grep -q "$real_lib" "/proc/$pid/maps" || fail "the installed player did not load $real_lib: $(cat "$scratch/stderr")"
sleep 1 # the window is up and the signal handler set
kill -TERM "$pid"
set +e
wait "$pid"
status=$?
set -e
pid=
[ "$status" = 0 ] || fail "the player ended with status $status on SIGTERM: $(cat "$scratch/stderr")"
# The README's steps after an install into a prefix of one's own: the desktop database makes
# a file manager's "Open with" (GIO's list for the type) offer the player for a FLAC file,
# and the icon cache takes the icons.  Only the scratch prefix is looked at.
update-desktop-database "$root/share/applications" || fail "update-desktop-database"
gtk-update-icon-cache -q -f -t "$root/share/icons/hicolor" || fail "gtk-update-icon-cache"
offer=$(env PATH="$root/bin:$PATH" XDG_DATA_HOME="$scratch/none" XDG_DATA_DIRS="$root/share" \
  XDG_CONFIG_HOME="$scratch/none" XDG_CONFIG_DIRS="$scratch/none" gio mime audio/flac)
grep -q $'^\tkestrine.desktop$' <<<"$offer" || fail "Open with does not offer kestrine for FLAC: $offer"

echo "installed layout, desktop and metainfo files, Open with, and the installed player are fine"
