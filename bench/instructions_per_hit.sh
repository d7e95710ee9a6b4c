#!/usr/bin/env bash
# Counts what one hit costs in user space, exactly: the headless tracking server runs under
# callgrind (valgrind), default settings with both log files on and both screen logs off, and
# answers HITS single requests for GET /t.gif one after the other (the request wrk sends: Host
# and "Connection: close"). Prints per hit the instructions executed by all threads (listener,
# peer thread, libraries), the calls of malloc and of pthread_mutex_lock. Unlike requests/s
# these counts do not depend on what else runs on the machine, so a change of a few percent
# shows. SKAV_BASELINE=path/to/another/sk_kav counts that build too and prints the ratios;
# SCREENS=1 counts ours again with both screen logs on (stdout to /dev/null, as headless under
# a service manager) and prints what they add.
# Usage: bench/instructions_per_hit.sh [HITS] (default 300).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
hits=${1:-300}
dpkg-query -W -f='${Status}' valgrind 2>/dev/null | grep -q 'install ok installed' ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends valgrind; }
build_bench_server

work=$(mktemp -d)
server_pid=""
trap 'kill $server_pid 2>/dev/null || true; rm -rf "$work"' EXIT

hit() { # one request on its own connection; the answer is read to its end
    exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf 'GET /t.gif HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nConnection: close\r\n\r\n' "$1" >&3
    cat <&3 >/dev/null
    exec 3<&-
}

# Sums one callgrind dump: "instructions mallocs locks". Function names are compressed: the
# first mention of an id carries the name, later ones only the id.
totals() {
    awk '
        /^(c?fn)=\(/ {
            id = $1; sub(/^c?fn=/, "", id)
            if (NF > 1) { name = $0; sub(/^[^ ]* /, "", name); names[id] = name }
            if ($0 ~ /^cfn=/) callee = names[id]
            next
        }
        /^calls=/ {
            n = $1; sub(/^calls=/, "", n)
            if (callee == "malloc") mallocs += n
            if (callee ~ /^pthread_mutex_lock/) locks += n
            next
        }
        /^(summary|totals):/ { if (!ir) ir = $2 }
        END { print ir, mallocs + 0, locks + 0 }' "$1"
}

count() { # count BINARY NAME [SCREENS] -> "instructions mallocs locks" per hit
    local dir="$work/$2"
    mkdir -p "$dir/logs"
    cp content/* "$dir/"
    load_settings "$dir"
    [ -z "${3:-}" ] || sed -i 's/^LogToScreen=0/LogToScreen=1/' "$dir/sk_KAV.ini"
    local port
    port=$(free_port)
    valgrind --tool=callgrind --callgrind-out-file="$dir/cg.%p" "$1" --headless --dir "$dir" \
        --port "$port" >/dev/null 2>"$dir/valgrind.err" &
    server_pid=$!
    for _ in $(seq 150); do # up to 30 s for the start under valgrind
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.2
    done
    for _ in 1 2 3 4 5; do hit "$port"; done # first-use work (files, caches) is not counted
    sleep 0.5
    callgrind_control -z "$server_pid" >/dev/null 2>&1
    for _ in $(seq "$hits"); do hit "$port"; done
    sleep 0.5
    callgrind_control -d "$server_pid" >/dev/null 2>&1
    sleep 0.5
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
    local dump
    dump=$(ls -t "$dir"/cg.*.1 | head -1)
    totals "$dump" | awk -v n="$hits" '{printf "%.0f %.1f %.1f\n", $1 / n, $2 / n, $3 / n}'
}

printf '%-10s %14s %10s %10s\n' build instructions mallocs locks
read -r ours_ir ours_malloc ours_lock <<<"$(count build-bench/src/app/sk_kav ours)"
printf '%-10s %14s %10s %10s\n' ours "$ours_ir" "$ours_malloc" "$ours_lock"
if [ -n "${SKAV_BASELINE:-}" ]; then
    read -r base_ir base_malloc base_lock <<<"$(count "$SKAV_BASELINE" base)"
    printf '%-10s %14s %10s %10s\n' baseline "$base_ir" "$base_malloc" "$base_lock"
    awk -v a="$ours_ir" -v b="$base_ir" -v c="$ours_malloc" -v d="$base_malloc" \
        -v e="$ours_lock" -v f="$base_lock" \
        'BEGIN {printf "%-10s %14.3f %10.3f %10.3f\n", "ours/base", a / b, c / d, e / f}'
fi
if [ -n "${SCREENS:-}" ]; then
    read -r scr_ir scr_malloc scr_lock <<<"$(count build-bench/src/app/sk_kav screens 1)"
    printf '%-10s %14s %10s %10s\n' screens "$scr_ir" "$scr_malloc" "$scr_lock"
    awk -v a="$scr_ir" -v b="$ours_ir" -v c="$scr_malloc" -v d="$ours_malloc" \
        -v e="$scr_lock" -v f="$ours_lock" \
        'BEGIN {printf "%-10s %14.3f %10.3f %10.3f\n", "scr/ours", a / b, c / d, e / f}'
fi
