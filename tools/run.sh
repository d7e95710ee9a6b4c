#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it: with the window when a display is
# there, headless otherwise. Extra arguments go to the program (for example --port 8088).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ ! -f src/app/CMakeLists.txt ]; then
    cmake --build build -j "$(nproc)"
    echo "run: the libraries are built; the program itself is not written yet."
    exit 0
fi
cmake --build build -j "$(nproc)" --target sk_kav
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/src/app/sk_kav "$@"
fi
exec build/src/app/sk_kav --headless "$@"
