# Pieces the load benchmarks share; sourced, not run.

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# load_settings DIR: ours' settings file for a load: logs in DIR/logs/, both log files on, both
# screen logs off, and no cap of connections per address (a load client is one address).
load_settings() {
    printf '[General]\r\nLogDir=%s/logs/\r\nMaxConnectionsPerIP=0\r\n' "$1" >"$1/sk_KAV.ini"
    printf '[%s]\r\nLogToScreen=0\r\nLogToFile=1\r\n' OverviewLog DetailLog >>"$1/sk_KAV.ini"
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; } # user and system time, all threads

# start_nginx DIR PORT [HTTP-LINES] [LISTEN-SUFFIX] [SERVER-LINES]: nginx as the anchor, one
# worker process (ours is one process too; with "auto" it took every processor of the machine),
# answering /t.gif from memory (empty_gif: 43 bytes, as content/1x1.gif) with its
# combined access log and no keep-alive, like ours. Sets nginx_pid.
start_nginx() {
    local dir=$1 port=$2
    mkdir -p "$dir/html" "$dir/logs"
    cat >"$dir/nginx.conf" <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
daemon off;
events { worker_connections 4096; }
http {
    access_log $dir/logs/access.log combined;
    keepalive_timeout 0;
${3:-}
    server {
        listen 127.0.0.1:$port${4:-};
${5:-}
        root $dir/html;
        location / { add_header Cache-Control no-cache; }
        location = /t.gif { empty_gif; add_header Cache-Control no-cache; }
    }
}
CONF
    nginx -c "$dir/nginx.conf" -p "$dir" &
    nginx_pid=$!
    sleep 1
}

# overview_day LINES DATE [NAMES FIRST COUNT]: a day of LINES lines of ours in the combined
# format on DATE ("08/Dec/2026"), on stdout: 300,000 addresses, 50,000 pages and 20,000 sources
# (so every grouping passes its 10,000-name bound), bots, 404s, escapes and a cut last line.
# With NAMES, the page names are the COUNT lines of the file NAMES from line FIRST on.
overview_day() {
    awk -v n="$1" -v day="$2" -v names="${3:-}" -v first="${4:-0}" -v k="${5:-0}" 'BEGIN {
        if (first > 0)
            for (j = 1; (getline name < names) > 0; j++)
                if (j >= first && j < first + k) { sub("^/", "%2F", name); nm[j - first] = name }
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
            params = first > 0 ? "page=" nm[(i * 31) % k] : "page=%2Fpage" (i * 31) % 50000
            if (i % 3 == 0) params = params "&ref=https%3A%2F%2Fsite" (i * 13) % 20000 ".example%2Fq%3D1"
            doc = "/t.gif"; status = 200; size = 43
            if (i % 20 == 0) { doc = "/missing"; status = 404; size = 0; params = "" }
            printf "%s - - [%s:%02d:%02d:%02d +0100] \"GET %s %s HTTP/1.1\" %d %d \"https://www.example.org/blog/post-%d?utm=x\" \"%s\"\r\n",
                host, day, hour, i % 60, (i * 7) % 60, doc, params, status, size, i % 500, ua[i % 6]
        }
        printf "10.0.0.7 - - [%s:23:59:59 +0100] \"GET /t.g", day
    }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", (b > 0 ? a / b : 0)}'; }
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }

# print_medians RESULTS CONNECTIONS...: for lines "conns name value" of the rounds, the median
# value of each name, names in the order they first came.
print_medians() {
    local results=$1 conns name
    shift
    for conns in "$@"; do
        for name in $(awk -v c="$conns" '$1 == c {print $2}' "$results" | awk '!seen[$0]++'); do
            printf '%-6s %-20s %s\n' "$conns" "$name" \
                "$(awk -v c="$conns" -v n="$name" '$1 == c && $2 == n {print $3}' "$results" | median)"
        done
    done
}

# wrk from Debian when it is missing.
need_wrk() {
    if ! command -v wrk >/dev/null; then
        apt-get update -qq && apt-get install -y -qq --no-install-recommends wrk
    fi
}

# The headless program of this tree, built for measuring in build-bench: Release at -O2 (gcc 12
# at -O3 warns of string copies overlapping that cannot overlap), no window, no tests.
build_bench_server() {
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DSKAV_BUILD_GUI=OFF -DSKAV_BUILD_TESTS=OFF >/dev/null
    cmake --build build-bench -j "$(nproc)" --target sk_kav >/dev/null
}

# wrk's latency text ("812.00us", "3.41ms", "1.02s") in milliseconds.
ms() { awk -v t="$1" 'BEGIN {print (t ~ /us$/ ? t / 1000 : (t ~ /ms$/ ? t + 0 : t * 1000))}'; }

# run_wrk NAME CONNECTIONS [SCRIPT] -> "rps p99-ms cpu-us-per-request": wrk against the server
# NAME of the caller's arrays port[] and pid[] for $duration seconds, one request per connection
# (or the requests SCRIPT makes), and the server's CPU time per request meanwhile.
run_wrk() {
    local out before after
    before=$(cpu_ticks "${pid[$1]}")
    if [ -n "${3:-}" ]; then
        out=$(wrk -t 2 -c "$2" -d "${duration}s" --latency -s "$3" "http://127.0.0.1:${port[$1]}/t.gif")
    else
        out=$(wrk -t 2 -c "$2" -d "${duration}s" --latency -H 'Connection: close' "http://127.0.0.1:${port[$1]}/t.gif")
    fi
    after=$(cpu_ticks "${pid[$1]}")
    echo "$(awk '/Requests\/sec/ {print $2}' <<<"$out") $(ms "$(awk '$1 == "99%" {print $2}' <<<"$out")")" \
        "$(awk -v t=$((after - before)) -v r="$(awk '/requests in/ {print $1}' <<<"$out")" \
            -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.1f", t * 1e6 / hz / r}')"
}

# run_servers ROUND CONNECTIONS NAME[=SCRIPT]...: run_wrk on each server NAME in turn (with its
# wrk SCRIPT, if given), in the order given in odd rounds and the other way round in even ones:
# a run leaves the loopback's closed connections behind for the next one, which must not always
# be the same server. Fills rps[NAME], p99[NAME] and cpu[NAME] (the caller declares them with
# declare -A) and prints the round's line, servers in the order given.
run_servers() {
    local round=$1 conns=$2 item name script line=""
    shift 2
    local order=("$@")
    if [ $((round % 2)) -eq 0 ]; then
        order=()
        for item in "$@"; do order=("$item" "${order[@]}"); done
    fi
    for item in "${order[@]}"; do
        name=${item%%=*}
        if [ "$item" != "$name" ]; then script=${item#*=}; else script=""; fi
        read -r "rps[$name]" "p99[$name]" "cpu[$name]" <<<"$(run_wrk "$name" "$conns" "$script")"
    done
    for item in "$@"; do
        name=${item%%=*}
        line+="${line:+, }$name ${rps[$name]}/s p99 ${p99[$name]} ms ${cpu[$name]} us"
    done
    printf '%-5s %s\n' "$conns" "$line"
}
