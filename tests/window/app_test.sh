#!/usr/bin/env bash
# Drives the real application in the X server of the test run:
#   app_test.sh KESTAL_BINARY CASE CLOSE_WINDOW_BINARY APPLICATION_NAME VERSION
# with the application's name and version as the build gives them to the application, or prints every case with its time limit in seconds, one a line, for the build to make a test
# of each:
#   app_test.sh --list
set -uo pipefail

app=$1
case_name=${2:-}
close_window=${3:-}
app_name=${4:-}
title="$app_name V${5:-}"
pids=()

# The application takes SIGTERM as a request to quit, which a running firmware upgrade step
# holds back until it is over; whatever is still there after five seconds is killed.
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait_for_exit_within "$p" 50 || kill -KILL "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}

# Says what failed, and which windows were shown then.
fail() {
    echo "FAIL: $*" >&2
    echo "shown windows:" >&2
    xdotool search --onlyvisible --name . 2>/dev/null | while read -r w; do
        echo "  $w $(xdotool getwindowname "$w" 2>/dev/null | head -n1)" >&2
    done
    exit 1
}

# Runs the command after $1 every tenth of a second until it succeeds, for up to $1 tenths of a
# second; true once it has.
wait_until() {
    local tenths=$1
    shift
    for _ in $(seq 1 "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# How long one try of a click or a key waits for its effect before it is made again, in tenths
# of a second: long enough for a sanitizer build on a busy machine, so that a click or key is
# only made again when the first was lost, not when it was merely slow.
patience=50

# The id of a shown window whose name is exactly $1; false when there is none.
shown_window() {
    local id
    id=$(xdotool search --onlyvisible --name "^$(printf '%s' "$1" | sed 's/[.[\*^$()+?{|]/\\&/g')\$" 2>/dev/null | head -n1)
    [ -n "$id" ] && echo "$id"
}

is_shown() { shown_window "$1" > /dev/null; }
is_gone() { ! is_shown "$1"; }

# Waits until a window whose name is exactly $1 exists, for up to $2 tenths of a second (100
# when not given); prints its id.
wait_for_window() {
    local id
    for _ in $(seq 1 "${2:-100}"); do
        if id=$(shown_window "$1"); then echo "$id"; return 0; fi
        sleep 0.1
    done
    return 1
}

wait_until_gone() {
    wait_until 50 is_gone "$1"
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

# Waits until the window $1 has kept its place and size for a tenth of a second (the framework
# may still place a window it has just shown), for up to five seconds; leaves them in geo_x,
# geo_y, geo_w and geo_h.
wait_for_settled_geometry() {
    local last= now
    for _ in $(seq 1 50); do
        now=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null | awk -F= '/^X=|^Y=|^WIDTH=|^HEIGHT=/{printf "%s ", $2}')
        if [ -n "$now" ] && [ "$now" = "$last" ]; then
            read -r geo_x geo_y geo_w geo_h <<< "$now"
            return 0
        fi
        last=$now
        sleep 0.1
    done
    return 1
}

# Waits until the window $1 has the X server's input focus, where the keys go, for up to five
# seconds.
wait_for_focus() {
    wait_until 50 has_focus "$1"
}

has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# Presses the key $1 until a window named exactly $2 is shown; true once it is. A key that
# comes before the window with the focus takes keys is lost; it is pressed again only after a
# long while, as a second press may undo the first.
press_key_until_shown() {
    for _ in 1 2 3; do
        xdotool key "$1"
        wait_until "$patience" is_shown "$2" && return 0
    done
    return 1
}

# Presses the key $2 in the window titled $1 until that window has gone; true once it has.
# Pressed on the focused window: a key sent to one window alone can be left held down in the X
# server, which then repeats it into whatever has the focus next. It is pressed again only
# while the window is still there after a long while, as the key may mean something else to
# the window that has the focus once it has gone.
press_key_until_gone() {
    local w
    for _ in 1 2 3; do
        w=$(shown_window "$1") || return 0
        xdotool windowfocus --sync "$w" 2>/dev/null || continue
        xdotool key "$2"
        wait_until "$patience" is_gone "$1" && return 0
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
    # A click that comes before the window takes clicks is lost: every click below is made
    # again until its effect shows.
    wait_for_settled_geometry "$window" || fail "the main window did not settle"
    win_x=$geo_x win_y=$geo_y win_w=$geo_w win_h=$geo_h
}

# Clicks the screen point $1, $2 until the command after them succeeds; true once it does. A
# click that comes before a window takes clicks, or right after a modal run ends, is lost.
click_until() {
    local x=$1 y=$2
    shift 2
    for _ in 1 2 3; do
        xdotool mousemove "$x" "$y" click 1
        wait_until "$patience" "$@" && return 0
    done
    return 1
}

# Clicks a point given in the content's coordinates (the window's menu bar sits above it).
menu_bar_height=24
content_x() { echo $((win_x + $1)); }
content_y() { echo $((win_y + menu_bar_height + $1)); }
click_content() {
    xdotool mousemove "$(content_x "$1")" "$(content_y "$2")" click 1
}

# Presses a command button at a point of the content until the window it opens, titled $3,
# shows.
press_for_window() {
    click_until "$(content_x "$1")" "$(content_y "$2")" is_shown "$3"
}

# Clicks the control at a point of the content until it is selected: a selected control shows
# its label as a tooltip once the pointer has moved over it since the click.
select_control() {
    local x y
    x=$(content_x "$1") y=$(content_y "$2")
    for _ in 1 2 3; do
        xdotool mousemove "$x" "$y" click 1 mousemove $((x + 1)) "$y"
        wait_until "$patience" is_shown tooltip && return 0
    done
    return 1
}

# Picks item $3 of a box at a point of the content through its pop-up menu, with the keys: the
# menu opens at the box's current item, and $3 is how many items further down the wanted one
# lies. The keys go to the menu once it shows.
pick_in_box() {
    click_until "$(content_x "$1")" "$(content_y "$2")" is_shown menu || return 1
    local keys=()
    for _ in $(seq 1 "$3"); do keys+=(Down); done
    xdotool key "${keys[@]}" Return
    wait_until "$patience" is_gone menu
}

# Picks a file in the framework's own file dialog titled $1, as a person would: types the path
# into the dialog's file-name box and accepts it. $2 is the path. True once the dialog has
# gone or asks whether to overwrite a file.
choose_in_dialog() {
    local dialog
    dialog=$(wait_for_window "$1") || fail "no $1 dialog"
    wait_for_settled_geometry "$dialog" || fail "the $1 dialog did not settle"
    local dx=$geo_x dy=$geo_y dw=$geo_w dh=$geo_h
    for _ in 1 2 3; do
        dialog_answered "$1" && return 0
        xdotool windowfocus --sync "$dialog" 2>/dev/null
        # The file-name box spans the dialog above its buttons. A click into it selects its
        # text, but only when it did not have the focus already: Ctrl+A does so in any case.
        xdotool mousemove $((dx + dw / 2)) $((dy + dh - 65)) click 1
        xdotool key ctrl+a
        xdotool type --delay 10 "$2"
        # The first Return takes the path apart into folder and name, the second accepts the
        # name; the box deals with each in turn.
        xdotool key Return Return
        wait_until "$patience" dialog_answered "$1" && return 0
    done
    fail "the $1 dialog did not take $2"
}

# Whether the file dialog titled $1 has gone or asks whether to overwrite a file.
dialog_answered() { is_gone "$1" || is_shown "File already exists"; }

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

# Waits until the running instance has read everything written into the hand-over pipe $1, for
# up to five seconds. The pipe's reader reads it a byte at a time and deals with each at once.
wait_until_pipe_read() {
    python3 - "$1" <<'PY'
import fcntl, os, struct, sys, termios, time
for _ in range(50):
    try:
        fd = os.open(sys.argv[1], os.O_WRONLY | os.O_NONBLOCK)
    except OSError:
        fd = None
    if fd is not None:
        unread = struct.unpack('i', fcntl.ioctl(fd, termios.FIONREAD, b'\0' * 4))[0]
        os.close(fd)
        if unread == 0:
            sys.exit(0)
    time.sleep(0.1)
sys.exit(1)
PY
}

# Clicks a point given in the firmware upgrade panel's coordinates (514 x 491): the panel is
# its dialog's content, at the dialog's bottom.
panel_x() { echo $((px + $1)); }
panel_y() { echo $((py + ph - 491 + $1)); }

# Clicks a point of the panel until a window titled $3 shows; true once it does.
click_panel_for() {
    click_until "$(panel_x "$1")" "$(panel_y "$2")" is_shown "$3"
}

# Clicks a point of the panel until the surface's log shows a message with the bytes $3; true
# once it does.
click_panel_until_sent() {
    click_until "$(panel_x "$1")" "$(panel_y "$2")" grep -qP "^\d+\t$3\$" "$KESTAL_VIRTUAL_SURFACE_LOG"
}

# Waits for a chooser titled $1 (300 x 200, at its dialog's bottom) and presses its OK button at
# 90, 160, again if the first click came before the dialog took clicks. True once the chooser
# has gone.
confirm_chooser() {
    local chooser
    chooser=$(wait_for_window "$1") || return 1
    wait_for_settled_geometry "$chooser" || return 1
    click_until $((geo_x + 90 + 50)) $((geo_y + geo_h - 200 + 160 + 15)) is_gone "$1"
}

# Waits until the file $1 has a line matching the pattern $2, for up to $3 tenths of a second
# (50 when not given).
wait_for_file_line() {
    wait_until "${3:-50}" grep -qP "$2" "$1" 2>/dev/null
}

# Waits until the surface's log has a line matching the pattern $1, for up to $2 tenths of a
# second.
wait_for_log_line() {
    wait_for_file_line "$KESTAL_VIRTUAL_SURFACE_LOG" "$1" "$2"
}

# Presses "Firmware Upgrade" and OK in the warning; leaves the upgrader's panel window in panel
# and its place in px, py, pw and ph.
open_upgrader() {
    press_for_window $((35 + 47)) $((670 - 33 + 11)) "Firmware Upgrader about to start" || fail "no warning before the upgrader"
    press_key_until_gone "Firmware Upgrader about to start" Return || fail "the warning did not take its OK"
    panel=$(wait_for_window "Firmware Upgrade") || fail "no Firmware Upgrade dialog after the warning's OK"
    wait_for_settled_geometry "$panel" || fail "the Firmware Upgrade dialog did not settle"
    px=$geo_x py=$geo_y pw=$geo_w ph=$geo_h
    # The panel takes the keyboard focus when its dialog opens.
    wait_for_focus "$panel" || fail "the Firmware Upgrade dialog did not take the focus"
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
    # Random bytes, the last one not a zero, which the surface's note would count as padding.
    { head -c $(($2 - 1)) /dev/urandom; printf '\x5a'; } > "$image"
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

    # Step 2: the upgrade-mode request, then the surface's upgrade port in step 3. The surface
    # shows that port at once; the Erase step then holds the message thread for a while, and
    # a click on Activate meanwhile waits for it.
    click_panel_until_sent 158 102 'F0 1D 03 01 30 00 7F 7F F7' || fail "Erase sent no upgrade-mode request"
    wait_for_log_line '^# upgrade mode: ' 50 || fail "the surface did not switch to its upgrade mode"
    click_panel_for 254 102 "Choose Your Fenz Device" || fail "Activate opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Activate's chooser did not take the upgrade port"

    # Step 4: the version from the mirror, downloaded. Upgrade takes clicks once the image is
    # in; until then they are lost, and the caller's click on it is made again.
    click_panel_for 350 102 "Firmware Version" || fail "Select Version offered no version from the mirror"
    confirm_chooser "Firmware Version" || fail "the version chooser did not take the version"
    wait_for_file_line "$work/server.log" '"GET /files/tamrel_ostrel_9.9.bin HTTP/1.1" 200' 100 \
        || fail "the image was never downloaded"
}

# The surface's reset note gives the size and CRC-32 of the image as the file has them (the
# image ends in a byte other than zero, prepare_upgrade sees to that), then as it was written:
# with zeros after it to the end of its last block.
expect_image_on_surface() {
    local own blocks size crc padded_crc
    own=$(stat -c %s "$image")
    blocks=$(( (own + 511) / 512 ))
    size=$((blocks * 512))
    crc=$(python3 -c 'import sys, zlib; print("%08X" % zlib.crc32(open(sys.argv[1], "rb").read()))' "$image")
    padded_crc=$(python3 -c 'import sys, zlib; d = open(sys.argv[1], "rb").read(); d += bytes(int(sys.argv[2]) - len(d)); print("%08X" % zlib.crc32(d))' "$image" "$size")
    grep -q "^# reset: image of $own bytes, CRC-32 $crc .*; as written, padded to $size bytes, CRC-32 $padded_crc" "$KESTAL_VIRTUAL_SURFACE_LOG" \
        || fail "the surface does not hold the file's $own bytes (CRC-32 $crc), padded to $size (CRC-32 $padded_crc): $(grep '^# reset' "$KESTAL_VIRTUAL_SURFACE_LOG")"
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
    press_for_window $((419 + 47)) $((670 - 33 + 11)) "Send Mapping" || fail "no Send Mapping box"
    grep -q "^# mapping taken for mode 0" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no mapping"
    grep -qP "^\d+\tF0 1D 03 01 30 00 01 7F F7$" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "no header in the surface's record"
    [ "$(grep -cP '^\d+\t' "$KESTAL_VIRTUAL_SURFACE_LOG")" -eq 250 ] || fail "not 250 messages received"
}

window_case connect 60
case_connect() {
    start_app tamrel
    press_for_window $((313 + 47)) $((670 - 33 + 11)) "Select your device" || fail "no device chooser"
    # The surface is listed and chosen: its Connect button ends the chooser.
    chooser=$(shown_window "Select your device")
    wait_for_settled_geometry "$chooser" || fail "the device chooser did not settle"
    click_until $((geo_x + 90 + 50)) $((geo_y + geo_h - 10 - 15)) is_gone "Select your device" \
        || fail "the chooser did not accept the surface"
    press_for_window $((419 + 47)) $((670 - 33 + 11)) "Send Mapping" || fail "no Send Mapping box"
    grep -q "^# mapping taken for mode 0" "$KESTAL_VIRTUAL_SURFACE_LOG" || fail "the surface took no mapping"
}

window_case edit-and-send 60
case_edit_and_send() {
    start_app tamrel
    # Select strip 1's REC button (control 1), switch the mode box to the user-defined mode,
    # set the channel box to 5, and send. The boxes' keys go to the main window's focus.
    xdotool windowfocus --sync "$window"
    select_control $((24 + 25)) $((66 + 160 + 12)) || fail "control 1 could not be selected"
    pick_in_box $((25 + 100)) $((670 - 65 + 11)) 3 || fail "the mode box did not take the user-defined mode"
    pick_in_box $((395 + 55)) $((670 - 65 + 11)) 4 || fail "the channel box did not take channel 5"
    press_for_window $((419 + 47)) $((670 - 33 + 11)) "Send Mapping" || fail "no Send Mapping box"
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
    press_key_until_gone "Send Mapping" Return || fail "the Send Mapping box did not close"

    press_for_window $((631 + 47)) $((670 - 33 + 11)) "Save Mapping" || fail "no Save Mapping dialog"
    choose_in_dialog "Save Mapping" "$work/maps/studio"
    wait_until_gone "Save Mapping" || fail "the Save Mapping dialog did not close"
    # The file is written after the dialog has gone, whole under its final name.
    wait_until 50 eval '[ -e "$work/maps/studio" ] || [ -e "$work/maps/studio.pelto" ]'
    [ -e "$work/maps/studio" ] && fail "saved without the extension"
    cmp -s "$work/maps/studio.pelto" "$work/expected.pelto" || fail "studio.pelto does not hold the loaded map in full"

    # The question about overwriting is about the name that is written: cancelled, the file
    # stays; confirmed, it is written.
    printf 'old' > "$work/maps/studio.pelto"
    for answer in Escape Return; do
        press_for_window $((631 + 47)) $((670 - 33 + 11)) "Save Mapping" || fail "no Save Mapping dialog"
        if [ "$answer" = Return ]; then
            # A cancelled overwrite shows nothing; that the editor has taken the click for this
            # dialog shows it has dealt with the answer before.
            [ "$(cat "$work/maps/studio.pelto")" = old ] || fail "written although the overwrite was cancelled"
        fi
        choose_in_dialog "Save Mapping" "$work/maps/studio"
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
    click_panel_until_sent 446 102 '9F 05 05' || fail "Upgrade sent nothing"
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
    "$close_window" > "$work/atoms.log" 2>&1 &
    pids+=($!)
    wait_for_file_line "$work/atoms.log" '^ready$' || fail "could not make the atoms of the close message"
    prepare_upgrade tamrel 63487
    click_panel_until_sent 446 102 '9F 05 05' || fail "Upgrade sent nothing"
    wait_for_log_line '^# block 30 written' 300 || fail "the write did not reach block 30"

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

# Types the path $2 into the file box of the framework's file dialog titled $1 and presses
# its Open button with the pointer, as a person would, rather than Return: pressing the button
# takes the keyboard focus from the box first. The button is the right-most of the row below
# the file browser. True once the dialog has gone.
type_path_and_press_open() {
    local dialog
    dialog=$(wait_for_window "$1") || fail "no $1 dialog"
    wait_for_settled_geometry "$dialog" || fail "the $1 dialog did not settle"
    local dx=$geo_x dy=$geo_y dw=$geo_w dh=$geo_h
    for _ in 1 2 3; do
        is_gone "$1" && return 0
        xdotool windowfocus --sync "$dialog" 2>/dev/null
        xdotool mousemove $((dx + dw / 2)) $((dy + dh - 65)) click 1
        xdotool key ctrl+a
        xdotool type --delay 10 "$2"
        xdotool mousemove $((dx + dw - 16 - 20)) $((dy + dh - 10 - 13)) click 1
        wait_until "$patience" is_gone "$1" && return 0
    done
    fail "the $1 dialog did not take $2"
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
    click_panel_until_sent 158 102 'F0 1D 03 01 30 00 7F 7F F7' || fail "Erase sent no upgrade-mode request"
    wait_for_log_line '^# upgrade mode: ' 50 || fail "the surface did not switch to its upgrade mode"
    click_panel_for 254 102 "Choose Your Fenz Device" || fail "Activate opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Activate's chooser did not take the upgrade port"

    click_panel_for 350 102 "Choose The Firmware File" || fail "Select Version opened no file chooser"
    choose_in_dialog "Choose The Firmware File" "$first"
    click_panel_for 350 102 "Choose The Firmware File" || fail "Select Version did not open the file chooser again"
    type_path_and_press_open "Choose The Firmware File" "$image"

    click_panel_until_sent 446 102 '9F 05 05' || fail "Upgrade sent nothing"
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
    "$close_window" > "$work/atoms.log" 2>&1 &
    pids+=($!)
    wait_for_file_line "$work/atoms.log" '^ready$' || fail "could not make the atoms of the close message"
    prepare_upgrade tamrel 63487
    click_panel_until_sent 446 102 '9F 05 05' || fail "Upgrade sent nothing"
    wait_for_log_line '^# block 30 written' 300 || fail "the write did not reach block 30"

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
log_count() { grep -cP "$1" "$KESTAL_VIRTUAL_SURFACE_LOG" 2>/dev/null; }
log_count_above() { [ "$(log_count "$1")" -gt "$2" ]; }

# Clicks a point of the panel until the surface's log has more lines matching $3 than before.
click_panel_until_more() {
    local before
    before=$(log_count "$3")
    click_until "$(panel_x "$1")" "$(panel_y "$2")" log_count_above "$3" "$before"
}

downloaded_twice() { [ "$(grep -c '"GET /files/tamrel_ostrel_9.9.bin HTTP/1.1" 200' "$work/server.log")" -ge 2 ]; }

window_case firmware-recovery 300
case_firmware_recovery() {
    export KESTAL_VIRTUAL_SURFACE_STATE=$work/surface.state
    export KESTAL_VIRTUAL_SURFACE_FAULTS=vanish-after-data=3
    prepare_upgrade tamrel $((20 * 512 + 100))
    click_panel_until_sent 446 102 '9F 05 05' || fail "Upgrade sent nothing"
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
    click_panel_for 62 102 "Choose Your Fenz Device" || fail "Connect opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Connect's chooser did not take the upgrade port"
    # Its box has the panel's title: the other window of that name.
    local box=
    for _ in $(seq 1 50); do
        box=$(xdotool search --onlyvisible --name '^Firmware Upgrade$' 2>/dev/null | grep -vx "$panel" | head -n1)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || fail "Connect did not say the device is in upgrade mode"
    for _ in 1 2 3; do
        xdotool windowfocus --sync "$box" 2>/dev/null || break
        xdotool key Return
        wait_until "$patience" bash -c "! xdotool search --onlyvisible --name '^Firmware Upgrade\$' 2>/dev/null | grep -qx '$box'" && break
    done
    xdotool search --onlyvisible --name '^Firmware Upgrade$' 2>/dev/null | grep -qx "$box" && fail "the box did not take its OK"

    # Test mode takes the upgrade port as the model the editor shows.
    wait_for_focus "$panel" || fail "the panel's window did not take the focus back after the box"
    press_key_until_shown t "Firmware Upgrade." || fail "T did not reach the panel"
    connect_step Tamrel
    click_panel_until_more 158 102 '^\d+\tF0 1D 03 01 30 00 7F 7F F7$' || fail "Erase sent no upgrade-mode request"
    click_panel_for 254 102 "Choose Your Fenz Device" || fail "Activate opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Activate's chooser did not take the upgrade port"
    click_panel_for 350 102 "Firmware Version" || fail "Select Version offered no version from the mirror"
    confirm_chooser "Firmware Version" || fail "the version chooser did not take the version"
    wait_until 100 downloaded_twice || fail "the image was not downloaded again"
    click_panel_until_more 446 102 '^# connected; answered 7F$' || fail "Upgrade sent nothing"
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
    for _ in 1 2 3; do
        xdotool windowfocus --sync "$box" 2>/dev/null || break
        xdotool key Return
        wait_for_exit_within "$refused" "$patience" && break
    done
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
