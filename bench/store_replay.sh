#!/usr/bin/env bash
# The shared store on this machine: a PostgreSQL server of the benchmark's own (default
# settings, so commits wait for the disk as a real one's do, its socket in a temporary
# directory), then
#  1. a spool of ROWS rows (default 1,000,000) replayed by a writer: rows a second (aim: at
#     least 50,000), beside the anchor, one COPY per spool file into a table without keys or
#     indexes (what COPY alone takes here);
#  2. one writer taking ROWS hits as fast as it delivers them, the database healthy;
#  3. the statistics of all those rows as the report reads them, and the table's bytes a row.
# Prints one line per figure.
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bin" ]; then
    apt-get update -qq && apt-get install -y -qq --no-install-recommends postgresql
    bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
fi
bash tools/deps.sh
cmake -S bench/store_replay -B build-bench/store_replay -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cmake --build build-bench/store_replay -j "$(nproc)" --target store_replay >/dev/null
probe=$PWD/build-bench/store_replay/store_replay

work=$(mktemp -d)
as_server() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
cleanup() {
    as_server "$bin/pg_ctl" -D "$work/pg/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
mkdir "$work/pg"
[ "$(id -u)" = 0 ] && chown postgres "$work/pg"
port=$(python3 -c 'import random, socket
while True:
    p = random.randint(20000, 32000); s = socket.socket()
    try: s.bind(("127.0.0.1", p)); print(p); break
    except OSError: pass')
as_server "$bin/initdb" -D "$work/pg/data" -A trust -U postgres -E UTF8 --locale=C >/dev/null
as_server "$bin/pg_ctl" -D "$work/pg/data" -w -l "$work/pg/server.log" \
    -o "-p $port -k $work/pg -c listen_addresses=" start >/dev/null
connection="host=$work/pg port=$port user=postgres dbname=postgres"

echo "load: $(uptime | sed 's/.*load average: //'), $(nproc) cores; PostgreSQL $("$bin/postgres" --version | awk '{print $3}')"
read -r filled fill_s bytes <<<"$("$probe" fill "$work/spool" "$rows")"
echo "spool: $filled rows, $((bytes / 1048576)) MiB, written in $fill_s s"
read -r anchor_rows anchor_s <<<"$("$probe" anchor "$connection" "$work/spool")"
read -r replayed replay_s _ _ <<<"$("$probe" replay "$connection" "$work/spool" 2>/dev/null)"
awk -v r="$replayed" -v s="$replay_s" -v ar="$anchor_rows" -v as="$anchor_s" 'BEGIN {
    printf "replay: %d rows in %.1f s = %.0f rows/s (aim >= 50000); anchor COPY without keys: %.0f rows/s; ratio %.2f\n",
        r, s, r / s, ar / as, (r / s) / (ar / as) }'
read -r delivered live_s spooled lost <<<"$("$probe" live "$connection" "$work/live-spool" "$rows" 2>/dev/null)"
awk -v r="$delivered" -v s="$live_s" -v sp="$spooled" -v l="$lost" 'BEGIN {
    printf "one writer, healthy database: %d rows in %.1f s = %.0f rows/s (%d spooled, %d lost)\n",
        r, s, r / s, sp, l }'
read -r counted read_s row_bytes <<<"$("$probe" read "$connection")"
awk -v r="$counted" -v s="$read_s" -v b="$row_bytes" 'BEGIN {
    printf "statistics of %d rows: %.1f s = %.0f rows/s; %d bytes a row with its indexes\n",
        r, s, r / s, b }'
