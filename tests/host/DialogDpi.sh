#!/usr/bin/env bash
# The main dialog at display scales 100%, 125%, 150% and 200% (96, 120, 144 and 192 DPI, the
# session prefix's LogPixels), with real mouse input through the X server. At every DPI the user
# drags the cell-width pad by 20 units' worth of pixels and presses Apply. Then:
#  - the preview on the screen equals `oryn3d preview --dpi N` of the stored record, byte for byte;
#  - the drag moved the cell width from 35 to 55 (the stored record says so);
#  - Apply stored the same record and wrote the same image at every DPI.
# Then the dialog of a per-monitor aware host is told its display's scale changed while it is open
# (96 -> 144 -> 120, WM_DPICHANGED as the system sends it): it lays itself out again each time, a
# drag at 144 moves the value by 20 units, the preview on the screen equals `oryn3d preview --dpi N`
# at 144 and at 120, and Apply stores and writes what it did at a fixed 96.
# Screenshots dialog-N.png and dialog-change-N.png are left in the work folder.
#   DialogDpi.sh SESSION_SCRIPT BUILD_DIR EMULATOR TESTHOST MODULE TOOL SAMPLEGEN WORKDIR
set -u
session=$1 build=$2 emulator=$3 testhost=$4 module=$5 tool=$6 samplegen=$7 dir=$8
. "$(dirname "$0")/DialogLib.sh"
dialog_setup 0

# Drags the cell-width marker of the main dialog (its Orystone place, 35 units) 20 units' worth
# of pixels to the right at the current $dpi.
drag_cell_width() {
    local x y drag step
    # The marker sits at the frame corner + 2 units + 35 units.
    x=$((main_x + pf_l + $(px 2) + $(px 35) + $(px 5))) y=$((main_y + pf_t - $(px 15) + $(px 5)))
    xdotool mousemove --sync $x $y mousedown 1
    drag=$(px 20)
    for step in 1 2 3 4; do
        xdotool mousemove --sync $((x + drag * step / 4)) $y
        sleep 0.05
    done
    xdotool mouseup 1
}
# Tells the open dialog its display is now at $1 DPI and reads its new place from the map.
change_dpi() {
    local i
    echo "$1" >"$map.dpi"
    for i in $(seq 200); do
        [ -e "$map.dpi" ] || break
        sleep 0.05
    done
    [ -e "$map.dpi" ] && { fail "the host never took the change to $1 DPI"; return 1; }
    dpi=$1
    try_wait_window 'caption ".*Oryn 3D v1\.07"' || { fail "the dialog was not mapped again at $1 DPI"; return 1; }
    note_main
    [ "$main_w" = "$(((371 * 6 * dpi + 192) / 384))" ] && [ "$main_h" = "$(((215 * 13 * dpi + 384) / 768))" ] ||
        fail "at $1 DPI the client area is ${main_w}x${main_h}"
    try_settle || fail "the dialog never settled at $1 DPI"
}

for dpi in 96 120 144 192; do
    echo "-- $dpi DPI"
    "$session" dpi "$build" "$dpi" || { fail "cannot set $dpi DPI"; continue; }
    use_map "$dir/map-$dpi.txt" "$dir/host-$dpi.log"
    start_host --out "$dir/out-$dpi.png"
    try_wait_window 'caption ".*Oryn 3D v1\.07"' || { fail "no dialog at $dpi DPI"; kill $host; wait $host; host=; continue; }
    note_main
    ap_l=$apply_l ap_t=$apply_t
    try_settle || fail "the dialog at $dpi DPI never settled"

    drag_cell_width
    try_settle || fail "the dialog at $dpi DPI never settled after the drag"
    shot "$dir/dialog-$dpi.png"
    xdotool mousemove --sync $((win_x + ap_l + $(px 10))) $((win_y + ap_t + $(px 7))) click 1
    finish_host "$dir/host-$dpi.txt" " at $dpi DPI" || continue
    echo "$record" >"$dir/record-$dpi.txt"
    # Bytes 2-3: the cell width, little-endian.
    [ "${record:4:4}" = 3700 ] || fail "the drag at $dpi DPI left the cell width at 0x${record:6:2}${record:4:2}, not 55"
    save_record "$dir/record-$dpi.oryn"
    preview_fault="the preview on the screen at $dpi DPI differs from oryn3d preview --dpi $dpi"
    check_preview "$dir/dialog-$dpi.png" "$dir/record-$dpi.oryn" --dpi "$dpi"
    side=$(px 300) size=$(identify -format '%wx%h' "$dir/tool-preview.png")
    [ "$size" = "${side}x${side}" ] || fail "oryn3d preview --dpi $dpi is $size, not ${side}x${side}"
    cp "$dir/tool-preview.png" "$dir/tool-$dpi.png"
    raw_rgb "$dir/out-$dpi.png" "$dir/out-$dpi.rgb"
    if [ "$dpi" != 96 ]; then
        cmp -s "$dir/record-96.txt" "$dir/record-$dpi.txt" || fail "Apply at $dpi DPI stored another record than at 96"
        cmp -s "$dir/out-96.rgb" "$dir/out-$dpi.rgb" || fail "Apply at $dpi DPI wrote other bytes than at 96"
    fi
done
"$session" dpi "$build" 96 >/dev/null

echo "-- a change of scale while the dialog is open"
dpi=96
use_map "$dir/map-change.txt" "$dir/host-change.log"
ORYN_HOST_DPI_AWARENESS=permonitor start_host --out "$dir/out-change.png"
wait_window 'caption ".*Oryn 3D v1\.07"'
note_main
settle
if change_dpi 144; then
    drag_cell_width
    try_settle || fail "the dialog at 144 DPI never settled after the drag"
    shot "$dir/dialog-change-144.png"
    at144="$main_x $main_y $pf_l $pf_t"
fi
change_dpi 120 && shot "$dir/dialog-change-120.png"
xdotool mousemove --sync $((main_x + apply_l + $(px 10))) $((main_y + apply_t + $(px 7))) click 1
if finish_host "$dir/host-change.txt" " after the changes of scale"; then
    echo "$record" >"$dir/record-change.txt"
    save_record "$dir/record-change.oryn"
    cmp -s "$dir/record-96.txt" "$dir/record-change.txt" ||
        fail "after the changes of scale Apply stored another record than at 96"
    raw_rgb "$dir/out-change.png" "$dir/out-change.rgb"
    cmp -s "$dir/out-96.rgb" "$dir/out-change.rgb" || fail "after the changes of scale Apply wrote other bytes than at 96"
    preview_fault="after the change to 120 DPI the preview on the screen differs from oryn3d preview --dpi 120"
    check_preview "$dir/dialog-change-120.png" "$dir/record-change.oryn" --dpi 120
    if [ -n "${at144:-}" ]; then
        dpi=144
        read -r main_x main_y pf_l pf_t <<<"$at144"
        preview_fault="after the change to 144 DPI the preview on the screen differs from oryn3d preview --dpi 144"
        check_preview "$dir/dialog-change-144.png" "$dir/record-change.oryn" --dpi 144
    fi
fi
finish_test "dialog at every DPI"
