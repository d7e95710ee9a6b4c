#!/usr/bin/env bash
# Reading a big day: generates an overview file of LINES lines (default 1,000,000) in our
# combined format, with 300,000 addresses, 50,000 pages and 20,000 sources (so every grouping
# passes its 10,000-name bound), bots, 404s, escapes and a cut last line; then runs
# `sk_kav --report DAY --json` on it and prints its wall time and peak memory against the
# limits (2 s, 64 MiB), with `wc -l` on the same file as the anchor of pure reading.
set -euo pipefail
cd "$(dirname "$0")/.."
lines=${1:-1000000}
command -v /usr/bin/time >/dev/null || { apt-get update -qq && apt-get install -y -qq time; }
bash tools/deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DSKAV_BUILD_GUI=OFF -DSKAV_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target sk_kav >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/logs"
printf '[General]\r\nLogDir=%s/logs/\r\n' "$work" >"$work/sk_KAV.ini"
printf '10.0.0.7=Anna\r\n10.0.1.9=Office PC\r\n' >"$work/sk_KAV.NN"
day=20261208
awk -v n="$lines" 'BEGIN {
    ua[0] = "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0"
    ua[1] = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36"
    ua[2] = "Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.0 Mobile/15E148 Safari/604.1"
    ua[3] = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36 Edg/120.0.0.0"
    ua[4] = "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)"
    ua[5] = "Mozilla/5.0 \\x22odd\\x22 \\xC3\\xA9"
    for (i = 0; i < n; i++) {
        v = (i * 7919) % 300000
        host = "10." int(v / 65536) "." int(v / 256) % 256 "." v % 256
        hour = int(i * 24 / n)
        params = "page=%2Fpage" (i * 31) % 50000
        if (i % 3 == 0) params = params "&ref=https%3A%2F%2Fsite" (i * 13) % 20000 ".example%2Fq%3D1"
        doc = "/t.gif"; status = 200; size = 43
        if (i % 20 == 0) { doc = "/missing"; status = 404; size = 0; params = "" }
        printf "%s - - [08/Dec/2026:%02d:%02d:%02d +0100] \"GET %s %s HTTP/1.1\" %d %d \"https://www.example.org/blog/post-%d?utm=x\" \"%s\"\r\n",
            host, hour, i % 60, (i * 7) % 60, doc, params, status, size, i % 500, ua[i % 6]
    }
    printf "10.0.0.7 - - [08/Dec/2026:23:59:59 +0100] \"GET /t.g"
}' >"$work/logs/$day.log"
size=$(du -m "$work/logs/$day.log" | cut -f1)
echo "file: $lines lines, $size MiB"

# The anchor first, so both read a file that is already in the page cache.
wc_s=$( { /usr/bin/time -f '%e' wc -l "$work/logs/$day.log" >/dev/null; } 2>&1 )
/usr/bin/time -f '%e %M' -o "$work/time" build-bench/src/app/sk_kav --report "$day" \
    --dir "$work" --json >"$work/report.json"
read -r ours_s ours_kib <"$work/time"
cut -c1-160 "$work/report.json"
awk -v s="$ours_s" -v k="$ours_kib" -v w="$wc_s" 'BEGIN {
    printf "sk_kav --report: %.2f s, peak %.1f MiB (limits 2 s, 64 MiB)\n", s, k / 1024
    printf "anchor wc -l: %.2f s\n", w
    ok = s < 2 && k < 64 * 1024
    print ok ? "PASS" : "FAIL"
    exit !ok
}'
