#!/usr/bin/env bash
# Hostile clients against the headless server (Release build, default limits, both log files
# on), one fresh server per attack. For each attack it prints what happened to the attacking
# connections, how many of 15 requests from 127.0.0.1 made while the attack runs were answered
# within 1 s, and the server's peak resident memory (VmHWM).
#   availability: 1000 idle connections from one address; 1000 trickling a byte every 5 s;
#     a burst of 2500 then silence; 1000 reopened as they close; 25 idle connections from each
#     of 50 addresses (127.0.0.2 to 127.0.0.51).
#   memory: 1000 connections (10 from each of 100 addresses) holding the largest allowed header
#     block; 1000 sending the largest allowed body but its last byte; 200 whole POSTs of the
#     largest allowed body at once; on the same port with a certificate, 1000 TLS connections
#     holding the 9 bytes of a hello's header that announces 131,000 bytes, and 1000 holding
#     30 KiB of a 31 KiB hello (beside the plain header blocks of the first memory attack).
# Usage: bash bench/connection_limits.sh [SECONDS]  (length of each availability attack, 40 by
# default: idle connections reach the server only after the kernel's 30 s deferral).
# ONLY=TEXT runs only the attacks whose title holds TEXT (ONLY=memory: the memory attacks).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-40}
ulimit -n "$(ulimit -Hn)"
if [ "$(ulimit -n)" -lt 8000 ]; then
    echo "need at least 8000 open files (ulimit -n), have $(ulimit -n)" >&2
    exit 1
fi
# -O2: gcc 12 at -O3 warns of string copies overlapping that cannot overlap.
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DSKAV_BUILD_GUI=OFF -DSKAV_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target sk_kav >/dev/null
g++ -O2 -std=c++20 -pthread bench/attack_client.cpp -o build-bench/attack_client
client=build-bench/attack_client
command -v openssl >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends openssl; }

work=$(mktemp -d)
server_pid=""
attack_pid=""
trap 'kill $server_pid $attack_pid 2>/dev/null || true; rm -rf "$work"' EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
    -subj /CN=stats.test -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

start_server() { # start_server [--cert FILE --key FILE]: sets server_pid and port
    rm -rf "$work/run"
    mkdir -p "$work/run/logs"
    cp content/* "$work/run/"
    printf '[General]\r\nLogDir=%s/run/logs/\r\n[OverviewLog]\r\nLogToScreen=0\r\nLogToFile=1\r\n[DetailLog]\r\nLogToScreen=0\r\nLogToFile=1\r\n' \
        "$work" >"$work/run/sk_KAV.ini"
    build-bench/src/app/sk_kav --headless --dir "$work/run" --port 0 "$@" 2>"$work/run/err" >/dev/null &
    server_pid=$!
    port=""
    for _ in $(seq 100); do
        port=$(grep -o 'listening on [][0-9.:]*:[0-9]*' "$work/run/err" | sed 's/.*://' || true)
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "the server did not start:" >&2; cat "$work/run/err" >&2; exit 1; }
}

stop_server() { # prints the peak memory and whether the server still answers
    local peak
    peak=$(awk '/VmHWM/ {print $2}' "/proc/$server_pid/status")
    printf '  server: peak resident %d MiB (%d KiB); ' $((peak / 1024)) "$peak"
    "$client" probe "$port" 1 0 | sed 's/probe: /after the attack /'
    kill "$server_pid"
    wait "$server_pid" || true
    server_pid=""
}

attack() { # attack TITLE SECONDS MODE ARGS...: the attack, with 15 probes while it runs
    local title=$1 length=$2 mode=$3
    shift 3
    [[ "$title" == *"${ONLY:-}"* ]] || return 0
    echo "== $title"
    if [ "$mode" = hello ]; then start_server --cert "$work/cert.pem" --key "$work/key.pem"; else start_server; fi
    "$client" "$mode" "$port" "$@" >"$work/attack.out" &
    attack_pid=$!
    sleep 1
    printf '  '
    "$client" probe "$port" 15 $(((length - 2) * 1000 / 15)) || true
    wait "$attack_pid" || true
    attack_pid=""
    printf '  '
    cat "$work/attack.out"
    stop_server
}

echo "load before: $(uptime)"
attack "one address, 1000 idle connections" "$seconds" idle 127.0.0.2 1000 "$seconds"
attack "one address, 1000 connections trickling a byte every 5 s" "$seconds" \
    trickle 127.0.0.2 1000 "$seconds"
attack "one address, a burst of 2500 connections, then silence" "$seconds" \
    idle 127.0.0.2 2500 "$seconds"
attack "one address, 1000 connections reopened as they close" "$seconds" \
    reopen 127.0.0.2 1000 "$seconds"
attack "50 addresses, 25 idle connections each" "$seconds" \
    idle 127.0.0.2-127.0.0.51 25 "$seconds"
attack "memory: 1000 connections holding a 32 KiB header block" 15 \
    headers 127.0.1.1-127.0.1.100 10 15 32766
attack "memory: 1000 connections sending a 64 KiB body but its last byte" 15 \
    bodies 127.0.1.1-127.0.1.100 10 15 65536
attack "memory: 200 whole POSTs of a 64 KiB body at once" 15 \
    posts 127.0.1.1-127.0.1.20 10 15 65536
attack "memory: 1000 TLS connections holding a hello's 9-byte header announcing 131,000 bytes" 15 \
    hello 127.0.1.1-127.0.1.100 10 15 0 131000
attack "memory: 1000 TLS connections holding 30 KiB of a partial handshake" 15 \
    hello 127.0.1.1-127.0.1.100 10 15 30720 31744
echo "load after: $(uptime)"
