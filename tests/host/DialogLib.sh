# Helpers shared by the real-input dialog scripts (sourced, not run): the work folder and the
# 32-bit skip, the test host started on a photo, windows and controls read from its window map,
# xdotool input, screenshots, crops and comparisons with the native tool, and the cleanup.
# A script sets emulator, testhost, module, tool, samplegen and dir before it calls these.

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
step() { echo "-- $*"; }

# Empties the work folder, skips (exit $1, 77 unless given) where 32-bit programs cannot run,
# and points DISPLAY at the session's X server.
dialog_setup() {
    rm -rf "$dir"
    mkdir -p "$dir"
    if [ -f "$ORYN_WINE_DIR/no32bit" ]; then
        echo "ORYN-SKIPPED: 32-bit Windows programs cannot run here: $(cat "$ORYN_WINE_DIR/no32bit")"
        exit "${1:-77}"
    fi
    export DISPLAY=$(cat "$ORYN_WINE_DIR/display")
    "$samplegen" "$dir/in.png" 640 427 >/dev/null || { echo "cannot make the photo"; exit 1; }
    use_map "$dir/map.txt" "$dir/host.log"
}

# The window map and host log that the next start_host writes (and the waits below read).
use_map() {
    map=$1 log=$2
    : >"$map"
    windows_seen=0 drop_seen=0 closed_mark=0
}

# Starts the test host on the photo in the background; the arguments follow the common ones.
host=
start_host() {
    "$emulator" "$testhost" --plugin "$module" --in "$dir/in.png" --clear-store \
        --window-map "$map" --show-store "$@" >"$log" 2>&1 &
    host=$!
}
trap '[ -n "$host" ] && kill $host 2>/dev/null; wait 2>/dev/null' EXIT

# Waits until the map names a new window whose lines match $1; sets win_id (its handle), win_x,
# win_y, win_w, win_h (its client area on the screen), block (its lines) and ctl_<id>_l/t/r/b
# (each control's client rectangle). try_wait_window returns 1 where none comes.
try_wait_window() {
    local pattern=$1 i count
    for i in $(seq 600); do
        count=$(grep -c '^window ' "$map")
        if ((count > windows_seen)); then
            block=$(awk -v n=$((windows_seen + 1)) '/^window /{k++} k==n' "$map" | tr -d '\r')
            if grep -q '^end' <<<"$block"; then
                windows_seen=$((windows_seen + 1))
                if grep -qE "$pattern" <<<"$block"; then
                    read -r win_id win_x win_y win_w win_h < <(sed -n 's/^window \([0-9a-fA-Fx]*\) .* client \([0-9-]*\) \([0-9-]*\) \([0-9]*\) \([0-9]*\)$/\1 \2 \3 \4 \5/p' <<<"$block")
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
    cat "$map" "$log"
    return 1
}
wait_window() { try_wait_window "$1" || exit 1; }
# Asks the host to write every window again and waits for the one matching $1.
remap() { touch "$map.again"; wait_window "$1"; }
# The quoted text of control $1 in the last block.
control_text() { sed -n "s/^control $1 [A-Za-z]* [0-9-]* [0-9-]* [0-9-]* [0-9-]* [a-z]* \"\(.*\)\"$/\1/p" <<<"$block"; }
combo_count() { sed -n "s/^combo $1 itemheight [0-9-]* count \([0-9-]*\)$/\1/p" <<<"$block"; }

# Closed windows (drop-down lists among them): mark notes how many have closed so far;
# wait_closed waits for one more than that, wait_gone for the window with handle $1.
closed_count() { grep -c '^closed ' "$map"; }
mark() { closed_mark=$(closed_count); }
wait_closed() {
    local i
    for i in $(seq 400); do
        (($(closed_count) > closed_mark)) && { mark; return 0; }
        sleep 0.05
    done
    echo "a window did not close"; cat "$map"; exit 1
}
wait_gone() {
    local i
    for i in $(seq 400); do
        tr -d '\r' <"$map" | grep -q "^closed $1\$" && { mark; return 0; }
        sleep 0.05
    done
    echo "a window did not close"; cat "$map"; exit 1
}
# Waits until a drop-down list opens that was not open before; sets drop_x, drop_y (its corner).
wait_droplist() {
    local i count
    for i in $(seq 400); do
        count=$(grep -c '^droplist ' "$map")
        ((count > drop_seen)) && break
        sleep 0.05
    done
    ((count > drop_seen)) || { echo "the preset list did not open"; exit 1; }
    drop_seen=$count
    read -r drop_x drop_y < <(grep '^droplist ' "$map" | tail -n 1 | awk '{print $4, $5}')
}
# Waits until the host log has a line matching $1.
wait_log() {
    local i
    for i in $(seq 600); do
        tr -d '\r' <"$log" | grep -qE "$1" && return 0
        sleep 0.05
    done
    echo "the host never printed '$1'"; cat "$log"; exit 1
}

shot() { import -display "$DISPLAY" -window root "$1"; }
# Waits until two screenshots taken a moment apart are the same: the dialog has finished painting.
# The last one is $dir/settle.png. try_settle returns 1 where the screen never settles.
try_settle() {
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
settle() { try_settle || exit 1; }

# Lengths of the 100% drawing at the current $dpi, rounded like the dialog's (MulDiv).
dpi=96
px() { echo $((($1 * dpi * 2 + 96) / 192)); }

# The main dialog's client origin and the controls the scripts use, from the last window found.
note_main() {
    main_x=$win_x main_y=$win_y main_w=$win_w main_h=$win_h
    pf_l=$ctl_1017_l pf_t=$ctl_1017_t
    sw_l=$ctl_1021_l sw_t=$ctl_1021_t sw_r=$ctl_1021_r sw_b=$ctl_1021_b
    list_l=$ctl_1014_l list_t=$ctl_1014_t list_r=$ctl_1014_r list_b=$ctl_1014_b
    aa_l=$ctl_1004_l aa_t=$ctl_1004_t aa_b=$ctl_1004_b
    x2_l=$ctl_1027_l x2_t=$ctl_1027_t x2_r=$ctl_1027_r x2_b=$ctl_1027_b
    apply_l=$ctl_1_l apply_t=$ctl_1_t cancel_l=$ctl_2_l cancel_t=$ctl_2_t
}
# A click at client coordinates of the last window found (click) or of the main dialog (mainclick).
click() { xdotool mousemove --sync $((win_x + $1)) $((win_y + $2)) click 1; }
mainclick() { xdotool mousemove --sync $((main_x + $1)) $((main_y + $2)) click 1; }
# A click in the middle of control $1 of the last window found.
click_control() {
    local l t r b
    eval "l=\$ctl_$1_l t=\$ctl_$1_t r=\$ctl_$1_r b=\$ctl_$1_b"
    click $(((l + r) / 2)) $(((t + b) / 2))
}
keys() { xdotool key --delay 30 "$@"; }
# In the save dialog: replaces the name field's text with $1.
type_name() {
    click $((ctl_1014_l + 10)) $(((ctl_1014_t + ctl_1014_b) / 2))
    xdotool key --delay 20 End $(printf 'BackSpace %.0s' $(seq 32))
    xdotool type --delay 40 "$1"
}
# The settled main dialog's client area, as $1.png.
dialog_shot() {
    settle
    convert "$dir/settle.png" -crop "${main_w}x${main_h}+${main_x}+${main_y}" +repage "$dir/$1.png"
}

# Waits for the host to end and reads what it printed ($1, default $dir/host.txt, printed too):
# start must return noErr; `record` becomes the stored "Last Used" record (hex). Returns 1 where
# no record was stored. $2 is added to the failure messages.
finish_host() {
    local text=${1:-$dir/host.txt}
    wait "$host"
    host=
    tr -d '\r' <"$log" >"$text"
    cat "$text"
    grep -q '^call start -> 0$' "$text" || fail "start did not return noErr${2:-}"
    record=$(sed -n 's/^store Last Used type 3 bytes 64 \([0-9a-f]*\)$/\1/p' "$text")
    [ ${#record} = 128 ] || { fail "no 64-byte Last Used record stored${2:-}"; return 1; }
}
# Byte $1 of the record, as two hex digits.
byte() { echo "${record:$((2 * $1)):2}"; }
# Writes the record to the file $1.
save_record() { printf '%s' "$record" | xxd -r -p >"$1"; }

# Raw RGB of an image ($1) into $2, cropped to $3 (WxH+X+Y) where given.
raw_rgb() {
    if [ -n "${3:-}" ]; then
        convert "$1" -crop "$3" +repage -depth 8 rgb:"$2"
    else
        convert "$1" -depth 8 rgb:"$2"
    fi
}
# Whether two images have the same pixels.
same_pixels() {
    raw_rgb "$1" "$1.rgb" && raw_rgb "$2" "$2.rgb" && cmp -s "$1.rgb" "$2.rgb"
}
# The preview on the screenshot $1 (its area at the current $dpi) against `oryn3d preview` of the
# record file $2 with the tool arguments that follow; fails with the message in $preview_fault.
preview_fault="the preview on the screen differs from oryn3d preview"
check_preview() {
    local screen=$1 block_file=$2 side inset
    shift 2
    side=$(px 300) inset=$(px 3)
    raw_rgb "$screen" "$dir/screen-preview.rgb" "${side}x${side}+$((main_x + pf_l + inset))+$((main_y + pf_t + inset))"
    "$tool" preview "$dir/in.png" -o "$dir/tool-preview.png" --block "$block_file" --quiet "$@" ||
        { fail "oryn3d preview failed"; return 1; }
    raw_rgb "$dir/tool-preview.png" "$dir/tool-preview.rgb"
    cmp -s "$dir/screen-preview.rgb" "$dir/tool-preview.rgb" || { fail "$preview_fault"; return 1; }
}
# The module's output $1 against `oryn3d render --block` of the record file $2 with the tool
# arguments that follow.
check_render() {
    local out=$1 block_file=$2
    shift 2
    "$tool" render "$dir/in.png" -o "$dir/tool-out.png" --block "$block_file" --quiet --no-remember "$@" ||
        { fail "oryn3d render failed"; return 1; }
    same_pixels "$out" "$dir/tool-out.png" || fail "the module's output differs from oryn3d render --block"
}

# The script's last line: says "$1 passed" where nothing failed, and exits with the result.
finish_test() {
    ((failures == 0)) && echo "$1 passed"
    exit $((failures > 0))
}
