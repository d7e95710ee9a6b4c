#!/usr/bin/env bash
# Starts the program under Xvfb with a few hits on its screen logs and saves a screenshot of
# each page: docs/screenshots/settings.png, logging.png and statistics.png (today's overview
# file is first filled with a made-up whole day, yesterday's beside it, so the chart has
# something to show). Debian; installs what is missing (Xvfb, ImageMagick, xdotool, fonts).
# Extra arguments: the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshots

packages=(xvfb xauth x11-utils imagemagick xdotool fonts-dejavu-core)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target sk_kav >/dev/null

free_port() { # the first port of 18900-18999 that nothing answers on
    local p
    for p in $(seq 18900 18999); do
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return; fi
    done
    return 1
}
free_display() {
    local n
    for n in $(seq 90 130); do
        [ -e "/tmp/.X$n-lock" ] || { echo "$n"; return; }
    done
    return 1
}

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# A program folder with the content files, screen logs on, the overview file on, nicknames in
# use and AutoStart.
cp content/* "$work/"
mkdir "$work/logs"
printf '[General]\r\nAutoStart=1\r\nUseNickNames=1\r\nLogDir=%s/logs/\r\n[OverviewLog]\r\nLogToScreen=1\r\nLogToFile=1\r\n[DetailLog]\r\nLogToScreen=1\r\n' \
    "$work" >"$work/sk_KAV.ini"
printf '127.0.0.1=Office PC\r\n10.0.0.7=Anna\r\n' >"$work/sk_KAV.NN"
printf '10.0.0.99\r\n' >"$work/sk_KAV.NL"

# A made-up day: page views that rise in the morning and the evening, from a few browsers and
# sources. day_lines DAY-OFFSET LAST-HOUR
day_lines() {
    awk -v day="$(date -d "$1 days" +%d/%b/%Y)" -v last="$2" -v seed="$1" 'BEGIN {
        srand(7 - seed)
        split("/|/about|/blog/first-post|/contact|/prices|/blog/second-post", page, "|")
        split("|https%3A%2F%2Fwww.search.example%2F|https%3A%2F%2Fnews.example%2Fitem|https%3A%2F%2Fsocial.example%2F", ref, "|")
        split("Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0|Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36|Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.0 Mobile/15E148 Safari/604.1|Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36 Edg/120.0.0.0|Mozilla/5.0 (compatible; ExampleBot/2.1)", ua, "|")
        for (h = 0; h <= last; h++) {
            n = int(3 + 14 * exp(-((h - 10) ^ 2) / 8) + 10 * exp(-((h - 20) ^ 2) / 6) + rand() * 4)
            for (i = 0; i < n; i++) {
                p = page[1 + int(rand() * 6)]; r = ref[1 + int(rand() * 4)]
                params = "page=" p (r == "" ? "" : "&ref=" r)
                printf "10.0.%d.%d - - [%s:%02d:%02d:%02d +0000] \"GET /t.gif %s HTTP/1.1\" 200 43 \"\" \"%s\"\r\n",
                    int(rand() * 3), int(rand() * 40), day, h, int(rand() * 60), int(rand() * 60),
                    params, ua[1 + int(rand() * 5)]
            }
        }
    }'
}
day_lines 0 23 >"$work/logs/$(date +%Y%m%d).log"
day_lines -1 23 >"$work/logs/$(date -d yesterday +%Y%m%d).log"

port=$(free_port)
display=:$(free_display)
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$build/src/app/sk_kav" --dir "$work" --port "$port" >"$work/sk_kav.out" 2>&1 &
app=$!
pids+=("$app")
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "sk_KAV - Web-Tracking" | head -n 1)
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

hit() { # hit DOCUMENT USER-AGENT REFERER
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nUser-Agent: %s\r\nReferer: %s\r\nAccept: */*\r\n\r\n' \
        "$1" "$port" "$2" "$3" >&3
    cat <&3 >/dev/null
    exec 3<&-
}
hit "/t.gif?page=home&id=17" "Mozilla/5.0 (X11; Linux x86_64) Firefox/120.0" "http://shop.example/"
hit "/t.gif?page=cart&id=17" "Mozilla/5.0 (X11; Linux x86_64) Firefox/120.0" "http://shop.example/cart"
hit "/robots.txt" "ExampleBot/2.1" ""
hit "/" "curl/7.88.1" ""
sleep 0.5

mkdir -p "$out"
import -window "$wid" "$out/settings.png"
xdotool windowfocus "$wid" 2>/dev/null || true # no window manager: focus it ourselves
xdotool key --window "$wid" alt+l 2>/dev/null
sleep 0.5
import -window "$wid" "$out/logging.png"
# Back past Settings to the last page, Statistics, whatever pages stand between.
xdotool key --window "$wid" ctrl+shift+Tab ctrl+shift+Tab 2>/dev/null
sleep 1.5 # the page reads the day's file on a worker thread
import -window "$wid" "$out/statistics.png"
echo "screenshots: $out/settings.png $out/logging.png $out/statistics.png"

kill -TERM "$app" # closes the window as a session end does: server stopped, position kept
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
