#!/usr/bin/env bash
# The dashboard's answers and what it costs the tracking port, on the headless server (a
# Release build), with curl and wrk on loopback:
#  - today's view with a 1,000,000-line day counted in memory (limit 50 ms);
#  - 30 days of 100,000 lines each after the first view made their summaries (limit 200 ms);
#  - 365 days of 100,000 lines each after the first view (limit 1 s);
#  - peak memory against the same server without the dashboard (limit 64 MiB more);
#  - requests/s of the tracking port while something loads the dashboard's page, style,
#    script and JSON every second, against the same server without the dashboard, in
#    alternating rounds of SECONDS each (limit: 3 % less at the median), with the CPU time
#    each server spends per request (steadier than requests/s on a machine others share).
# The past days are one 100,000-line file linked under each day's name (the count does not
# look at a line's date), so the year takes the disk of one day. Prints the medians and PASS or
# FAIL; the load average before and after says how busy the machine was.
# Usage: bash bench/dashboard.sh [ROUNDS] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
rounds=${1:-5}
seconds=${2:-5}
need=()
for p in wrk curl; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
[ "${#need[@]}" -eq 0 ] || { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}"; }
bash tools/deps.sh
build_bench_server

work=$(mktemp -d)
with_pid=""
without_pid=""
refresher_pid=""
trap 'kill $with_pid $without_pid $refresher_pid 2>/dev/null || true; rm -rf "$work"' EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# Two program directories: "with" the dashboard and a year of logs, "without" it.
for name in with without; do
    mkdir -p "$work/$name/logs"
    cp content/* "$work/$name/"
    load_settings "$work/$name"
done
dashboard_port=$(free_port)
printf '[Dashboard]\r\nPort=%s\r\n' "$dashboard_port" >>"$work/with/sk_KAV.ini"
overview_day 1000000 "$(date +%d/%b/%Y)" >"$work/with/logs/$(date +%Y%m%d).log"
overview_day 100000 "$(date +%d/%b/%Y)" >"$work/day.log"
for back in $(seq 1 364); do
    ln "$work/day.log" "$work/with/logs/$(date -d "$back days ago" +%Y%m%d).log"
done
echo "logs: today 1,000,000 lines; each of the 364 days before it 100,000 lines"

start() { # start NAME: the headless server; prints its pid, its tracking port in $work/NAME.port
    local port
    port=$(free_port)
    echo "$port" >"$work/$1.port"
    build-bench/src/app/sk_kav --headless --dir "$work/$1" --port "$port" 2>"$work/$1.err" >/dev/null &
    echo $!
}
with_pid=$(start with)
without_pid=$(start without)
with_port=$(cat "$work/with.port")
without_port=$(cat "$work/without.port")
for _ in $(seq 100); do grep -q "Dashboard started" "$work/with.err" && break; sleep 0.1; done
grep -q "Dashboard started" "$work/with.err" || { cat "$work/with.err"; exit 1; }

dash="http://127.0.0.1:$dashboard_port"
ms() { curl -s -o /dev/null -w '%{time_total}\n' "$1" | awk '{printf "%.1f\n", $1 * 1000}'; }
times() { # times URL N: the median of N answers (ms)
    for _ in $(seq "$2"); do ms "$1"; done | median
}
verdict=PASS
check() { # check WHAT VALUE LIMIT
    local ok
    ok=$(awk -v v="$2" -v l="$3" 'BEGIN {print (v < l) ? "ok" : "over"}')
    [ "$ok" = ok ] || verdict=FAIL
    printf '%-44s %10s (limit %s) %s\n' "$1" "$2" "$3" "$ok"
}

from30=$(date -d "29 days ago" +%Y%m%d)
from365=$(date -d "364 days ago" +%Y%m%d)
to=$(date +%Y%m%d)
echo "first views (today's file read, summaries made):"
printf '  today                %8s ms\n' "$(ms "$dash/?range=today")"
printf '  30 days              %8s ms\n' "$(ms "$dash/?range=30d")"
printf '  365 days             %8s ms\n' "$(ms "$dash/?from=$from365&to=$to")"
check "today, page (ms, median of 20)" "$(times "$dash/?range=today" 20)" 50
check "today, JSON (ms, median of 20)" "$(times "$dash/api/stats" 20)" 50
check "30 days, page (ms, median of 10)" "$(times "$dash/?range=30d" 10)" 200
check "365 days, page (ms, median of 5)" "$(times "$dash/?from=$from365&to=$to" 5)" 1000
check "365 days, JSON (ms, median of 5)" "$(times "$dash/api/stats?from=$from365&to=$to" 5)" 1000

# Something that loads the page like a browser every second, and the JSON now and then.
refresh() {
    while true; do
        for path in "/?range=today" /dashboard.css /dashboard.js /favicon.svg /api/stats; do
            curl -s -o /dev/null "$dash$path" || true
        done
        sleep 1
    done
}
# run PORT PID -> "req/s cpu-us-per-request" of one wrk run against that server.
run() {
    local before after out
    before=$(cpu_ticks "$2")
    out=$(wrk -t 2 -c 32 -d "${seconds}s" -H 'Connection: close' "http://127.0.0.1:$1/t.gif")
    after=$(cpu_ticks "$2")
    awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" '
        /Requests\/sec/ {rps = $2} /requests in/ {n = $1}
        END {printf "%s %.1f\n", rps, t * 1e6 / hz / n}' <<<"$out"
}
refresh &
refresher_pid=$!
: >"$work/ratios"
: >"$work/cpu"
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
        read -r a ac <<<"$(run "$with_port" "$with_pid")"
        read -r b bc <<<"$(run "$without_port" "$without_pid")"
    else
        read -r b bc <<<"$(run "$without_port" "$without_pid")"
        read -r a ac <<<"$(run "$with_port" "$with_pid")"
    fi
    printf '  round %d: with the dashboard %s req/s (%s us CPU each), without %s req/s (%s us)\n' \
        "$round" "$a" "$ac" "$b" "$bc"
    awk -v a="$a" -v b="$b" 'BEGIN {printf "%.4f\n", a / b}' >>"$work/ratios"
    awk -v a="$ac" -v b="$bc" 'BEGIN {printf "%.4f\n", a / b}' >>"$work/cpu"
done
kill "$refresher_pid" 2>/dev/null || true
refresher_pid=""
ratio=$(median <"$work/ratios")
loss=$(awk -v r="$ratio" 'BEGIN {printf "%.1f", (1 - r) * 100}')
check "tracking port: requests/s lost (%, median)" "$loss" 3
echo "  CPU time per request with/without the dashboard (median): $(median <"$work/cpu")"

hwm() { awk '/VmHWM/ {print $2}' "/proc/$1/status"; }
more=$(awk -v a="$(hwm "$with_pid")" -v b="$(hwm "$without_pid")" 'BEGIN {printf "%.1f", (a - b) / 1024}')
check "peak memory more than without (MiB)" "$more" 64
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$verdict"
[ "$verdict" = PASS ]
