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
rm -rf "$dir"
mkdir -p "$dir"
if [ -f "$ORYN_WINE_DIR/no32bit" ]; then
    echo "ORYN-SKIPPED: 32-bit Windows programs cannot run here: $(cat "$ORYN_WINE_DIR/no32bit")"
    exit 77
fi
export DISPLAY=$(cat "$ORYN_WINE_DIR/display")
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
step() { echo "-- $*"; }

"$samplegen" "$dir/in.png" 640 427 >/dev/null || { echo "cannot make the photo"; exit 1; }
map=$dir/map.txt
: >"$map"
"$emulator" "$testhost" --plugin "$module" --in "$dir/in.png" --out "$dir/out.png" --clear-store \
    --fore 336699 --back FFEEDD --pick 8040C0 --window-map "$map" --show-store >"$dir/host.log" 2>&1 &
host=$!
trap 'kill $host 2>/dev/null; wait $host 2>/dev/null' EXIT

# Waits until the map names a new window whose lines match $1; sets win_x, win_y (its client
# origin on the screen) and ctl_<id>_l/t/r/b (each control's client rectangle).
windows_seen=0
wait_window() {
    local pattern=$1 i count block
    for i in $(seq 400); do
        count=$(grep -c '^window ' "$map")
        if ((count > windows_seen)); then
            block=$(awk -v n=$((windows_seen + 1)) '/^window /{k++} k==n' "$map")
            if grep -q '^end' <<<"$block"; then
                windows_seen=$((windows_seen + 1))
                if grep -qE "$pattern" <<<"$block"; then
                    read -r win_x win_y < <(sed -n 's/^window .* client \([0-9-]*\) \([0-9-]*\) .*/\1 \2/p' <<<"$block")
                    while read -r _ id _ l t r b _; do
                        [ "$id" -ge 0 ] 2>/dev/null && eval "ctl_${id}_l=$l ctl_${id}_t=$t ctl_${id}_r=$r ctl_${id}_b=$b"
                    done < <(grep '^control ' <<<"$block")
                    return 0
                fi
                continue
            fi
        fi
        sleep 0.05
    done
    echo "no window matching '$pattern' appeared"
    cat "$map" "$dir/host.log"
    exit 1
}
wait_closed() {
    local i
    for i in $(seq 400); do
        (($(grep -c '^closed ' "$map") >= $1)) && return 0
        sleep 0.05
    done
    echo "a window did not close"; exit 1
}
shot() { import -display "$DISPLAY" -window root "$1"; }
# Waits until two screenshots taken a moment apart are the same: the dialog has finished painting.
settle() {
    local previous="" current i
    for i in $(seq 100); do
        sleep 0.25
        shot "$dir/settle.png"
        current=$(md5sum <"$dir/settle.png")
        [ "$current" = "$previous" ] && return 0
        previous=$current
    done
    echo "the screen never settled"; exit 1
}
# Client coordinates of the dialog that wait_window found last, to the screen.
click() { xdotool mousemove --sync $((win_x + $1)) $((win_y + $2)) click 1; }

step "the dialog opens and finishes its first paint"
wait_window 'caption ".*Oryn 3D v1\.07"'
main_x=$win_x main_y=$win_y
pf_l=$ctl_1017_l pf_t=$ctl_1017_t
sf_l=$((ctl_1019_l + 24)) sf_b=$ctl_1019_b
sw_l=$ctl_1021_l sw_t=$ctl_1021_t sw_r=$ctl_1021_r sw_b=$ctl_1021_b
list_l=$ctl_1014_l list_t=$ctl_1014_t list_r=$ctl_1014_r list_b=$ctl_1014_b
item=$(grep -m1 '^combo 1014 itemheight' "$map" | awk '{print $4}')
aa_l=$ctl_1004_l aa_t=$ctl_1004_t aa_b=$ctl_1004_b
x2_l=$ctl_1027_l x2_t=$ctl_1027_t x2_r=$ctl_1027_r x2_b=$ctl_1027_b
apply_l=$ctl_1_l apply_t=$ctl_1_t
settle
shot "$dir/dialog-first.png"
mainclick() { xdotool mousemove --sync $((main_x + $1)) $((main_y + $2)) click 1; }
# Opens the preset list, waits until its list is on the screen, and clicks entry $1 in it.
drop_seen=0
pick_entry() {
    local i count top left
    mainclick $(((list_l + list_r) / 2)) $(((list_t + list_b) / 2))
    for i in $(seq 400); do
        count=$(grep -c '^droplist ' "$map")
        ((count > drop_seen)) && break
        sleep 0.05
    done
    ((count > drop_seen)) || { echo "the preset list did not open"; exit 1; }
    drop_seen=$count
    read -r left top < <(grep '^droplist ' "$map" | tail -n 1 | awk '{print $4, $5}')
    xdotool mousemove --sync $((left + 10)) $((top + 1 + $1 * item + item / 2)) click 1
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
closed=0
for row in 0 1 3 2; do
    mainclick $(((sw_l + sw_r) / 2)) $(((sw_t + sw_b) / 2))
    wait_window 'control 1025 '
    r=$((1025 + row))
    eval "rl=\$ctl_${r}_l rt=\$ctl_${r}_t rr=\$ctl_${r}_r rb=\$ctl_${r}_b"
    click $(((rl + rr) / 2)) $(((rt + rb) / 2))
    closed=$((closed + 1))
    wait_closed $closed
    settle
    shot "$dir/background-$row.png"
done

step "toggle Antialiasing and x2"
mainclick $((aa_l + 6)) $(((aa_t + aa_b) / 2))
settle
mainclick $(((x2_l + x2_r) / 2)) $(((x2_t + x2_b) / 2))
settle

# Chooses the save entry, types a name and presses Save (1) or Delete Preset (3).
save_flow() {
    local entries=$1 name=$2 button=$3
    pick_entry "$entries"
    wait_window 'control 1034 '
    click $((ctl_1014_l + 10)) $(((ctl_1014_t + ctl_1014_b) / 2))
    xdotool key --delay 20 End $(printf 'BackSpace %.0s' $(seq 32))
    xdotool type --delay 40 "$name"
    eval "bl=\$ctl_${button}_l bt=\$ctl_${button}_t br=\$ctl_${button}_r bb=\$ctl_${button}_b"
    click $(((bl + br) / 2)) $(((bt + bb) / 2))
    closed=$((closed + 1))
    wait_closed $closed
}

step "save E2E Alpha and E2E Beta, delete E2E Beta"
save_flow 9 "E2E Alpha" 1
settle
save_flow 10 "E2E Beta" 1
settle
save_flow 11 "E2E Beta" 3
settle

step "a delete of an unknown name shows the error and changes nothing"
save_flow 10 "Nope" 3
wait_window 'caption "ERROR"'
grep -q '"Unable to locate User Preset' "$map" || fail "the error box does not name the failure"
xdotool key Return
closed=$((closed + 1))
wait_closed $closed
settle
shot "$dir/dialog.png"
convert "$dir/dialog.png" -crop 300x300+$((main_x + pf_l + 3))+$((main_y + pf_t + 3)) +repage \
    -depth 8 rgb:"$dir/screen-preview.rgb"

step "Apply"
mainclick $((apply_l + 10)) $((apply_t + 7))
wait "$host"
trap - EXIT
tr -d '\r' <"$dir/host.log" >"$dir/host.txt"
cat "$dir/host.txt"
grep -q '^call start -> 0$' "$dir/host.txt" || fail "start did not return noErr"

record=$(sed -n 's/^store Last Used type 3 bytes 64 \([0-9a-f]*\)$/\1/p' "$dir/host.txt")
[ ${#record} = 128 ] || fail "no 64-byte Last Used record stored"
printf '%s' "$record" | xxd -r -p >"$dir/last-used.oryn"
"$tool" preview "$dir/in.png" -o "$dir/tool-preview.png" --block "$dir/last-used.oryn" \
    --foreground-color 336699 --background-color FFEEDD --quiet || fail "oryn3d preview failed"
convert "$dir/tool-preview.png" -depth 8 rgb:"$dir/tool-preview.rgb"
cmp -s "$dir/screen-preview.rgb" "$dir/tool-preview.rgb" || fail "the preview on the screen differs from oryn3d preview"
"$tool" render "$dir/in.png" -o "$dir/tool-out.png" --block "$dir/last-used.oryn" \
    --foreground-color 336699 --background-color FFEEDD --quiet --no-remember || fail "oryn3d render failed"
convert "$dir/out.png" -depth 8 rgb:"$dir/out.rgb"
convert "$dir/tool-out.png" -depth 8 rgb:"$dir/tool-out.rgb"
cmp -s "$dir/out.rgb" "$dir/tool-out.rgb" || fail "the module's output differs from oryn3d render"

grep -q 'caption "ERROR"' "$map" || fail "the failed delete showed no error box"
store=$("$emulator" reg.exe query 'HKLM\Software\Oryn 3D\User Defined' 2>&1 | tr -d '\r')
echo "$store"
grep -q 'E2E Alpha' <<<"$store" || fail "E2E Alpha is not stored"
grep -q 'E2E Beta' <<<"$store" && fail "E2E Beta is still stored"
grep -q 'Last Used' <<<"$store" || fail "Last Used is not stored"

((failures == 0)) && echo "dialog session passed"
exit $((failures > 0))
