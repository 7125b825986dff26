#!/usr/bin/env bash
# Drives the real application in the X server of the test run: app_test.sh KESTAL_BINARY CASE
set -uo pipefail

app=$1
case_name=$2
title="Tamrel/Ostrel Pelto V1.14"

work=$(mktemp -d)
export KESTAL_SETTINGS_DIR=$work/settings
export KESTAL_VIRTUAL_SURFACE_LOG=$work/surface.log
mkdir -p "$KESTAL_SETTINGS_DIR"
pids=()

# Xlib keeps some locale data for good once a window is made; loaded from the start it is never
# unloaded, so a sanitizer build's leak check can still tell those blocks are Xlib's.
export LD_PRELOAD=libX11.so.6
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits until a window whose name is exactly $1 exists; prints its id.
wait_for_window() {
    local id
    for _ in $(seq 1 100); do
        id=$(xdotool search --onlyvisible --name "^$(printf '%s' "$1" | sed 's/[.[\*^$()+?{|]/\\&/g')\$" 2>/dev/null | head -n1)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.1
    done
    return 1
}

wait_for_exit() {
    for _ in $(seq 1 100); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

start_app() {
    KESTAL_VIRTUAL_SURFACE=$1 "$app" > "$work/app.log" 2>&1 &
    app_pid=$!
    pids+=("$app_pid")
    if ! window=$(wait_for_window "$title"); then
        kill -0 "$app_pid" 2>/dev/null || fail "the application ended at start; is another instance running?"
        fail "the main window did not appear"
    fi
    # A window takes clicks once the framework has seen it mapped; a sanitizer build is slower.
    sleep 1
    read -r win_x win_y win_w win_h < <(xdotool getwindowgeometry --shell "$window" | awk -F= '/^X=|^Y=|^WIDTH=|^HEIGHT=/{printf "%s ", $2}')
}

# Clicks a point given in the content's coordinates (the window's menu bar sits above it).
menu_bar_height=24
click_content() {
    xdotool mousemove $((win_x + $1)) $((win_y + menu_bar_height + $2)) click 1
}

case "$case_name" in
    main-window)
        start_app tamrel
        [ "$win_w" -eq 1010 ] || fail "window width $win_w, not 1010"
        [ "$win_h" -eq $((670 + menu_bar_height)) ] || fail "window height $win_h, not 670 below the menu bar"
        ;;

    extender-window)
        start_app ostrel
        [ "$win_w" -eq 760 ] || fail "window width $win_w, not 760 for the extender"
        [ "$win_h" -eq $((670 + menu_bar_height)) ] || fail "window height $win_h"
        ;;

    second-start)
        start_app tamrel
        xclock -title "elsewhere" &
        pids+=($!)
        other=$(wait_for_window "elsewhere") || fail "no other window to take the focus"
        xdotool windowfocus --sync "$other"
        [ "$(xdotool getwindowfocus)" = "$other" ] || fail "could not move the focus away"

        "$app" > "$work/second.log" 2>&1 &
        second=$!
        wait_for_exit "$second" || fail "the second instance did not end"
        wait "$second" || fail "the second instance ended with an error"

        [ "$(xdotool search --name "^Tamrel/Ostrel Pelto" | wc -l)" -eq 1 ] || fail "the second instance opened a window"
        for _ in $(seq 1 50); do
            [ "$(xdotool getwindowfocus)" = "$window" ] && break
            sleep 0.1
        done
        [ "$(xdotool getwindowfocus)" = "$window" ] || fail "the running window did not come to the front"
        kill -0 "$app_pid" || fail "the running instance ended"
        ;;

    send-data)
        start_app tamrel
        click_content $((419 + 47)) $((670 - 33 + 11))
        wait_for_window "Send Mapping" > /dev/null || fail "no Send Mapping box"
        grep -q "^# mapping taken for mode 0" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no mapping"
        grep -qP "^\d+\tF0 1D 03 01 30 00 01 7F F7$" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "no header in the surface's record"
        [ "$(grep -cP '^\d+\t' "$KESTAL_VIRTUAL_SURFACE_LOG")" -eq 250 ] || fail "not 250 messages received"
        ;;

    connect)
        start_app tamrel
        click_content $((313 + 47)) $((670 - 33 + 11))
        chooser=$(wait_for_window "Select your device") || fail "no device chooser"
        # The surface is listed and chosen: its Connect button ends the chooser. A click that
        # comes before the dialog takes clicks is tried again.
        sleep 1
        read -r cx cy cw ch < <(xdotool getwindowgeometry --shell "$chooser" | awk -F= '/^X=|^Y=|^WIDTH=|^HEIGHT=/{printf "%s ", $2}')
        for _ in 1 2 3; do
            xdotool mousemove $((cx + 90 + 50)) $((cy + ch - 10 - 15)) click 1
            for _ in $(seq 1 20); do
                xdotool search --onlyvisible --name "^Select your device$" > /dev/null 2>&1 || break 2
                sleep 0.1
            done
        done
        xdotool search --onlyvisible --name "^Select your device$" > /dev/null 2>&1 && fail "the chooser did not accept the surface"
        click_content $((419 + 47)) $((670 - 33 + 11))
        wait_for_window "Send Mapping" > /dev/null || fail "no Send Mapping box"
        grep -q "^# mapping taken for mode 0" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no mapping"
        ;;

    edit-and-send)
        start_app tamrel
        # Select strip 1's REC button (control 1), switch the mode box to the user-defined mode,
        # set the channel box to 5, and send.
        click_content $((24 + 25)) $((66 + 160 + 12))
        sleep 0.8
        click_content $((25 + 100)) $((670 - 65 + 11))
        sleep 0.8
        xdotool key Down Down Down Return
        sleep 0.8
        click_content $((395 + 55)) $((670 - 65 + 11))
        sleep 0.8
        xdotool key Down Down Down Down Return
        sleep 0.8
        click_content $((419 + 47)) $((670 - 33 + 11))
        wait_for_window "Send Mapping" > /dev/null || fail "no Send Mapping box"
        grep -q "^# mapping taken for mode 3" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no user-defined mapping"
        # The header with command 4, then control 1's pass-1 message on channel 5 (4 on the wire).
        grep -A1 -P "\tF0 1D 03 01 30 00 04 7F F7$" "$KESTAL_VIRTUAL_SURFACE_LOG" | tail -n1 | grep -qP "\t9F 04 00$" \
            || fail "control 1 did not go out on channel 5"
        ;;

    about-menu)
        start_app tamrel
        xdotool mousemove $((win_x + 20)) $((win_y + 12)) click 1
        sleep 0.8
        xdotool mousemove $((win_x + 40)) $((win_y + menu_bar_height + 14)) click 1
        wait_for_window "About Tamrel/Ostrel Pelto" > /dev/null || fail "no About box from the menu"
        ;;

    escape-quits)
        start_app tamrel
        xdotool windowfocus --sync "$window"
        xdotool key --window "$window" shift+Escape
        wait_for_exit "$app_pid" || fail "Escape did not quit"
        wait "$app_pid" || fail "the application ended with status $?"
        [ -s "$KESTAL_SETTINGS_DIR/Kestal.conf" ] || fail "no settings file written at shutdown"
        ;;

    *)
        fail "unknown case $case_name"
        ;;
esac

echo "PASS: $case_name"
