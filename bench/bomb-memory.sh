#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Peak memory of harvix-cli harvest --keep-going with -j 1 and with -j 16 on a page of 16
# compression bombs: each image is a gzip body of about 1 MiB that decodes to 1 GiB (a JPEG
# signature, then zeros), served with Content-Encoding: gzip by a small Python server on
# 127.0.0.1. Every image fails as larger than the largest body; what is measured is how much
# the bodies decoded side by side hold at once. The peak resident size (GNU time's maximum
# RSS) of each run is printed, with the medians and the ratio -j 16 / -j 1. Target: at most 1.5.
#
# Usage: bench/bomb-memory.sh [HARVIX_CLI] [ROUNDS] [OTHER_HARVIX_CLI]
#   HARVIX_CLI        the harvix-cli to measure (default: build/release/bin/harvix-cli)
#   ROUNDS            rounds of each (default: 3)
#   OTHER_HARVIX_CLI  another build, measured alternately beside it (an older one, say)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cli=${1:-$here/../build/release/bin/harvix-cli}
rounds=${2:-3}
other=${3:-}

[ -x /usr/bin/time ] || { echo "bomb-memory: GNU time is missing (apt-get install time)" >&2; exit 1; }
[ -x "$cli" ] || { echo "bomb-memory: no harvix-cli at $cli" >&2; exit 1; }
[ -z "$other" ] || [ -x "$other" ] || { echo "bomb-memory: no harvix-cli at $other" >&2; exit 1; }

make_workdir
server_pid=
trap '[ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT INT TERM

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 - "$port" "$work/ready" <<'PY' &
import gzip, http.server, io, socketserver, sys, zlib
port, ready = int(sys.argv[1]), sys.argv[2]
# 1 GiB: a JPEG signature and zeros, compressed once.
compressor = zlib.compressobj(9, zlib.DEFLATED, 31)
parts = [compressor.compress(b"\xff\xd8\xff")]
block = bytes(1 << 20)
for _ in range(1024):
    parts.append(compressor.compress(block))
parts.append(compressor.flush())
bomb = b"".join(parts)
page = b"<html><body>" + b"".join(b'<img src="b%02d.jpg">' % i for i in range(16)) + b"</body></html>"
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args):
        pass
    def do_GET(self):
        body, extra = (page, {}) if self.path == "/page.html" else (bomb, {"Content-Encoding": "gzip"})
        self.send_response(200)
        self.send_header("Content-Type", "text/html" if self.path == "/page.html" else "image/jpeg")
        self.send_header("Content-Length", str(len(body)))
        for key, value in extra.items():
            self.send_header(key, value)
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass
class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
server = Server(("127.0.0.1", port), Handler)
open(ready, "w").close()
server.serve_forever()
PY
server_pid=$!
while [ ! -e "$work/ready" ]; do sleep 0.2; done
url="http://127.0.0.1:$port/page.html"

measure() { # TOOL J NAME
    rm -rf "$work/out"
    mkdir -p "$work/out"
    /usr/bin/time -f '%M' -o "$work/measure" "$1" harvest -k -j "$2" "$url" "$work/out" \
        >/dev/null 2>"$work/err" || true
    grep -q 'larger than' "$work/err" ||
        { echo "bomb-memory: the images did not fail as too large:" >&2; cat "$work/err" >&2; exit 1; }
    kb=$(tail -n 1 "$work/measure")
    echo "$kb" >>"$work/$3-j$2.kb"
    printf '  %6.1f' "$(calc "$kb / 1024")"
}

tools="new"
[ -z "$other" ] || tools="new other"
printf 'round'
for t in $tools; do printf '  %s -j 1 (MiB)  %s -j 16 (MiB)' "$t" "$t"; done
echo
round=1
while [ "$round" -le "$rounds" ]; do
    printf '%5d' "$round"
    for t in $tools; do
        tool=$cli
        [ "$t" = new ] || tool=$other
        measure "$tool" 1 "$t"
        measure "$tool" 16 "$t"
    done
    echo
    round=$((round + 1))
done
for t in $tools; do
    m1=$(median "$work/$t-j1.kb" 0)
    m16=$(median "$work/$t-j16.kb" 0)
    printf 'median %s: -j 1 %.1f MiB, -j 16 %.1f MiB, ratio %.2f (target <= 1.5)\n' "$t" \
        "$(calc "$m1 / 1024")" "$(calc "$m16 / 1024")" "$(calc "$m16 / $m1")"
done
