#!/usr/bin/env bash
# The window under load: the real main window with both screen logs on at their default limits
# (5000 lines each) while wrk loads its server with CONNECTIONS connections (default 32), one
# request per connection, for SECONDS (default 10). A 10 ms timer probes the window's event
# loop; memory is sampled every 0.5 s; then the window is closed while the load goes on and
# the shutdown is timed. Runs under Xvfb when it is installed, else on the offscreen platform.
# Exits non-zero when p99 lateness reaches 100 ms or the close takes 6 s or more.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
connections=${2:-32}
command -v wrk >/dev/null || { apt-get update -qq && apt-get install -y -qq --no-install-recommends wrk; }
cmake -S bench/window_load -B build-window-bench -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null # gcc 12 -O3: false overlap warnings
cmake --build build-window-bench -j "$(nproc)" --target window_load >/dev/null

work=$(mktemp -d)
xvfb_pid=""
trap 'if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
cp content/* "$work/"
printf '[OverviewLog]\r\nLogToScreen=1\r\n[DetailLog]\r\nLogToScreen=1\r\n' >"$work/sk_KAV.ini"

if command -v Xvfb >/dev/null; then
    n=$(for d in $(seq 90 130); do [ -e "/tmp/.X$d-lock" ] || { echo "$d"; break; }; done)
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
    export DISPLAY=":$n" QT_QPA_PLATFORM=xcb
    echo "platform: xcb on Xvfb :$n"
else
    export QT_QPA_PLATFORM=offscreen
    echo "platform: offscreen"
fi
build-window-bench/window_load "$work" "$seconds" "$connections"
