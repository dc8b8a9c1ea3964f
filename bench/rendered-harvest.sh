#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the rendered harvest against the ordinary one on the same 200 JPEG files of 20 KB,
# served by nginx on 127.0.0.1:
#   lazy.html    the pictures load only when scrolled into view (an IntersectionObserver sets
#                each src from data-src), so only a rendered harvest finds them;
#   static.html  the same pictures written as plain <img src>.
# Timed in turn, every round: "harvix-cli scan --rendered" of lazy.html (the time to the
# rendered text), "harvix-cli harvest --rendered" of lazy.html (the whole rendered harvest) and
# "harvix-cli harvest" of static.html. The rounds run twice: on the machine as it is (idle), then
# with both cores busy (two busy-loop processes, loaded). Each run's count is checked (the
# references scan --rendered prints, the files a harvest saves); a run that falls short or fails
# is printed and the rounds go on. Every round's times and counts, the failures and the medians
# of each condition are printed; the status is 1 when any run failed. The browser engine runs
# off-screen (QT_QPA_PLATFORM=offscreen).
#
# Usage: bench/rendered-harvest.sh [HARVIX_CLI] [ROUNDS]
#   HARVIX_CLI  the harvix-cli to time (default: build/release/bin/harvix-cli), with the browser
#               module beside it
#   ROUNDS      rounds of each condition (default: 5)
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

# Two busy loops for the loaded rounds; they go when the script ends, however it ends.
busy=
busy_start() {
    for _ in 1 2; do
        sh -c 'while :; do :; done' &
        busy="$busy $!"
    done
}
busy_stop() {
    [ -n "$busy" ] || return 0
    kill $busy 2>/dev/null || true
    wait $busy 2>/dev/null || true
    busy=
}
trap 'busy_stop; stop_nginx "$work"; rm -rf "$work"' EXIT INT TERM

failures=0
fail() {
    echo "rendered-harvest: $1" >&2
    failures=$((failures + 1))
}

# run CONDITION ROUND: one round; round 0 only warms the caches and is not recorded.
run() {
    cond=$1 round=$2
    start=$(now)
    if "$cli" scan --rendered "$base/lazy.html" >"$work/refs" 2>"$work/err"; then
        t_scan=$(calc "$(now) - $start")
        n_scan=$(wc -l <"$work/refs")
    else
        t_scan=$(calc "$(now) - $start")
        n_scan=failed
        fail "$cond round $round: scan --rendered failed: $(cat "$work/err")"
    fi
    [ "$n_scan" = failed ] || [ "$n_scan" -eq "$files" ] ||
        fail "$cond round $round: scan --rendered found $n_scan of $files references"
    for kind in rendered static; do
        out="$work/out-$cond-$kind-$round"
        mkdir "$out"
        start=$(now)
        if [ "$kind" = rendered ]; then
            "$cli" harvest --rendered "$base/lazy.html" "$out" >/dev/null 2>"$work/err"
        else
            "$cli" harvest "$base/static.html" "$out" >/dev/null 2>"$work/err"
        fi || fail "$cond round $round: the $kind harvest failed: $(cat "$work/err")"
        eval "t_$kind=\$(calc \"\$(now) - $start\")"
        saved=$(count "$out")
        eval "n_$kind=$saved"
        [ "$saved" -eq "$files" ] ||
            fail "$cond round $round: the $kind harvest saved $saved of $files files"
    done
    [ "$round" -gt 0 ] || return 0
    printf '%-7s %5d  %10.3f %5s  %10.3f %5s  %10.3f %5s\n' "$cond" "$round" \
        "$t_scan" "$n_scan" "$t_rendered" "$n_rendered" "$t_static" "$n_static"
    echo "$t_scan" >>"$work/$cond-scan.times"
    echo "$t_rendered" >>"$work/$cond-rendered.times"
    echo "$t_static" >>"$work/$cond-static.times"
}

echo "                   scan --rendered   harvest --rendered   harvest static"
echo "        round         (s) refs          (s) files          (s) files"
run idle 0
for cond in idle loaded; do
    : >"$work/$cond-scan.times"; : >"$work/$cond-rendered.times"; : >"$work/$cond-static.times"
    [ "$cond" = loaded ] && busy_start
    round=1
    while [ "$round" -le "$rounds" ]; do
        run "$cond" "$round"
        round=$((round + 1))
    done
    busy_stop
done
for cond in idle loaded; do
    echo "median $cond: scan --rendered $(median "$work/$cond-scan.times") s, harvest --rendered" \
        "$(median "$work/$cond-rendered.times") s, harvest of the static page" \
        "$(median "$work/$cond-static.times") s"
done
echo "failed runs: $failures"
[ "$failures" -eq 0 ]
