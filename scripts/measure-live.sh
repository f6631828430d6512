#!/usr/bin/env bash
# Frame times of View -> Follow pointer measured from outside, under a real X
# server: Xvfb (1920 x 1080) runs the program, xdotool moves the pointer over
# the photo, and the program, with OCUMBRA_FRAME_LOG naming a file, logs for
# every frame it paints the time stamp of the pointer event it answers and
# the time the paint ended (both the monotonic clock in milliseconds, which
# the X server's event time stamps are too). Prints the median and the 99th
# percentile of move-to-painted for the frames, and the same for the results
# at rest. With CLICKS, following is then turned off and that many fixation
# clicks (a press, then the click that chooses the point) are made; each is
# timed from the pointer move that ends on the chosen point, a millisecond
# before its press.
#
#   scripts/measure-live.sh [PHOTO] [MOVES] [CLICKS]     (packages: xvfb, xdotool)
#
# PHOTO defaults to build/bin/NatIm13.jpg; MOVES (200) pointer moves 8 ms
# apart on a circle over the image, then a rest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${OCUMBRA_BIN:-$top/build/bin}
photo=${1:-$bin/NatIm13.jpg}
moves=${2:-200}
clicks=${3:-0}
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "measure-live: $tool is needed (Debian: xvfb, xdotool)" >&2; exit 2; }
done
work=$(mktemp -d)
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display QT_QPA_PLATFORM=xcb OCUMBRA_FRAME_LOG=$work/frames.log
sleep 1
"$bin/ocumbra" "$photo" >/dev/null 2>&1 &
app=$!
wid=$(xdotool search --sync --onlyvisible --name '^ocumbra' | head -1)
xdotool windowsize "$wid" 1700 1040 windowmove "$wid" 0 0
sleep 1
# Transform -> Fixation-dependent..., OK with the defaults, then Follow pointer.
xdotool windowfocus --sync "$wid"; xdotool key --clearmodifiers alt+t; sleep 0.5; xdotool key d
sleep 2
xdotool key Return
sleep "${OCUMBRA_PREPARE_SECONDS:-20}"
xdotool windowfocus --sync "$wid"; xdotool key ctrl+f
sleep 1
eval "$(xdotool getwindowgeometry --shell "$wid")"  # X Y WIDTH HEIGHT
cx=$((X + WIDTH / 2)); cy=$((Y + HEIGHT / 2 - 20)); r=$((HEIGHT / 4))
for ((i = 0; i < moves; i++)); do
  a=$(awk -v i="$i" 'BEGIN { printf "%d %d", cos(i / 15) * 1000, sin(i / 15) * 1000 }')
  xdotool mousemove $((cx + ${a% *} * r / 1000)) $((cy + ${a#* } * r / 1000))
  sleep 0.008
done
sleep 2
if ((clicks > 0)); then
  xdotool windowfocus --sync "$wid"; xdotool key ctrl+f
  sleep 1
  for ((i = 0; i < clicks; i++)); do
    x=$((cx + (i % 5 - 2) * r / 3)); y=$((cy + (i % 3 - 1) * r / 3))
    xdotool mousemove $((x + 7)) $((y + 5)) click 1
    sleep 0.3
    xdotool mousemove "$x" "$y" click 1
    sleep "${OCUMBRA_CLICK_SECONDS:-0.7}"
  done
fi
awk '{ d = $3 - $2; if (d < 0) d += 4294967296; print $1, d }' "$work/frames.log" | sort -k1,1 -k2,2n |
  awk '{ n[$1]++; v[$1, n[$1]] = $2 }
       END { for (k in n) printf "%s: %d painted, median %d ms, p99 %d ms\n", k, n[k],
             v[k, int((n[k] + 1) / 2)], v[k, int(n[k] * 0.99 + 0.999)] }'
