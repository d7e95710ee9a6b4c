#!/usr/bin/env bash
# Checks `cmake --install` file by file (a DESTDIR install under /usr), validates the desktop
# entry, the AppStream data, the man page and the unit's sandbox, and runs the installed
# program in its three program-directory cases. Usage: tests/dist/install.sh BUILD-DIR
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install test: FAILED: $*"; exit 1; }

root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
gui=$(sed -n 's/^SKAV_BUILD_GUI:BOOL=//p' "$build/CMakeCache.txt")

expected=(
    usr/bin/sk_kav
    usr/lib/systemd/system/sk_kav.service
    usr/share/man/man1/sk_kav.1.gz
    usr/share/sk_kav/1x1.gif
    usr/share/sk_kav/index.htm
    usr/share/sk_kav/robots.txt
    usr/share/sk_kav/sk_KAV.ini
)
if [ "$gui" = ON ]; then
    expected+=(
        usr/share/applications/sk_kav.desktop
        usr/share/icons/hicolor/16x16/apps/sk_kav.png
        usr/share/icons/hicolor/32x32/apps/sk_kav.png
        usr/share/icons/hicolor/48x48/apps/sk_kav.png
        usr/share/icons/hicolor/scalable/apps/sk_kav.svg
        usr/share/metainfo/org.skkav.sk_kav.metainfo.xml
    )
fi
actual=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
echo "--- installed (DESTDIR, prefix /usr, window $gui)"
echo "$actual"
[ "$actual" = "$wanted" ] || { diff <(echo "$wanted") <(echo "$actual") || true; fail "files differ"; }
[ -x "$root/usr/bin/sk_kav" ] || fail "the program is not executable"
grep -qx 'ExecStart=/usr/bin/sk_kav --headless --dir /var/lib/sk_kav' \
    "$root/usr/lib/systemd/system/sk_kav.service" || fail "ExecStart"
for file in 1x1.gif index.htm robots.txt; do
    cmp -s "$root/usr/share/sk_kav/$file" content/$file || fail "$file differs"
done
grep -q $'^LogToFile=1\r$' "$root/usr/share/sk_kav/sk_KAV.ini" || fail "example settings"
gzip -t "$root/usr/share/man/man1/sk_kav.1.gz"
warnings=$(man --warnings -l "$root/usr/share/man/man1/sk_kav.1.gz" 2>&1 >/dev/null || true)
[ -z "$warnings" ] || fail "man page: $warnings"

# The man page names the files of the prefix it is installed under (its option and key lists
# are checked by the test documentation_names_every_option_and_key).
zgrep -q '^\.I /usr/share/sk_kav/$' "$root/usr/share/man/man1/sk_kav.1.gz" || fail "man FILES"
DESTDIR=$work/opt cmake --install "$build" --prefix /opt/skav >/dev/null
zgrep -q '^\.I /opt/skav/share/sk_kav/$' "$work/opt/opt/skav/share/man/man1/sk_kav.1.gz" ||
    fail "the man page of prefix /opt/skav names other files"
! zgrep -q '/usr/share/sk_kav' "$work/opt/opt/skav/share/man/man1/sk_kav.1.gz" ||
    fail "the man page of prefix /opt/skav names /usr/share/sk_kav"
# Installed stripped: no debug data (the build's program has it).
! readelf -S "$root/usr/bin/sk_kav" | grep -q '\.debug_info' || fail "installed with debug data"

# The unit's sandbox: exposure 2.0 or below.
exposure=$(systemd-analyze security --offline=yes "$root/usr/lib/systemd/system/sk_kav.service" |
    sed -n 's/.*Overall exposure level for sk_kav.service: \([0-9.]*\).*/\1/p')
echo "unit exposure: $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' || fail "exposure $exposure"
if [ "$gui" = ON ]; then
    desktop-file-validate "$root/usr/share/applications/sk_kav.desktop"
    appstreamcli validate --no-net --pedantic \
        "$root/usr/share/metainfo/org.skkav.sk_kav.metainfo.xml"
fi

# ---- the installed program in its three program-directory cases
port_of() { sed -n 's/.*listening on \(0\.0\.0\.0\|\[::\]\):\([0-9]*\)\..*/\2/p' "$1" | head -n 1; }
start() { # start NAME ENV... -- ARGS...: runs the program in the background, waits for it
    local name=$1 env=()
    shift
    while [ "$1" != -- ]; do env+=("$1"); shift; done
    shift
    env -i PATH=/usr/bin:/bin "${env[@]}" "$@" >"$work/$name.out" 2>"$work/$name.err" &
    pids+=($!)
    for _ in $(seq 100); do
        [ -n "$(port_of "$work/$name.err")" ] && return 0
        sleep 0.1
    done
    cat "$work/$name.err"
    fail "$name did not start"
}
hit() { # hit PORT: the status line of a GET /t.gif
    exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf 'GET /t.gif HTTP/1.1\r\nHost: x\r\n\r\n' >&3
    timeout 10 cat <&3 | head -n 1 | tr -d '\r'
    exec 3<&-
}
stop() { # stop NAME: SIGTERM to the latest program, then its exit status must be 0
    local pid=${pids[-1]}
    kill -TERM "$pid"
    timeout 15 tail --pid="$pid" -f /dev/null || fail "$1 did not stop"
    wait "$pid" || fail "$1 ended with status $?"
}

# Per user: nothing beside the executable, so ~/.config/sk_kav is made and filled.
mkdir -p "$work/home"
start peruser HOME="$work/home" -- "$root/usr/bin/sk_kav" --headless --port 0
[ "$(hit "$(port_of "$work/peruser.err")")" = "HTTP/1.1 200 OK" ] || fail "per-user answer"
stop peruser
dir=$work/home/.config/sk_kav/
grep -q "Program directory \"$dir\", log directory \"$dir\"" "$work/peruser.err" ||
    fail "per-user Messages line"
[ "$(stat -c %a "$dir")" = 700 ] || fail "per-user directory mode"
ls "$dir"/*.log >/dev/null || fail "no log file in the program directory"
! grep -q "hits will not be recorded" "$work/peruser.err" || fail "example settings not used"
echo "per user: $(ls "$dir" | tr '\n' ' ')"

# XDG_CONFIG_HOME is followed when it is absolute.
start xdg HOME="$work/home" XDG_CONFIG_HOME="$work/xdg" -- "$root/usr/bin/sk_kav" --headless \
    --port 0
stop xdg
[ -f "$work/xdg/sk_kav/sk_KAV.ini" ] || fail "XDG_CONFIG_HOME not used"

# Portable: a copy beside its own content files keeps to its own directory.
mkdir -p "$work/portable" && cp "$root/usr/bin/sk_kav" content/1x1.gif "$work/portable/"
start portable HOME="$work/home2" -- "$work/portable/sk_kav" --headless --port 0
stop portable
grep -q "Program directory \"$work/portable/\"" "$work/portable.err" || fail "portable"
[ ! -e "$work/home2" ] && [ ! -e "$work/portable/index.htm" ] || fail "portable copied files"

# --dir wins, and is filled on its first start.
start given HOME="$work/home" -- "$root/usr/bin/sk_kav" --headless --port 0 --dir "$work/given"
stop given
grep -q "Program directory \"$work/given/\"" "$work/given.err" || fail "--dir"
[ -f "$work/given/robots.txt" ] || fail "--dir not filled"

# The program without the window: no Qt among its libraries, and a plain start runs headless.
server=$build/src/app/server/sk_kav
[ "$gui" = ON ] || server=$build/src/app/sk_kav
! ldd "$server" | grep -qi qt || fail "the headless program links Qt"
start plain HOME="$work/home" -- "$server" --port 0 --dir "$work/given"
stop plain
grep -q "built without the window; running headless" "$work/plain.err" || fail "plain start"
echo "install test: passed"
