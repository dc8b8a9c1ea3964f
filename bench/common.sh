# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the benchmark scripts (sourced, POSIX sh).
#   start_nginx WORK SITE   serves SITE with nginx on 127.0.0.1, on a free port, with keep-alive
#                           for as many requests as a benchmark makes and no access log; its
#                           files go under WORK/nginx; sets $port
#   stop_nginx WORK         stops the nginx that start_nginx started with the same WORK
#   make_gallery ROOT COUNT SIZE
#                           writes ROOT/index.html referencing COUNT files ROOT/img/000.jpg ...
#                           of SIZE random bytes, numbered with as many digits as COUNT - 1 has
#   start_xvfb WORK NAME    starts an X server of its own and waits until it accepts clients;
#                           sets $xvfb_pid and writes the display number to WORK/display (NAME
#                           is the script's name for the message when it does not start);
#                           -noreset: a server that resets when its last client leaves refuses
#                           the next one for a moment
#   make_workdir            makes a folder of mktemp -d, readable to all (nginx's workers may
#                           run as another user), and sets $work; the folder and its nginx go
#                           when the script ends
#   median FILE [DECIMALS]  prints the median of the numbers in FILE, one a line (3 decimals)
#   calc EXPRESSION         prints the value of an awk expression with 6 decimals

start_nginx() {
    _work=$1
    _site=$2
    _nginx=$(command -v nginx || echo /usr/sbin/nginx)
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$_work/nginx"
    cat >"$_work/nginx.conf" <<CONF
worker_processes 1;
pid $_work/nginx.pid;
error_log $_work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    types { text/html html; image/jpeg jpg; }
    default_type application/octet-stream;
    sendfile on;
    keepalive_requests 100000;
    client_body_temp_path $_work/nginx/body;
    proxy_temp_path $_work/nginx/proxy;
    fastcgi_temp_path $_work/nginx/fastcgi;
    uwsgi_temp_path $_work/nginx/uwsgi;
    scgi_temp_path $_work/nginx/scgi;
    server {
        listen 127.0.0.1:$port;
        root $_site;
    }
}
CONF
    "$_nginx" -e "$_work/nginx/error.log" -p "$_work/nginx" -c "$_work/nginx.conf"
}

make_workdir() {
    work=$(mktemp -d)
    chmod 755 "$work"
    trap 'stop_nginx "$work"; rm -rf "$work"' EXIT INT TERM
}

stop_nginx() {
    if [ -f "$1/nginx.pid" ]; then
        kill "$(cat "$1/nginx.pid")" 2>/dev/null || true
        sleep 0.2
    fi
}

start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$1/display" 2>"$1/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -s "$1/display" ] && break
        sleep 0.1
    done
    [ -s "$1/display" ] || { echo "$2: Xvfb did not start" >&2; cat "$1/xvfb.log" >&2; exit 1; }
}

make_gallery() {
    python3 - "$1" "$2" "$3" <<'PY'
import os, sys
root, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
digits = len(str(count - 1))
os.makedirs(os.path.join(root, "img"))
with open(os.path.join(root, "index.html"), "w") as page:
    page.write("<html><body>\n")
    for i in range(count):
        name = "img/%0*d.jpg" % (digits, i)
        with open(os.path.join(root, name), "wb") as f:
            f.write(b"\xff\xd8\xff" + os.urandom(size - 3))
        page.write('<a href="%s"><img src="%s" width="160" height="120"></a>\n' % (name, name))
    page.write("</body></html>\n")
PY
}

median() {
    sort -g "$1" | awk -v d="${2:-3}" '{ v[NR] = $1 }
        END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.*f", d, m }'
}

calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
