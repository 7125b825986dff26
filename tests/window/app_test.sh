#!/usr/bin/env bash
# Drives the real application in the X server of the test run:
#   app_test.sh KESTAL_BINARY CASE CLOSE_WINDOW_BINARY APPLICATION_NAME VERSION
# with the application's name and version as the build gives them to the application.
set -uo pipefail

app=$1
case_name=$2
close_window=$3
app_name=$4
title="$app_name V$5"

work=$(mktemp -d)
export KESTAL_SETTINGS_DIR=$work/settings
export KESTAL_VIRTUAL_SURFACE_LOG=$work/surface.log
mkdir -p "$KESTAL_SETTINGS_DIR"
# The instance lock and the hand-over pipe lie in the user's runtime folder: one of the case's
# own, so that runs side by side never meet through them.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()

# Xlib keeps some locale data for good once a window is made; loaded from the start it is never
# unloaded, so a sanitizer build's leak check can still tell those blocks are Xlib's.
export LD_PRELOAD=libX11.so.6
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

# The application takes SIGTERM as a request to quit, which a running firmware upgrade step
# holds back until it is over; whatever is still there after five seconds is killed.
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait_for_exit_within "$p" 50 || kill -KILL "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits until a window whose name is exactly $1 exists, for up to $2 tenths of a second (100
# when not given); prints its id.
wait_for_window() {
    local id
    for _ in $(seq 1 "${2:-100}"); do
        id=$(xdotool search --onlyvisible --name "^$(printf '%s' "$1" | sed 's/[.[\*^$()+?{|]/\\&/g')\$" 2>/dev/null | head -n1)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.1
    done
    return 1
}

wait_for_exit() {
    wait_for_exit_within "$1" 100
}

# Waits until process $1 has ended, for up to $2 tenths of a second.
wait_for_exit_within() {
    for _ in $(seq 1 "$2"); do
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

# Presses a command button at a point of the content and waits for the window it opens, titled
# $3. Right after a modal run ends the window may not take the click yet: it is tried again.
press_for_window() {
    for _ in 1 2 3; do
        click_content "$1" "$2"
        for _ in $(seq 1 50); do
            xdotool search --onlyvisible --name "^$3\$" > /dev/null 2>&1 && return 0
            sleep 0.1
        done
    done
    return 1
}

# Picks a file in the framework's own file dialog titled $1, as a person would: types the path
# into the dialog's file-name box and accepts it. $2 is the path.
choose_in_dialog() {
    local dialog
    dialog=$(wait_for_window "$1") || fail "no $1 dialog"
    sleep 1
    local dx dy dw dh
    read -r dx dy dw dh < <(xdotool getwindowgeometry --shell "$dialog" | awk -F= '/^X=|^Y=|^WIDTH=|^HEIGHT=/{printf "%s ", $2}')
    # The file-name box spans the dialog above its buttons.
    xdotool mousemove $((dx + dw / 2)) $((dy + dh - 65)) click 1
    sleep 0.5
    xdotool type --delay 10 "$2"
    # The first Return takes the path apart into folder and name, the second accepts the name.
    xdotool key Return
    sleep 0.5
    xdotool key Return
}

wait_until_gone() {
    for _ in $(seq 1 50); do
        xdotool search --onlyvisible --name "^$1\$" > /dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

# A user-defined mapping file as the system writes it: control 1 a control change on channel 5,
# number 64; every other control a note on channel 1, number 0.
write_user_defined_map() {
    printf '<?xml version="1.0" encoding="UTF-8"?>\r\n\r\n<map mode="user-defined" name="Mine">\r\n  <controls>\r\n'
    for id in $(seq 1 108); do
        if [ "$id" -le 90 ]; then kind=button; elif [ "$id" -le 98 ]; then kind=knob
        elif [ "$id" -eq 99 ]; then kind=jog-wheel; elif [ "$id" -le 107 ]; then kind=fader; else kind=master-fader; fi
        if [ "$id" -eq 1 ]; then
            printf '    <control id="1" kind="button" type="cc" chan="5" value="64"/>\r\n'
        else
            printf '    <control id="%d" kind="%s" type="note" chan="1" value="0"/>\r\n' "$id" "$kind"
        fi
    done
    printf '  </controls>\r\n</map>\r\n'
}

# A second start while the application runs: it opens no window and ends, and the running
# window comes to the front.
expect_hand_over() {
    xclock -title "elsewhere" &
    local clock=$!
    pids+=($clock)
    local other
    other=$(wait_for_window "elsewhere") || fail "no other window to take the focus"
    xdotool windowfocus --sync "$other"
    [ "$(xdotool getwindowfocus)" = "$other" ] || fail "could not move the focus away"

    local windows_before
    windows_before=$(xdotool search --onlyvisible --name "^$app_name" | wc -l)
    "$app" > "$work/second.log" 2>&1 &
    local second=$!
    wait_for_exit "$second" || fail "the second instance did not end"
    wait "$second" || fail "the second instance ended with an error"

    [ "$(xdotool search --onlyvisible --name "^$app_name" | wc -l)" -eq "$windows_before" ] || fail "the second instance opened a window"
    for _ in $(seq 1 50); do
        [ "$(xdotool getwindowfocus)" = "$window" ] && break
        sleep 0.1
    done
    [ "$(xdotool getwindowfocus)" = "$window" ] || fail "the running window did not come to the front"
    kill -0 "$app_pid" || fail "the running instance ended"
    kill "$clock" 2>/dev/null
    wait "$clock" 2>/dev/null
}

# Clicks a point given in the content's coordinates (the window's menu bar sits above it).
menu_bar_height=24
click_content() {
    xdotool mousemove $((win_x + $1)) $((win_y + menu_bar_height + $2)) click 1
}

# Clicks a point given in the firmware upgrade panel's coordinates (514 x 491): the panel is
# its dialog's content, at the dialog's bottom.
click_panel() {
    xdotool mousemove $((px + $1)) $((py + ph - 491 + $2)) click 1
}

# Clicks a point of the panel until a window titled $3 shows (a click that comes before the
# dialog takes clicks is lost); true once it does.
click_panel_for() {
    for _ in 1 2 3; do
        click_panel "$1" "$2"
        wait_for_window "$3" 30 > /dev/null && return 0
    done
    return 1
}

# Clicks a point of the panel until the surface's log shows a message with the bytes $3 (a
# click that comes right after a modal run is lost); true once it does.
click_panel_until_sent() {
    for _ in 1 2 3; do
        click_panel "$1" "$2"
        for _ in $(seq 1 30); do
            grep -qP "^\d+\t$3\$" "$KESTAL_VIRTUAL_SURFACE_LOG" 2>/dev/null && return 0
            sleep 0.1
        done
    done
    return 1
}

# Waits for a chooser titled $1 (300 x 200, at its dialog's bottom) and presses its OK button at
# 90, 160, again if the first click came before the dialog took clicks. True once the chooser
# has gone.
confirm_chooser() {
    local chooser cx cy cw ch
    chooser=$(wait_for_window "$1") || return 1
    sleep 1
    read -r cx cy cw ch < <(xdotool getwindowgeometry --shell "$chooser" | awk -F= '/^X=|^Y=|^WIDTH=|^HEIGHT=/{printf "%s ", $2}')
    for _ in 1 2 3; do
        xdotool mousemove $((cx + 90 + 50)) $((cy + ch - 200 + 160 + 15)) click 1
        wait_until_gone "$1" && return 0
    done
    return 1
}

# Waits until the file $1 has a line matching the pattern $2, for up to $3 tenths of a second
# (50 when not given).
wait_for_file_line() {
    for _ in $(seq 1 "${3:-50}"); do
        grep -qP "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Waits until the surface's log has a line matching the pattern $1, for up to $2 tenths of a
# second.
wait_for_log_line() {
    wait_for_file_line "$KESTAL_VIRTUAL_SURFACE_LOG" "$1" "$2"
}

# Presses "Firmware Upgrade" and OK in the warning; leaves the place of the upgrader's panel in
# px, py, pw and ph.
open_upgrader() {
    press_for_window $((35 + 47)) $((670 - 33 + 11)) "Firmware Upgrader about to start" || fail "no warning before the upgrader"
    local warning
    warning=$(wait_for_window "Firmware Upgrader about to start")
    sleep 1
    # Pressed on the focused window: a key sent to one window alone can be left held down in
    # the X server, which then repeats it into whatever has the focus next.
    xdotool windowfocus --sync "$warning" 2>/dev/null
    xdotool key Return
    local panel
    panel=$(wait_for_window "Firmware Upgrade") || fail "no Firmware Upgrade dialog after the warning's OK"
    sleep 1
    read -r px py pw ph < <(xdotool getwindowgeometry --shell "$panel" | awk -F= '/^X=|^Y=|^WIDTH=|^HEIGHT=/{printf "%s ", $2}')
}

# Step 1: the simulated surface, recognised as the model $1.
connect_step() {
    click_panel_for 62 102 "Choose Your Fenz Device" || fail "Connect opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Connect's chooser did not take the surface"
    wait_for_window "Firmware Upgrade: $1" > /dev/null || fail "Connect did not recognise the $1"
}

# Serves an image of $2 bytes on a firmware mirror of this case's own, starts the editor
# against the simulated $1 (tamrel or ostrel) and takes the upgrader through steps 1 to 4: the
# device, its upgrade mode, its upgrade port and the image, downloaded from the mirror. Leaves
# the image in $image and the panel's place in px, py, pw and ph.
prepare_upgrade() {
    local model=$1 product
    [ "$model" = tamrel ] && product=Tamrel || product=Ostrel

    mkdir -p "$work/www/files"
    image=$work/www/files/tamrel_ostrel_9.9.bin
    head -c "$2" /dev/urandom > "$image"
    cat > "$work/www/firmware.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<firmwares>
  <firmware pid="176" name="Tamrel" version="9.9" fw="files/tamrel_ostrel_9.9.bin"/>
  <firmware pid="177" name="Ostrel" version="9.9" fw="files/tamrel_ostrel_9.9.bin"/>
</firmwares>
XML
    start_server
    export KESTAL_FIRMWARE_SERVER="http://127.0.0.1:$server_port/"

    start_app "$model"
    open_upgrader
    connect_step "$product"

    # Step 2: the upgrade-mode request, then the surface's upgrade port in step 3.
    click_panel_until_sent 158 102 'F0 1D 03 01 30 00 7F 7F F7' || fail "Erase sent no upgrade-mode request"
    sleep 2
    click_panel_for 254 102 "Choose Your Fenz Device" || fail "Activate opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Activate's chooser did not take the upgrade port"
    sleep 1

    # Step 4: the version from the mirror, downloaded.
    click_panel_for 350 102 "Firmware Version" || fail "Select Version offered no version from the mirror"
    confirm_chooser "Firmware Version" || fail "the version chooser did not take the version"
    for _ in $(seq 1 100); do
        grep -q '"GET /files/tamrel_ostrel_9.9.bin HTTP/1.1" 200' "$work/server.log" && break
        sleep 0.1
    done
    grep -q '"GET /files/tamrel_ostrel_9.9.bin HTTP/1.1" 200' "$work/server.log" || fail "the image was never downloaded"
    sleep 1
}

# The surface's reset note gives the size and CRC-32 of what it was written: the image, with
# zeros after it to the end of its last block.
expect_image_on_surface() {
    local blocks=$(( ($(stat -c %s "$image") + 511) / 512 ))
    local size=$((blocks * 512)) crc
    crc=$(python3 -c 'import sys, zlib; d = open(sys.argv[1], "rb").read(); d += bytes(int(sys.argv[2]) - len(d)); print("%08X" % zlib.crc32(d))' "$image" "$size")
    grep -q "^# reset: image of $size bytes, CRC-32 $crc" "$KESTAL_VIRTUAL_SURFACE_LOG" \
        || fail "the surface does not hold the file's $size bytes (CRC-32 $crc): $(grep '^# reset' "$KESTAL_VIRTUAL_SURFACE_LOG")"
}

# A web server on loopback serving $work/www, for this case only; its port in server_port.
start_server() {
    python3 -u -m http.server --bind 127.0.0.1 --directory "$work/www" 0 > "$work/server.log" 2>&1 &
    pids+=($!)
    server_port=
    for _ in $(seq 1 50); do
        server_port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/server.log" | head -n1)
        [ -n "$server_port" ] && return 0
        sleep 0.1
    done
    fail "the loopback web server did not start"
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
        expect_hand_over
        ;;

    handover-junk)
        start_app tamrel
        pipe=$XDG_RUNTIME_DIR/TamrelOstrelPelto.pipe_in
        [ -p "$pipe" ] || fail "no hand-over pipe in the runtime folder"
        # Eight bytes of junk, then a header that claims 2 GiB; the listener must drop both.
        printf '\001junk\377\000\177' > "$pipe"
        printf 'KsHo\000\000\000\200' > "$pipe"
        sleep 0.5
        expect_hand_over
        # And it keeps listening.
        expect_hand_over
        ;;

    per-user)
        start_app tamrel
        [ "$(stat -c %a "$XDG_RUNTIME_DIR")" = 700 ] || fail "the runtime folder is not the user's alone"
        for f in TamrelOstrelPelto.lock TamrelOstrelPelto.pipe_in TamrelOstrelPelto.pipe_out; do
            [ "$(stat -c %a "$XDG_RUNTIME_DIR/$f")" = 600 ] || fail "$f is not the user's alone"
        done
        # Another user's start finds its own runtime folder free and becomes that user's first
        # instance; so does one without a runtime folder, in the folder named with its user id.
        other=$work/other-runtime
        mkdir -m 700 "$other"
        XDG_RUNTIME_DIR=$other "$app" > "$work/other.log" 2>&1 &
        pids+=($!)
        mkdir -m 700 "$work/tmp"
        env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" "$app" > "$work/fallback.log" 2>&1 &
        pids+=($!)
        for _ in $(seq 1 100); do
            [ "$(xdotool search --onlyvisible --name "^$app_name" 2>/dev/null | wc -l)" -eq 3 ] && break
            sleep 0.1
        done
        [ "$(xdotool search --onlyvisible --name "^$app_name" | wc -l)" -eq 3 ] || fail "not one window per user"
        own=$work/tmp/kestal-$(id -u)
        [ "$(stat -c %a "$own")" = 700 ] || fail "the folder named with the user id is not the user's alone"
        [ -e "$own/TamrelOstrelPelto.lock" ] || fail "no lock in the folder named with the user id"
        # A second start of either user still hands over to that user's instance.
        env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" "$app" > "$work/fallback-second.log" 2>&1 &
        second=$!
        wait_for_exit "$second" || fail "the second start of the user without a runtime folder did not end"
        expect_hand_over
        [ "$(xdotool search --onlyvisible --name "^$app_name" | wc -l)" -eq 3 ] || fail "a second start opened a window"
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
        press_for_window $((419 + 47)) $((670 - 33 + 11)) "Send Mapping" || fail "no Send Mapping box"
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

    file-dialogs)
        # Load a file that holds only control 1 through the real dialog, send it, then save it
        # under a name without an extension, twice, the second time onto the first.
        mkdir -p "$work/maps"
        printf '<?xml version="1.0" encoding="UTF-8"?>\n<map mode="user-defined" name="Mine"><controls>'\
'<control id="1" kind="button" type="cc" chan="5" value="64"/></controls></map>\n' > "$work/maps/mine.pelto"
        write_user_defined_map > "$work/expected.pelto"
        start_app tamrel

        press_for_window $((525 + 47)) $((670 - 33 + 11)) "Load Mapping" || fail "no Load Mapping dialog"
        choose_in_dialog "Load Mapping" "$work/maps/mine.pelto"
        wait_until_gone "Load Mapping" || fail "the Load Mapping dialog did not close"
        press_for_window $((419 + 47)) $((670 - 33 + 11)) "Send Mapping" || fail "no Send Mapping box"
        grep -q "^# mapping taken for mode 3" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no user-defined mapping"
        [ "$(grep -cP '^\d+\t' "$KESTAL_VIRTUAL_SURFACE_LOG")" -eq 250 ] || fail "not all 108 controls were sent"
        # Control 1's two messages: a control change on channel 5, then number 64.
        grep -A1 -P "\tF0 1D 03 01 30 00 04 7F F7$" "$KESTAL_VIRTUAL_SURFACE_LOG" | tail -n1 | grep -qP "\t9F 04 02$" \
            || fail "control 1 did not arrive as the file says"
        grep -P '^\d+\t' "$KESTAL_VIRTUAL_SURFACE_LOG" | sed -n '124p' | grep -qP "\t9F 0C 00$" \
            || fail "control 1's number did not arrive as the file says"
        xdotool windowfocus --sync "$(wait_for_window "Send Mapping")" 2>/dev/null
        xdotool key Return
        wait_until_gone "Send Mapping"

        press_for_window $((631 + 47)) $((670 - 33 + 11)) "Save Mapping" || fail "no Save Mapping dialog"
        choose_in_dialog "Save Mapping" "$work/maps/studio"
        wait_until_gone "Save Mapping" || fail "the Save Mapping dialog did not close"
        sleep 0.5
        [ -e "$work/maps/studio" ] && fail "saved without the extension"
        cmp -s "$work/maps/studio.pelto" "$work/expected.pelto" || fail "studio.pelto does not hold the loaded map in full"

        # The question about overwriting is about the name that is written: cancelled, the file
        # stays; confirmed, it is written.
        printf 'old' > "$work/maps/studio.pelto"
        for answer in Escape Return; do
            press_for_window $((631 + 47)) $((670 - 33 + 11)) "Save Mapping" || fail "no Save Mapping dialog"
            choose_in_dialog "Save Mapping" "$work/maps/studio"
            question=$(wait_for_window "File already exists") || fail "no question before overwriting studio.pelto"
            sleep 0.5
            xdotool windowfocus --sync "$question" key "$answer"
            wait_until_gone "File already exists" || fail "the question did not close"
            sleep 0.5
            if [ "$answer" = Escape ]; then
                [ "$(cat "$work/maps/studio.pelto")" = old ] || fail "written although the overwrite was cancelled"
            fi
        done
        cmp -s "$work/maps/studio.pelto" "$work/expected.pelto" || fail "the confirmed overwrite did not write the map"
        ;;

    about-menu)
        start_app tamrel
        xdotool mousemove $((win_x + 20)) $((win_y + 12)) click 1
        sleep 0.8
        xdotool mousemove $((win_x + 40)) $((win_y + menu_bar_height + 14)) click 1
        wait_for_window "About $app_name" > /dev/null || fail "no About box from the menu"
        ;;

    escape-quits)
        start_app tamrel
        xdotool windowfocus --sync "$window"
        xdotool key --window "$window" shift+Escape
        wait_for_exit "$app_pid" || fail "Escape did not quit"
        wait "$app_pid" || fail "the application ended with status $?"
        [ -s "$KESTAL_SETTINGS_DIR/Kestal.conf" ] || fail "no settings file written at shutdown"
        ;;

    firmware-upgrade|firmware-upgrade-extender)
        if [ "$case_name" = firmware-upgrade ]; then
            prepare_upgrade tamrel $((123 * 512))
        else
            prepare_upgrade ostrel $((8 * 512))
        fi

        # Step 5: it begins with the connect packet, whose bytes 55 travel as 9F 05 05.
        click_panel_until_sent 446 102 '9F 05 05' || fail "Upgrade sent nothing"
        wait_for_window "Firmware Upgrade Success" 600 > /dev/null || fail "no Firmware Upgrade Success box"
        expect_image_on_surface
        ;;

    firmware-keys)
        # The panel's keys work without a click into it: M as soon as the dialog is open, M
        # again once Connect's chooser has closed, and T once the F1 box has closed.
        start_app tamrel
        open_upgrader
        xdotool key m
        wait_for_window "Firmware Upgrade [M]" 30 > /dev/null || fail "M did not reach the panel when its dialog opened"

        connect_step Tamrel
        xdotool key m
        wait_for_window "Firmware Upgrade [M]" 30 > /dev/null || fail "M did not reach the panel after Connect's chooser"

        xdotool key F1
        about=
        for _ in $(seq 1 30); do
            about=$(xdotool search --onlyvisible --name "Fenz Firmware Upgrader" 2>/dev/null | head -n1)
            [ -n "$about" ] && break
            sleep 0.1
        done
        [ -n "$about" ] || fail "F1 showed no about box"
        sleep 0.5
        xdotool windowfocus --sync "$about" 2>/dev/null
        xdotool key Return
        for _ in $(seq 1 30); do
            xdotool search --onlyvisible --name "Fenz Firmware Upgrader" > /dev/null 2>&1 || break
            sleep 0.1
        done
        xdotool key t
        wait_for_window "Firmware Upgrade." 30 > /dev/null || fail "T did not reach the panel after the F1 box"
        ;;

    firmware-quit-by-close|firmware-quit-by-signal)
        # The largest image the device takes; a quit asked for at block 30, by the window
        # manager's close of the main window or by SIGINT, waits for the whole run.
        "$close_window" > "$work/atoms.log" 2>&1 &
        pids+=($!)
        wait_for_file_line "$work/atoms.log" '^ready$' || fail "could not make the atoms of the close message"
        prepare_upgrade tamrel 63487
        click_panel_until_sent 446 102 '9F 05 05' || fail "Upgrade sent nothing"
        wait_for_log_line '^# block 30 written' 300 || fail "the write did not reach block 30"

        if [ "$case_name" = firmware-quit-by-close ]; then
            "$close_window" "$window" || fail "could not ask the main window to close"
        else
            kill -INT "$app_pid"
        fi

        # The run goes on to its end and resets the device, asking nobody anything, and only
        # then does the application quit. The surface lives in the application's process, so
        # whatever it noted, it noted before the end.
        wait_for_exit_within "$app_pid" 600 || fail "the application did not quit after the run"
        wait "$app_pid" || fail "the application ended with status $?"
        [ "$(grep -c '^# block [0-9]* written' "$KESTAL_VIRTUAL_SURFACE_LOG")" -eq 124 ] || fail "the run was cut short: not all 124 blocks were written"
        expect_image_on_surface
        [ -s "$KESTAL_SETTINGS_DIR/Kestal.conf" ] || fail "no settings file written at shutdown"
        ;;

    *)
        fail "unknown case $case_name"
        ;;
esac

echo "PASS: $case_name"
