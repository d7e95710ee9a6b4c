#!/usr/bin/env bash
# Loads the headless tracking server and nginx, one after the other, with wrk on loopback: one
# request per connection (Connection: close) for GET /t.gif, 32 and then 256 connections,
# DURATION seconds each (default 10). Both log files of ours are on, both screen logs off;
# nginx writes its combined access log. Ours runs twice: with the default settings (64 threads
# kept for the next connections) and with a new thread per connection, ReuseThreads=0
# ("thread"). A minimal server of our shape (bench/thread_per_connection.cpp, "ceiling") runs
# too: what a thread per connection reaches on this machine with next to no work per hit.
# Prints requests/s, p99 latency and peak memory of each server and the ratios to nginx. SKAV_BASELINE=path/to/another/sk_kav (an earlier build) runs
# that one too, in turn with ours, and prints the ratio ours/baseline, also of the CPU time
# each spends per request (steadier than req/s on a machine others share). REPEAT=n (default
# 1) runs everything n times and ends with the medians; the load average is printed before and
# after.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
duration=${1:-10}
repeat=${REPEAT:-1}
need=()
for p in wrk nginx-light; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}"
    # Debian starts the packaged nginx on port 80; only ours is wanted.
    systemctl stop nginx 2>/dev/null || service nginx stop 2>/dev/null || true
fi
build_bench_server
g++ -O2 -std=c++20 -pthread -Wall -Wextra bench/thread_per_connection.cpp -o build-bench/thread_per_connection

work=$(mktemp -d)
chmod 755 "$work" # nginx workers read the GIF as another user
trap 'kill $ours_pid $thread_pid $base_pid $ceiling_pid $nginx_pid 2>/dev/null || true; rm -rf "$work"' EXIT
ours_pid=""
thread_pid=""
base_pid=""
ceiling_pid=""
nginx_pid=""

# Ours: program directory with the content files and a settings file. wrk is one client with
# many connections, so the limit of connections per address is lifted.
mkdir -p "$work/ours/logs"
cp content/* "$work/ours/"
load_settings "$work/ours"
ours_port=$(free_port)
build-bench/src/app/sk_kav --headless --dir "$work/ours" --port "$ours_port" 2>"$work/ours.err" >/dev/null &
ours_pid=$!
# The same build with a new thread per connection.
mkdir -p "$work/thread/logs"
cp content/* "$work/thread/"
sed -e "s#$work/ours/logs/#$work/thread/logs/#" -e 's#^MaxConnectionsPerIP=0#&\r\nReuseThreads=0#' \
    "$work/ours/sk_KAV.ini" >"$work/thread/sk_KAV.ini"
thread_port=$(free_port)
build-bench/src/app/sk_kav --headless --dir "$work/thread" --port "$thread_port" 2>"$work/thread.err" >/dev/null &
thread_pid=$!
if [ -n "${SKAV_BASELINE:-}" ]; then
    mkdir -p "$work/base/logs"
    cp content/* "$work/base/"
    sed "s#$work/ours/logs/#$work/base/logs/#" "$work/ours/sk_KAV.ini" >"$work/base/sk_KAV.ini"
    base_port=$(free_port)
    "$SKAV_BASELINE" --headless --dir "$work/base" --port "$base_port" 2>"$work/base.err" >/dev/null &
    base_pid=$!
fi

ceiling_port=$(free_port)
build-bench/thread_per_connection "$ceiling_port" "$work/ours/1x1.gif" "$work/ceiling.log" &
ceiling_pid=$!

# nginx: the same GIF, combined access log, no keep-alive.
nginx_port=$(free_port)
start_nginx "$work/nginx" "$nginx_port"

peak_kib() { # peak resident memory of a process and its children (KiB)
    local total=0
    for pid in $1 $(pgrep -P "$1" || true); do
        v=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        total=$((total + ${v:-0}))
    done
    echo "$total"
}

run_wrk() { # run_wrk PORT CONNECTIONS [PID] -> "rps p99 errors cpu-us-per-request"
    local out before after
    before=$([ -n "${3:-}" ] && cpu_ticks "$3" || echo 0)
    out=$(wrk -t 2 -c "$2" -d "${duration}s" --latency -H 'Connection: close' "http://127.0.0.1:$1/t.gif")
    after=$([ -n "${3:-}" ] && cpu_ticks "$3" || echo 0)
    local rps p99 errors requests
    rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
    p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
    errors=$(awk '/Socket errors|Non-2xx/ {s = s $0 "; "} END {print (s == "" ? "none" : s)}' <<<"$out")
    requests=$(awk '/requests in/ {print $1}' <<<"$out")
    echo "$rps|$p99|$errors|$(awk -v t=$((after - before)) -v r="$requests" -v hz="$(getconf CLK_TCK)" \
        'BEGIN {printf "%.1f", t * 1e6 / hz / r}')"
}

row() { printf '%-6s %-6s %12s %10s %10s  %s\n' "$@"; }
results="$work/results" # lines: conns name value
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 "$repeat"); do
    [ "$repeat" -gt 1 ] && echo "--- round $round of $repeat"
    row conns server req/s p99 peakMiB errors
    for conns in 32 256; do
        IFS='|' read -r ours_rps ours_p99 ours_err ours_cpu <<<"$(run_wrk "$ours_port" "$conns" "$ours_pid")"
        IFS='|' read -r thread_rps thread_p99 thread_err thread_cpu <<<"$(run_wrk "$thread_port" "$conns" "$thread_pid")"
        if [ -n "$base_pid" ]; then
            IFS='|' read -r base_rps base_p99 base_err base_cpu <<<"$(run_wrk "$base_port" "$conns" "$base_pid")"
        fi
        IFS='|' read -r ceil_rps ceil_p99 ceil_err ceil_cpu <<<"$(run_wrk "$ceiling_port" "$conns" "$ceiling_pid")"
        IFS="|" read -r ng_rps ng_p99 ng_err _ <<<"$(run_wrk "$nginx_port" "$conns")"
        row "$conns" ours "$ours_rps" "$ours_p99" $(($(peak_kib "$ours_pid") / 1024)) "$ours_err"
        row "$conns" thread "$thread_rps" "$thread_p99" $(($(peak_kib "$thread_pid") / 1024)) "$thread_err"
        if [ -n "$base_pid" ]; then
            row "$conns" base "$base_rps" "$base_p99" $(($(peak_kib "$base_pid") / 1024)) "$base_err"
        fi
        row "$conns" ceil "$ceil_rps" "$ceil_p99" $(($(peak_kib "$ceiling_pid") / 1024)) "$ceil_err"
        row "$conns" nginx "$ng_rps" "$ng_p99" $(($(peak_kib "$nginx_pid") / 1024)) "$ng_err"
        {
            echo "$conns ours/nginx $(ratio "$ours_rps" "$ng_rps")"
            echo "$conns thread/nginx $(ratio "$thread_rps" "$ng_rps")"
            echo "$conns p99-ms-ours $(awk -v t="$ours_p99" 'BEGIN {print (t ~ /us$/ ? t / 1000 : (t ~ /ms$/ ? t + 0 : t * 1000))}')"
            echo "$conns p99-ms-thread $(awk -v t="$thread_p99" 'BEGIN {print (t ~ /us$/ ? t / 1000 : (t ~ /ms$/ ? t + 0 : t * 1000))}')"
            echo "$conns p99-ms-nginx $(awk -v t="$ng_p99" 'BEGIN {print (t ~ /us$/ ? t / 1000 : (t ~ /ms$/ ? t + 0 : t * 1000))}')"
            echo "$conns cpu-us-ours $ours_cpu"
            echo "$conns cpu-us-thread $thread_cpu"
            echo "$conns ceiling/nginx $(ratio "$ceil_rps" "$ng_rps")"
            echo "$conns ours/ceiling $(ratio "$ours_rps" "$ceil_rps")"
            echo "$conns cpu-us-ceiling $ceil_cpu"
            if [ -n "$base_pid" ]; then
                echo "$conns base/nginx $(ratio "$base_rps" "$ng_rps")"
                echo "$conns ours/baseline $(ratio "$ours_rps" "$base_rps")"
                echo "$conns cpu-us-base $base_cpu"
            fi
        } | tee -a "$results" | awk '{printf "%-6s %s %s\n", $1, $2, $3}'
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$repeat" -gt 1 ]; then
    echo "--- medians of $repeat rounds"
    print_medians "$results" 32 256
fi
echo "log lines written by ours: $(cat "$work"/ours/logs/*.log | wc -l), with a thread each: $(cat "$work"/thread/logs/*.log | wc -l)"
