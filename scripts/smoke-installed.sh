#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A short check of the installed packages (scripts/package.sh --install): both programs answer
# from the PATH, harvix-cli harvests a page from a loopback server into a temporary folder, the
# manual pages, desktop entry and metainfo are found and valid, the browser module is in
# harvix-browser and harvix needs no private Qt symbol. Then harvix-browser is removed and
# harvix alone must still start and harvest. With --remove, then removes harvix and checks that
# none of the files of either package stays behind.
set -euo pipefail

fail() {
    echo "smoke test: $*" >&2
    exit 1
}

version=$(dpkg-query -W -f='${Version}' harvix) || fail "harvix is not installed"
dpkg-query -W harvix-browser >/dev/null || fail "harvix-browser is not installed"
echo "=== harvix ${version} installed, with harvix-browser"
dpkg -L harvix-browser | grep -qx /usr/lib/harvix/harvix_webengine.so ||
    fail "the web engine module is not in harvix-browser"
if dpkg -L harvix | grep -q webengine; then
    fail "harvix holds the web engine module"
fi
# The program starts whatever Qt's private symbols: it needs none at load time.
if nm -D --undefined-only /usr/lib/harvix/harvix | grep -q qt_gl_; then
    fail "harvix needs a private Qt symbol (qt_gl_*) at load time"
fi

[ "$(harvix-cli --version)" = "harvix-cli ${version}" ] || fail "harvix-cli --version"
# The window program answers --version without a display.
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 30 harvix --version)" = "harvix ${version}" ] ||
    fail "harvix --version"

work=$(mktemp -d)
server=""
cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A page referencing one JPEG, served by python's http.server on 127.0.0.1 at a free port.
mkdir -p "$work/site/img" "$work/saved"
printf '<html><body><p>smoke</p><img src="img/photo.jpg"></body></html>\n' >"$work/site/index.html"
printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xd9' \
    >"$work/site/img/photo.jpg"
python3 -u -m http.server --bind 127.0.0.1 --directory "$work/site" 0 >"$work/server.log" 2>&1 &
server=$!
port=""
for _ in $(seq 50); do
    port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$work/server.log" | head -n 1)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || fail "the loopback server did not start: $(cat "$work/server.log")"

names=$(harvix-cli harvest "http://127.0.0.1:${port}/index.html" "$work/saved" 2>"$work/err") ||
    fail "harvix-cli harvest failed: $(cat "$work/err")"
[ "$names" = "photo.jpg" ] || fail "harvest listed: $names"
cmp -s "$work/site/img/photo.jpg" "$work/saved/photo.jpg" || fail "the saved image differs"

# harvix alone: without the browser module it starts (and runs until it is ended) and the
# harvest works.
browser_files=$(dpkg -L harvix-browser)
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q harvix-browser >/dev/null
dpkg-query -W -f='${Status}' harvix 2>/dev/null | grep -q 'install ok installed' ||
    fail "removing harvix-browser removed harvix"
rc=0
env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" timeout 5 harvix >"$work/alone.log" 2>&1 ||
    rc=$?
[ "$rc" = 124 ] || fail "harvix without harvix-browser ended with status $rc: $(cat "$work/alone.log")"
rm -rf "$work/saved" && mkdir "$work/saved"
names=$(harvix-cli harvest "http://127.0.0.1:${port}/index.html" "$work/saved" 2>"$work/err") ||
    fail "harvix-cli harvest without harvix-browser failed: $(cat "$work/err")"
[ "$names" = "photo.jpg" ] || fail "harvest without harvix-browser listed: $names"
while IFS= read -r f; do
    if [ -f "$f" ]; then
        fail "left behind after removing harvix-browser: $f"
    fi
done <<<"$browser_files"

man -w harvix-cli >/dev/null || fail "man -w harvix-cli"
man -w harvix >/dev/null || fail "man -w harvix"
desktop-file-validate /usr/share/applications/harvix.desktop || fail "desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/*harvix.metainfo.xml >/dev/null ||
    fail "metainfo"
echo "=== smoke test passed"

if [ "${1:-}" = "--remove" ]; then
    files=$(dpkg -L harvix)
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -q harvix
    left=""
    while IFS= read -r f; do
        [ "$f" = "/." ] && continue
        if [ -e "$f" ] || [ -L "$f" ]; then
            # Folders that other packages share (/usr/bin, /usr/share/man/man1...) stay.
            if [ -d "$f" ] && [ ! -L "$f" ] && dpkg-query -S "$f" >/dev/null 2>&1; then
                continue
            fi
            left+="$f "
        fi
    done <<<"$files"
    [ -z "$left" ] || fail "left behind after removal: $left"
    echo "=== removed, nothing left behind"
fi
