#!/usr/bin/env bash
# The log files of the headless server under a hostile client, both log files on:
#  1. log bytes written per byte received while one client floods with large POSTs, long
#     header blocks, or both (SECONDS each, default 5);
#  2. a log disk that runs full and frees up again (a small tmpfs; needs root): afterwards every
#     .log line must be a whole combined line, every .log2 block must start where a block
#     starts, and the next hit must be logged;
#  3. the time of 3000 hits with 100,000-line nickname and no-log lists against 10-line ones.
# SKAV_BASELINE=path/to/another/sk_kav runs figure 1 with that build too, for comparison.
# Prints one line per figure.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
seconds=${1:-5}
echo "load: $(uptime | sed 's/.*load average: //')"
build_bench_server
c++ -std=c++20 -O2 -pthread -o build-bench/LogBench bench/log_volume/LogBench.cpp
bench=build-bench/LogBench

work=$(mktemp -d)
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    mountpoint -q "$work/disk" 2>/dev/null && umount "$work/disk"
    rm -rf "$work"
}
trap cleanup EXIT

start_server() { # start_server PROGRAM LOGDIR [LIST_LINES] -> sets server_pid, port
    local dir=$work/program
    rm -rf "$dir" && mkdir -p "$dir"
    cp content/* "$dir/"
    printf '[General]\r\nLogDir=%s\r\nUseNickNames=1\r\n[OverviewLog]\r\nLogToFile=1\r\n[DetailLog]\r\nLogToFile=1\r\n' \
        "$2" >"$dir/sk_KAV.ini"
    # Lists of other addresses; the hits' own address comes last, so a scan reads them all.
    seq "${3:-0}" | awk '{printf "10.%d.%d.%d=Name%d\r\n", $1 / 65536 % 256, $1 / 256 % 256, $1 % 256, $1}' >"$dir/sk_KAV.NN"
    seq "${3:-0}" | awk '{printf "10.%d.%d.%d\r\n", $1 / 65536 % 256, $1 / 256 % 256, $1 % 256}' >"$dir/sk_KAV.NL"
    printf '127.0.0.1=Local\r\n' >>"$dir/sk_KAV.NN"
    port=$(free_port)
    "$1" --headless --dir "$dir" --port "$port" >/dev/null 2>"$work/err" &
    server_pid=$!
    for _ in $(seq 50); do grep -q "listening on" "$work/err" && return 0; sleep 0.1; done
    echo "server did not start: $(cat "$work/err")" >&2
    return 1
}

stop_server() {
    kill -TERM "$server_pid"
    wait "$server_pid" || true
    server_pid=""
}

log_ratio() { # log_ratio NAME PROGRAM BODY HEADER_LINES HEADER_LINE_BYTES
    local logs=$work/logs
    rm -rf "$logs" && mkdir -p "$logs"
    start_server "$2" "$logs/"
    read -r received requests answered <<<"$($bench flood "$port" "$seconds" 2 "$3" "$4" "$5")"
    stop_server
    local written
    written=$(cat "$logs"/* 2>/dev/null | wc -c)
    awk -v n="$1" -v w="$written" -v r="$received" -v q="$requests" -v a="$answered" \
        'BEGIN {printf "%-32s log bytes per byte received %6.3f  (%d of %d requests answered, %.1f MB in, %.1f MB logged)\n", n, (r > 0 ? w / r : 0), a, q, r / 1e6, w / 1e6}'
}

for program in build-bench/src/app/sk_kav ${SKAV_BASELINE:-}; do
    tag=$([ "$program" = build-bench/src/app/sk_kav ] && echo ours || echo baseline)
    log_ratio "$tag: POSTs of 60 KB" "$program" 60000 2 100
    log_ratio "$tag: 24 header lines of 1 KB" "$program" 0 24 1000
    log_ratio "$tag: both" "$program" 60000 24 1000
done

# A log disk that fills up during hits and then frees up.
full_disk() { # full_disk NAME PROGRAM
    mkdir -p "$work/disk"
    mount -t tmpfs -o size=2m tmpfs "$work/disk"
    start_server "$2" "$work/disk/"
    local free_kib answered lines bad_lines blocks bad_blocks errors left_out logged
    free_kib=$(df -k --output=avail "$work/disk" | tail -1)
    dd if=/dev/zero of="$work/disk/filler" bs=1k count=$((free_kib - 64)) status=none
    read -r answered _ <<<"$($bench hits "$port" 300 700 /full.gif)"
    rm "$work/disk/filler"
    $bench hits "$port" 1 700 /after-free.gif >/dev/null
    stop_server
    read -r lines bad_lines <<<"$($bench check-log "$work"/disk/*.log)"
    read -r blocks bad_blocks <<<"$($bench check-log2 "$work"/disk/*.log2)"
    errors=$(grep -c "Error writing Logfile in Directory" "$work/err" || true)
    left_out=$(grep -o "Error writing Logfile: [0-9]* more lines* of this kind left out" \
        "$work/err" || true)
    logged=$(cat "$work"/disk/*.log "$work"/disk/*.log2 | grep -c "after-free.gif" || true)
    umount "$work/disk"
    echo "$1: full disk: $answered of 300 hits answered; .log $lines lines, $bad_lines not" \
        "whole; .log2 $blocks blocks, $bad_blocks not whole; next hit in $logged of 2 files;" \
        "$errors error line(s)${left_out:+, then \"$left_out\"}"
}

full_disk ours build-bench/src/app/sk_kav
if [ -n "${SKAV_BASELINE:-}" ]; then full_disk baseline "$SKAV_BASELINE"; fi

# The cost of a hit with long lists: one hash look-up each, as with short ones.
list_cost() { # list_cost NAME PROGRAM
    local short long
    start_server "$2" "$work/logs/" 10
    read -r _ short <<<"$($bench hits "$port" 3000 100 /t.gif)"
    stop_server
    start_server "$2" "$work/logs/" 100000
    read -r _ long <<<"$($bench hits "$port" 3000 100 /t.gif)"
    stop_server
    awk -v n="$1" -v s="$short" -v l="$long" \
        'BEGIN {printf "%s: 3000 hits with 10-line lists %.2f s, with 100,000-line lists %.2f s, ratio %.2f\n", n, s, l, l / s}'
}

mkdir -p "$work/logs"
list_cost ours build-bench/src/app/sk_kav
if [ -n "${SKAV_BASELINE:-}" ]; then list_cost baseline "$SKAV_BASELINE"; fi
