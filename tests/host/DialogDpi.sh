#!/usr/bin/env bash
# The main dialog at display scales 100%, 125%, 150% and 200% (96, 120, 144 and 192 DPI, the
# session prefix's LogPixels), with real mouse input through the X server. At every DPI the user
# drags the cell-width pad by 20 units' worth of pixels and presses Apply. Then:
#  - the preview on the screen equals `oryn3d preview --dpi N` of the stored record, byte for byte;
#  - the drag moved the cell width from 35 to 55 (the stored record says so);
#  - Apply stored the same record and wrote the same image at every DPI.
# Screenshots dialog-N.png are left in the work folder.
#   DialogDpi.sh SESSION_SCRIPT BUILD_DIR EMULATOR TESTHOST MODULE TOOL SAMPLEGEN WORKDIR
set -u
session=$1 build=$2 emulator=$3 testhost=$4 module=$5 tool=$6 samplegen=$7 dir=$8
rm -rf "$dir"
mkdir -p "$dir"
if [ -f "$ORYN_WINE_DIR/no32bit" ]; then
    echo "ORYN-SKIPPED: 32-bit Windows programs cannot run here: $(cat "$ORYN_WINE_DIR/no32bit")"
    exit 0
fi
export DISPLAY=$(cat "$ORYN_WINE_DIR/display")
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
"$samplegen" "$dir/in.png" 640 427 >/dev/null || { echo "cannot make the photo"; exit 1; }

# Lengths of the 100% drawing at the current DPI, rounded like the dialog's (MulDiv).
px() { echo $((($1 * dpi * 2 + 96) / 192)); }
shot() { import -display "$DISPLAY" -window root "$1"; }
settle() {
    local previous="" current i
    for i in $(seq 120); do
        sleep 0.25
        shot "$dir/settle.png"
        current=$(md5sum <"$dir/settle.png")
        [ "$current" = "$previous" ] && return 0
        previous=$current
    done
    echo "the screen never settled"; return 1
}

for dpi in 96 120 144 192; do
    echo "-- $dpi DPI"
    "$session" dpi "$build" "$dpi" || { fail "cannot set $dpi DPI"; continue; }
    map=$dir/map-$dpi.txt
    : >"$map"
    "$emulator" "$testhost" --plugin "$module" --in "$dir/in.png" --out "$dir/out-$dpi.png" \
        --clear-store --window-map "$map" --show-store >"$dir/host-$dpi.log" 2>&1 &
    host=$!
    for i in $(seq 600); do grep -q '^end' "$map" && break; sleep 0.05; done
    grep -q '^end' "$map" || { fail "no dialog at $dpi DPI"; kill $host; wait $host; continue; }
    read -r win_x win_y < <(sed -n 's/^window .* client \([0-9-]*\) \([0-9-]*\) .*/\1 \2/p' "$map" | head -n 1)
    read -r pf_l pf_t < <(awk '$1 == "control" && $2 == 1017 {print $4, $5}' "$map")
    read -r ap_l ap_t < <(awk '$1 == "control" && $2 == 1 {print $4, $5}' "$map")
    settle || fail "the dialog at $dpi DPI never settled"

    # Orystone: the cell-width marker sits at the frame corner + 2 units + 35 units.
    x=$((win_x + pf_l + $(px 2) + $(px 35) + $(px 5))) y=$((win_y + pf_t - $(px 15) + $(px 5)))
    xdotool mousemove --sync $x $y mousedown 1
    drag=$(px 20)
    for step in 1 2 3 4; do
        xdotool mousemove --sync $((x + drag * step / 4)) $y
        sleep 0.05
    done
    xdotool mouseup 1
    settle || fail "the dialog at $dpi DPI never settled after the drag"
    shot "$dir/dialog-$dpi.png"
    side=$(px 300) inset=$(px 3)
    convert "$dir/dialog-$dpi.png" -crop ${side}x${side}+$((win_x + pf_l + inset))+$((win_y + pf_t + inset)) \
        +repage -depth 8 rgb:"$dir/screen-$dpi.rgb"

    xdotool mousemove --sync $((win_x + ap_l + $(px 10))) $((win_y + ap_t + $(px 7))) click 1
    wait $host
    tr -d '\r' <"$dir/host-$dpi.log" >"$dir/host-$dpi.txt"
    grep -q '^call start -> 0$' "$dir/host-$dpi.txt" || fail "start did not return noErr at $dpi DPI"
    record=$(sed -n 's/^store Last Used type 3 bytes 64 \([0-9a-f]*\)$/\1/p' "$dir/host-$dpi.txt")
    [ ${#record} = 128 ] || { fail "no record stored at $dpi DPI"; continue; }
    echo "$record" >"$dir/record-$dpi.txt"
    # Bytes 2-3: the cell width, little-endian.
    [ "${record:4:4}" = 3700 ] || fail "the drag at $dpi DPI left the cell width at 0x${record:6:2}${record:4:2}, not 55"
    printf '%s' "$record" | xxd -r -p >"$dir/record-$dpi.oryn"
    "$tool" preview "$dir/in.png" -o "$dir/tool-$dpi.png" --block "$dir/record-$dpi.oryn" --dpi "$dpi" \
        --quiet || fail "oryn3d preview --dpi $dpi failed"
    convert "$dir/tool-$dpi.png" -depth 8 rgb:"$dir/tool-$dpi.rgb"
    size=$(identify -format '%wx%h' "$dir/tool-$dpi.png")
    [ "$size" = "${side}x${side}" ] || fail "oryn3d preview --dpi $dpi is $size, not ${side}x${side}"
    cmp -s "$dir/screen-$dpi.rgb" "$dir/tool-$dpi.rgb" ||
        fail "the preview on the screen at $dpi DPI differs from oryn3d preview --dpi $dpi"
    convert "$dir/out-$dpi.png" -depth 8 rgb:"$dir/out-$dpi.rgb"
    if [ "$dpi" != 96 ]; then
        cmp -s "$dir/record-96.txt" "$dir/record-$dpi.txt" || fail "Apply at $dpi DPI stored another record than at 96"
        cmp -s "$dir/out-96.rgb" "$dir/out-$dpi.rgb" || fail "Apply at $dpi DPI wrote other bytes than at 96"
    fi
done
"$session" dpi "$build" 96 >/dev/null
((failures == 0)) && echo "dialog at every DPI passed"
exit $((failures > 0))
