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
. "$(dirname "$0")/DialogLib.sh"
dialog_setup

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
trap '[ -n "$host" ] && kill $host 2>/dev/null; wait 2>/dev/null; restore_browser' EXIT
"$emulator" reg add "$browser_key" /ve /d "\"$(windows_path "$recorder")\" \"%1\"" /f >/dev/null 2>&1 ||
    { echo "cannot register the recorder as the browser"; exit 1; }
export ORYN_RECORD_FILE
ORYN_RECORD_FILE=$(windows_path "$dir/link.txt")
start_host --out "$dir/out.png" --fore 336699 --back FFEEDD --pick 8040C0

step "the dialog opens with Apply focused"
wait_window 'caption ".*Oryn 3D v1\.07"'
note_main
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
wait_gone "$popup"
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
finish_host && save_record "$dir/last-used.oryn"
trap - EXIT
restore_browser

# The record the values set above make, from the tool's own option handling.
"$tool" render "$dir/in.png" -o "$dir/tool-values.png" --preset "Front Bricks" \
    --cell-width 111 --cell-height 81 --light 20,34 --no-x2 --stretch 36,26 --bevel 3 \
    --shading 38 --face 1 --background background --brightness-ratio 77 --light-boost 90 \
    --no-antialias --foreground-color 336699 --background-color FFEEDD \
    --save-block "$dir/expected.oryn" --quiet --no-remember || fail "oryn3d could not make the record"
"$tool" presets show "$dir/expected.oryn"
"$tool" presets show "$dir/last-used.oryn"
cmp -s "$dir/last-used.oryn" "$dir/expected.oryn" || fail "the stored record differs from the values set: $(xxd -p "$dir/expected.oryn" | tr -d '\n') expected"

check_render "$dir/out.png" "$dir/expected.oryn" --foreground-color 336699 --background-color FFEEDD

finish_test "keyboard session"
