#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the rendered harvest against the ordinary one on the same 200 JPEG files of 20 KB,
# served by nginx on 127.0.0.1:
#   lazy.html    the pictures load only when scrolled into view (an IntersectionObserver sets
#                each src from data-src), so only a rendered harvest finds them;
#   static.html  the same pictures written as plain <img src>.
# Timed in turn, every round: "harvix-cli scan --rendered" of lazy.html (the time to the
# rendered text), "harvix-cli harvest --rendered" of lazy.html (the whole rendered harvest) and
# "harvix-cli harvest" of static.html. Every round's times and the medians are printed. The
# browser engine runs off-screen (QT_QPA_PLATFORM=offscreen).
#
# Usage: bench/rendered-harvest.sh [HARVIX_CLI] [ROUNDS]
#   HARVIX_CLI  the harvix-cli to time (default: build/release/bin/harvix-cli), with the browser
#               module beside it
#   ROUNDS      rounds (default: 5)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cli=${1:-$here/../build/release/bin/harvix-cli}
rounds=${2:-5}
files=200

[ -x "$cli" ] || { echo "rendered-harvest: no harvix-cli at $cli" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen
# As root the engine runs only without its sandbox.
[ "$(id -u)" = 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1

make_workdir

make_gallery "$work/site" "$files" 20480
python3 - "$work/site" "$files" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
names = sorted(os.listdir(os.path.join(root, "img")))
with open(os.path.join(root, "static.html"), "w") as page:
    page.write("<html><body>\n")
    for name in names:
        page.write('<img src="img/%s" width="160" height="120">\n' % name)
    page.write("</body></html>\n")
with open(os.path.join(root, "lazy.html"), "w") as page:
    page.write("<html><body>\n")
    for name in names:
        page.write('<div style="height:300px"><img class="lazy" data-img="img/%s" width="160" '
                   'height="120"></div>\n' % name)
    page.write("""<script>
var observer = new IntersectionObserver(function (entries, o) {
  entries.forEach(function (e) {
    if (e.isIntersecting) { e.target.src = e.target.dataset.img; o.unobserve(e.target); }
  });
});
document.querySelectorAll('.lazy').forEach(function (img) { observer.observe(img); });
</script></body></html>
""")
PY
chmod -R a+rX "$work/site"
start_nginx "$work" "$work/site"
base="http://127.0.0.1:$port"

now() { date +%s.%N; }
count() { find "$1" -name '*.jpg' -type f | wc -l; }

: >"$work/scan.times"; : >"$work/rendered.times"; : >"$work/static.times"
echo "round  scan --rendered(s)  harvest --rendered(s)  harvest static(s)"
round=0
while [ "$round" -le "$rounds" ]; do
    start=$(now)
    "$cli" scan --rendered "$base/lazy.html" >"$work/refs" 2>"$work/err" ||
        { echo "rendered-harvest: scan --rendered failed:" >&2; cat "$work/err" >&2; exit 1; }
    t_scan=$(calc "$(now) - $start")
    for kind in rendered static; do
        out="$work/out-$kind-$round"
        mkdir "$out"
        start=$(now)
        if [ "$kind" = rendered ]; then
            "$cli" harvest --rendered "$base/lazy.html" "$out" >/dev/null 2>"$work/err"
        else
            "$cli" harvest "$base/static.html" "$out" >/dev/null 2>"$work/err"
        fi || { echo "rendered-harvest: $kind harvest failed:" >&2; cat "$work/err" >&2; exit 1; }
        eval "t_$kind=\$(calc \"\$(now) - $start\")"
        [ "$(count "$out")" -eq "$files" ] ||
            { echo "rendered-harvest: the $kind harvest saved $(count "$out") files" >&2; exit 1; }
    done
    # Round 0 only warms the caches.
    if [ "$round" -gt 0 ]; then
        printf '%5d  %18.3f  %21.3f  %17.3f\n' "$round" "$t_scan" "$t_rendered" "$t_static"
        echo "$t_scan" >>"$work/scan.times"
        echo "$t_rendered" >>"$work/rendered.times"
        echo "$t_static" >>"$work/static.times"
    fi
    round=$((round + 1))
done
echo "median: scan --rendered $(median "$work/scan.times") s, harvest --rendered" \
    "$(median "$work/rendered.times") s, harvest of the static page $(median "$work/static.times") s"
