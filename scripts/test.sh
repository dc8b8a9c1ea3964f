#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, then builds and runs the whole test suite twice: the release build and the
# AddressSanitizer + UndefinedBehaviorSanitizer build. Ends with CTest's summary.
# The tests run in a network namespace of their own with only loopback up, so a test that tries
# to reach anything beyond 127.0.0.1/::1 fails instead of sending a packet.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# Runs its arguments with only the loopback interface, where the system allows a new network
# namespace (as root, or through a user namespace); elsewhere as they are, saying so.
on_loopback_only() {
    local unshare=(unshare -n)
    [ "$(id -u)" = 0 ] || unshare=(unshare -rn)
    if "${unshare[@]}" true 2>/dev/null; then
        "${unshare[@]}" sh -c 'ip link set lo up && exec "$@"' sh "$@"
    else
        echo "test.sh: no network namespace can be made here; the tests run on the host's network" >&2
        "$@"
    fi
}

status=0
for preset in release asan; do
    echo "=== ${preset} ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    on_loopback_only ctest --preset "$preset" -j2 || status=1
done
exit $status
