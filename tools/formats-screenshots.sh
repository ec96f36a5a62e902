#!/usr/bin/env bash
# Takes the README's screenshots of a FLAC and an Opus track playing: the player under
# Xvfb, each time with a one-track playlist of a generated file with Japanese tags in the
# format's own tag (Vorbis comments, OpusTags) and lyrics beside it.
# Usage: tools/formats-screenshots.sh [build/bin]
set -euo pipefail
source "$(dirname "$0")/screenshot-common.sh"
screenshot_begin "$@"
mkdir -p "$work/music"

# A 96 kHz 24-bit FLAC and a 48 kHz Opus, each 40 seconds of a chord.
sox -n -r 96000 -b 24 -c 2 "$work/tsuki.wav" synth 40 sine 392 sine 588 gain -6
flac -s -f -T "TITLE=月の沙漠" -T "ARTIST=砂丘合唱団" -T "ALBUM=日本のうた" -T "DATE=1923" \
  -o "$work/music/tsuki.flac" "$work/tsuki.wav"
sox -n -r 48000 -b 16 -c 2 "$work/furusato.wav" synth 40 sine 349 sine 523 gain -6
opusenc --quiet --bitrate 128 --title "ふるさと" --artist "里山アンサンブル" --album "日本のうた" \
  "$work/furusato.wav" "$work/music/furusato.opus"
cat > "$work/music/tsuki.txt" <<'LRC'
[00:00.00]月の沙漠を　はるばると
[00:01.50]旅の駱駝が　ゆきました
[00:03.00]金と銀との　鞍置いて
[00:04.50]二つならんで　ゆきました
LRC
cat > "$work/music/furusato.txt" <<'LRC'
[00:00.00]兎追いし　かの山
[00:01.50]小鮒釣りし　かの川
[00:03.00]夢は今も　めぐりて
[00:04.50]忘れがたき　ふるさと
LRC

for track in tsuki.flac furusato.opus; do
  name=${track%.*}
  ext=${track##*.}
  cfg="$work/cfg-$name"
  start_playlist "$cfg" "$work/$name.m3u" "$work/music/$track"
  cat > "$work/run-$name.sh" <<RUN
#!/usr/bin/env bash
export KESTRINE_CONFIG_DIR="$cfg"
source "$TOOLS/screenshot-common.sh"
start_null_sink "$work/run-$name"
"$BIN/kestrine" &
pid=\$!
sleep 3
xdotool mousemove 68 12 click 1   # 再生
sleep 4.5
import -window root -crop 382x294+0+0 "$OUT/playing-$ext.png"
kill \$pid
wait \$pid 2>/dev/null || true
kill \$PA
RUN
  run_under_xvfb 640x480 "$work/run-$name.sh"
done
echo "screenshots in $OUT: playing-flac.png playing-opus.png"
