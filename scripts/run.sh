#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds (release preset) and starts Harvix.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting Harvix on a virtual X server (xvfb-run)." >&2
    exec xvfb-run -a -s "-screen 0 1280x1024x24" build/release/bin/harvix "$@"
fi
exec build/release/bin/harvix "$@"
