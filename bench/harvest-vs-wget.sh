#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times "harvix-cli harvest" against "wget -r -l1" and against "curl -K" on the same generated
# site: one page that references 2000 JPEG files of 20 KB each, served by nginx on 127.0.0.1.
# curl reads a config file of the same url/output pairs (the page, then every image) and fetches
# them serially over one connection. The three run in turn, in a different order every round;
# every round's times and the medians of the times and of the ratios harvix-cli / curl and
# harvix-cli / wget are printed. Targets: harvix-cli at most 1.0x curl and 0.7x wget.
#
# Usage: bench/harvest-vs-wget.sh [HARVIX_CLI] [ROUNDS]
#   HARVIX_CLI  the harvix-cli to time (default: build/release/bin/harvix-cli)
#   ROUNDS      rounds of each (default: 5)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../build/release/bin/harvix-cli}
rounds=${2:-5}
files=2000
size=20480

for tool in nginx wget curl python3; do
    command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] ||
        { echo "harvest-vs-wget: $tool is missing" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "harvest-vs-wget: no harvix-cli at $cli" >&2; exit 1; }
. "$here/common.sh"

make_workdir

# The site: index.html and img/0000.jpg ... img/1999.jpg, random bytes.
make_gallery "$work/site" "$files" "$size"
chmod -R a+rX "$work/site"
ls "$work/site/img" >"$work/names"

start_nginx "$work" "$work/site"
url="http://127.0.0.1:$port/index.html"
for _ in 1 2 3 4 5 6 7 8 9 10; do
    wget -q -O /dev/null "$url" && break
    sleep 0.2
done

now() { date +%s.%N; }
count() { find "$1" -name '*.jpg' -type f | wc -l; }

# curl's url/output pairs, relative to the folder it runs in.
{
    printf 'url = "%s"\noutput = "index.html"\n' "$url"
    while read -r name; do
        printf 'url = "http://127.0.0.1:%s/img/%s"\noutput = "%s"\n' "$port" "$name" "$name"
    done <"$work/names"
} >"$work/curl.cfg"

echo "site: $files files of $size bytes at $url"
echo "round  harvix-cli(s)  curl(s)  wget(s)  /curl  /wget"
for f in cli-times curl-times wget-times curl-ratios wget-ratios; do : >"$work/$f"; done
run_cli() {
    start=$(now)
    "$cli" harvest "$url" "$out_cli" >/dev/null 2>"$work/cli.err" ||
        { echo "harvix-cli failed:" >&2; cat "$work/cli.err" >&2; exit 1; }
    cli_time=$(calc "$(now) - $start")
}
run_curl() {
    start=$(now)
    (cd "$out_curl" && curl -s -K "$work/curl.cfg") ||
        { echo "curl failed" >&2; exit 1; }
    curl_time=$(calc "$(now) - $start")
}
run_wget() {
    start=$(now)
    (cd "$out_wget" && wget -q -r -l1 -nd -A jpg,JPG "$url") || true
    wget_time=$(calc "$(now) - $start")
}

# Every round writes into fresh folders and nothing is deleted until the end: ext4 searches
# longer for free inodes right after many files were deleted, which would burden whichever tool
# runs first. Round 0 only warms the caches and is not counted.
round=0
while [ "$round" -le "$rounds" ]; do
    out_cli="$work/out-cli-$round"
    out_wget="$work/out-wget-$round"
    out_curl="$work/out-curl-$round"
    mkdir "$out_cli" "$out_wget" "$out_curl"

    # Which tool goes first changes every round.
    case $((round % 3)) in
    0) run_cli; run_curl; run_wget ;;
    1) run_curl; run_wget; run_cli ;;
    *) run_wget; run_cli; run_curl ;;
    esac

    [ "$(count "$out_cli")" -eq "$files" ] || { echo "harvix-cli saved $(count "$out_cli") files" >&2; exit 1; }
    [ "$(count "$out_wget")" -eq "$files" ] || { echo "wget saved $(count "$out_wget") files" >&2; exit 1; }
    [ "$(count "$out_curl")" -eq "$files" ] || { echo "curl saved $(count "$out_curl") files" >&2; exit 1; }
    if [ "$round" -eq 0 ]; then
        round=1
        continue
    fi

    curl_ratio=$(calc "$cli_time / $curl_time")
    wget_ratio=$(calc "$cli_time / $wget_time")
    printf '%5d  %13.3f  %7.3f  %7.3f  %5.2f  %5.2f\n' "$round" "$cli_time" "$curl_time" \
        "$wget_time" "$curl_ratio" "$wget_ratio"
    echo "$cli_time" >>"$work/cli-times"
    echo "$curl_time" >>"$work/curl-times"
    echo "$wget_time" >>"$work/wget-times"
    echo "$curl_ratio" >>"$work/curl-ratios"
    echo "$wget_ratio" >>"$work/wget-ratios"
    round=$((round + 1))
done

echo "median: harvix-cli $(median "$work/cli-times") s, curl $(median "$work/curl-times") s," \
    "wget $(median "$work/wget-times") s"
echo "median ratio: harvix-cli / curl $(median "$work/curl-ratios") (target <= 1.0)," \
    "harvix-cli / wget $(median "$work/wget-ratios") (target <= 0.7)"
