#!/usr/bin/env bash
# What the shared store costs a hit, against the same build with it off, in the same rounds.
# wrk on loopback, one request per connection for GET /t.gif, 32 and 256 connections,
# DURATION seconds each (default 10), REPEAT rounds (default 5), then the medians. Every
# server keeps 64 threads, writes both log files and takes any number of connections from one
# address. Two PostgreSQL servers of the benchmark's own (sockets in a temporary directory):
#   off      [Store] Connection empty
#   store    the store on a healthy local database
#   stopped  the store on a database paused with SIGSTOP for the whole run: every batch waits
#            its 5 s and goes to the spool
# Prints each run's requests/s, p99 and the server's CPU time per request, then the ratios
# store/off and stopped/off (and of the CPU times: steadier on a shared machine) and the p99s
# (aim: within 5 %, and stopped's p99 no worse than store's), the rows the healthy database
# took beside the lines of that server's overview files, and for the paused one: the rows it
# spooled, its "not delivered" reports, how long the replay took once the database was back
# (at most 90 s), and the rows against its lines. DB_NICE=N runs the healthy database at that
# niceness: on a machine whose cores it shares with wrk and the server, that tells its own CPU
# time from what its preempting the server's threads costs them.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
duration=${1:-10}
repeat=${REPEAT:-5}
need_wrk
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bin" ]; then
    apt-get update -qq && apt-get install -y -qq --no-install-recommends postgresql
    bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
fi
build_bench_server

work=$(mktemp -d)
chmod 755 "$work"
pids=()
# A database's postmaster and its children. Not its session: each backend makes one of its own.
server_processes() {
    local postmaster
    postmaster=$(head -1 "$1/data/postmaster.pid")
    echo "$postmaster" $(pgrep -P "$postmaster")
}
as_server() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for db in healthy paused; do
        [ -f "$work/$db/data/postmaster.pid" ] &&
            kill -CONT $(server_processes "$work/$db") 2>/dev/null
        as_server "$bin/pg_ctl" -D "$work/$db/data" -m immediate stop >/dev/null 2>&1 || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

pg_port() { python3 -c 'import random, socket
while True:
    p = random.randint(20000, 32000); s = socket.socket()
    try: s.bind(("127.0.0.1", p)); print(p); break
    except OSError: pass'; }
declare -A connection pgport
for db in healthy paused; do
    mkdir "$work/$db"
    [ "$(id -u)" = 0 ] && chown postgres "$work/$db"
    p=$(pg_port)
    as_server "$bin/initdb" -D "$work/$db/data" -A trust -U postgres -E UTF8 --locale=C >/dev/null
    as_server "$bin/pg_ctl" -D "$work/$db/data" -w -l "$work/$db/server.log" \
        -o "-p $p -k $work/$db -c listen_addresses=" start >/dev/null
    connection[$db]="host=$work/$db port=$p user=postgres dbname=postgres"
    pgport[$db]=$p
done

declare -A port pid
start() { # start NAME CONNECTION
    local dir="$work/$1"
    mkdir -p "$dir/logs"
    cp content/* "$dir/"
    load_settings "$dir"
    printf 'ReuseThreads=64\r\n[Store]\r\nConnection=%s\r\n[Export]\r\nInstance=%s\r\n' "$2" "$1" >>"$dir/sk_KAV.ini"
    port[$1]=$(free_port)
    build-bench/src/app/sk_kav --headless --dir "$dir" --port "${port[$1]}" 2>"$work/$1.err" >/dev/null &
    pid[$1]=$!
    pids+=($!)
}
start off ""
start store "${connection[healthy]}"
start stopped "${connection[paused]}"
sleep 2
# The paused database: its postmaster and every backend (the writer's connection is made).
paused=$(server_processes "$work/paused")
kill -STOP $paused
# DB_NICE=N: the healthy database's processes (and the backends they start) at that niceness,
# so that its work is done when the cores would otherwise be idle.
[ -n "${DB_NICE:-}" ] && renice -n "$DB_NICE" -p $(server_processes "$work/healthy") >/dev/null

results="$work/results"
declare -A rps p99 cpu
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores${DB_NICE:+, healthy database at nice $DB_NICE}"
for round in $(seq 1 "$repeat"); do
    echo "--- round $round of $repeat"
    for conns in 32 256; do
        run_servers "$round" "$conns" off store stopped
        {
            echo "$conns store/off $(ratio "${rps[store]}" "${rps[off]}")"
            echo "$conns stopped/off $(ratio "${rps[stopped]}" "${rps[off]}")"
            echo "$conns cpu-off/store $(ratio "${cpu[off]}" "${cpu[store]}")"
            echo "$conns cpu-off/stopped $(ratio "${cpu[off]}" "${cpu[stopped]}")"
            echo "$conns p99-ms-off ${p99[off]}"
            echo "$conns p99-ms-store ${p99[store]}"
            echo "$conns p99-ms-stopped ${p99[stopped]}"
        } >>"$results"
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "--- medians of $repeat rounds"
print_medians "$results" 32 256
spooled() { cat "$work/stopped/sk_KAV.spool/"*.rows 2>/dev/null | wc -"$1"; }
echo "stopped: $(spooled c) bytes, $(spooled l) rows in its spool while paused"
grep -h "not delivered" "$work/stopped.err" | sed 's/^/stopped: /' || true
# The paused database back: the writer's next try (at most 16 s away, then 5 s to give up on
# the paused connection) finds it, and the spool is replayed; a stop sends or spools the rest.
kill -CONT $paused
waited=0
while [ "$(spooled c)" -gt 0 ] && [ "$waited" -lt 90 ]; do sleep 1; waited=$((waited + 1)); done
echo "stopped: spool replayed within $waited s of the database's return"
for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
wait "${pids[@]}" 2>/dev/null || true
pids=()
rows_of() { as_server "$bin/psql" -h "$work/$1" -p "${pgport[$1]}" -U postgres -At \
    -c 'SELECT count(*), count(DISTINCT (instance, start_id, seq)) FROM skav_hits' 2>/dev/null || echo "?"; }
echo "store: rows|distinct $(rows_of healthy) in the database, $(cat "$work/store/logs/"*.log | wc -l) lines in its overview files"
echo "stopped, after the database came back: rows|distinct $(rows_of paused), $(cat "$work/stopped/logs/"*.log | wc -l) lines, $(cat "$work/stopped/sk_KAV.spool/"*.rows 2>/dev/null | wc -c) bytes still spooled"
