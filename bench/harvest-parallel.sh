#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times a harvest over a slow network: a loopback server that answers every request after
# 20 ms (standing in for a round trip) serves one page that references 200 JPEG files of 20 KB.
# Timed on the same site, in turn, in an order that changes every round:
#   harvix-cli harvest -j 1, harvix-cli harvest -j 8, wget -r -l1 -nd, wget2 --max-threads=8.
# Every round's times and each tool's median are printed. Targets: -j 8 at least 6x faster
# than -j 1 and no slower than wget2 with 8 threads; -j 1 no slower than wget.
#
# Usage: bench/harvest-parallel.sh [HARVIX_CLI] [ROUNDS]
#   HARVIX_CLI  the harvix-cli to time (default: build/release/bin/harvix-cli)
#   ROUNDS      rounds of each (default: 5)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cli=${1:-$here/../build/release/bin/harvix-cli}
rounds=${2:-5}
files=200
size=20480
delay_ms=20

for tool in wget wget2 python3; do
    command -v "$tool" >/dev/null 2>&1 ||
        { echo "harvest-parallel: $tool is missing (apt-get install $tool)" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "harvest-parallel: no harvix-cli at $cli" >&2; exit 1; }

work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The site: index.html and img/000.jpg ... img/199.jpg, random bytes.
make_gallery "$work/site" "$files" "$size"

# The server: 127.0.0.1 only, keeps connections alive, one thread per connection, answers every
# request after the delay, and ends by itself after 15 minutes at the latest.
cat >"$work/server.py" <<'PY'
import functools, http.server, sys, time
root, port_file, delay = sys.argv[1], sys.argv[2], float(sys.argv[3]) / 1000

class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body are separate writes: without this, Nagle's algorithm holds the body
    # back until the client's delayed acknowledgement, 40 ms more per request.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def do_GET(self):
        time.sleep(delay)
        super().do_GET()

class Server(http.server.ThreadingHTTPServer):
    # The default backlog of 5 drops some of 8 connections opened at once; the client then
    # waits a second to retry.
    request_queue_size = 64

server = Server(("127.0.0.1", 0), functools.partial(Handler, directory=root))
server.daemon_threads = True
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
PY
timeout 900 python3 "$work/server.py" "$work/site" "$work/port" "$delay_ms" &
server_pid=$!
for _ in $(seq 50); do
    [ -f "$work/port" ] && break
    sleep 0.1
done
[ -f "$work/port" ] || { echo "harvest-parallel: the server did not start" >&2; exit 1; }
url="http://127.0.0.1:$(cat "$work/port")/index.html"

now() { date +%s.%N; }
count() { find "$1" -name '*.jpg' -type f | wc -l; }

tools="j1 j8 wget wget2"
run() { # tool folder
    case $1 in
    j1) "$cli" harvest -j 1 "$url" "$2" >/dev/null 2>"$work/err" ;;
    j8) "$cli" harvest -j 8 "$url" "$2" >/dev/null 2>"$work/err" ;;
    wget) (cd "$2" && wget -q -e robots=off -r -l1 -nd -A jpg "$url") 2>"$work/err" ;;
    wget2) (cd "$2" && wget2 -q --robots=off --max-threads=8 -r -l1 -nd -A jpg "$url") \
        2>"$work/err" ;;
    esac || { echo "harvest-parallel: $1 failed:" >&2; cat "$work/err" >&2; exit 1; }
}

echo "site: $files files of $size bytes at $url, every answer after $delay_ms ms"
echo "round  harvix-cli -j 1(s)  harvix-cli -j 8(s)  wget(s)  wget2 -j 8(s)"
for tool in $tools; do : >"$work/$tool.times"; done
# Round 0 only warms the caches and is not counted. Every run writes into a fresh folder.
round=0
while [ "$round" -le "$rounds" ]; do
    # Which tool goes first changes every round.
    shift_by=$((round % 4))
    order=$(echo $tools | awk -v s="$shift_by" '{ for (i = 0; i < NF; i++) printf "%s ", $(((i + s) % NF) + 1) }')
    for tool in $order; do
        out="$work/out-$tool-$round"
        mkdir "$out"
        start=$(now)
        run "$tool" "$out"
        eval "time_$tool=\$(calc \"\$(now) - $start\")"
        [ "$(count "$out")" -eq "$files" ] ||
            { echo "harvest-parallel: $tool saved $(count "$out") files" >&2; exit 1; }
    done
    if [ "$round" -gt 0 ]; then
        printf '%5d  %18.3f  %18.3f  %7.3f  %13.3f\n' "$round" "$time_j1" "$time_j8" \
            "$time_wget" "$time_wget2"
        for tool in $tools; do eval "echo \$time_$tool" >>"$work/$tool.times"; done
    fi
    round=$((round + 1))
done

j1=$(median "$work/j1.times")
j8=$(median "$work/j8.times")
wget=$(median "$work/wget.times")
wget2=$(median "$work/wget2.times")
echo "median: harvix-cli -j 1 $j1 s, harvix-cli -j 8 $j8 s, wget $wget s, wget2 -j 8 $wget2 s"
echo "-j 1 / -j 8: $(calc "$j1 / $j8")x (target >= 6);" \
    "-j 8 / wget2: $(calc "$j8 / $wget2") (target <= 1);" \
    "-j 1 / wget: $(calc "$j1 / $wget") (target <= 1)"
