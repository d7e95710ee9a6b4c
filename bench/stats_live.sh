#!/usr/bin/env bash
# What counting hits live costs: the real window (offscreen) with the overview file on and the
# screen logs off, loaded by wrk (one request per connection, CONNECTIONS connections, default
# 32) in PAIRS pairs of rounds (default 6) of SECONDS each (default 5), the Statistics page
# closed in one round of a pair and open in the other. Prints requests/s per round, the median
# ratio open/closed (limit: 2 % less) and the CPU time of handing over and counting one line.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
pairs=${2:-6}
connections=${3:-32}
command -v wrk >/dev/null || { apt-get update -qq && apt-get install -y -qq --no-install-recommends wrk; }
bash tools/deps.sh
cmake -S bench/window_load -B build-stats-bench -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null # gcc 12 -O3: false overlap warnings
cmake --build build-stats-bench -j "$(nproc)" --target stats_live_load >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/logs"
cp content/* "$work/"
printf '[General]\r\nLogDir=%s/logs/\r\n[OverviewLog]\r\nLogToScreen=0\r\nLogToFile=1\r\n[DetailLog]\r\nLogToScreen=0\r\nLogToFile=0\r\n' \
    "$work" >"$work/sk_KAV.ini"
QT_QPA_PLATFORM=offscreen build-stats-bench/stats_live_load "$work" "$seconds" "$pairs" "$connections"
