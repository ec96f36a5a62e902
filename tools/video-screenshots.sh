#!/usr/bin/env bash
# Takes the README's screenshots of the video window: the real player under Xvfb (no
# sound server) plays a generated 10-second clip; the window is shot at 50%, 100% and
# 200%.  Usage: tools/video-screenshots.sh [build/bin]
set -euo pipefail
source "$(dirname "$0")/screenshot-common.sh"
screenshot_begin "$@"
mkdir -p "$work/video"

ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25:duration=10 \
  -f lavfi -i sine=frequency=440:duration=10 -c:v mpeg4 -q:v 3 -c:a libmp3lame "$work/video/movie.avi"
start_playlist "$work/cfg" "$work/list.m3u" "$work/video/movie.avi"

cat > "$work/run.sh" <<RUN
#!/usr/bin/env bash
unset PULSE_SERVER
export KESTRINE_CONFIG_DIR="$work/cfg"
"$BIN/kestrine" &
pid=\$!
sleep 3
xdotool mousemove 68 12 click 1   # 再生
sleep 2
id=\$(xdotool search --name 'movie.avi' | head -1)
shot() { # toolbar button x, picture name
  xdotool mousemove --window "\$id" "\$1" 14 click 1 mousemove 600 700
  sleep 1.2
  import -window "\$id" "$OUT/\$2"
}
shot 14 video-half.png
shot 36 video-normal.png
shot 58 video-double.png
kill \$pid
RUN
run_under_xvfb 1280x1024 "$work/run.sh"
echo "screenshots in $OUT"
