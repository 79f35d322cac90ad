#!/usr/bin/env bash
# Runs the program as a newcomer would on a serial meter, under a virtual X display: the
# emulator on a pseudo-terminal, rd780 with --serial-port, a click on "Connect", a few
# seconds of live readings, then a picture of the window.
#   tools/serial-meter/screenshot.sh [BUILD_DIR] [OUT_PNG]
# Needs Xvfb, xdotool, xwd and netpbm (scripts/setup.sh installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/docs/serial-emulator.png}
display=":${RD780_SHOT_DISPLAY:-97}"
work=$(mktemp -d)
pids=()
cleanup() {
    # Last started first: rd780 goes before the emulator whose line it reads.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
sleep 1

"$build/tools/rd780-serial-meter" --quiet >"$work/pty" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/pty" ] && break; sleep 0.1; done
pty=$(head -n1 "$work/pty")
echo "meter on $pty"

(cd "$work" && exec "$build/app/rd780" --serial-port "$pty") &
pids+=($!)
win=$(xdotool search --sync --onlyvisible --name "RD780 Interface Program" | head -n1)
sleep 1.5
eval "$(xdotool getwindowgeometry --shell "$win")"
# "Connect" is 105 by 26 at 190 pixels from the right edge, 468 below the menu bar.
xdotool mousemove --window "$win" $((WIDTH - 190 + 52)) $((HEIGHT - 596 + 481)) click 1
sleep 6

xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left "$X" -top "$Y" -width "$WIDTH" \
    -height "$HEIGHT" | pnmtopng >"$out"
echo "wrote $out"
