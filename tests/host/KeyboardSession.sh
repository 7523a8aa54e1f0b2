#!/usr/bin/env bash
# The main dialog without a mouse: the test host opens the filter on a photo under Wine, and only
# real keyboard input goes through the X server (xdotool). Starting on Apply, the user picks a
# preset in the preset list, turns Antialiasing off, and then Tabs through every control of the
# dialog in reading order: numbers typed into the cell-size, light, shading and brightness
# captions (one typed number dropped with Escape), arrow and Shift+arrow steps, Home and End,
# the reset key, "x2", the G-Shading button, the background chosen in the popup with the
# arrows, and the home page link opened with Space (the prefix's browser command is replaced by
# a recorder for the run). Keys are sent in bursts, so many arrive while a preview render runs. Return applies.
# Then:
#  - the stored "Last Used" record is the record oryn3d makes of the same values;
#  - the module's output equals `oryn3d render --block` of that record, byte for byte.
# Screenshots of the focus mark on each kind of control are left in the work folder.
#   KeyboardSession.sh EMULATOR TESTHOST MODULE TOOL SAMPLEGEN WORKDIR RECORDER
set -u
emulator=$1 testhost=$2 module=$3 tool=$4 samplegen=$5 dir=$6 recorder=$7
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

# The link starts the browser registered for http: for this run, a recorder that appends its
# command line to a file. The prefix's own command is put back at the end.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
browser_key='HKLM\Software\Classes\http\shell\open\command'
previous_browser=$("$emulator" reg query "$browser_key" /ve 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *(Default) *REG_SZ *//p')
restore_browser() {
    if [ -n "$previous_browser" ]; then
        "$emulator" reg add "$browser_key" /ve /d "$previous_browser" /f >/dev/null 2>&1
    else
        "$emulator" reg delete "$browser_key" /ve /f >/dev/null 2>&1
    fi
}
"$emulator" reg add "$browser_key" /ve /d "\"$(windows_path "$recorder")\" \"%1\"" /f >/dev/null 2>&1 ||
    { echo "cannot register the recorder as the browser"; exit 1; }
export ORYN_RECORD_FILE
ORYN_RECORD_FILE=$(windows_path "$dir/link.txt")
"$emulator" "$testhost" --plugin "$module" --in "$dir/in.png" --out "$dir/out.png" --clear-store \
    --fore 336699 --back FFEEDD --pick 8040C0 --window-map "$map" --show-store >"$dir/host.log" 2>&1 &
host=$!
trap 'kill $host 2>/dev/null; wait $host 2>/dev/null; restore_browser' EXIT

# Waits until the map names a new window whose lines match $1; sets win_id (its handle) and
# win_x, win_y, win_w, win_h (its client area on the screen).
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
                    read -r win_id win_x win_y win_w win_h < <(tr -d '\r' <<<"$block" |
                        sed -n 's/^window \([0-9a-fA-F]*\) .* client \([0-9-]*\) \([0-9-]*\) \([0-9]*\) \([0-9]*\)$/\1 \2 \3 \4 \5/p')
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
# Waits until the window with handle $1 has gone.
wait_closed() {
    local i
    for i in $(seq 400); do
        tr -d '\r' <"$map" | grep -q "^closed $1\$" && return 0
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
# The settled dialog's client area, as $1.png.
dialog_shot() {
    settle
    convert "$dir/settle.png" -crop "${main_w}x${main_h}+${main_x}+${main_y}" +repage "$dir/$1.png"
}
keys() { xdotool key --delay 30 "$@"; }

step "the dialog opens with Apply focused"
wait_window 'caption ".*Oryn 3D v1\.07"'
main_x=$win_x main_y=$win_y main_w=$win_w main_h=$win_h
grep -q 'OrynFocusStop' "$map" || fail "the dialog has no focus windows for its own controls"
dialog_shot focus-apply

step "back to the preset list; Down picks Front Bricks; Antialiasing off"
keys shift+Tab shift+Tab shift+Tab Down
settle
keys Tab space
dialog_shot focus-antialiasing

step "cell width: 120 typed, then Right and Shift+Left: 111"
keys Tab Tab Tab 1 2 0
dialog_shot typing-cell-width
keys Return Right shift+Left
dialog_shot focus-cell-width

step "cell height: 80 typed, then Down: 81"
keys Tab 8 0 Return Down
dialog_shot focus-cell-height

step "link: Tab reaches it, and Space opens the home page in the registered browser"
keys Tab
dialog_shot focus-link
keys space
for _ in $(seq 200); do [ -s "$dir/link.txt" ] && break; sleep 0.05; done
tr -d '\r' <"$dir/link.txt" 2>/dev/null | grep -q ' https://oryn3d.example/$' ||
    fail "Space on the link did not open the home page: $(cat "$dir/link.txt" 2>/dev/null)"

step "light direction: -5,10 typed, then Up: 20,34"
keys Tab minus 5 comma 1 0
dialog_shot typing-light
keys Return Up
dialog_shot focus-light

step "x2 off"
keys Tab space
dialog_shot focus-x2

step "stretch: reset, Right, Shift+Right, Down: 36,26"
keys Tab Delete Right shift+Right Down
dialog_shot focus-stretch

step "S-Bevel width: Home, three times Right: 3"
keys Tab Home Right Right Right
dialog_shot focus-bevel

step "S-Shading: -12 typed: 38"
keys Tab minus 1 2 Return
dialog_shot focus-shading

step "G-Shading button: Space and Return: from 2 to 1"
keys Tab space Return
dialog_shot focus-button

step "background: Space opens the popup on Picker, Up selects Background, Return takes it"
keys Tab
dialog_shot focus-swatch
keys space
wait_window 'control 1025 '
popup=$win_id
keys Up
settle
shot "$dir/popup-screen.png"
keys Return
wait_closed "$popup"
dialog_shot after-popup

step "Brightness Ratio: 77 typed"
keys Tab 7 7 Return
dialog_shot focus-brightness

step "Light Boosting: End, Shift+Left, a 5 typed and dropped with Escape: 90"
keys Tab End shift+Left 5
dialog_shot typing-boost
keys Escape
dialog_shot focus-boost

step "Return applies"
keys Return
for _ in $(seq 600); do kill -0 "$host" 2>/dev/null || break; sleep 0.1; done
kill -0 "$host" 2>/dev/null && { fail "Return did not apply"; kill "$host"; }
wait "$host"
trap - EXIT
restore_browser
tr -d '\r' <"$dir/host.log" >"$dir/host.txt"
cat "$dir/host.txt"
grep -q '^call start -> 0$' "$dir/host.txt" || fail "start did not return noErr"

record=$(sed -n 's/^store Last Used type 3 bytes 64 \([0-9a-f]*\)$/\1/p' "$dir/host.txt")
[ ${#record} = 128 ] || fail "no 64-byte Last Used record stored"
printf '%s' "$record" | xxd -r -p >"$dir/last-used.oryn"

# The record the values set above make, from the tool's own option handling.
"$tool" render "$dir/in.png" -o "$dir/tool-values.png" --preset "Front Bricks" \
    --cell-width 111 --cell-height 81 --light 20,34 --no-x2 --stretch 36,26 --bevel 3 \
    --shading 38 --face 1 --background background --brightness-ratio 77 --light-boost 90 \
    --no-antialias --foreground-color 336699 --background-color FFEEDD \
    --save-block "$dir/expected.oryn" --quiet --no-remember || fail "oryn3d could not make the record"
"$tool" presets show "$dir/expected.oryn"
"$tool" presets show "$dir/last-used.oryn"
cmp -s "$dir/last-used.oryn" "$dir/expected.oryn" || fail "the stored record differs from the values set: $(xxd -p "$dir/expected.oryn" | tr -d '\n') expected"

"$tool" render "$dir/in.png" -o "$dir/tool-out.png" --block "$dir/expected.oryn" \
    --foreground-color 336699 --background-color FFEEDD --quiet --no-remember || fail "oryn3d render failed"
convert "$dir/out.png" -depth 8 rgb:"$dir/out.rgb"
convert "$dir/tool-out.png" -depth 8 rgb:"$dir/tool-out.rgb"
cmp -s "$dir/out.rgb" "$dir/tool-out.rgb" || fail "the module's output differs from oryn3d render --block"

((failures == 0)) && echo "keyboard session passed"
exit $((failures > 0))
