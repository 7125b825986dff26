#!/usr/bin/env bash
# Installs, with apt-get, what building, running and testing the editor need on Debian 12.
# Packages that are already there are left alone, so a second run installs nothing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    juce-modules-source libxcursor-dev libx11-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    fonts-dejavu-core fontconfig-config
    xvfb xauth x11-apps xdotool
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
