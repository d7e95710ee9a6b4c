#!/usr/bin/env bash
# Runs the service unit's command line as systemd would, but without systemd: as an
# unprivileged user that holds only CAP_NET_BIND_SERVICE, on port 88, with the state and log
# directories in a scratch folder. It must start, fill its directory, answer, log, show its
# dashboard on 127.0.0.1:8089 (the example settings') and stop on SIGTERM with status 0. The
# run is in a private network namespace (its own loopback, so ports 88 and 8089 collide with
# nothing) and a private mount namespace (the scratch folder is mounted over /var/lib and
# /var/log there only). Needs root; skips with a message where it cannot.
# Usage: tests/dist/service.sh UNIT-FILE
set -euo pipefail
unit=${1:?unit file}

skip() { echo "service test: SKIPPED: $*"; exit 0; }
[ "$(id -u)" = 0 ] || skip "needs root to make namespaces and drop to another user"
for tool in unshare setpriv ip mount; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
unshare --net --mount true 2>/dev/null || skip "this machine does not allow new namespaces"

exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ -n "$exec_start" ] || { echo "service test: no ExecStart in $unit"; exit 1; }
read -r -a command <<<"$exec_start"
[ -x "${command[0]}" ] || { echo "service test: ${command[0]} is not installed"; exit 1; }
grep -qx 'AmbientCapabilities=CAP_NET_BIND_SERVICE' "$unit"
grep -qx 'StateDirectory=sk_kav' "$unit"
grep -qx 'LogsDirectory=sk_kav' "$unit"
grep -qx 'LogsDirectoryMode=0750' "$unit"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/lib/sk_kav" "$scratch/log/sk_kav"
# A dynamic user owns the directories systemd makes for it; "nobody" stands in for it here.
chown 65534:65534 "$scratch/lib/sk_kav" "$scratch/log/sk_kav"

# Everything below runs inside the namespaces; it prints what it saw and exits non-zero on
# the first thing that is wrong.
inside() {
    set -euo pipefail
    ip link set lo up
    mount --bind "$scratch/lib" /var/lib
    mount --bind "$scratch/log" /var/log
    export STATE_DIRECTORY=/var/lib/sk_kav LOGS_DIRECTORY=/var/log/sk_kav
    setpriv --reuid=65534 --regid=65534 --clear-groups --no-new-privs \
        --inh-caps=-all,+net_bind_service --ambient-caps=-all,+net_bind_service \
        --bounding-set=-all,+net_bind_service -- "${command[@]}" \
        >"$scratch/out" 2>"$scratch/err" &
    local pid=$! started=
    for _ in $(seq 100); do
        if grep -Eq 'listening on (0\.0\.0\.0|\[::\]):88\.' "$scratch/err"; then started=1; break; fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$started" ]; then
        echo "service test: the program did not start on port 88:"; cat "$scratch/err"
        kill -KILL "$pid" 2>/dev/null || true
        return 1
    fi
    exec 3<>/dev/tcp/127.0.0.1/88
    printf 'GET /t.gif?page=home HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: service-test\r\n\r\n' >&3
    local answer
    answer=$(timeout 10 cat <&3 | head -c 200 | tr -d '\r' | head -n 1)
    exec 3<&-
    # The example settings switch the dashboard on: loopback only, for want of a password.
    for _ in $(seq 100); do
        grep -q 'Dashboard started, listening on 127\.0\.0\.1:8089\.' "$scratch/err" && break
        sleep 0.1
    done
    local dashboard=
    if exec 3<>/dev/tcp/127.0.0.1/8089; then
        printf 'GET /?range=7d HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n' >&3
        dashboard=$(timeout 10 cat <&3 | head -c 200 | tr -d '\r' | head -n 1)
        exec 3<&-
    fi
    kill -TERM "$pid"
    local status=0
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        echo "service test: still running 10 s after SIGTERM"; kill -KILL "$pid"; return 1
    fi
    wait "$pid" || status=$?
    echo "answer: $answer"
    echo "dashboard: $dashboard"
    echo "exit status after SIGTERM: $status"
    echo "--- stderr"; cat "$scratch/err"
    [ "$answer" = "HTTP/1.1 200 OK" ] && [ "$dashboard" = "HTTP/1.1 200 OK" ] &&
        [ "$status" = 0 ] &&
        grep -q 'Server stopped\.' "$scratch/err" &&
        grep -q 'log directory "/var/log/sk_kav/"' "$scratch/err"
}
export -f inside
export scratch
command_text=$(printf '%q ' "${command[@]}")
if ! unshare --net --mount --fork bash -c "command=($command_text); inside"; then
    echo "service test: FAILED"
    exit 1
fi

# What the run left: a filled program directory owned by the service's user, and the hit in
# the day's combined log in the log directory.
for file in 1x1.gif index.htm robots.txt sk_KAV.ini; do
    [ -f "$scratch/lib/sk_kav/$file" ] || { echo "service test: $file not copied"; exit 1; }
done
[ "$(stat -c %u "$scratch/lib/sk_kav/sk_KAV.ini")" = 65534 ]
grep -q '^LogDir=/var/log/sk_kav/' "$scratch/lib/sk_kav/sk_KAV.ini"
grep -q '"GET /t.gif page=home HTTP/1.1" 200 ' "$scratch"/log/sk_kav/*.log
ls "$scratch"/log/sk_kav/*.log2 >/dev/null
echo "service test: passed (started as uid 65534 with CAP_NET_BIND_SERVICE on port 88," \
    "answered, logged, showed its dashboard, stopped on SIGTERM)"
