#!/usr/bin/env bash
# The live path as a new user meets it: rd780 --simulate-meter under a virtual X display,
# window shown, a click on Connect, then rows recorded per second in the first 20 s and
# from 100 s to 120 s, and the process's CPU share (from /proc/PID/stat).
#   bench/live-window.sh [BUILD_DIR]
# Needs Xvfb and xdotool (scripts/setup.sh installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
display=":${RD780_SHOT_DISPLAY:-96}"
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
sleep 1

(cd "$work" && exec "$build/app/rd780" --simulate-meter) >"$work/log" 2>&1 &
app=$!
pids+=($app)
win=$(xdotool search --sync --onlyvisible --name "RD780 Interface Program" | head -n1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
# "Connect" is at (3, 7) in the client area, right below the menu bar (about 21 px); counted
# from the top, since the status bar below the client area makes the height no guide.
xdotool mousemove --window "$win" 50 40 click 1

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
rows() {
    local n
    for _ in 1 2 3 4 5; do
        if n=$("$build/tools/rd780-table" "$work/Kv400db.DB" 2>/dev/null | wc -l); then
            echo $((n > 0 ? n - 1 : 0))
            return
        fi
        sleep 0.2
    done
    echo 0
}
now() { date +%s.%N; }

t0=$(now); c0=$(cpu); r0=$(rows)
sleep 20
t20=$(now); c20=$(cpu); r20=$(rows)
sleep 80
t100=$(now); c100=$(cpu); r100=$(rows)
sleep 20
t120=$(now); c120=$(cpu); r120=$(rows)

awk -v t0="$t0" -v t20="$t20" -v t100="$t100" -v t120="$t120" \
    -v r0="$r0" -v r20="$r20" -v r100="$r100" -v r120="$r120" \
    -v c0="$c0" -v c20="$c20" -v c100="$c100" -v c120="$c120" -v hz="$ticks" 'BEGIN {
    a = (r20 - r0) / (t20 - t0); b = (r120 - r100) / (t120 - t100);
    printf "rows/s first 20 s: %.2f  from 100 s to 120 s: %.2f  ratio %.3f  (rows %d)\n", a, b, (a > 0 ? b / a : 0), r120;
    printf "CPU share of the process: first 20 s %.1f %%, 100-120 s %.1f %%, whole run %.1f %% of a core\n",
        100 * (c20 - c0) / hz / (t20 - t0), 100 * (c120 - c100) / hz / (t120 - t100),
        100 * (c120 - c0) / hz / (t120 - t0);
}'
