#!/usr/bin/env bash
# What the privacy settings cost a hit, and an erasure under load.
#  1. Throughput: two headless servers of the same build, "off" (every [Privacy] switch off)
#     and "on" (MaskAddresses, VisitorIds and RedactCredentials on), loaded in turn with wrk on
#     loopback, one request per connection, 32 connections, DURATION seconds (default 10),
#     REPEAT rounds (default 5). Each request carries a Cookie and an Authorization header (the
#     redaction has work). Prints each run's requests/s and CPU microseconds per request, then
#     the medians and the ratios on/off.
#  2. Erasure: a day file of 1,000,000 combined lines, half of them of 203.0.113.7, while the
#     server takes about 2,000 hits/s (wrk, 20 connections each waiting 10 ms between its
#     requests); sk_kav --erase 203.0.113.7 runs in the middle of the load. Prints how long the
#     erasure took, how many hits the load had answered and how many of them the file holds
#     afterwards (they must agree), and how many lines of the address are left (must be 0).
# The load average is printed before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
duration=${1:-10}
repeat=${REPEAT:-5}
need_wrk
build_bench_server
program=build-bench/src/app/sk_kav

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# prepare NAME PRIVACY-LINES: a program directory $work/NAME with its settings.
prepare() {
    mkdir -p "$work/$1/logs"
    cp content/* "$work/$1/"
    load_settings "$work/$1"
    printf '[Privacy]\r\n%s' "$2" >>"$work/$1/sk_KAV.ini"
}

# server NAME [PRIVACY-LINES]: starts ours on a free port in $work/NAME; sets port and pid.
server() {
    [ -n "${2:-}" ] && prepare "$1" "$2"
    port=$(free_port)
    "$program" --headless --dir "$work/$1" --port "$port" 2>"$work/$1.err" >/dev/null &
    pid=$!
    pids+=("$pid")
    sleep 1
}

server off $'MaskAddresses=0\r\nVisitorIds=0\r\nRedactCredentials=0\r\nHonourDoNotTrack=0\r\n'
off_port=$port off_pid=$pid
server on $'MaskAddresses=1\r\nVisitorIds=1\r\nRedactCredentials=1\r\nHonourDoNotTrack=0\r\n'
on_port=$port on_pid=$pid

run_wrk() { # run_wrk PORT PID -> "rps cpu-us-per-request"
    local out before after requests
    before=$(cpu_ticks "$2")
    out=$(wrk -t 2 -c 32 -d "${duration}s" -H 'Connection: close' -H 'User-Agent: Mozilla/5.0' \
        -H 'Cookie: sid=0123456789abcdef0123456789abcdef' \
        -H 'Authorization: Basic Ym9iOnNlY3JldA==' "http://127.0.0.1:$1/t.gif?page=%2Fa")
    after=$(cpu_ticks "$2")
    requests=$(awk '/requests in/ {print $1}' <<<"$out")
    echo "$(awk '/Requests\/sec/ {print $2}' <<<"$out") $(awk -v t=$((after - before)) \
        -v r="$requests" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.1f", t * 1e6 / hz / r}')"
}

results="$work/results"
printf '%-6s %-4s %12s %14s\n' round name req/s cpu-us/req
for round in $(seq 1 "$repeat"); do
    # The order alternates, so that neither always runs on a warmer or busier machine.
    names=(off on)
    [ $((round % 2)) -eq 0 ] && names=(on off)
    for name in "${names[@]}"; do
        p=${name}_port q=${name}_pid
        read -r rps cpu <<<"$(run_wrk "${!p}" "${!q}")"
        printf '%-6s %-4s %12s %14s\n' "$round" "$name" "$rps" "$cpu"
        echo "$name rps $rps" >>"$results"
        echo "$name cpu $cpu" >>"$results"
    done
done
med() { awk -v n="$1" -v k="$2" '$1 == n && $2 == k {print $3}' "$results" | median; }
echo "medians: off $(med off rps) req/s, $(med off cpu) us/req; on $(med on rps) req/s, $(med on cpu) us/req"
echo "ratio on/off: req/s $(ratio "$(med on rps)" "$(med off rps)"), cpu per request $(ratio "$(med on cpu)" "$(med off cpu)")"
kill "$off_pid" "$on_pid" 2>/dev/null || true

# The erasure: a seeded day under a paced load, full addresses (the load's hits are 127.0.0.1).
prepare erase $'MaskAddresses=0\r\nVisitorIds=0\r\n'
day=$(date +%Y%m%d)
python3 - "$work/erase/logs/$day.log" <<'PY'
import sys
line = ' - - [07/Dec/2026:14:03:07 +0100] "GET /t.gif page=%2Fa HTTP/1.1" 200 43 "" "Mozilla/5.0"\r\n'
with open(sys.argv[1], 'w', newline='') as f:
    for i in range(1000000):
        f.write(('203.0.113.7' if i % 2 else '198.51.100.%d' % (i % 250)) + line)
PY
server erase
cat >"$work/paced.lua" <<'LUA'
function delay() return 10 end
LUA
load_seconds=$((duration < 10 ? 10 : duration))
wrk -t 2 -c 20 -d "${load_seconds}s" -s "$work/paced.lua" -H 'Connection: close' \
    "http://127.0.0.1:$port/t.gif?page=%2Fload" >"$work/paced.out" &
wrk_pid=$!
sleep $((load_seconds / 3))
start=$(date +%s.%N)
"$program" --erase 203.0.113.7 --dir "$work/erase" >"$work/erase.out"
end=$(date +%s.%N)
wait "$wrk_pid"
sleep 1 # the last answers are recorded just after they are sent
answered=$(awk '/requests in/ {print $1}' "$work/paced.out")
cat "$work/erase.out"
echo "erasure of 500,000 of 1,000,000 lines took $(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}') s under $(awk '/Requests\/sec/ {print $2}' "$work/paced.out") hits/s"
echo "load hits answered: $answered, in the file: $(grep -c '^127\.0\.0\.1 ' "$work/erase/logs/$day.log")," \
    "lines of the erased address left: $(grep -c '^203\.0\.113\.7 ' "$work/erase/logs/$day.log" || true)," \
    "other seeded lines: $(grep -c '^198\.51\.100\.' "$work/erase/logs/$day.log") of 500000"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
