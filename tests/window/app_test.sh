#!/usr/bin/env bash
# Drives the real application in the X server of the test run:
#   app_test.sh KESTAL_BINARY CASE CLOSE_WINDOW_BINARY APPLICATION_NAME VERSION
# with the application's name and version as the build gives them to the application, or
# prints every case with its time limit in seconds, one a line, for the build to make a test of
# each:
#   app_test.sh --list
# This file holds the cases; helpers.sh beside it, the helpers they are written with, and
# widgets.sh the widgets they press, by name.
set -uo pipefail

app=$1
case_name=${2:-}
close_window=${3:-}
app_name=${4:-}
title="$app_name V${5:-}"
pids=()

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

#===============================================================================================
# The cases. Each is announced by window_case with its name and its time limit in seconds, and
# is the function of that name with case_ before it and underscores for its dashes, right
# below; the build makes a test of each from the list that --list prints.
window_cases=()
window_case() { window_cases+=("$1 $2"); }

window_case main-window 60
case_main_window() {
    start_app tamrel
    [ "$win_w" -eq 1010 ] || fail "window width $win_w, not 1010"
    [ "$win_h" -eq $((670 + menu_bar_height)) ] || fail "window height $win_h, not 670 below the menu bar"
}

window_case extender-window 60
case_extender_window() {
    start_app ostrel
    [ "$win_w" -eq 760 ] || fail "window width $win_w, not 760 for the extender"
    [ "$win_h" -eq $((670 + menu_bar_height)) ] || fail "window height $win_h"
}

window_case second-start 60
case_second_start() {
    start_app tamrel
    expect_hand_over
}

window_case handover-junk 60
case_handover_junk() {
    start_app tamrel
    pipe=$XDG_RUNTIME_DIR/Tamrel_2FOstrel_20Pelto.pipe_in
    [ -p "$pipe" ] || fail "no hand-over pipe in the runtime folder"
    # Eight bytes of junk, then a header that claims 2 GiB; the listener must drop both.
    printf '\001junk\377\000\177' > "$pipe"
    printf 'KsHo\000\000\000\200' > "$pipe"
    wait_until_pipe_read "$pipe" || fail "the running instance did not read the hand-over pipe"
    expect_hand_over
    # And it keeps listening.
    expect_hand_over
}

window_case per-user 60
case_per_user() {
    start_app tamrel
    [ "$(stat -c %a "$XDG_RUNTIME_DIR")" = 700 ] || fail "the runtime folder is not the user's alone"
    for f in Tamrel_2FOstrel_20Pelto.lock Tamrel_2FOstrel_20Pelto.pipe_in Tamrel_2FOstrel_20Pelto.pipe_out; do
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
    [ -e "$own/Tamrel_2FOstrel_20Pelto.lock" ] || fail "no lock in the folder named with the user id"
    # A second start of either user still hands over to that user's instance.
    env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" "$app" > "$work/fallback-second.log" 2>&1 &
    second=$!
    wait_for_exit "$second" || fail "the second start of the user without a runtime folder did not end"
    expect_hand_over
    [ "$(xdotool search --onlyvisible --name "^$app_name" | wc -l)" -eq 3 ] || fail "a second start opened a window"
}

window_case send-data 60
case_send_data() {
    start_app tamrel
    press_for_window send-data "Send Mapping" || fail "no Send Mapping box"
    grep -q "^# mapping taken for mode 0" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no mapping"
    grep -qP "^\d+\tF0 1D 03 01 30 00 01 7F F7$" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "no header in the surface's record"
    [ "$(grep -cP '^\d+\t' "$KESTAL_VIRTUAL_SURFACE_LOG")" -eq 250 ] || fail "not 250 messages received"
}

window_case connect 60
case_connect() {
    start_app tamrel
    press_for_window connect "Select your device" || fail "no device chooser"
    # The surface is listed and chosen: its Connect button ends the chooser.
    chooser=$(shown_window "Select your device")
    click_in_window_until "$chooser" $((90 + 50)) $((10 + 15)) is_gone "Select your device" \
        || fail "the chooser did not accept the surface"
    press_for_window send-data "Send Mapping" || fail "no Send Mapping box"
    grep -q "^# mapping taken for mode 0" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no mapping"
}

window_case edit-and-send 60
case_edit_and_send() {
    start_app tamrel
    # Select strip 1's REC button (control 1), switch the mode box to the user-defined mode,
    # set the channel box to 5, and send. The boxes' keys go to the main window's focus.
    xdotool windowfocus --sync "$window"
    select_control rec-1 || fail "control 1 could not be selected"
    pick_in_box mode-box 3 || fail "the mode box did not take the user-defined mode"
    pick_in_box channel-box 4 || fail "the channel box did not take channel 5"
    press_for_window send-data "Send Mapping" || fail "no Send Mapping box"
    grep -q "^# mapping taken for mode 3" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no user-defined mapping"
    # The header with command 4, then control 1's pass-1 message on channel 5 (4 on the wire).
    grep -A1 -P "\tF0 1D 03 01 30 00 04 7F F7$" "$KESTAL_VIRTUAL_SURFACE_LOG" | tail -n1 | grep -qP "\t9F 04 00$" \
        || fail "control 1 did not go out on channel 5"
}

window_case file-dialogs 120
case_file_dialogs() {
    # Load a file that holds only control 1 through the real dialog, send it, then save it
    # under a name without an extension, twice, the second time onto the first.
    mkdir -p "$work/maps"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<map mode="user-defined" name="Mine"><controls>'\
'<control id="1" kind="button" type="cc" chan="5" value="64"/></controls></map>\n' > "$work/maps/mine.pelto"
    write_user_defined_map > "$work/expected.pelto"
    start_app tamrel

    press_for_window load-file "Load Mapping" || fail "no Load Mapping dialog"
    enter_in_file_dialog "Load Mapping" "$work/maps/mine.pelto"
    wait_until_gone "Load Mapping" || fail "the Load Mapping dialog did not close"
    press_for_window send-data "Send Mapping" || fail "no Send Mapping box"
    grep -q "^# mapping taken for mode 3" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no user-defined mapping"
    [ "$(grep -cP '^\d+\t' "$KESTAL_VIRTUAL_SURFACE_LOG")" -eq 250 ] || fail "not all 108 controls were sent"
    # Control 1's two messages: a control change on channel 5, then number 64.
    grep -A1 -P "\tF0 1D 03 01 30 00 04 7F F7$" "$KESTAL_VIRTUAL_SURFACE_LOG" | tail -n1 | grep -qP "\t9F 04 02$" \
        || fail "control 1 did not arrive as the file says"
    grep -P '^\d+\t' "$KESTAL_VIRTUAL_SURFACE_LOG" | sed -n '124p' | grep -qP "\t9F 0C 00$" \
        || fail "control 1's number did not arrive as the file says"
    press_key_until_gone "Send Mapping" Return || fail "the Send Mapping box did not close"

    press_for_window save-file "Save Mapping" || fail "no Save Mapping dialog"
    enter_in_file_dialog "Save Mapping" "$work/maps/studio"
    wait_until_gone "Save Mapping" || fail "the Save Mapping dialog did not close"
    # The file is written after the dialog has gone, whole under its final name.
    wait_until 50 eval '[ -e "$work/maps/studio" ] || [ -e "$work/maps/studio.pelto" ]'
    [ -e "$work/maps/studio" ] && fail "saved without the extension"
    cmp -s "$work/maps/studio.pelto" "$work/expected.pelto" || fail "studio.pelto does not hold the loaded map in full"

    # The question about overwriting is about the name that is written: cancelled, the file
    # stays; confirmed, it is written.
    printf 'old' > "$work/maps/studio.pelto"
    for answer in Escape Return; do
        press_for_window save-file "Save Mapping" || fail "no Save Mapping dialog"
        if [ "$answer" = Return ]; then
            # A cancelled overwrite shows nothing; that the editor has taken the click for this
            # dialog shows it has dealt with the answer before.
            [ "$(cat "$work/maps/studio.pelto")" = old ] || fail "written although the overwrite was cancelled"
        fi
        enter_in_file_dialog "Save Mapping" "$work/maps/studio"
        wait_for_window "File already exists" > /dev/null || fail "no question before overwriting studio.pelto"
        press_key_until_gone "File already exists" "$answer" || fail "the question did not close"
    done
    wait_until 50 cmp -s "$work/maps/studio.pelto" "$work/expected.pelto" || fail "the confirmed overwrite did not write the map"
}

window_case about-menu 60
case_about_menu() {
    start_app tamrel
    click_until $((win_x + 20)) $((win_y + 12)) is_shown menu || fail "the menu bar opened no menu"
    # A menu takes no click in the first quarter of a second after it opened (so that the
    # release of the click that opened it picks nothing), and shows nothing when that time is
    # over.
    sleep 0.3
    click_until $((win_x + 40)) $((win_y + menu_bar_height + 14)) is_shown "About $app_name" \
        || fail "no About box from the menu"
}

window_case escape-quits 60
case_escape_quits() {
    start_app tamrel
    press_key_until_gone "$title" shift+Escape || fail "Escape did not quit"
    wait_for_exit "$app_pid" || fail "the application did not end after its window"
    wait "$app_pid" || fail "the application ended with status $?"
    [ -s "$KESTAL_SETTINGS_DIR/Kestal.conf" ] || fail "no settings file written at shutdown"
}

# Whole firmware upgrades in the running application, each from a firmware mirror on loopback
# that the case starts and stops itself, and quits asked for in the middle of one. The write
# alone takes some 5 s.

# Serves an image of $2 bytes and upgrades the simulated $1 with it.
upgrade_in_full() {
    prepare_upgrade "$1" "$2"

    # Step 5: it begins with the connect packet, whose bytes 55 travel as 9F 05 05.
    press_until_sent step-upgrade '9F 05 05' || fail "Upgrade sent nothing"
    wait_for_window "Firmware Upgrade Success" 600 > /dev/null || fail "no Firmware Upgrade Success box"
    expect_image_on_surface
}

window_case firmware-upgrade 240
case_firmware_upgrade() {
    upgrade_in_full tamrel $((123 * 512))
}

window_case firmware-upgrade-extender 240
case_firmware_upgrade_extender() {
    upgrade_in_full ostrel $((8 * 512))
}

# The F1 box's title is its whole text, which names the upgrader among other lines.
is_about_box_shown() { xdotool search --onlyvisible --name "Fenz Firmware Upgrader" > /dev/null 2>&1; }
is_about_box_gone() { ! is_about_box_shown; }

window_case firmware-keys 240
case_firmware_keys() {
    # The panel's keys work without a click into it: M as soon as the dialog is open, M
    # again once Connect's chooser has closed, and T once the F1 box has closed. Each key is
    # pressed once the panel's window has the X server's focus, which the panel asks for.
    start_app tamrel
    open_upgrader
    xdotool key m
    wait_for_window "Firmware Upgrade [M]" 30 > /dev/null || fail "M did not reach the panel when its dialog opened"

    connect_step Tamrel
    wait_for_focus "$panel" || fail "the panel's window did not take the focus back after Connect's chooser"
    xdotool key m
    wait_for_window "Firmware Upgrade [M]" 30 > /dev/null || fail "M did not reach the panel after Connect's chooser"

    xdotool key F1
    wait_until 30 is_about_box_shown || fail "F1 showed no about box"
    for _ in 1 2 3; do
        about=$(xdotool search --onlyvisible --name "Fenz Firmware Upgrader" 2>/dev/null | head -n1) || break
        xdotool windowfocus --sync "$about" 2>/dev/null || continue
        xdotool key Return
        wait_until "$patience" is_about_box_gone && break
    done
    is_about_box_gone || fail "the F1 box did not close"
    wait_for_focus "$panel" || fail "the panel's window did not take the focus back after the F1 box"
    press_key_until_shown t "Firmware Upgrade." || fail "T did not reach the panel after the F1 box"
}

# The largest image the device takes; a quit asked for at block 30, by the window manager's
# close of the main window ($1 close) or by SIGINT ($1 signal), waits for the whole run.
quit_during_upgrade() {
    upgrade_until_block_30

    if [ "$1" = close ]; then
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
}

window_case firmware-quit-by-close 240
case_firmware_quit_by_close() {
    quit_during_upgrade close
}

window_case firmware-quit-by-signal 240
case_firmware_quit_by_signal() {
    quit_during_upgrade signal
}

# A local firmware file chosen once, then the file chooser opened again, which starts where
# the first file is: the path of another file typed into its file box and Open pressed, that
# other file is the one written to the device.
window_case firmware-typed-path 240
case_firmware_typed_path() {
    mkdir -p "$work/images"
    local first=$work/images/tamrel_ostrel_1.0.bin
    image=$work/images/tamrel_ostrel_2.0.bin
    head -c $((8 * 512)) /dev/urandom > "$first"
    head -c $((12 * 512)) /dev/urandom > "$image"

    start_app tamrel
    open_upgrader
    connect_step Tamrel
    # Local files: M once the panel has the focus back after Connect's chooser.
    wait_for_focus "$panel" || fail "the panel's window did not take the focus back after Connect's chooser"
    xdotool key m
    wait_for_window "Firmware Upgrade [M]" 30 > /dev/null || fail "M did not switch the upgrader to local files"
    patience=$erase_patience press_until_sent step-erase 'F0 1D 03 01 30 00 7F 7F F7' || fail "Erase sent no upgrade-mode request"
    wait_for_log_line '^# upgrade mode: ' 50 || fail "the surface did not switch to its upgrade mode"
    press_for_window step-activate "Choose Your Fenz Device" || fail "Activate opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Activate's chooser did not take the upgrade port"

    press_for_window step-version "Choose The Firmware File" || fail "Select Version opened no file chooser"
    enter_in_file_dialog "Choose The Firmware File" "$first"
    press_for_window step-version "Choose The Firmware File" || fail "Select Version did not open the file chooser again"
    enter_in_file_dialog "Choose The Firmware File" "$image" open-button

    press_until_sent step-upgrade '9F 05 05' || fail "Upgrade sent nothing"
    wait_for_window "Firmware Upgrade Success" 600 > /dev/null || fail "no Firmware Upgrade Success box"
    expect_image_on_surface
}

# A quit held for an Upgrade run says why the program is still there. The main window's close
# is asked for at block 30: the upgrader's status line says it closes once the step is over
# (standard error, where a quit from a terminal is seen, says so too, which is what is read
# here), and the run's outcome, which no box shows now, follows there before the program ends.
# (The upgrader's coming to the front is the window manager's to carry out; there is none
# here.)
window_case firmware-held-quit-says-why 240
case_firmware_held_quit_says_why() {
    upgrade_until_block_30

    "$close_window" "$window" || fail "could not ask the main window to close"

    wait_for_file_line "$work/app.log" '^Closing once this step is over\.\.\.$' 50 \
        || fail "nothing said why the program is still there"
    grep -q '^# reset' "$KESTAL_VIRTUAL_SURFACE_LOG" && fail "the line came only after the run"
    kill -0 "$app_pid" 2>/dev/null || fail "the application ended before the run was over"
    is_shown "Firmware Upgrade: Tamrel" || fail "the upgrader is not shown while the run goes on"

    wait_for_exit_within "$app_pid" 600 || fail "the application did not quit after the run"
    wait "$app_pid" || fail "the application ended with status $?"
    grep -qx 'Firmware Upgrade Success: Your firmware has been upgraded!' "$work/app.log" \
        || fail "the run's outcome was not told: $(cat "$work/app.log")"
    expect_image_on_surface
}

# An upgrade cut off in the middle, as by a pulled cable: the simulated surface vanishes after
# block 3 and, started again with the editor, shows only its upgrade port. A second upgrade
# done as the README says recovers it: T, then Connect and Activate on the upgrade port, with
# Erase between them, the image, and Upgrade.
downloaded_twice() { [ "$(grep -c '"GET /files/tamrel_ostrel_9.9.bin HTTP/1.1" 200' "$work/server.log")" -ge 2 ]; }

window_case firmware-recovery 300
case_firmware_recovery() {
    export KESTAL_VIRTUAL_SURFACE_STATE=$work/surface.state
    export KESTAL_VIRTUAL_SURFACE_FAULTS=vanish-after-data=3
    prepare_upgrade tamrel $((20 * 512 + 100))
    press_until_sent step-upgrade '9F 05 05' || fail "Upgrade sent nothing"
    wait_for_window "Firmware Upgrade Error" 600 > /dev/null || fail "the cut-off write ended without an error"
    grep -qx 'firmware not written whole' "$KESTAL_VIRTUAL_SURFACE_STATE" \
        || fail "the surface did not keep its unfinished write: $(cat "$KESTAL_VIRTUAL_SURFACE_STATE" 2>&1); $(grep "^#" "$KESTAL_VIRTUAL_SURFACE_LOG" | tail -n 4)"
    press_key_until_gone "Firmware Upgrade Error" Return || fail "the error box did not take its OK"
    kill -TERM "$app_pid"
    wait_for_exit_within "$app_pid" 600 || fail "the first editor did not quit"

    # Plugged in again: only the upgrade port, which Connect alone does not take.
    unset KESTAL_VIRTUAL_SURFACE_FAULTS
    start_app tamrel
    wait_for_log_line '^# started with firmware that was not written whole: .*only the upgrade mode starts$' 50 \
        || fail "the surface did not start in its upgrade mode"
    open_upgrader
    press_for_window step-connect "Choose Your Fenz Device" || fail "Connect opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Connect's chooser did not take the upgrade port"
    # Its box has the panel's title: the other window of that name.
    local box=
    for _ in $(seq 1 50); do
        box=$(xdotool search --onlyvisible --name '^Firmware Upgrade$' 2>/dev/null | grep -vx "$panel" | head -n1)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || fail "Connect did not say the device is in upgrade mode"
    press_key_in_window_until "$box" Return is_id_gone "$box" || fail "the box did not take its OK"

    # Test mode takes the upgrade port as the model the editor shows.
    wait_for_focus "$panel" || fail "the panel's window did not take the focus back after the box"
    press_key_until_shown t "Firmware Upgrade." || fail "T did not reach the panel"
    connect_step Tamrel
    patience=$erase_patience press_until_more step-erase '^\d+\tF0 1D 03 01 30 00 7F 7F F7$' || fail "Erase sent no upgrade-mode request"
    press_for_window step-activate "Choose Your Fenz Device" || fail "Activate opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Activate's chooser did not take the upgrade port"
    press_for_window step-version "Firmware Version" || fail "Select Version offered no version from the mirror"
    confirm_chooser "Firmware Version" || fail "the version chooser did not take the version"
    wait_until 100 downloaded_twice || fail "the image was not downloaded again"
    press_until_more step-upgrade '^# connected; answered 7F$' || fail "Upgrade sent nothing"
    wait_for_window "Firmware Upgrade Success" 600 > /dev/null || fail "no Firmware Upgrade Success box"

    expect_image_on_surface
    wait_for_log_line '^# normal mode: ' 50 || fail "the surface did not come back in normal mode"
    grep -qx 'firmware whole' "$KESTAL_VIRTUAL_SURFACE_STATE" || fail "the surface does not keep its firmware as whole"
}

# Without a runtime folder, the folder named with the user id is anyone's to make first; where
# it is no folder of the user's (here a link to one), a start cannot tell whether another
# instance runs. It says why, on standard error and in a box, and ends with no window, even
# while an instance runs that it would not have found.
window_case lock-folder-not-ours 60
case_lock_folder_not_ours() {
    start_app tamrel
    mkdir -m 700 "$work/tmp" "$work/elsewhere"
    ln -s "$work/elsewhere" "$work/tmp/kestal-$(id -u)"
    env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" "$app" > "$work/refused.log" 2>&1 &
    refused=$!
    pids+=("$refused")
    box=$(wait_for_window "$app_name") || fail "no box saying why the start cannot go on"
    grep -q "cannot make sure that it runs only once: $work/tmp/kestal-$(id -u), the folder for its lock, is a link" "$work/refused.log" \
        || fail "standard error does not say why: $(cat "$work/refused.log")"
    [ "$(xdotool search --onlyvisible --name "^$(printf '%s' "$title" | sed 's/[.[\*^$()+?{|/]/\\&/g')\$" | wc -l)" -eq 1 ] \
        || fail "the refused start opened a main window"
    press_key_in_window_until "$box" Return wait_for_exit_within "$refused" "$patience"
    wait_for_exit "$refused" || fail "the refused start did not end after the box"
    [ -z "$(ls -A "$work/elsewhere")" ] || fail "something was made through the link: $(ls -A "$work/elsewhere")"
    kill -0 "$app_pid" || fail "the running instance ended"
}

#===============================================================================================
if [ "$app" = --list ]; then
    printf '%s\n' "${window_cases[@]}"
    exit 0
fi

known=false
for c in "${window_cases[@]}"; do
    [ "${c% *}" = "$case_name" ] && known=true
done
$known || fail "unknown case $case_name"

work=$(mktemp -d)
trap cleanup EXIT
export KESTAL_SETTINGS_DIR=$work/settings
export KESTAL_VIRTUAL_SURFACE_LOG=$work/surface.log
mkdir -p "$KESTAL_SETTINGS_DIR"
# The instance lock and the hand-over pipe lie in the user's runtime folder: one of the case's
# own, so that runs side by side never meet through them.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Xlib keeps some locale data for good once a window is made; loaded from the start it is never
# unloaded, so a sanitizer build's leak check can still tell those blocks are Xlib's.
export LD_PRELOAD=libX11.so.6
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

"case_${case_name//-/_}"

echo "PASS: $case_name"
