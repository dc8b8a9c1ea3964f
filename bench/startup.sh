#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the program's start: from the start of the process until its main window is mapped on
# the X server, beside an empty Qt Widgets window with the same seven Japanese menus
# (emptywindow, built with the benchmarks), on one Xvfb server of its own. The two start
# alternately; every round's times and the medians are printed. Target: harvix within 1.5x the
# empty window.
#
# Usage: bench/startup.sh [BIN_DIR] [ROUNDS]
#   BIN_DIR  folder that holds harvix, emptywindow and startwatch (default: build/release/bin)
#   ROUNDS   rounds of each (default: 21)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
bin=${1:-$here/../build/release/bin}
rounds=${2:-21}

command -v Xvfb >/dev/null 2>&1 || { echo "startup: Xvfb is missing" >&2; exit 1; }
for program in harvix emptywindow startwatch; do
    [ -x "$bin/$program" ] || { echo "startup: no $program in $bin" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

start_xvfb "$work" startup

# A home of its own, so no per-user file of the machine's user is read.
mkdir -m 700 "$work/home"
export DISPLAY=":$(cat "$work/display")" HOME="$work/home" XDG_RUNTIME_DIR="$work/home"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb

watch() {
    "$bin/startwatch" "$bin/$1" 2>>"$work/errors" ||
        { echo "startup: $1 showed no window:" >&2; cat "$work/errors" >&2; exit 1; }
}

echo "round  harvix(ms)  empty window(ms)  ratio"
: >"$work/harvix"
: >"$work/empty"
: >"$work/ratios"
# Round 0 only warms the caches and is not counted; which one goes first alternates.
round=0
while [ "$round" -le "$rounds" ]; do
    if [ $((round % 2)) -eq 1 ]; then
        h=$(watch harvix)
        e=$(watch emptywindow)
    else
        e=$(watch emptywindow)
        h=$(watch harvix)
    fi
    if [ "$round" -gt 0 ]; then
        ratio=$(awk "BEGIN { printf \"%.2f\", $h / $e }")
        printf '%5d  %10.1f  %16.1f  %5.2f\n' "$round" "$h" "$e" "$ratio"
        echo "$h" >>"$work/harvix"
        echo "$e" >>"$work/empty"
        echo "$ratio" >>"$work/ratios"
    fi
    round=$((round + 1))
done

echo "median: harvix $(median "$work/harvix" 2) ms, empty window $(median "$work/empty" 2) ms, ratio $(median "$work/ratios" 2)"
