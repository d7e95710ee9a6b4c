#!/usr/bin/env bash
# Loads the headless tracking server and nginx, one after the other, with wrk on loopback:
# one request per connection (Connection: close) for GET /t.gif, 32 and then 256 connections,
# DURATION seconds each (default 10). Both log files of ours are on, both screen logs off;
# nginx writes its combined access log. Prints requests/s, p99 latency and peak memory of
# each server and the ratio ours/nginx. SKAV_BASELINE=path/to/another/sk_kav (an earlier
# build) runs that one too, in turn with ours, and prints the ratio ours/baseline, also of
# the CPU time each spends per request (steadier than req/s on a machine others share).
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
need=()
for p in wrk nginx-light; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}"
    # Debian starts the packaged nginx on port 80; only ours is wanted.
    systemctl stop nginx 2>/dev/null || service nginx stop 2>/dev/null || true
fi
# -O2: gcc 12 at -O3 warns of string copies overlapping that cannot overlap.
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DSKAV_BUILD_GUI=OFF -DSKAV_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target sk_kav >/dev/null

work=$(mktemp -d)
chmod 755 "$work" # nginx workers read the GIF as another user
trap 'kill $ours_pid $base_pid $nginx_pid 2>/dev/null || true; rm -rf "$work"' EXIT
ours_pid=""
base_pid=""
nginx_pid=""
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Ours: program directory with the content files and a settings file. wrk is one client with
# many connections, so the limit of connections per address is lifted.
mkdir -p "$work/ours/logs"
cp content/* "$work/ours/"
printf '[General]\r\nLogDir=%s/ours/logs/\r\nMaxConnectionsPerIP=0\r\n[OverviewLog]\r\nLogToScreen=0\r\nLogToFile=1\r\n[DetailLog]\r\nLogToScreen=0\r\nLogToFile=1\r\n' "$work" >"$work/ours/sk_KAV.ini"
ours_port=$(free_port)
build-bench/src/app/sk_kav --headless --dir "$work/ours" --port "$ours_port" 2>"$work/ours.err" >/dev/null &
ours_pid=$!
if [ -n "${SKAV_BASELINE:-}" ]; then
    mkdir -p "$work/base/logs"
    cp content/* "$work/base/"
    sed "s#$work/ours/logs/#$work/base/logs/#" "$work/ours/sk_KAV.ini" >"$work/base/sk_KAV.ini"
    base_port=$(free_port)
    "$SKAV_BASELINE" --headless --dir "$work/base" --port "$base_port" 2>"$work/base.err" >/dev/null &
    base_pid=$!
fi

# nginx: the same GIF, combined access log, no keep-alive.
nginx_port=$(free_port)
mkdir -p "$work/nginx/html" "$work/nginx/logs"
cp content/1x1.gif "$work/nginx/html/t.gif"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
daemon off;
events { worker_connections 4096; }
http {
    access_log $work/nginx/logs/access.log combined;
    keepalive_timeout 0;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/nginx/html;
        location / { add_header Cache-Control no-cache; }
    }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
sleep 1

peak_kib() { # peak resident memory of a process and its children (KiB)
    local total=0
    for pid in $1 $(pgrep -P "$1" || true); do
        v=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        total=$((total + ${v:-0}))
    done
    echo "$total"
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; } # user and system time, all threads

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

printf '%-6s %-6s %12s %10s %10s  %s\n' conns server req/s p99 peakMiB errors
for conns in 32 256; do
    IFS='|' read -r ours_rps ours_p99 ours_err ours_cpu <<<"$(run_wrk "$ours_port" "$conns" "$ours_pid")"
    if [ -n "$base_pid" ]; then
        IFS='|' read -r base_rps base_p99 base_err base_cpu <<<"$(run_wrk "$base_port" "$conns" "$base_pid")"
    fi
    IFS="|" read -r ng_rps ng_p99 ng_err _ <<<"$(run_wrk "$nginx_port" "$conns")"
    ours_mem=$(($(peak_kib "$ours_pid") / 1024))
    ng_mem=$(($(peak_kib "$nginx_pid") / 1024))
    printf '%-6s %-6s %12s %10s %10s  %s\n' "$conns" ours "$ours_rps" "$ours_p99" "$ours_mem" "$ours_err"
    if [ -n "$base_pid" ]; then
        base_mem=$(($(peak_kib "$base_pid") / 1024))
        printf '%-6s %-6s %12s %10s %10s  %s\n' "$conns" base "$base_rps" "$base_p99" "$base_mem" "$base_err"
    fi
    printf '%-6s %-6s %12s %10s %10s  %s\n' "$conns" nginx "$ng_rps" "$ng_p99" "$ng_mem" "$ng_err"
    awk -v a="$ours_rps" -v b="$ng_rps" -v c="$conns" 'BEGIN {printf "%-6s ratio ours/nginx %.2f\n", c, a / b}'
    if [ -n "$base_pid" ]; then
        awk -v a="$ours_rps" -v b="$base_rps" -v c="$conns" 'BEGIN {printf "%-6s ratio ours/baseline %.3f\n", c, a / b}'
        awk -v a="$ours_cpu" -v b="$base_cpu" -v c="$conns" \
            'BEGIN {printf "%-6s CPU us per request: ours %.1f, baseline %.1f, ratio %.3f\n", c, a, b, a / b}'
    fi
done
echo "log lines written by ours: $(cat "$work"/ours/logs/*.log | wc -l)"
