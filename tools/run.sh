#!/usr/bin/env bash
# Builds the editor and starts it.
#
# With no surface attached it starts against the simulated main unit, so that Connect and Send
# Data work at once. KESTAL_VIRTUAL_SURFACE chooses for itself: "tamrel" or "ostrel" for the
# simulated main unit or extender, "none" for the real hardware only.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake -S . -B build-app -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTAL_BUILD_TESTS=OFF
cmake --build build-app -j "$(nproc)"

if [ -z "${KESTAL_VIRTUAL_SURFACE:-}" ]; then
    if grep -qiE "tamrel|ostrel" /proc/asound/cards 2>/dev/null; then
        export KESTAL_VIRTUAL_SURFACE=none
    else
        echo "No Tamrel or Ostrel is attached: starting with the simulated main unit."
        export KESTAL_VIRTUAL_SURFACE=tamrel
    fi
fi

if [ -n "${DISPLAY:-}" ]; then
    exec build-app/Kestal
else
    echo "No display: the editor runs in a virtual X server (Ctrl-C ends it)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24" build-app/Kestal
fi
