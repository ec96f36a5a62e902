#!/usr/bin/env bash
# Takes the README's pictures of the CD jacket window: the preview of both insert shapes
# under Xvfb with a generated 66-track playlist, and the page "両印刷" writes through the
# print dialog's "PDF ファイルに出力" (the dialog's proposed file, accepted with Return),
# rendered to PNG.  Usage: tools/print-screenshots.sh [build/bin]
set -euo pipefail
source "$(dirname "$0")/screenshot-common.sh"
screenshot_begin "$@"
mkdir -p "$work/music" "$work/home"

titles=(春の小川 夏の思い出 紅葉 故郷 朧月夜 荒城の月 花 浜辺の歌 赤とんぼ この道 早春賦 椰子の実 冬景色 七つの子 月の沙漠)
artists=(さくら合唱団 水芭蕉 山田こずえ 青葉室内合唱団 佐藤ひかり)
sox -n -r 44100 -c 1 "$work/tone.wav" synth 0.3 sine 440
tracks=()
for i in $(seq 1 66); do
  f=$(printf '%s/music/%03d.mp3' "$work" "$i")
  lame --quiet -b 32 --id3v2-only --id3v2-utf16 --tt "${titles[$(( (i - 1) % 15 ))]}" \
    --ta "${artists[$(( (i - 1) % 5 ))]}" "$work/tone.wav" "$f"
  tracks+=("$f")
done
start_playlist "$work/cfg" "$work/list.m3u" "${tracks[@]}"

# Places in the print window (no window manager: it stands at 0,0; the menu bar is 18
# pixels high, the controls are laid out in twips).
cat > "$work/run.sh" <<RUN
#!/usr/bin/env bash
export KESTRINE_CONFIG_DIR="$work/cfg" HOME="$work/home"
"$BIN/kestrine" &
pid=\$!
sleep 3
xdotool mousemove 216 12 click 1   # the toolbar's 印刷
sleep 1.5
xdotool mousemove 76 378 click 1   # Ｄａｔａ 仮表示
sleep 0.5
import -window root -crop 741x511+0+0 "$OUT/print-back.png"
xdotool mousemove 27 59 click 1    # 表（120*120）
sleep 0.5
import -window root -crop 741x511+0+0 "$OUT/print-front.png"
xdotool mousemove 27 87 click 1    # 裏（118*150）
sleep 0.3
xdotool mousemove 40 452 click 1   # 両印刷
sleep 2
import -window root -crop 741x511+0+0 "$OUT/print-dialog.png"
xdotool key Return
sleep 2
kill \$pid
RUN
run_under_xvfb 1024x768 "$work/run.sh"
# The top left of the A4 page: 180 x 145 mm at 150 dpi.
pdftoppm -r 150 -png -singlefile -x 0 -y 0 -W 1063 -H 856 "$work/home/cdjacket.pdf" "$OUT/print-page"
echo "pictures in $OUT"
