# Pieces the load benchmarks share; sourced, not run.

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# load_settings DIR: ours' settings file for a load: logs in DIR/logs/, both log files on, both
# screen logs off, and no cap of connections per address (a load client is one address).
load_settings() {
    printf '[General]\r\nLogDir=%s/logs/\r\nMaxConnectionsPerIP=0\r\n' "$1" >"$1/sk_KAV.ini"
    printf '[%s]\r\nLogToScreen=0\r\nLogToFile=1\r\n' OverviewLog DetailLog >>"$1/sk_KAV.ini"
}

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; } # user and system time, all threads

# start_nginx DIR PORT [HTTP-LINES] [LISTEN-SUFFIX] [SERVER-LINES]: nginx as the anchor, serving
# content/1x1.gif as /t.gif with its combined access log and no keep-alive, like ours.
# Sets nginx_pid.
start_nginx() {
    local dir=$1 port=$2
    mkdir -p "$dir/html" "$dir/logs"
    cp content/1x1.gif "$dir/html/t.gif"
    cat >"$dir/nginx.conf" <<CONF
worker_processes auto;
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
    }
}
CONF
    nginx -c "$dir/nginx.conf" -p "$dir" &
    nginx_pid=$!
    sleep 1
}
