#!/usr/bin/env bash
# Takes the README's pictures of the playing row and of a cover in the lyrics view: the
# player under Xvfb with three generated tracks, driven by its keyboard shortcuts.  The
# second track carries a cover picture and no lyrics.  Usage:
# tools/desktop-screenshots.sh [build/bin]
set -euo pipefail
source "$(dirname "$0")/screenshot-common.sh"
screenshot_begin "$@"
mkdir -p "$work/music" "$work/cache"

convert -size 300x300 gradient:'#87ceeb-#ff8c42' -fill '#fff3a0' -draw 'circle 150,170 150,110' \
  -fill '#2e6b3a' -draw 'rectangle 0,230 300,300' "$work/cover.jpg"
make_track() { # name seconds freq title artist album [lame options...]
  local name=$1 seconds=$2 freq=$3 title=$4 artist=$5 album=$6
  shift 6
  sox -n -r 44100 -c 2 "$work/$name.wav" synth "$seconds" sine "$freq" gain -6
  lame --quiet -b 192 --id3v2-only --id3v2-utf16 --tt "$title" --ta "$artist" --tl "$album" "$@" \
    "$work/$name.wav" "$work/music/$name.mp3"
}
make_track haru 60 440 "春の小川" "さくら合唱団" "日本のうた"
make_track natsu 60 330 "夏の思い出" "水芭蕉" "日本のうた" --ti "$work/cover.jpg"
make_track aki 60 262 "紅葉" "山田こずえ" "日本のうた"
start_playlist "$work/cfg" "$work/list.m3u" "$work/music/haru.mp3" "$work/music/natsu.mp3" "$work/music/aki.mp3"

cat > "$work/run.sh" <<RUN
#!/usr/bin/env bash
export KESTRINE_CONFIG_DIR="$work/cfg" XDG_CACHE_HOME="$work/cache"
source "$TOOLS/screenshot-common.sh"
start_null_sink "$work/run"
"$BIN/kestrine" 2>/dev/null &
pid=\$!
sleep 3
win=\$(xdotool search --name '^kestrine\$' | head -1)
xdotool windowfocus --sync "\$win"
xdotool mousemove 97 108 click 1   # the Files tab
sleep 0.5
xdotool mousemove 60 150 click 1   # selects the first row
xdotool key x                      # 再生: the first row
sleep 1
xdotool key b                      # 次曲: the second, which has no lyrics
sleep 2
import -window root -crop 382x294+0+0 "$OUT/playing-row.png"
xdotool mousemove 40 108 click 1   # the Lyrcs View tab
sleep 1
import -window root -crop 382x294+0+0 "$OUT/cover.png"
kill \$pid
kill \$PA
RUN
run_under_xvfb 640x480 "$work/run.sh"
echo "pictures in $OUT"
