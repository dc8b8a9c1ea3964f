#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Peak memory of harvix-cli harvest with -j 1 and with -j 16 on a page as large as a harvest
# reads (64 MiB of references, about 4.5 million), at a 230-character address, served by nginx
# on 127.0.0.1. The images do not exist: the first one fails and the harvest ends, so what is
# measured is the page, its scan and the image addresses made before the first transfer. The
# peak resident size (GNU time's maximum RSS) and the time to the end of every run are printed,
# with the medians and the ratio -j 16 / -j 1. Target: at most 1.2.
#
# Usage: bench/parallel-memory.sh [HARVIX_CLI] [ROUNDS]
#   HARVIX_CLI  the harvix-cli to measure (default: build/release/bin/harvix-cli)
#   ROUNDS      rounds of each (default: 3)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cli=${1:-$here/../build/release/bin/harvix-cli}
rounds=${2:-3}

[ -x /usr/bin/time ] || { echo "parallel-memory: GNU time is missing (apt-get install time)" >&2; exit 1; }
[ -x "$cli" ] || { echo "parallel-memory: no harvix-cli at $cli" >&2; exit 1; }

make_workdir

folder=$(python3 -c 'print("gallery-" + "x" * 190)')
mkdir -p "$work/site/$folder"
python3 - "$work/site/$folder/index.html" <<'PY'
import sys
reference = b'<img src="p.jpg">'
with open(sys.argv[1], "wb") as page:
    page.write(reference * (64 * 1024 * 1024 // len(reference)))
PY
chmod -R a+rX "$work/site"
start_nginx "$work" "$work/site"
url="http://127.0.0.1:$port/$folder/index.html"
echo "page: $(wc -c <"$work/site/$folder/index.html") bytes at an address of ${#url} characters"

echo "round  -j 1 (MiB)  -j 16 (MiB)  -j 1 (s)  -j 16 (s)"
: >"$work/j1.kb"; : >"$work/j16.kb"; : >"$work/j1.s"; : >"$work/j16.s"
round=1
while [ "$round" -le "$rounds" ]; do
    for j in 1 16; do
        mkdir -p "$work/out"
        /usr/bin/time -f '%M %e' -o "$work/measure" "$cli" harvest -j "$j" "$url" "$work/out" \
            >/dev/null 2>"$work/err" || true
        grep -q 'answered with HTTP status 404' "$work/err" ||
            { echo "parallel-memory: the harvest did not end at the first image:" >&2; cat "$work/err" >&2; exit 1; }
        read -r kb seconds <<EOF_MEASURE
$(tail -n 1 "$work/measure")
EOF_MEASURE
        echo "$kb" >>"$work/j$j.kb"
        echo "$seconds" >>"$work/j$j.s"
        eval "kb_$j=$kb s_$j=$seconds"
    done
    printf '%5d  %10.1f  %11.1f  %8.2f  %9.2f\n' "$round" "$(calc "$kb_1 / 1024")" \
        "$(calc "$kb_16 / 1024")" "$s_1" "$s_16"
    round=$((round + 1))
done
m1=$(median "$work/j1.kb" 0)
m16=$(median "$work/j16.kb" 0)
printf 'median: -j 1 %.1f MiB, -j 16 %.1f MiB, ratio %.3f (target <= 1.2); time -j 1 %s s, -j 16 %s s\n' \
    "$(calc "$m1 / 1024")" "$(calc "$m16 / 1024")" "$(calc "$m16 / $m1")" \
    "$(median "$work/j1.s" 2)" "$(median "$work/j16.s" 2)"
