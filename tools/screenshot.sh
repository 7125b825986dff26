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

# Clicks the main window's widget named $1 in the window tests' table, tests/window/widgets.sh;
# win_x and win_y hold the window's place.
click_widget() {
    local point
    point=$(widget_centre "$1")
    xdotool mousemove "${point% *}" "${point#* }" click 1
}

# Runs in the virtual X server: starts the editor, presses its widgets where the window tests
# find them, and writes the picture to $1.
take_picture() {
    set -e
    source tests/window/widgets.sh
    local settings app window win_x win_y
    settings=$(mktemp -d)
    KESTAL_SETTINGS_DIR=$settings KESTAL_VIRTUAL_SURFACE=tamrel build-app/Kestal > /dev/null 2>&1 &
    app=$!
    for _ in $(seq 1 100); do
        # The editor's main window is the first it shows.
        window=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -n1) && [ -n "$window" ] && break
        sleep 0.1
    done
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$window")"
    win_x=$X win_y=$Y
    # Select the first strip's REC button, then pick the user-defined mode with the keyboard.
    click_widget rec-1
    sleep 0.3
    click_widget mode-box
    sleep 0.5
    xdotool key Down Down Down Return
    sleep 0.5
    xdotool mousemove 0 0
    sleep 0.3
    import -window "$window" "$1"
    kill $app
    rm -rf "$settings"
}
# The shell that xvfb-run starts is given the functions as text: xvfb-run is a POSIX shell
# script, which would drop exported ones.
xvfb-run -a -s "-screen 0 1280x1024x24" \
    bash -c "$(declare -f click_widget take_picture)"'; take_picture "$1"' take-picture "$out"
echo "Wrote $out"
