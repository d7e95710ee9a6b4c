#!/usr/bin/env bash
# Runs the tray test (its program is the argument) under Xvfb with trayer as the tray host.
# Exits 77, which the test suite counts as skipped, where those cannot run.
set -u
program=${1:?the tray test program}
for tool in Xvfb trayer xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: $tool is not installed (bash tools/deps.sh test installs it):" \
            "the tray icon's clicks are not tried"
        exit 77
    fi
done
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
    echo "SKIPPED: Xvfb did not start: $(cat "$work/xvfb.log")"
    exit 77
fi
export DISPLAY=:$(head -n 1 "$work/display")
# The menu opens above the pointer at the bottom edge and below it at the top, its first entry
# then right under the pointer.
for edge in bottom top; do
    trayer --edge "$edge" --align right --widthtype request --heighttype pixel --height 24 \
        >"$work/trayer.log" 2>&1 &
    tray=$!
    echo "--- tray host at the $edge edge"
    QT_QPA_PLATFORM=xcb timeout 60 "$program" || exit 1
    kill "$tray"
    wait "$tray" 2>/dev/null
done
exit 0
