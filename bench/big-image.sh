#!/usr/bin/env bash
# A big photo through oryn3d against libvips' nearest comparable operation: `oryn3d render big.jpg
# -o out.jpg` (the tool's defaults) and `vips similarity big.jpg out.jpg --angle 10` (a
# random-access resample) on the same 20000 x 15000 JPEG, in alternating rounds, each timed with
# /usr/bin/time (wall time and peak resident memory). Prints every round, the medians and the
# ratios of oryn3d to vips.
#
#   bash bench/big-image.sh [BUILD_DIR]     (default build/release; ROUNDS=3 by default;
#                                            TOOL=path times another oryn3d build;
#                                            BIG=file.jpg uses that photo instead of making one)
#
# BUILD_DIR needs oryn3d and oryn-samplegen built in Release; `vips` comes from the Debian
# package libvips-tools. The photo is made from the sample generator's picture, enlarged, and
# written to a temporary folder that is removed at the end (about 21 MB; the two outputs about
# as much again).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${ROUNDS:-3}
tool=${TOOL:-$build/tools/oryn3d/oryn3d}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ -n ${BIG:-} ]]; then
    big=$BIG
else
    big=$work/big.jpg
    "$build/tools/samplegen/oryn-samplegen" "$work/sample.png"
    vips resize "$work/sample.png" "$big[Q=92]" 12.5 --vscale 14.0713
    size=$(vipsheader "$big")
    case $size in *20000x15000*) ;; *) echo "unexpected test image: $size" >&2; exit 1 ;; esac
fi

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Runs a command; appends "seconds kilobytes" to the file named first.
measure() {
    local into=$1
    shift
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null
    cat "$work/time" >> "$into"
}

: > "$work/tool"; : > "$work/vips"
printf 'load average before: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 1; r <= rounds; ++r)); do
    measure "$work/tool" "$tool" render "$big" -o "$work/out.jpg" -q --no-remember
    measure "$work/vips" vips similarity "$big" "$work/out2.jpg" --angle 10
    printf 'round %d: oryn3d %s s %s KB   vips similarity %s s %s KB\n' "$r" \
        $(tail -1 "$work/tool") $(tail -1 "$work/vips")
done
tool_s=$(cut -d' ' -f1 "$work/tool" | median); tool_kb=$(cut -d' ' -f2 "$work/tool" | median)
vips_s=$(cut -d' ' -f1 "$work/vips" | median); vips_kb=$(cut -d' ' -f2 "$work/vips" | median)
printf 'load average after:  %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'oryn3d render, median          %.2f s, peak %.0f MB\n' "$tool_s" "$(echo "$tool_kb / 1024" | bc -l)"
printf 'vips similarity, median        %.2f s, peak %.0f MB\n' "$vips_s" "$(echo "$vips_kb / 1024" | bc -l)"
printf 'ratio oryn3d / vips            %.2f in time (target 1.0 or less), %.2f in memory\n' \
    "$(echo "$tool_s / $vips_s" | bc -l)" "$(echo "$tool_kb / $vips_kb" | bc -l)"
printf 'oryn3d peak against the target %.0f MB of 256 MB\n' "$(echo "$tool_kb / 1024" | bc -l)"
