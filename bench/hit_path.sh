#!/usr/bin/env bash
# What the screen logs and host-name look-ups cost a hit, against the same build without them,
# in the same rounds. wrk on loopback, one request per connection (Connection: close) for
# GET /t.gif, 32 and 256 connections, DURATION seconds each (default 10), REPEAT rounds
# (default 5), then the medians. Every server keeps 64 threads (ReuseThreads=64), writes both
# log files and takes any number of connections from one address (MaxConnectionsPerIP=0).
#   off       headless, both screen logs off
#   screens   headless, both screen logs on, stdout to /dev/null
#   window    the main window on the offscreen platform, both screen logs on, and "window-off"
#             the same with them off (32 connections; bench/window_load/WindowLoad.cpp)
#   fwd       headless, screen logs off, each request forwarded by 127.0.0.1 (TrustedProxies)
#             for a client address drawn at random (X-Forwarded-For, a wrk script), names off
#   silent    the same with ResolveHostNames=1, in a mount namespace whose /etc/resolv.conf
#             names a loopback UDP port that takes queries and never answers
# Prints each run's requests/s, p99 and the server's CPU time per request, then the ratios
# screens/off, window/window-off and silent/fwd, with the p99 of silent (the answer's latency:
# wrk stops its clock at the end of the answer), and the CPU time per request of the run
# without the feature over the one with it ("cpu-off/screens": steadier than requests/s on a
# machine others share). Needs root (unshare, port 53 on a loopback address).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
duration=${1:-10}
repeat=${REPEAT:-5}
need_wrk
build_bench_server
cmake -S bench/window_load -B build-window-bench -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cmake --build build-window-bench -j "$(nproc)" --target window_load >/dev/null

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

# settings DIR SCREENS(0/1) RESOLVE(0/1) TRUSTED-PROXIES
settings() {
    mkdir -p "$1/logs"
    cp content/* "$1/"
    printf '[General]\r\nLogDir=%s/logs/\r\nMaxConnectionsPerIP=0\r\nReuseThreads=64\r\n' "$1" >"$1/sk_KAV.ini"
    printf 'ResolveHostNames=%s\r\nTrustedProxies=%s\r\n' "$3" "$4" >>"$1/sk_KAV.ini"
    printf '[%s]\r\nLogToScreen=%s\r\nLogToFile=1\r\n' OverviewLog "$2" DetailLog "$2" >>"$1/sk_KAV.ini"
}

# A name server that never answers: a UDP socket on port 53 of a loopback address that takes
# the queries and never reads them. The resolver then waits its full time (5 s, 2 attempts).
silent_ns=127.77.0.53
python3 -c "import socket, time; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('$silent_ns', 53)); time.sleep(10**6)" &
pids+=($!)
printf 'nameserver %s\n' "$silent_ns" >"$work/resolv.conf"

declare -A port pid
start() { # start NAME [PREFIX...]: runs the headless server of "$work/NAME"
    local name=$1
    shift
    port[$name]=$(free_port)
    "$@" build-bench/src/app/sk_kav --headless --dir "$work/$name" --port "${port[$name]}" \
        2>"$work/$name.err" >/dev/null &
    pid[$name]=$!
    pids+=($!)
}
settings "$work/off" 0 0 ""
start off
settings "$work/screens" 1 0 ""
start screens
settings "$work/fwd" 0 0 127.0.0.1
start fwd
settings "$work/silent" 0 1 127.0.0.1
# The namespace is the server's alone: only its view of /etc/resolv.conf changes.
start silent unshare -m sh -c 'mount --bind "$0" /etc/resolv.conf && exec "$@"' "$work/resolv.conf"
sleep 1

# Each request comes from another client, forwarded by 127.0.0.1.
cat >"$work/forwarded.lua" <<'LUA'
request = function()
    local client = "10." .. math.random(0, 255) .. "." .. math.random(0, 255) .. "." .. math.random(1, 254)
    return wrk.format("GET", "/t.gif", { ["Connection"] = "close", ["X-Forwarded-For"] = client })
end
LUA

run_window() { # run_window SCREENS(0/1) -> "rps"
    local dir="$work/window$1"
    rm -rf "$dir"
    settings "$dir" "$1" 0 ""
    # window_load exits non-zero when its own limits fail; its figures count all the same.
    { QT_QPA_PLATFORM=offscreen build-window-bench/window_load "$dir" "$duration" 32 2>/dev/null || true; } |
        tee -a "$work/window.out" | awk '/wrk: Requests\/sec/ {print $3}'
}

results="$work/results" # lines: conns name value
declare -A rps p99 cpu
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 "$repeat"); do
    echo "--- round $round of $repeat"
    for conns in 32 256; do
        run_servers "$round" "$conns" off screens "fwd=$work/forwarded.lua" "silent=$work/forwarded.lua"
        {
            echo "$conns screens/off $(ratio "${rps[screens]}" "${rps[off]}")"
            echo "$conns silent/fwd $(ratio "${rps[silent]}" "${rps[fwd]}")"
            echo "$conns cpu-off/screens $(ratio "${cpu[off]}" "${cpu[screens]}")"
            echo "$conns cpu-fwd/silent $(ratio "${cpu[fwd]}" "${cpu[silent]}")"
            echo "$conns p99-ms-off ${p99[off]}"
            echo "$conns p99-ms-fwd ${p99[fwd]}"
            echo "$conns p99-ms-silent ${p99[silent]}"
        } >>"$results"
    done
    win_off=$(run_window 0)
    win_on=$(run_window 1)
    printf '32    window-off %s/s, window %s/s\n' "$win_off" "$win_on"
    echo "32 window/window-off $(ratio "$win_on" "$win_off")" >>"$results"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "--- medians of $repeat rounds"
print_medians "$results" 32 256
echo "window, last round (screen logs off, then on):"
grep -E 'lateness|close under' "$work/window.out" | tail -4
echo "silent: $(grep -c . "$work/silent/logs/"*.log) lines written, $(grep -c '^10\.' "$work/silent/logs/"*.log) with the address"
