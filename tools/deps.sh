#!/usr/bin/env bash
# Installs the Debian packages that are missing for building and running (and, with "test",
# for the test suite). Runs apt-get only when something is missing.
set -euo pipefail
# Qt Charts' CMake files need the OpenGL ones (libqt6opengl6-dev), which qt6-charts-dev does not
# pull in by itself.
packages=(g++ make cmake libgtest-dev libgmock-dev media-types libssl-dev qt6-base-dev qt6-charts-dev
    libqt6opengl6-dev)
# libpq for the shared store in PostgreSQL.
packages+=(libpq-dev)
if [ "${1:-}" = test ]; then
    # clang and its runtime for the fuzz targets; zone data for the time-zone tests.
    packages+=(clang libclang-rt-14-dev tzdata)
    # The install and package checks: dpkg-shlibdeps, lintian, the desktop, AppStream, man
    # page and unit validators, and namespaces and setpriv for the service test.
    packages+=(dpkg-dev lintian desktop-file-utils appstream man-db systemd util-linux iproute2)
    # A Turkish locale, whose upper-casing of 'i' once broke the document match.
    packages+=(locales)
    # A real browser for the https pixel test (mixed-content upgrade to the same port).
    packages+=(chromium)
    # An X server with a tray host for the tray icon's test, and fonts for the screenshots.
    packages+=(xvfb xauth x11-utils trayer xdotool fonts-dejavu-core)
    # A PostgreSQL server that the store tests start themselves, and two readers of the JSON
    # lines (jq and Python's json).
    packages+=(postgresql jq python3)
    # A log analyser that reads the combined file as sites do, masked addresses and visitor
    # ids included.
    packages+=(goaccess)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # No recommends: they pull in a platform theme whose native dialogs tests cannot answer.
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ "${1:-}" = test ] && ! locale -a 2>/dev/null | grep -qix 'tr_TR.utf8'; then
    echo "deps: generating the locale tr_TR.UTF-8"
    localedef -i tr_TR -f UTF-8 tr_TR.UTF-8
fi
