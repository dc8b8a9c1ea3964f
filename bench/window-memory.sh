#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Peak memory of the real main window harvesting the largest page it accepts: a page just under
# the 64 MiB page limit (lines of text with three JPEG references at its end), served on
# 127.0.0.1. The window runs under Xvfb; xdotool types the address into TURL and presses Enter;
# once the last image is saved and the page source has been shown, the program is ended and
# /usr/bin/time -v reports its maximum resident set size. Target: under 1 GiB.
#
# Usage: bench/window-memory.sh [HARVIX] [MIB]
#   HARVIX  the window program (default: build/release/bin/harvix)
#   MIB     size of the page in MiB, fractions allowed (default: 63.9)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
harvix=${1:-$here/../build/release/bin/harvix}
mib=${2:-63.9}

for tool in python3 Xvfb xdotool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "window-memory: $tool is missing" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "window-memory: /usr/bin/time is missing" >&2; exit 1; }
[ -x "$harvix" ] || { echo "window-memory: no harvix at $harvix" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=
server_pid=
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

python3 - "$work/site" "$mib" <<'PY'
import os, sys
root, size = sys.argv[1], int(float(sys.argv[2]) * 1024 * 1024)
os.makedirs(os.path.join(root, "img"))
tail = "".join('<img src="img/%d.jpg">\n' % i for i in range(3)) + "</body></html>\n"
line = "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.</p>\n"
with open(os.path.join(root, "page.html"), "w") as page:
    page.write("<html><body>\n")
    written = len("<html><body>\n")
    while written + len(line) + len(tail) <= size:
        page.write(line)
        written += len(line)
    page.write(tail)
for i in range(3):
    with open(os.path.join(root, "img/%d.jpg" % i), "wb") as f:
        f.write(b"\xff\xd8\xff" + os.urandom(20480 - 3))
PY
echo "page: $(stat -c %s "$work/site/page.html") bytes"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(cd "$work/site" && exec python3 -m http.server "$port" --bind 127.0.0.1) >/dev/null 2>&1 &
server_pid=$!

start_xvfb "$work" window-memory

mkdir -m 700 "$work/home"
mkdir "$work/home/Documents"
export DISPLAY=":$(cat "$work/display")" HOME="$work/home" XDG_RUNTIME_DIR="$work/home"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

/usr/bin/time -v -o "$work/time.txt" "$harvix" >"$work/harvix.log" 2>&1 &
time_pid=$!
wid=
for _ in $(seq 300); do
    wid=$(xdotool search --onlyvisible --name 'Harvix 1\.0\)$' 2>/dev/null | head -n 1) || true
    [ -n "$wid" ] && break
    sleep 0.1
done
[ -n "$wid" ] || { echo "window-memory: the main window did not show" >&2; exit 1; }
xdotool windowfocus --sync "$wid"
xdotool key --window "$wid" ctrl+a
xdotool type --delay 1 "http://127.0.0.1:$port/page.html"
sleep 0.2
start=$(date +%s.%N)
xdotool key Return
for _ in $(seq 3000); do
    [ -e "$work/home/Documents/2.jpg" ] && break
    sleep 0.1
done
[ -e "$work/home/Documents/2.jpg" ] || { echo "window-memory: the harvest did not finish" >&2; exit 1; }
end=$(date +%s.%N)
# Let the window lay out and paint the page source.
sleep 2
# The window's own pid is the child of time.
pid=$(pgrep -P "$time_pid" | head -n 1)
kill "$pid"
wait "$time_pid" || true
rss=$(awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$work/time.txt")
awk "BEGIN { printf \"harvest: %.2f s; peak: %d KiB (%.0f MiB)\\n\", $end - $start, $rss, $rss / 1024 }"
