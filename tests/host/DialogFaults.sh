#!/usr/bin/env bash
# Faults a user can meet in the dialog, each tested as the user meets it: the test host opens the
# filter on a photo under Wine, real mouse and keyboard input goes through the X server (xdotool), and what
# the module stored, wrote or showed is checked afterwards. One case per run:
#   popup_keys      Escape and Enter in the background popup never act on the main dialog; the
#                   popup opens at the pointer
#   child_click     a click on a check box during a (slow) preview render is not lost
#   capture         a pad released outside the dialog is not moved by a later drag elsewhere
#   nested_paint    with a host whose progressProc dispatches messages, the screen ends on a
#                   render of the current values
#   picker          nothing in the dialog acts while the host's colour picker is open
#   presets         more than 20 user presets, an over-long value name, "Last Used" among them
#   save_field      the save dialog's name field takes 19 characters, no more and no fewer
#   transfer_text   "DATA TRANSFER... PLEASE WAIT" is on the screen while the host transfers
#   DialogFaults.sh CASE EMULATOR TESTHOST MODULE TOOL SAMPLEGEN WORKDIR
set -u
case_name=$1 emulator=$2 testhost=$3 module=$4 tool=$5 samplegen=$6 dir=$7/$1
. "$(dirname "$0")/DialogLib.sh"
dialog_setup

# The sample "Orystone" as a stored record (see CMakeLists.txt), and the same with cell width 65.
orystone=000023000000320032002d001e00140037000000000000000000200000000000000102003d010000c0c0c0ff0a00000000000000000000000000000000000000
wide=000041000000320032002d001e00140037000000000000000000200000000000000102005b010000c0c0c0ff0a00000000000000000000000000000000000000

# The host with the colours every case uses; the arguments follow.
start_case_host() { start_host --out "$dir/out.png" --fore 336699 --back FFEEDD "$@"; }

# With --log: waits until no progress has been reported for 1.5 s (no preview render runs).
renders_idle() {
    local previous=-1 current i
    for i in $(seq 200); do
        current=$(grep -c '^progress ' "$log")
        [ "$current" = "$previous" ] && return 0
        previous=$current
        sleep 1.5
    done
    echo "the renders never stopped"; exit 1
}
open_main() {
    wait_window 'caption ".*Oryn 3D v1\.07"'
    note_main
}
click_swatch() { mainclick $(((sw_l + sw_r) / 2)) $(((sw_t + sw_b) / 2)); }
click_x2() { mainclick $(((x2_l + x2_r) / 2)) $(((x2_t + x2_b) / 2)); }
click_antialias() { mainclick $((aa_l + 6)) $(((aa_t + aa_b) / 2)); }
# The cell-width pad's marker in Orystone (skew pad at (50, 0): at the frame corner + 2).
marker_x() { echo $((main_x + pf_l + 2 + 35 + 5)); }
marker_y() { echo $((main_y + pf_t - 15 + 5)); }
# Presses Apply, waits for the host and reads the stored record into `record` (hex).
apply_and_finish() {
    mainclick $((apply_l + 10)) $((apply_t + 7))
    finish_host
}
# The preview on the screen (a fresh screenshot) against `oryn3d preview` of the stored record.
preview_fault="the preview on the screen is not a render of the values Apply stored"
check_stored_preview() {
    save_record "$dir/last-used.oryn"
    check_preview "$dir/$1" "$dir/last-used.oryn" --foreground-color 336699 --background-color FFEEDD
}
# Chooses the preset list's last entry (the save entry) with the keyboard, however long the list:
# a click opens the list and gives it the focus, Escape closes it again, End selects the last entry.
choose_save_entry() {
    mark
    mainclick $(((list_l + list_r) / 2)) $(((list_t + list_b) / 2))
    wait_droplist
    xdotool key Escape
    wait_closed
    xdotool key End
}

case $case_name in
popup_keys)
    start_case_host
    open_main
    settle
    step "the popup opens at the pointer"
    mark
    px=$((main_x + (sw_l + sw_r) / 2)) py=$((main_y + (sw_t + sw_b) / 2))
    click_swatch
    wait_window 'control 1025 '
    cx=$((win_x + win_w / 2)) cy=$((win_y + win_h / 2))
    echo "pointer ($px, $py), popup centre ($cx, $cy)"
    ((cx - px <= 4 && px - cx <= 4 && cy - py <= 4 && py - cy <= 4)) ||
        fail "the popup is not centred on the pointer"
    step "Escape closes the popup and leaves the main dialog open"
    xdotool key Escape
    wait_closed
    settle
    tr -d '\r' <"$log" | grep -q '^call start' && fail "Escape in the popup ended the main dialog"
    step "Enter does nothing; a click on Foreground then chooses it"
    click_swatch
    wait_window 'control 1025 '
    xdotool key Return
    sleep 1
    (($(closed_count) == closed_mark)) || fail "Enter closed the popup"
    tr -d '\r' <"$log" | grep -q '^call start' && fail "Enter in the popup ended the main dialog"
    click_control 1025
    wait_closed
    settle
    apply_and_finish
    [ "$(byte 34)" = 00 ] || fail "background mode $(byte 34), expected 00 (Foreground)"
    ;;
child_click)
    start_case_host --progress-delay-ms 60 --log
    open_main
    renders_idle
    step "x2 starts a slow render; Antialiasing is clicked while it runs"
    click_x2
    sleep 0.3
    click_antialias
    renders_idle
    apply_and_finish
    [ "$(byte 33)" = 00 ] || fail "antialias $(byte 33): the click during the render was lost"
    (((0x$(byte 32) & 4) != 0)) || fail "x2 is not set"
    ;;
capture)
    start_case_host
    open_main
    settle
    step "hold the cell-width marker, leave the dialog upwards, release outside it"
    x=$(marker_x) y=$(marker_y)
    xdotool mousemove --sync $x $y mousedown 1
    for dy in 10 20 40 60 80; do xdotool mousemove --sync $x $((y - dy)); sleep 0.05; done
    xdotool mousemove --sync $x $((main_y - 60))
    sleep 0.1
    xdotool mouseup 1
    settle
    step "press and drag across the preview, far from the pad"
    x=$((main_x + pf_l + 150)) y=$((main_y + pf_t + 150))
    xdotool mousemove --sync $x $y mousedown 1
    for dx in 15 30 45 60 75 90; do xdotool mousemove --sync $((x + dx)) $y; sleep 0.05; done
    xdotool mouseup 1
    settle
    apply_and_finish
    [ "$(byte 2)$(byte 3)" = 2300 ] || fail "cell width 0x$(byte 3)$(byte 2), expected 35 (0x23)"
    ;;
nested_paint)
    start_case_host --progress-pump --progress-delay-ms 80 --log
    open_main
    renders_idle
    step "x2 starts a slow render; the cell-width pad is dragged while it runs"
    click_x2
    sleep 0.2
    x=$(marker_x) y=$(marker_y)
    xdotool mousemove --sync $x $y mousedown 1
    for dx in 4 8 12 16 20; do xdotool mousemove --sync $((x + dx)) $y; sleep 0.05; done
    xdotool mouseup 1
    renders_idle
    settle
    shot "$dir/dialog.png"
    apply_and_finish
    [ "$(byte 2)" = 37 ] || fail "cell width 0x$(byte 2), expected 55 (0x37)"
    check_stored_preview dialog.png
    ;;
picker)
    start_case_host --picker-box --pick 8040C0 --parent
    open_main
    settle
    step "Picker opens the host's picker box"
    click_swatch
    wait_window 'control 1025 '
    click_control 1027
    wait_log '^color picker open'
    wait_window 'caption "Color Picker"'
    box_x=$win_x box_y=$win_y ok_l=$ctl_1_l ok_t=$ctl_1_t ok_r=$ctl_1_r ok_b=$ctl_1_b
    step "clicks on the swatch and on Cancel while the picker is open do nothing"
    click_swatch
    sleep 0.5
    mainclick $((cancel_l + 10)) $((cancel_t + 7))
    sleep 1
    xdotool mousemove --sync $((box_x + (ok_l + ok_r) / 2)) $((box_y + (ok_t + ok_b) / 2)) click 1
    wait_log '^color picker closed'
    settle
    tr -d '\r' <"$log" | grep -q '^call start' && fail "the dialog ended under the picker"
    (($(grep -c '^color picker open' "$log") == 1)) || fail "the picker was opened again"
    (($(grep -c '^control 1025 ' "$map") == 1)) || fail "the popup was opened again under the picker"
    apply_and_finish
    [ "$(byte 34)" = 02 ] || fail "background mode $(byte 34), expected 02 (Picker)"
    [ "$(byte 40)$(byte 41)$(byte 42)" = 8040c0 ] || fail "picker colour $(byte 40)$(byte 41)$(byte 42)"
    ;;
presets)
    values=()
    for n in $(seq -w 1 22); do values+=(--store-value "A$n" "$orystone"); done
    long=$(printf 'B%.0s' $(seq 60))
    start_case_host "${values[@]}" --store-value "$long" "$orystone" --store-last-used "$wide" --dialog
    open_main
    settle
    step "every user preset is listed, the over-long name is skipped, the dialog opens on Last Used"
    remap 'caption ".*Oryn 3D v1\.07"'
    echo "list: $(combo_count 1014) entries, showing \"$(control_text 1014)\""
    [ "$(combo_count 1014)" = 33 ] || fail "the list holds $(combo_count 1014) entries, expected 23 + 9 + 1"
    [ "$(control_text 1014)" = ">Last Used" ] || fail "the list shows \"$(control_text 1014)\""
    step "a 24th preset is saved, listed and selected"
    choose_save_entry
    wait_window 'control 1034 '
    type_name "Zed"
    mark
    click_control 1
    wait_closed
    settle
    remap 'caption ".*Oryn 3D v1\.07"'
    echo "list: $(combo_count 1014) entries, showing \"$(control_text 1014)\""
    [ "$(combo_count 1014)" = 34 ] || fail "the list holds $(combo_count 1014) entries after the save"
    [ "$(control_text 1014)" = ">Zed" ] || fail "after the save the list shows \"$(control_text 1014)\""
    apply_and_finish
    [ "$(byte 2)" = 41 ] || fail "cell width 0x$(byte 2): the dialog did not open on Last Used (65)"
    ;;
save_field)
    start_case_host
    open_main
    settle
    step "type 25 letters into the save dialog's name field"
    choose_save_entry
    wait_window 'control 1034 '
    type_name "ABCDEFGHIJKLMNOPQRSTUVWXY"
    sleep 0.3
    shot "$dir/save-field.png"
    remap 'control 1034 '
    echo "field: \"$(control_text 1014)\""
    [ "$(control_text 1014)" = ABCDEFGHIJKLMNOPQRS ] || fail "the field holds \"$(control_text 1014)\""
    mark
    click_control 1
    wait_closed
    settle
    apply_and_finish
    store=$("$emulator" reg.exe query 'HKLM\Software\Oryn 3D\User Defined' 2>&1 | tr -d '\r')
    echo "$store"
    grep -q '^ *ABCDEFGHIJKLMNOPQRS  *REG_BINARY' <<<"$store" || fail "the preset is not stored under its 19 letters"
    ;;
transfer_text)
    start_case_host --hold-advance "$dir/go"
    # The host names the dialog's client origin itself: while it holds, the dialog answers no
    # messages, so the window map may wait.
    wait_log '^advance holding'
    read -r main_x main_y < <(tr -d '\r' <"$log" | sed -n 's/^advance holding window \([0-9-]*\) \([0-9-]*\)$/\1 \2/p')
    [ -n "$main_x" ] || { echo "the host named no window"; exit 1; }
    # The host waits; the message must come to the screen meanwhile (within 10 s).
    dark=0
    for i in $(seq 40); do
        shot "$dir/transfer.png"
        dark=$(convert "$dir/transfer.png" -crop 200x16+$((main_x + 48))+$((main_y + 46)) +repage \
            -colorspace gray -depth 8 gray:- | od -An -v -tu1 | awk '{for (i = 1; i <= NF; i++) if ($i < 100) n++} END {print n + 0}')
        ((dark > 40)) && break
        sleep 0.25
    done
    echo "dark pixels where the message stands: $dark"
    ((dark > 40)) || fail "\"DATA TRANSFER... PLEASE WAIT\" is not on the screen during the transfer"
    touch "$dir/go"
    open_main
    settle
    apply_and_finish
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac

finish_test "$case_name"
