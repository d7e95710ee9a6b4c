#!/usr/bin/env bash
# Loads the headless tracking server and nginx, one after the other, with wrk on loopback:
# one request per connection (Connection: close) for GET /t.gif, 32 and then 256 connections,
# DURATION seconds each (default 10). Both log files of ours are on, both screen logs off;
# nginx writes its combined access log. Prints requests/s, p99 latency and peak memory of
# each server and the ratio ours/nginx. With SKAV_BASE naming another checkout (say the branch
# point: git worktree add /tmp/base main), its build runs too, as the anchor "base", and the
# ratio ours/base is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
base=${SKAV_BASE:-}
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
if [ -n "$base" ]; then
    cmake -S "$base" -B "$base/build-bench" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DSKAV_BUILD_GUI=OFF -DSKAV_BUILD_TESTS=OFF >/dev/null
    cmake --build "$base/build-bench" -j "$(nproc)" --target sk_kav >/dev/null
fi

work=$(mktemp -d)
chmod 755 "$work" # nginx workers read the GIF as another user
trap 'kill $ours_pid $base_pid $nginx_pid 2>/dev/null || true; rm -rf "$work"' EXIT
ours_pid=""
base_pid=""
nginx_pid=""
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# Ours: program directory with the content files and a settings file. wrk is one client with
# many connections, so the limit of connections per address is lifted.
start_ours() { # start_ours NAME BINARY -> the pid; the port in NAME_port
    mkdir -p "$work/$1/logs"
    cp content/* "$work/$1/"
    printf '[General]\r\nLogDir=%s/%s/logs/\r\nMaxConnectionsPerIP=0\r\n[OverviewLog]\r\nLogToScreen=0\r\nLogToFile=1\r\n[DetailLog]\r\nLogToScreen=0\r\nLogToFile=1\r\n' "$work" "$1" >"$work/$1/sk_KAV.ini"
    printf -v "$1_port" '%s' "$(free_port)"
    local port_var="$1_port"
    "$2" --headless --dir "$work/$1" --port "${!port_var}" 2>"$work/$1.err" >/dev/null &
}
start_ours ours build-bench/src/app/sk_kav
ours_pid=$!
if [ -n "$base" ]; then
    start_ours base "$base/build-bench/src/app/sk_kav"
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

run_wrk() { # run_wrk PORT CONNECTIONS -> "rps p99 errors"
    local out
    out=$(wrk -t 2 -c "$2" -d "${duration}s" --latency -H 'Connection: close' "http://127.0.0.1:$1/t.gif")
    local rps p99 errors
    rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
    p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
    errors=$(awk '/Socket errors|Non-2xx/ {s = s $0 "; "} END {print (s == "" ? "none" : s)}' <<<"$out")
    echo "$rps|$p99|$errors"
}

printf '%-6s %-6s %12s %10s %10s  %s\n' conns server req/s p99 peakMiB errors
for conns in 32 256; do
    IFS='|' read -r ours_rps ours_p99 ours_err <<<"$(run_wrk "$ours_port" "$conns")"
    if [ -n "$base" ]; then
        IFS='|' read -r base_rps base_p99 base_err <<<"$(run_wrk "$base_port" "$conns")"
    fi
    IFS='|' read -r ng_rps ng_p99 ng_err <<<"$(run_wrk "$nginx_port" "$conns")"
    ours_mem=$(($(peak_kib "$ours_pid") / 1024))
    ng_mem=$(($(peak_kib "$nginx_pid") / 1024))
    printf '%-6s %-6s %12s %10s %10s  %s\n' "$conns" ours "$ours_rps" "$ours_p99" "$ours_mem" "$ours_err"
    if [ -n "$base" ]; then
        base_mem=$(($(peak_kib "$base_pid") / 1024))
        printf '%-6s %-6s %12s %10s %10s  %s\n' "$conns" base "$base_rps" "$base_p99" "$base_mem" "$base_err"
    fi
    printf '%-6s %-6s %12s %10s %10s  %s\n' "$conns" nginx "$ng_rps" "$ng_p99" "$ng_mem" "$ng_err"
    awk -v a="$ours_rps" -v b="$ng_rps" -v c="$conns" 'BEGIN {printf "%-6s ratio ours/nginx %.2f\n", c, a / b}'
    if [ -n "$base" ]; then
        awk -v a="$ours_rps" -v b="$base_rps" -v c="$conns" 'BEGIN {printf "%-6s ratio ours/base %.3f\n", c, a / b}'
    fi
done
echo "log lines written by ours: $(cat "$work"/ours/logs/*.log | wc -l)"
