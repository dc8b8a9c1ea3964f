#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the harvest in the real main window against harvix-cli on the same pages: pages that
# reference 500, 1000, 2000 and 6000 JPEG files of 20 KB each, served by nginx on 127.0.0.1. The
# window runs under Xvfb; xdotool types the page address into TURL and presses Enter, and the
# time runs from that Enter until the last image file is in the save folder. harvix-cli and the
# window run alternately; each round's times, the time per image, the medians and the minimums
# are printed.
#
# Usage: bench/window-harvest.sh [HARVIX] [HARVIX_CLI] [ROUNDS] [OLD_HARVIX]
#   HARVIX      the window program (default: build/release/bin/harvix)
#   HARVIX_CLI  the command-line tool (default: build/release/bin/harvix-cli)
#   ROUNDS      rounds of each, per page (default: 5)
#   OLD_HARVIX  another build of the window program, timed in the same rounds right after
#               HARVIX; its ratio to harvix-cli and its time against HARVIX's, round by round,
#               are printed too (the machine's speed drifts between separate runs)
# Targets: the window within 1.1x harvix-cli at 2000 and 6000 images, and a time per image that
# stays flat from 500 to 6000 images. The site and the save folders go into a folder of mktemp -d:
# TMPDIR=/dev/shm keeps the file system's own costs (ext4's search for free inodes on a disk
# where many files were deleted) out of the comparison; there each run's files are deleted once
# counted.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
harvix=${1:-$here/../build/release/bin/harvix}
cli=${2:-$here/../build/release/bin/harvix-cli}
rounds=${3:-5}
old=${4:-}
sizes="500 1000 2000 6000"
size=20480

for tool in nginx python3 Xvfb xdotool; do
    command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] ||
        { echo "window-harvest: $tool is missing" >&2; exit 1; }
done
[ -x "$harvix" ] || { echo "window-harvest: no harvix at $harvix" >&2; exit 1; }
[ -x "$cli" ] || { echo "window-harvest: no harvix-cli at $cli" >&2; exit 1; }
[ -z "$old" ] || [ -x "$old" ] || { echo "window-harvest: no harvix at $old" >&2; exit 1; }
. "$here/common.sh"

work=$(mktemp -d)
chmod 755 "$work"
xvfb_pid=
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    stop_nginx "$work"
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The site: img/0000.jpg ... img/5999.jpg (random bytes) and one page per size, page-N.html,
# that references the first N of them.
python3 - "$work/site" "$sizes" "$size" <<'PY'
import os, sys
root, counts, size = sys.argv[1], [int(n) for n in sys.argv[2].split()], int(sys.argv[3])
os.makedirs(os.path.join(root, "img"))
for i in range(max(counts)):
    with open(os.path.join(root, "img/%04d.jpg" % i), "wb") as f:
        f.write(b"\xff\xd8\xff" + os.urandom(size - 3))
for count in counts:
    with open(os.path.join(root, "page-%d.html" % count), "w") as page:
        page.write("<html><body>\n")
        for i in range(count):
            name = "img/%04d.jpg" % i
            page.write('<a href="%s"><img src="%s" width="160" height="120"></a>\n' % (name, name))
        page.write("</body></html>\n")
PY
chmod -R a+rX "$work/site"

start_nginx "$work" "$work/site"

# An X server of our own; it writes its display number once it accepts clients.
start_xvfb "$work" window-harvest

fstype=$(stat -f -c %T "$work")

DISPLAY=":$(cat "$work/display")" python3 - "$harvix" "$cli" "$rounds" "$port" "$work" "$old" "$fstype" $sizes <<'PY'
import os, shutil, statistics, subprocess, sys, time

harvix, cli, rounds, port, work = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
old = sys.argv[6]
# On tmpfs each run's files go as soon as they are counted. Kept, they fill more memory round
# after round, and the time per image of both tools then rises with the rounds already run, not
# with the page's size (seen on a virtual machine, most likely the cost of memory's first use
# there; it goes when the files are deleted). Elsewhere they stay until the end; see below.
in_memory = sys.argv[7] == "tmpfs"
sizes = [int(n) for n in sys.argv[8:]]
env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", QT_QPA_PLATFORM="xcb",
           no_proxy="127.0.0.1", NO_PROXY="127.0.0.1")
# A regular expression that matches the main window's caption.
title = r"Harvix 1\.0\)$"

def wait_for_file(path, deadline, proc=None):
    while not os.path.exists(path):
        if time.monotonic() > deadline or (proc is not None and proc.poll() is not None):
            return False
        time.sleep(0.002)
    return True

def find_window(proc, home):
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                               env=env, capture_output=True, text=True).stdout.split()
        if found:
            return found[0]
        if proc.poll() is not None:
            sys.exit("harvix ended with status %d: %s"
                     % (proc.returncode, open(os.path.join(home, "harvix.log")).read()))
        time.sleep(0.05)
    sys.exit("the main window did not show")

def run_cli(url, count, out):
    os.makedirs(out)
    start = time.monotonic()
    subprocess.run([cli, "harvest", url, out], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - start
    saved = len(os.listdir(out))
    if saved != count:
        sys.exit("harvix-cli saved %d of %d files" % (saved, count))
    if in_memory:
        shutil.rmtree(out)
    return elapsed

def run_window(url, count, home, program=None):
    # A home of its own: the window saves into its documents folder.
    docs = os.path.join(home, "Documents")
    os.makedirs(docs)
    os.chmod(home, 0o700)
    wenv = dict(env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                XDG_RUNTIME_DIR=home)
    log = open(os.path.join(home, "harvix.log"), "w")
    proc = subprocess.Popen([program or harvix], env=wenv, stdout=log, stderr=log)
    try:
        wid = find_window(proc, home)
        subprocess.run(["xdotool", "windowfocus", "--sync", wid], env=env, check=True)
        subprocess.run(["xdotool", "key", "--window", wid, "ctrl+a"], env=env, check=True)
        subprocess.run(["xdotool", "type", "--delay", "1", url], env=env, check=True)
        time.sleep(0.2)
        last = os.path.join(docs, "%04d.jpg" % (count - 1))
        start = time.monotonic()
        subprocess.run(["xdotool", "key", "Return"], env=env, check=True)
        if not wait_for_file(last, start + 300, proc):
            sys.exit("the window did not save %s" % last)
        elapsed = time.monotonic() - start
    finally:
        proc.terminate()
        proc.wait()
    saved = len([n for n in os.listdir(docs) if n.endswith(".jpg")])
    if saved != count:
        sys.exit("the window saved %d of %d files" % (saved, count))
    if in_memory:
        shutil.rmtree(home)
    return elapsed

summary = []
old_summary = []
for count in sizes:
    url = "http://127.0.0.1:%s/page-%d.html" % (port, count)
    print("page: %d files at %s" % (count, url))
    print("round  window(s)  harvix-cli(s)  ratio  window ms/image  cli ms/image")
    win_times, cli_times, ratios = [], [], []
    old_times, old_ratios, new_to_old = [], [], []
    # Every run writes into fresh folders, and off tmpfs nothing is deleted until the end: ext4
    # searches longer for free inodes right after many files were deleted, which would burden
    # whichever tool runs next. Round 0 only warms the caches and is not counted; which one goes
    # first alternates.
    for r in range(rounds + 1):
        tag = "%d-%d" % (count, r)
        # The old build, if any, runs on the other side of the window from harvix-cli.
        old_home = os.path.join(work, "old-home-" + tag)
        if r % 2:
            c = run_cli(url, count, os.path.join(work, "cli-" + tag))
            w = run_window(url, count, os.path.join(work, "home-" + tag))
            o = run_window(url, count, old_home, old) if old else None
        else:
            o = run_window(url, count, old_home, old) if old else None
            w = run_window(url, count, os.path.join(work, "home-" + tag))
            c = run_cli(url, count, os.path.join(work, "cli-" + tag))
        if r == 0:
            continue
        if old:
            old_times.append(o)
            old_ratios.append(o / c)
            new_to_old.append(w / o)
            print("       old build %9.3f  ratio %5.2f  new/old %5.2f" % (o, o / c, w / o))
        win_times.append(w)
        cli_times.append(c)
        ratios.append(w / c)
        print("%5d  %9.3f  %13.3f  %5.2f  %15.3f  %12.3f"
              % (r, w, c, w / c, 1000 * w / count, 1000 * c / count))
    mw, mc, mr = (statistics.median(v) for v in (win_times, cli_times, ratios))
    summary.append((count, mw, mc, mr, min(win_times), min(cli_times)))
    if old:
        old_summary.append((count, statistics.median(old_times), statistics.median(old_ratios),
                            statistics.median(new_to_old)))

print("medians")
print("images  window(s)  harvix-cli(s)  ratio  window ms/image  cli ms/image")
for count, mw, mc, mr, _, _ in summary:
    print("%6d  %9.3f  %13.3f  %5.2f  %15.3f  %12.3f"
          % (count, mw, mc, mr, 1000 * mw / count, 1000 * mc / count))
# On a machine shared with others the medians move with their load; the fastest round of each
# is the nearest to what the program itself costs.
print("minimums (ratio of the two minimums)")
print("images  window(s)  harvix-cli(s)  ratio  window ms/image  cli ms/image")
for count, _, _, _, nw, nc in summary:
    print("%6d  %9.3f  %13.3f  %5.2f  %15.3f  %12.3f"
          % (count, nw, nc, nw / nc, 1000 * nw / count, 1000 * nc / count))
if old:
    print("the old build, in the same rounds")
    print("images  old window(s)  old ratio  new/old (median of the rounds' ratios)")
    for count, mo, mr, mn in old_summary:
        print("%6d  %13.3f  %9.2f  %7.2f" % (count, mo, mr, mn))
PY
