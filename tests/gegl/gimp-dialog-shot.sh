#!/usr/bin/env bash
# Opens GIMP 2.10 on a private Xvfb with the oryn:relief module in a throwaway profile, opens
# Tools > GEGL Operation... from the menu by keyboard, picks "Oryn 3D (oryn:relief)" from the
# operation list with the mouse, waits for the dialog GIMP builds from the operation's properties
# and for the on-canvas preview, and saves a picture of the dialog.
#
#   gimp-dialog-shot.sh MODULE SAMPLEGEN WORKDIR [OUT.png]
#
# MODULE is oryn-relief.so, SAMPLEGEN the oryn-samplegen program (it draws the image opened),
# WORKDIR a folder that is emptied and holds the profile, the logs and the screenshots
# (before.png: the image before the tool opens; preview.png: the screen with the preview;
# dialog.png: the dialog alone; preset.png: the dialog with a preset chosen). OUT.png, if given, receives a copy of dialog.png
# (docs/gimp-dialog.png is made this way). Exits 0 when the dialog and the preview appeared;
# prints ORYN-SKIPPED and exits 0 where GIMP, Xvfb, xdotool or ImageMagick is missing.
set -euo pipefail

if (($# < 3)); then
    echo "usage: $0 MODULE SAMPLEGEN WORKDIR [OUT.png]" >&2
    exit 2
fi
module=$1 samplegen=$2 work=$3 out=${4:-}

for tool in gimp Xvfb xdotool xwininfo import convert compare; do
    if ! command -v "$tool" >/dev/null; then
        echo "ORYN-SKIPPED: $tool is not installed"
        exit 0
    fi
done

rm -rf "$work"
mkdir -p "$work"/{profile,data/gegl-0.4/plug-ins,home,config,cache}
work=$(cd "$work" && pwd)
cp "$module" "$work/data/gegl-0.4/plug-ins/"
"$samplegen" "$work/image.png" 400 300

xvfb= gimp_group=
cleanup() {
    if [ -n "$gimp_group" ]; then
        kill -TERM -- "-$gimp_group" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 -- "-$gimp_group" 2>/dev/null || break
            sleep 0.2
        done
        kill -KILL -- "-$gimp_group" 2>/dev/null || true
    fi
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
}
trap cleanup EXIT

fail() {
    echo "gimp-dialog-shot: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$work/failed.png" 2>/dev/null || true
    exit 1
}

# poll SECONDS COMMAND...: runs COMMAND every 0.25 s until it succeeds or the time is up.
poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.25
    done
}

# A display of its own: Xvfb picks a free number and writes it to the file; no key auto-repeat,
# so that keys sent on a loaded machine are never repeated.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -r -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
poll 30 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"

# GIMP in a session (and process group) of its own, so that it and its plug-ins stop together.
(
    cd "$work"
    exec env -u GEGL_PATH HOME="$work/home" GIMP2_DIRECTORY="$work/profile" \
        XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
        setsid gimp -n --no-splash image.png >"$work/gimp.log" 2>&1
) &
gimp_group=$!

find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
window_is_up() { [ -n "$(find_window "$1")" ]; }
# Width, height, x and y of a window.
geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                             /Width:/ {w=$NF} /Height:/ {h=$NF} END {print w, h, x, y}'
}
# Waits until two screenshots of a window taken 1 s apart are the same (drawing has settled).
settled() {
    import -window "$1" "$work/settle-a.png"
    sleep 1
    import -window "$1" "$work/settle-b.png"
    cmp -s <(convert "$work/settle-a.png" rgb:-) <(convert "$work/settle-b.png" rgb:-)
}

poll 120 window_is_up '^\[image\]' || fail "GIMP's image window did not appear"
image_window=$(find_window '^\[image\]')
poll 60 settled root || fail "GIMP did not finish drawing"
import -window root "$work/before.png"

# Tools > GEGL Operation..., by the menu's mnemonics.
xdotool mousemove 800 500
xdotool windowfocus --sync "$image_window"
xdotool key alt+t
sleep 1
xdotool key g
poll 30 window_is_up '^GEGL Operation$' || fail "the GEGL Operation dialog did not open"
dialog=$(find_window '^GEGL Operation$')
# Beside the image window, so the canvas stays in sight.
xdotool windowmove --sync "$dialog" 1170 20
poll 10 settled "$dialog" || fail "the GEGL Operation dialog did not settle"
read -r width height left top < <(geometry "$dialog")
echo "GEGL Operation dialog, no operation: ${width}x${height}" >"$work/dialog.txt"

# The operation list: GIMP's GEGL operations carry GIMP's GEGL icon before their title, a
# third-party one does not. The list opens below the combo box with rows 29 pixels apart; the
# row whose icon patch differs from both neighbours' is oryn:relief.
xdotool mousemove $((left + width / 2)) $((top + 60)) click 1
sleep 1.5
xdotool mousemove $((left - 50)) $((top + 5))
sleep 0.5
import -window root "$work/list.png"
hashes=()
for k in $(seq 0 30); do
    hashes+=("$(convert "$work/list.png" -crop "18x18+$((left + 12))+$((top + 52 + 29 * k))" \
        rgb:- | md5sum | cut -c1-32)")
done
row=-1
for k in $(seq 1 29); do
    if [ "${hashes[k]}" != "${hashes[k - 1]}" ] && [ "${hashes[k]}" != "${hashes[k + 1]}" ] &&
        [ "${hashes[k - 1]}" = "${hashes[0]}" ]; then
        row=$k
        break
    fi
done
((row >= 0)) || fail "oryn:relief is not in the GEGL tool's operation list"
xdotool mousemove $((left + 120)) $((top + 61 + 29 * row))
sleep 0.5
xdotool click 1

# The dialog grows by the operation's properties, and the preview draws the relief.
grown() {
    local w h x y
    read -r w h x y < <(geometry "$dialog")
    ((h > height + 300))
}
poll 60 grown || fail "no properties appeared in the dialog"
xdotool mousemove 5 995
poll 120 settled root || fail "the preview did not settle"
import -window root "$work/preview.png"
import -window "$dialog" "$work/dialog.png"
# The on-canvas preview: GIMP shows the 400 x 300 image at 100 % in the middle of its canvas
# (504,356 to 904,656 on this screen); most of its inner 360 x 260 pixels change.
convert "$work/before.png" -crop 360x260+524+376 +repage "$work/image-before.png"
convert "$work/preview.png" -crop 360x260+524+376 +repage "$work/image-preview.png"
changed=$(compare -metric AE "$work/image-before.png" "$work/image-preview.png" null: 2>&1 || true)
changed=${changed%% *}
echo "Pixels of the image changed by the preview: $changed of 93600" >>"$work/dialog.txt"
[[ $changed =~ ^[0-9]+$ ]] && ((changed > 46800)) || fail "the canvas shows no preview ($changed)"
read -r width height left top < <(geometry "$dialog")
echo "GEGL Operation dialog, oryn:relief: ${width}x${height} at $left,$top" >>"$work/dialog.txt"
# A preset chosen from the Preset list by keyboard (the second sample, Herring-Bone): GIMP greys
# out the cell shape's values, which the preset replaces.
xdotool mousemove $((left + 200)) $((top + 191)) click 1
sleep 1.5
xdotool key Down Down Return
xdotool mousemove 5 995
sleep 1
poll 120 settled root || fail "the preview did not settle after the preset"
import -window "$dialog" "$work/preset.png"
greyed=$(compare -metric AE "$work/dialog.png" "$work/preset.png" null: 2>&1 || true)
greyed=${greyed%% *}
echo "Dialog pixels changed by the preset: $greyed" >>"$work/dialog.txt"
[[ $greyed =~ ^[0-9]+$ ]] && ((greyed > 500)) || fail "the preset changed nothing in the dialog"

if [ -n "$out" ]; then
    cp "$work/dialog.png" "$out"
fi
cat "$work/dialog.txt"
