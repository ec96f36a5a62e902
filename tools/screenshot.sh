#!/usr/bin/env bash
# Takes the README's screenshots: the player under Xvfb with a generated playlist, one
# track with Japanese tags and lyrics playing.  Usage: tools/screenshot.sh [build/bin]
set -euo pipefail
source "$(dirname "$0")/screenshot-common.sh"
screenshot_begin "$@"
mkdir -p "$work/music"

make_track() { # name seconds freq title artist album
  sox -n -r 44100 -c 2 "$work/$1.wav" synth "$2" sine "$3" sine "$(( $3 * 3 / 2 ))" gain -6
  lame --quiet -b 192 --id3v2-only --id3v2-utf16 --tt "$4" --ta "$5" --tl "$6" "$work/$1.wav" "$work/music/$1.mp3"
}
make_track haru 40 440 "春の小川" "さくら合唱団" "日本のうた"
make_track natsu 40 330 "夏の思い出" "水芭蕉" "日本のうた"
make_track aki 40 262 "紅葉" "山田こずえ" "日本のうた"
cat > "$work/music/haru.txt" <<'LRC'
[00:00.00]春の小川は　さらさら行くよ
[00:01.50]岸のすみれや　れんげの花に
[00:03.00]すがたやさしく　色うつくしく
[00:04.50]咲けよ咲けよと　ささやきながら
[00:06.00]春の小川は　さらさら行くよ
[00:07.50]えびやめだかや　小鮒の群れに
LRC
start_playlist "$work/cfg" "$work/list.m3u" "$work/music/haru.mp3" "$work/music/natsu.mp3" "$work/music/aki.mp3"
printf '[EQSETUP]\nset-no=2\nset-onoff=1\n' >> "$work/cfg/kestrine.ini"

cat > "$work/run.sh" <<RUN
#!/usr/bin/env bash
export KESTRINE_CONFIG_DIR="$work/cfg"
source "$TOOLS/screenshot-common.sh"
start_null_sink "$work/run"
"$BIN/kestrine" &
pid=\$!
sleep 3
xdotool mousemove 68 12 click 1   # 再生
sleep 4.5
import -window root -crop 382x294+0+0 "$OUT/playing.png"
xdotool mousemove 97 108 click 1 # the Files tab
sleep 1
import -window root -crop 382x294+0+0 "$OUT/playlist.png"
xdotool mousemove 200 200 click 3 # the pop-up menu; "about" is the item before the last
sleep 0.5
xdotool key Up Up Return
sleep 1
import -window "\$(xdotool search --name 'のﾊﾞｰｼﾞｮﾝ情報' | head -1)" "$OUT/about.png"
xdotool key Return # closes it
sleep 0.5
xdotool mousemove 166 13 click 1 # 設定: the options window, one shot per tab
sleep 1.5
id=\$(xdotool search --name 'ｵﾌﾟｼｮﾝ' | head -1)
import -window "\$id" "$OUT/options-setup.png"
xdotool mousemove --window "\$id" 130 18 click 1
sleep 0.7
import -window "\$id" "$OUT/options-eq.png"
xdotool mousemove --window "\$id" 190 18 click 1
sleep 0.7
import -window "\$id" "$OUT/options-print.png"
xdotool mousemove --window "\$id" 255 18 click 1
sleep 0.7
import -window "\$id" "$OUT/options-player.png"
kill \$pid
kill \$PA
RUN
run_under_xvfb 640x480 "$work/run.sh"
echo "screenshots in $OUT"
