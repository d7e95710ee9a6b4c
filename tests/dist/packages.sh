#!/usr/bin/env bash
# Makes the two Debian packages from one build, lists their contents and dependencies, runs
# lintian (no errors allowed), then installs each with apt-get, checks it and removes it
# again; the server package's unit is verified and its command line run as the service would
# (tests/dist/service.sh). Usage: tests/dist/packages.sh BUILD-DIR (a build with the window)
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "package test: FAILED: $*"; exit 1; }

rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
desktop=$(ls "$build"/sk-kav_*.deb)
server=$(ls "$build"/sk-kav-server_*.deb)
for deb in "$desktop" "$server"; do
    echo "=== $(basename "$deb")"
    dpkg-deb -f "$deb" Package Version Architecture Depends Conflicts
    dpkg-deb -c "$deb" | awk '{ print $1, $6 }'
done
dpkg-deb -f "$server" Depends | grep -qi qt && fail "the server package depends on Qt"
dpkg-deb -f "$desktop" Depends | grep -q libqt6widgets6 || fail "desktop lacks its Qt dependency"

echo "=== lintian"
lintian --fail-on error --tag-display-limit 0 "$desktop" "$server" 2>&1 |
    grep -v 'running with root privileges' || true
lintian --fail-on error "$desktop" "$server" >/dev/null 2>&1 || fail "lintian reports errors"

if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
    echo "package test: install and removal SKIPPED (needs root and apt-get)"
    exit 0
fi
if dpkg-query -W -f='${Status}' sk-kav sk-kav-server 2>/dev/null | grep -q 'ok installed'; then
    echo "package test: install and removal SKIPPED (sk-kav is installed on this machine)"
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt_quiet() { apt-get "$@" -y -qq >/dev/null 2>&1 || { apt-get "$@" -y; fail "apt-get $*"; }; }

echo "=== sk-kav-server: install, verify, run as the service, remove"
apt_quiet install "$server"
unit=/usr/lib/systemd/system/sk_kav.service
systemd-analyze verify "$unit" || fail "systemd-analyze verify"
/usr/bin/sk_kav --version
bash "$here/service.sh" "$unit"
apt_quiet remove sk-kav-server
[ ! -e /usr/bin/sk_kav ] && [ ! -e "$unit" ] || fail "files left after removal"

echo "=== sk-kav: install, check, remove"
apt_quiet install "$desktop"
/usr/bin/sk_kav --version
ldd /usr/bin/sk_kav | grep -q libQt6Widgets || fail "the desktop program without its window"
desktop-file-validate /usr/share/applications/sk_kav.desktop
apt_quiet remove sk-kav
[ ! -e /usr/bin/sk_kav ] && [ ! -d /usr/share/sk_kav ] || fail "files left after removal"
echo "package test: passed"
