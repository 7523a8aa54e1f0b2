#!/usr/bin/env bash
# The main dialog as a user meets it: the test host opens the filter on a photo under Wine, and
# real mouse and keyboard input goes through the X server (xdotool). The user drags the cell-width
# pad, clicks the G-Shading button, switches a preset, picks every background mode (Picker through
# the host's colour picker), toggles Antialiasing and "x2", saves two presets, deletes one, fails
# to delete an unknown name, and presses Apply. Then:
#  - the preview on the screen equals `oryn3d preview` of the stored "Last Used" record, byte for byte;
#  - the module's output equals `oryn3d render --block` of that record, byte for byte;
#  - the store holds the saved preset and "Last Used", not the deleted one.
# Screenshots of the dialog are left in the work folder.
#   DialogSession.sh EMULATOR TESTHOST MODULE TOOL SAMPLEGEN WORKDIR
set -u
emulator=$1 testhost=$2 module=$3 tool=$4 samplegen=$5 dir=$6
. "$(dirname "$0")/DialogLib.sh"
dialog_setup
start_host --out "$dir/out.png" --fore 336699 --back FFEEDD --pick 8040C0

step "the dialog opens and finishes its first paint"
wait_window 'caption ".*Oryn 3D v1\.07"'
note_main
sf_l=$((ctl_1019_l + 24)) sf_b=$ctl_1019_b
item=$(grep -m1 '^combo 1014 itemheight' "$map" | awk '{print $4}')
settle
shot "$dir/dialog-first.png"
# Opens the preset list, waits until its list is on the screen, and clicks entry $1 in it.
pick_entry() {
    mainclick $(((list_l + list_r) / 2)) $(((list_t + list_b) / 2))
    wait_droplist
    xdotool mousemove --sync $((drop_x + 10)) $((drop_y + 1 + $1 * item + item / 2)) click 1
}

step "drag the cell-width pad from 35 to 55"
# Orystone: the skew pad at (50, 0) leaves the cell-width pad at the frame corner + 2.
x=$((main_x + pf_l + 2 + 35 + 5)) y=$((main_y + pf_t - 15 + 5))
xdotool mousemove --sync $x $y mousedown 1
for dx in 4 8 12 16 20; do xdotool mousemove --sync $((x + dx)) $y; sleep 0.05; done
xdotool mouseup 1
settle

step "click the G-Shading button"
mainclick $((sf_l + 84 + 8)) $((sf_b + 32 + 8))
settle

step "switch to Front Bricks"
pick_entry 3
settle

step "every background mode: Foreground, Background, Transparent (refused on RGB), Picker"
for row in 0 1 3 2; do
    mainclick $(((sw_l + sw_r) / 2)) $(((sw_t + sw_b) / 2))
    wait_window 'control 1025 '
    click_control $((1025 + row))
    wait_gone "$win_id"
    settle
    shot "$dir/background-$row.png"
done

step "toggle Antialiasing and x2"
mainclick $((aa_l + 6)) $(((aa_t + aa_b) / 2))
settle
mainclick $(((x2_l + x2_r) / 2)) $(((x2_t + x2_b) / 2))
settle

# Chooses the save entry, types a name and presses Save (1) or Delete Preset (3); waits for the
# save dialog to close unless $4 is "open" (an error box comes first).
save_flow() {
    local entries=$1 name=$2 button=$3
    pick_entry "$entries"
    wait_window 'control 1034 '
    type_name "$name"
    click_control "$button"
    [ "${4:-}" = open ] || wait_gone "$win_id"
}

step "save E2E Alpha and E2E Beta, delete E2E Beta"
save_flow 9 "E2E Alpha" 1
settle
save_flow 10 "E2E Beta" 1
settle
save_flow 11 "E2E Beta" 3
settle

step "a delete of an unknown name shows the error and changes nothing"
save_flow 10 "Nope" 3 open
wait_window 'caption "ERROR"'
grep -q '"Unable to locate User Preset' "$map" || fail "the error box does not name the failure"
error_box=$win_id
xdotool key Return
wait_gone "$error_box"
settle
shot "$dir/dialog.png"

step "Apply"
mainclick $((apply_l + 10)) $((apply_t + 7))
if finish_host; then
    save_record "$dir/last-used.oryn"
    check_preview "$dir/dialog.png" "$dir/last-used.oryn" --foreground-color 336699 --background-color FFEEDD
    check_render "$dir/out.png" "$dir/last-used.oryn" --foreground-color 336699 --background-color FFEEDD
fi

grep -q 'caption "ERROR"' "$map" || fail "the failed delete showed no error box"
store=$("$emulator" reg.exe query 'HKLM\Software\Oryn 3D\User Defined' 2>&1 | tr -d '\r')
echo "$store"
grep -q 'E2E Alpha' <<<"$store" || fail "E2E Alpha is not stored"
grep -q 'E2E Beta' <<<"$store" && fail "E2E Beta is still stored"
grep -q 'Last Used' <<<"$store" || fail "Last Used is not stored"

finish_test "dialog session"
