#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages that building, running, testing and packaging Harvix need.
# Does nothing when they are all present already.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-webengine-dev libgl-dev qt6-translations-l10n
    libcurl4-openssl-dev libicu-dev qcoro-qt6-dev libsqlite3-dev libssl-dev
    zlib1g-dev libbrotli-dev libzstd-dev
    fonts-noto-cjk
    libgtest-dev libgmock-dev libcpp-httplib-dev libbenchmark-dev openssl
    xvfb xauth ppp iproute2 util-linux
    build-essential dpkg-dev debhelper lintian desktop-file-utils appstream man-db python3
)
if [ "${1:-}" = "--bench" ]; then
    packages+=(nginx-light wget wget2 curl xdotool libxcb1-dev time)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
