#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds (release preset) and starts Harvix. Builds only what the program needs: the two
# programs, the web engine module and Help.txt (harvix depends on the last two), no tests or
# benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target harvix harvix-cli
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'TEXT'
No display found: Harvix starts on a virtual X server (xvfb-run), where its window cannot be
seen. To harvest from this terminal, use harvix-cli instead:
    build/release/bin/harvix-cli harvest URL SAVE_DIR
(build/release/bin/harvix-cli --help tells more). Press Ctrl+C to end Harvix.
TEXT
    exec xvfb-run -a -s "-screen 0 1280x1024x24" build/release/bin/harvix "$@"
fi
exec build/release/bin/harvix "$@"
