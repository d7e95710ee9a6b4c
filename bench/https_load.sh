#!/usr/bin/env bash
# HTTPS and plain HTTP on the tracking server's one port, under wrk on loopback, one request
# per connection (Connection: close), 32 and then 256 connections, DURATION seconds each
# (default 10). Every server writes its log files (ours both, nginx its combined access log).
#   HTTPS: ours against nginx with the same ECDSA P-256 certificate; wrk is made to forget its
#     TLS sessions (bench/full_handshake.c), so every connection is a full handshake. Prints
#     requests/s, p99 and the ratio ours/nginx (aim: 0.5 or more), and ours' peak memory (VmHWM)
#     after the 256-connection run (aim: below 64 MiB).
#   Plain: ours (with the certificate, so every connection is looked at) against a build of
#     the branch point (SKAV_BASE_REF, default: the merge base with main), ROUNDS rounds in
#     turn (default 3); prints the medians, their ratio (aim: 0.95 or more) and the CPU time
#     each spends per request (steadier on a shared machine).
# The load average is printed before and after: the machine may be shared.
# Usage: bash bench/https_load.sh [DURATION] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
duration=${1:-10}
rounds=${2:-3}
base_ref=${SKAV_BASE_REF:-$(git merge-base HEAD main)}
need=()
for p in wrk nginx-light gcc libssl-dev openssl; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}"
    systemctl stop nginx 2>/dev/null || service nginx stop 2>/dev/null || true
fi

# Ours and the branch point, both as Release builds without the window.
configure() { # configure SOURCE BUILD
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DSKAV_BUILD_GUI=OFF -DSKAV_BUILD_TESTS=OFF >/dev/null
    cmake --build "$2" -j "$(nproc)" --target sk_kav >/dev/null
}
configure . build-bench
rm -rf build-bench-base
mkdir -p build-bench-base/source
git archive "$base_ref" | tar -x -C build-bench-base/source
configure build-bench-base/source build-bench-base/build
gcc -shared -fPIC -O2 bench/full_handshake.c -o build-bench/full_handshake.so -ldl

work=$(mktemp -d)
chmod 755 "$work" # nginx workers read the GIF and nothing else as another user
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
    -subj /CN=stats.test -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
chmod 644 "$work/key.pem"

start_ours() { # start_ours NAME BINARY [--cert ...]: sets port, pid; wrk is one address
    local name=$1 binary=$2
    shift 2
    mkdir -p "$work/$name/logs"
    cp content/* "$work/$name/"
    load_settings "$work/$name"
    port=$(free_port)
    "$binary" --headless --dir "$work/$name" --port "$port" "$@" 2>"$work/$name.err" >/dev/null &
    pid=$!
    pids+=("$pid")
    for _ in $(seq 50); do grep -qs 'listening on' "$work/$name.err" && break; sleep 0.1; done
}

start_ours ours build-bench/src/app/sk_kav --cert "$work/cert.pem" --key "$work/key.pem"
ours_port=$port ours_pid=$pid
grep -q 'HTTPS with the certificate' "$work/ours.err" || { cat "$work/ours.err"; exit 1; }
start_ours base build-bench-base/build/src/app/sk_kav
base_port=$port base_pid=$pid

nginx_port=$(free_port)
start_nginx "$work/nginx" "$nginx_port" \
    "    ssl_protocols TLSv1.2 TLSv1.3; ssl_session_cache off; ssl_session_tickets off;" " ssl" \
    "        ssl_certificate $work/cert.pem; ssl_certificate_key $work/key.pem;"
pids+=("$nginx_pid")


run_wrk() { # run_wrk URL CONNECTIONS [PID] [PRELOAD] -> "rps|p99|errors|cpu-us-per-request"
    local before after out
    before=$([ -n "${3:-}" ] && cpu_ticks "$3" || echo 0)
    out=$(LD_PRELOAD=${4:-} wrk -t 2 -c "$2" -d "${duration}s" --latency -H 'Connection: close' "$1")
    after=$([ -n "${3:-}" ] && cpu_ticks "$3" || echo 0)
    local rps p99 errors requests
    rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
    p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
    errors=$(awk '/Socket errors|Non-2xx/ {s = s $0 "; "} END {print (s == "" ? "none" : s)}' <<<"$out")
    requests=$(awk '/requests in/ {print $1}' <<<"$out")
    echo "$rps|$p99|$errors|$(awk -v t=$((after - before)) -v r="$requests" -v hz="$(getconf CLK_TCK)" \
        'BEGIN {printf "%.1f", t * 1e6 / hz / r}')"
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== HTTPS, a full handshake per request (ours with --cert, nginx with the same pair)"
printf '%-6s %-6s %12s %10s  %s\n' conns server req/s p99 errors
preload=$PWD/build-bench/full_handshake.so
for conns in 32 256; do
    IFS='|' read -r o_rps o_p99 o_err _ <<<"$(run_wrk "https://127.0.0.1:$ours_port/t.gif" "$conns" "" "$preload")"
    IFS='|' read -r n_rps n_p99 n_err _ <<<"$(run_wrk "https://127.0.0.1:$nginx_port/t.gif" "$conns" "" "$preload")"
    printf '%-6s %-6s %12s %10s  %s\n' "$conns" ours "$o_rps" "$o_p99" "$o_err"
    printf '%-6s %-6s %12s %10s  %s\n' "$conns" nginx "$n_rps" "$n_p99" "$n_err"
    awk -v a="$o_rps" -v b="$n_rps" -v c="$conns" 'BEGIN {printf "%-6s ratio ours/nginx %.2f\n", c, a / b}'
done
peak=$(awk '/VmHWM/ {print $2}' "/proc/$ours_pid/status")
echo "ours' peak resident memory after 256 TLS connections: $((peak / 1024)) MiB ($peak KiB)"

echo "== plain HTTP, ours (TLS-ready port) against the branch point $(git rev-parse --short "$base_ref"), $rounds rounds"
for conns in 32 256; do
    o_all="" b_all="" o_cpu_all="" b_cpu_all=""
    for _ in $(seq "$rounds"); do
        IFS='|' read -r rps _ _ cpu <<<"$(run_wrk "http://127.0.0.1:$ours_port/t.gif" "$conns" "$ours_pid")"
        o_all="$o_all $rps" o_cpu_all="$o_cpu_all $cpu"
        IFS='|' read -r rps _ _ cpu <<<"$(run_wrk "http://127.0.0.1:$base_port/t.gif" "$conns" "$base_pid")"
        b_all="$b_all $rps" b_cpu_all="$b_cpu_all $cpu"
    done
    o=$(median <<<"$o_all") b=$(median <<<"$b_all")
    oc=$(median <<<"$o_cpu_all") bc=$(median <<<"$b_cpu_all")
    echo "$conns conns: ours req/s$o_all (median $o); base$b_all (median $b)"
    awk -v a="$o" -v b="$b" -v c="$conns" -v x="$oc" -v y="$bc" 'BEGIN {
        printf "%-6s ratio ours/base %.3f; CPU us per request: ours %.1f, base %.1f, ratio %.3f\n",
            c, a / b, x, y, x / y }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "log lines written by ours: $(cat "$work"/ours/logs/*.log | wc -l)"
