#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, then builds and runs the whole test suite twice: the release build and the
# AddressSanitizer + UndefinedBehaviorSanitizer build. Ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
status=0
for preset in release asan; do
    echo "=== ${preset} ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j2 || status=1
done
exit $status
