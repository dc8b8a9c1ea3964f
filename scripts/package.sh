#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of this checkout the Debian way (dpkg-buildpackage), into the folder
# above it: ../harvix_VERSION_ARCH.deb, ../harvix-browser_VERSION_ARCH.deb (the web engine module
# of the built-in browser) and their -dbgsym packages. Checks them with lintian, which fails the
# script on an error. With --install, then installs both (apt-get).
# Remove them again with: apt-get remove harvix harvix-browser
set -euo pipefail
cd "$(dirname "$0")/.."

install=0
case "${1:-}" in
--install) install=1 ;;
"") ;;
*)
    echo "Usage: scripts/package.sh [--install]" >&2
    exit 64
    ;;
esac

scripts/setup.sh
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
changes="../harvix_${version}_${arch}.changes"
debs=("../harvix_${version}_${arch}.deb" "../harvix-browser_${version}_${arch}.deb")

# Objects compiled before with the same flags come from ccache, when it is there.
if command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
# --post-clean leaves the checkout as it was (no obj-*/ or debian/harvix/ behind).
dpkg-buildpackage -b -us -uc --post-clean

echo "=== lintian ${changes}"
lintian --fail-on error "$changes"

if [ "$install" = 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q --reinstall "$(realpath "${debs[0]}")" "$(realpath "${debs[1]}")"
fi
