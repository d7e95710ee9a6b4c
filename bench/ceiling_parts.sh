#!/usr/bin/env bash
# Where a hit's time goes with a new thread per connection. The minimal server of our shape
# (bench/thread_per_connection.cpp) runs plain ("ceiling"), then with the system calls ours
# must make per hit ("+calls"), then also with USER_US microseconds of user-space work per hit
# that touch no memory ("+calls+user", default 12). Ours runs with the default settings but a
# new thread per connection (ReuseThreads=0), both log files on, both screen logs off. wrk loads them in turn on loopback: one request per
# connection for GET /t.gif, 32 and then 256 connections, SECONDS each (default 5), ROUNDS
# times (default 5). Prints per round requests/s and the user and system CPU time each server
# spends per request (from /proc; the split is sampled at clock ticks), then the medians and
# each server's requests/s against the ceiling's. SKAV_BASELINE=path/to/another/sk_kav (an
# earlier build) runs that one too ("baseline"), with ours' settings, in the same rounds.
#
# Read it as: "+calls" against the ceiling is what the required system calls cost; ours'
# user time against "+calls" is what our code adds; "+calls+user" with USER_US set to that
# difference shows whether user time alone explains where ours lands.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
duration=${1:-5}
rounds=${2:-5}
user_us=${USER_US:-12}
dpkg-query -W -f='${Status}' wrk 2>/dev/null | grep -q 'install ok installed' ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends wrk; }
build_bench_server
g++ -O2 -std=c++20 -pthread -Wall -Wextra bench/thread_per_connection.cpp -o build-bench/thread_per_connection

work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
names=(ceiling +calls +calls+user ours)
[ -n "${SKAV_BASELINE:-}" ] && names+=(baseline)
ports=()
minimal=build-bench/thread_per_connection
for name in "${names[@]}"; do
    port=$(free_port)
    dir="$work/$name"
    mkdir -p "$dir/logs"
    cp content/* "$dir/"
    case $name in
    ours | baseline)
        load_settings "$dir"
        sed -i 's#^MaxConnectionsPerIP=0#&\r\nReuseThreads=0#' "$dir/sk_KAV.ini"
        program=build-bench/src/app/sk_kav
        [ "$name" = baseline ] && program=$SKAV_BASELINE
        "$program" --headless --dir "$dir" --port "$port" >/dev/null 2>&1 &
        ;;
    ceiling) "$minimal" "$port" "$dir/1x1.gif" "$dir/logs/hits.log" & ;;
    +calls) "$minimal" "$port" "$dir/1x1.gif" "$dir/logs/hits.log" --required & ;;
    +calls+user)
        "$minimal" "$port" "$dir/1x1.gif" "$dir/logs/hits.log" --required --user-us "$user_us" &
        ;;
    esac
    pids+=($!)
    ports+=("$port")
done
sleep 1

results="$work/results" # lines: conns name rps user-us sys-us
hz=$(getconf CLK_TCK)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); +calls+user spends $user_us us per hit"
for round in $(seq 1 "$rounds"); do
    for conns in 32 256; do
        for i in "${!names[@]}"; do
            url="http://127.0.0.1:${ports[$i]}/t.gif"
            read -r user0 sys0 < <(awk '{print $14, $15}' "/proc/${pids[$i]}/stat")
            out=$(wrk -t 2 -c "$conns" -d "${duration}s" -H 'Connection: close' "$url")
            read -r user1 sys1 < <(awk '{print $14, $15}' "/proc/${pids[$i]}/stat")
            u=$((user1 - user0)) s=$((sys1 - sys0))
            awk -v c="$conns" -v n="${names[$i]}" -v u="$u" -v s="$s" -v hz="$hz" '
                /requests in/ {r = $1}
                /Requests\/sec/ {rps = $2}
                END {printf "%s %s %.0f %.1f %.1f\n", c, n, rps, u * 1e6 / hz / r, s * 1e6 / hz / r}' \
                <<<"$out" | tee -a "$results" | awk -v round="$round" '
                {printf "round %-3s %-4s %-12s req/s %7s  user-us %5s  sys-us %5s\n", round, $1, $2, $3, $4, $5}'
        done
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "--- medians of $rounds rounds"
median() {
    sort -g | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'
}
pick() { # pick CONNS NAME FIELD: the median of that field over the rounds
    awk -v c="$1" -v n="$2" -v f="$3" '$1 == c && $2 == n {print $f}' "$results" | median
}
for conns in 32 256; do
    ceiling=$(pick "$conns" ceiling 3)
    for name in "${names[@]}"; do
        rps=$(pick "$conns" "$name" 3)
        printf '%-4s %-12s req/s %7s  /ceiling %s  user-us %5s  sys-us %5s\n' "$conns" "$name" \
            "$rps" "$(awk -v a="$rps" -v b="$ceiling" 'BEGIN {printf "%.3f", a / b}')" \
            "$(pick "$conns" "$name" 4)" "$(pick "$conns" "$name" 5)"
    done
done
