# The helpers of the window cases, sourced by app_test.sh once it has read its arguments: they
# start the application and find its windows, wait for what the cases wait for, and press keys
# and click widgets, again when the first try was lost. They use the script's app, app_name,
# title, close_window and pids, and the case's own folder in work. The widgets they press are
# named in widgets.sh.

source "$(dirname "${BASH_SOURCE[0]}")/widgets.sh"

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

# Erase is made again only after a longer while: a second press once the surface has left its
# normal mode finds no device and takes the panel back to its start, where Activate takes no
# click.
erase_patience=150

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

# Presses the key $2 in the window $1, given by its id where its name does not tell it apart,
# until the command after them succeeds, with the focus given to it first as above; true once
# the command succeeds, also when the window has gone before a press.
press_key_in_window_until() {
    local w=$1 key=$2
    shift 2
    for _ in 1 2 3; do
        xdotool windowfocus --sync "$w" 2>/dev/null || break
        xdotool key "$key"
        wait_until "$patience" "$@" && return 0
    done
    "$@"
}

# Whether the window with the id $1 is shown, or has gone.
is_id_shown() { xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$1"; }
is_id_gone() { ! is_id_shown "$1"; }

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

# Clicks the screen point $1, $2 until the command after them succeeds, up to five times; true
# once it does. A click that comes before a window takes clicks, or right after a modal run
# ends, is lost.
click_until() {
    local x=$1 y=$2
    shift 2
    for _ in 1 2 3 4 5; do
        xdotool mousemove "$x" "$y" click 1
        wait_until "$patience" "$@" && return 0
    done
    return 1
}

# Clicks the window $1 at $2 from its left edge and $3 above its bottom edge until the command
# after them succeeds, up to five times, raising the window before each click; true once it
# does. Without a window manager nothing keeps a dialog above the window it blocks: the
# framework answers input to a blocked window by restacking the two, and on X11 that restack
# puts the dialog under the blocked window, where it stays. A click made twice, the second
# reaching the window once the dialog it opened was there, would bury the dialog for good. A
# window manager keeps it in front; here the raise does.
click_in_window_until() {
    local window=$1 x=$2 from_bottom=$3
    shift 3
    for _ in 1 2 3 4 5; do
        xdotool windowraise "$window" 2>/dev/null
        wait_for_settled_geometry "$window" || { "$@"; return; }
        xdotool mousemove $((geo_x + x)) $((geo_y + geo_h - from_bottom)) click 1
        wait_until "$patience" "$@" && return 0
    done
    return 1
}

# Clicks the widget named $1 (in widgets.sh) until the command after it succeeds; true once it
# does.
press_until() {
    local point
    point=$(widget_centre "$1") || return 1
    shift
    click_until "${point% *}" "${point#* }" "$@"
}

# Presses the button named $1 until the window it opens, titled $2, shows.
press_for_window() {
    press_until "$1" is_shown "$2"
}

# Clicks the control named $1 until it is selected: a selected control shows its label as a
# tooltip once the pointer has moved over it since the click.
select_control() {
    local point x y
    point=$(widget_centre "$1") || return 1
    x=${point% *} y=${point#* }
    for _ in 1 2 3; do
        xdotool mousemove "$x" "$y" click 1 mousemove $((x + 1)) "$y"
        wait_until "$patience" is_shown tooltip && return 0
    done
    return 1
}

# Picks item $2 of the box named $1 through its pop-up menu, with the keys: the menu opens at
# the box's current item, and $2 is how many items further down the wanted one lies. The keys
# go to the menu once it shows.
pick_in_box() {
    press_until "$1" is_shown menu || return 1
    local keys=()
    for _ in $(seq 1 "$2"); do keys+=(Down); done
    xdotool key "${keys[@]}" Return
    wait_until "$patience" is_gone menu
}

# Types the path $2 into the file-name box of the framework's own file dialog titled $1, as a
# person would, and accepts it: with Return by default, or with $3 = open-button by pressing the
# Open button with the pointer, which takes the keyboard focus from the box first. The box spans
# the dialog above its buttons; the Open button is the right-most of the row below the file
# browser. True once the dialog has gone or asks whether to overwrite a file.
enter_in_file_dialog() {
    local dialog
    dialog=$(wait_for_window "$1") || fail "no $1 dialog"
    wait_for_settled_geometry "$dialog" || fail "the $1 dialog did not settle"
    local dx=$geo_x dy=$geo_y dw=$geo_w dh=$geo_h
    for _ in 1 2 3; do
        dialog_answered "$1" && return 0
        xdotool windowraise "$dialog" 2>/dev/null
        xdotool windowfocus --sync "$dialog" 2>/dev/null
        # A click into the box selects its text, but only when it did not have the focus
        # already: Ctrl+A does so in any case.
        xdotool mousemove $((dx + dw / 2)) $((dy + dh - 65)) click 1
        xdotool key ctrl+a
        xdotool type --delay 10 "$2"
        if [ "${3:-}" = open-button ]; then
            xdotool mousemove $((dx + dw - 16 - 20)) $((dy + dh - 10 - 13)) click 1
        else
            # The first Return takes the path apart into folder and name, the second accepts
            # the name; the box deals with each in turn.
            xdotool key Return Return
        fi
        wait_until "$patience" dialog_answered "$1" && return 0
    done
    fail "the $1 dialog did not take $2"
}

# Whether the file dialog titled $1 has gone or asks whether to overwrite a file.
dialog_answered() { is_gone "$1" || is_shown "File already exists"; }

# Starts an Upgrade run of the largest image the device takes, with the stand-in for the window
# manager's close ready, and waits until it has written block 30.
upgrade_until_block_30() {
    "$close_window" > "$work/atoms.log" 2>&1 &
    pids+=($!)
    wait_for_file_line "$work/atoms.log" '^ready$' || fail "could not make the atoms of the close message"
    prepare_upgrade tamrel 63487
    press_until_sent step-upgrade '9F 05 05' || fail "Upgrade sent nothing"
    wait_for_log_line '^# block 30 written' 300 || fail "the write did not reach block 30"
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
    # A window that an earlier hand-over brings to the front may take the focus a moment after
    # the clock got it: the focus must stay with the clock for a while.
    for _ in 1 2 3 4 5; do
        xdotool windowfocus --sync "$other"
        sleep 0.5
        has_focus "$other" && break
    done
    has_focus "$other" || fail "could not move the focus away"

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

# Presses the step button named $1 until the surface's log shows a message with the bytes $2;
# true once it does.
press_until_sent() {
    press_until "$1" grep -qP "^\d+\t$2\$" "$KESTAL_VIRTUAL_SURFACE_LOG"
}

# How many lines of the surface's log match the pattern $1; whether more than $2 do.
log_count() { grep -cP "$1" "$KESTAL_VIRTUAL_SURFACE_LOG" 2>/dev/null; }
log_count_above() { [ "$(log_count "$1")" -gt "$2" ]; }

# Presses the step button named $1 until the surface's log has more lines matching $2 than
# before.
press_until_more() {
    local before
    before=$(log_count "$2")
    press_until "$1" log_count_above "$2" "$before"
}

# Waits for a chooser titled $1 (300 x 200, at its dialog's bottom) and presses its OK button at
# 90, 160, again if the first click came before the dialog took clicks. True once the chooser
# has gone.
confirm_chooser() {
    local chooser
    chooser=$(wait_for_window "$1") || return 1
    click_in_window_until "$chooser" $((90 + 50)) $((200 - 160 - 15)) is_gone "$1"
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
# and its place in px, py, pw and ph, through which the panel's widgets are found.
open_upgrader() {
    press_for_window firmware-upgrade "Firmware Upgrader about to start" || fail "no warning before the upgrader"
    press_key_until_gone "Firmware Upgrader about to start" Return || fail "the warning did not take its OK"
    panel=$(wait_for_window "Firmware Upgrade") || fail "no Firmware Upgrade dialog after the warning's OK"
    wait_for_settled_geometry "$panel" || fail "the Firmware Upgrade dialog did not settle"
    px=$geo_x py=$geo_y pw=$geo_w ph=$geo_h
    # The panel takes the keyboard focus when its dialog opens.
    wait_for_focus "$panel" || fail "the Firmware Upgrade dialog did not take the focus"
}

# Step 1: the simulated surface, recognised as the model $1.
connect_step() {
    press_for_window step-connect "Choose Your Fenz Device" || fail "Connect opened no chooser"
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
    patience=$erase_patience press_until_sent step-erase 'F0 1D 03 01 30 00 7F 7F F7' || fail "Erase sent no upgrade-mode request"
    wait_for_log_line '^# upgrade mode: ' 50 || fail "the surface did not switch to its upgrade mode"
    press_for_window step-activate "Choose Your Fenz Device" || fail "Activate opened no chooser"
    confirm_chooser "Choose Your Fenz Device" || fail "Activate's chooser did not take the upgrade port"

    # Step 4: the version from the mirror, downloaded. Upgrade takes clicks once the image is
    # in; until then they are lost, and the caller's click on it is made again.
    press_for_window step-version "Firmware Version" || fail "Select Version offered no version from the mirror"
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
