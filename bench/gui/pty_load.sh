#!/usr/bin/env bash
# CPU cost of the window while a serial port streams at 3,000,000 baud's rate (300 KB/s): a
# socat pseudo-terminal pair, a feeder on one end, the window on the other, /usr/bin/time on
# the window. Target: under 15 % of one core.
# Usage: bench/gui/pty_load.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:?build directory with bench/main_window_bench}
seconds=${2:-30}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
socat pty,raw,echo=0,link="$work/window" pty,raw,echo=0,link="$work/device" &
for _ in $(seq 50); do [ -e "$work/device" ] && break; sleep 0.1; done
"$build/bench/main_window_bench" feed "$work/device" 300000 $((seconds + 5)) &
export QT_QPA_PLATFORM=offscreen
/usr/bin/time -f "window: %e s elapsed, %U s user, %S s system, %P of one core (target < 15%%)" \
    "$build/bench/main_window_bench" serial "$work/window" "$seconds"
