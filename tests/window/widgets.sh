# Where the widgets lie that the window cases and tools/screenshot.sh press, by name: each
# widget's frame, then its bounds in that frame as x, y, width and height, as the layout code
# gives them. A press goes to the centre of the bounds. The frames:
#   content  the main window's content, 670 high, right below the window's menu bar;
#   panel    the firmware upgrade panel, 514 x 491, which is its dialog's content, at the
#            dialog's bottom.
declare -gA widgets=(
    # ContentComponent::resized(), with the content's height h = 670: the command buttons
    # along the bottom at h - 33 ...
    [firmware-upgrade]="content 35 637 94 23"
    [connect]="content 313 637 94 23"
    [send-data]="content 419 637 94 23"
    [load-file]="content 525 637 94 23"
    [save-file]="content 631 637 94 23"
    # ... and the boxes above them at h - 65.
    [mode-box]="content 25 605 200 22"
    [msg-type-box]="content 255 605 110 22"
    [channel-box]="content 395 605 110 22"
    [message-box]="content 535 605 200 22"

    # Strip 1's REC button, control 1: MixerSection::boundsOf() puts it at 24, 160 in the mixer
    # section, which ContentComponent::resized() puts at 0, 66.
    [rec-1]="content 24 226 51 25"

    # FirmwareUpgradeComponent::resized() on the panel's width w = 514: the five step buttons
    # in a row from w / 2 - 240, 96 apart, below their labels. The fourth reads "Select
    # Version", or "Load File" with local files.
    [step-connect]="panel 17 92 90 20"
    [step-erase]="panel 113 92 90 20"
    [step-activate]="panel 209 92 90 20"
    [step-version]="panel 305 92 90 20"
    [step-upgrade]="panel 401 92 90 20"
)

menu_bar_height=24
panel_height=491

# Prints the screen point at the centre of the widget named $1 as x and y: through the main
# window's place in win_x and win_y for the content, through the panel's dialog's place in px,
# py and ph for the panel.
widget_centre() {
    local entry=${widgets[$1]:-}
    [ -n "$entry" ] || { echo "no widget named $1" >&2; return 1; }
    local frame x y w h
    read -r frame x y w h <<< "$entry"
    x=$((x + w / 2)) y=$((y + h / 2))
    case $frame in
        content) echo "$((win_x + x)) $((win_y + menu_bar_height + y))" ;;
        panel)   echo "$((px + x)) $((py + ph - panel_height + y))" ;;
    esac
}
