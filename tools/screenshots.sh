#!/usr/bin/env bash
# Makes a picture of every page of the window (docs/screenshots/<page>.png, named after the
# tab's caption), also of pages added later: the window runs on the offscreen platform with a
# few hits on its screen logs, today's overview file filled with a made-up whole day and
# yesterday's beside it, so the chart has something to show. Then says which pictures the
# README does not show yet. Last, docs/screenshots/browser-dashboard.png: a made-up fortnight on
# the dashboard in headless Chromium (its browser test takes the picture). Debian; installs the
# fonts and Chromium when missing. Argument: the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshots

missing=()
for p in fonts-dejavu-core chromium; do # without the fonts every glyph is a box
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target skav_screenshots >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A program folder with the content files, screen logs on, the overview file on, nicknames in
# use, AutoStart, and a window large enough to show a page whole.
cp content/* "$work/"
mkdir "$work/logs"
printf '[General]\r\nAutoStart=1\r\nUseNickNames=1\r\nLogDir=%s/logs/\r\n[OverviewLog]\r\nLogToScreen=1\r\nLogToFile=1\r\n[DetailLog]\r\nLogToScreen=1\r\n[WindowPos]\r\nHeight=680\r\nWidth=1000\r\n' \
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

mkdir -p "$out"
QT_QPA_PLATFORM=offscreen timeout 120 "$build/tools/skav_screenshots" "$work" "$out" >"$work/made"
echo "screenshots: $(tr '\n' ' ' <"$work/made")"
while read -r picture; do
    grep -qF "($picture)" README.md || echo "screenshots: README.md does not show $picture yet"
done <"$work/made"

# The dashboard, from its browser test's made-up fortnight.
cmake --build "$build" -j "$(nproc)" --target dashboard_browser_tests >/dev/null
SKAV_SCREENSHOT_DIR="$PWD/$out" "$build/tests/dashboard/dashboard_browser_tests" \
    --gtest_filter='*APictureOfAWeek' >/dev/null
echo "screenshot: $out/browser-dashboard.png"
