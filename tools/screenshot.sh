#!/usr/bin/env bash
# Takes the picture of the main window that the README shows: the editor runs against the
# simulated main unit in a virtual X server, one control selected, in the user-defined mode.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
command -v import > /dev/null || { apt-get update; apt-get install -y --no-install-recommends imagemagick; }
cmake -S . -B build-app -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTAL_BUILD_TESTS=OFF
cmake --build build-app -j "$(nproc)"

out=${1:-docs/main-window.png}
mkdir -p "$(dirname "$out")"

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -e
    settings=$(mktemp -d)
    KESTAL_SETTINGS_DIR=$settings KESTAL_VIRTUAL_SURFACE=tamrel build-app/Kestal > /dev/null 2>&1 &
    app=$!
    for _ in $(seq 1 100); do
        # The editor'"'"'s main window is the first it shows.
        window=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -n1) && [ -n "$window" ] && break
        sleep 0.1
    done
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # Select the first strip'"'"'s REC button, then pick the user-defined mode with the keyboard.
    xdotool mousemove $((X + 24 + 25)) $((Y + 24 + 66 + 172)) click 1
    sleep 0.3
    xdotool mousemove $((X + 25 + 100)) $((Y + 24 + 670 - 54)) click 1
    sleep 0.5
    xdotool key Down Down Down Return
    sleep 0.5
    xdotool mousemove 0 0
    sleep 0.3
    import -window "$window" "'"$out"'"
    kill $app
    rm -rf "$settings"
'
echo "Wrote $out"
