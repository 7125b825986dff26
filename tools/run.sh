#!/usr/bin/env bash
# Builds the editor.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTAL_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"
