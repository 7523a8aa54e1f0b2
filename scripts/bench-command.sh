#!/usr/bin/env bash
# Whole-command speed of oryn3d: `oryn3d render big.tif -o out.tif` (4000 x 3000 photo-like RGB,
# uncompressed TIFF in, LZW TIFF out) against `vips copy` of the same file to LZW TIFF, timed in
# the same interleaved rounds, and the difference compared with the engine benchmark's
# single-thread bilinear baseline run in the same session.
#
#   bash scripts/bench-command.sh [BUILD_DIR]     (default build/release; ROUNDS=11 by default;
#                                                  TOOL=path times another oryn3d build)
#
# BUILD_DIR needs oryn3d, oryn-samplegen and EngineBench built in Release; `vips` comes from the
# Debian package libvips-tools.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${ROUNDS:-11}
tool=${TOOL:-$build/tools/oryn3d/oryn3d}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tools/samplegen/oryn-samplegen" "$work/sample.png"
vips resize "$work/sample.png" "$work/big.tif" 2.5 --vscale 2.8143
size=$(vipsheader "$work/big.tif")
case $size in *4000x3000*) ;; *) echo "unexpected test image: $size" >&2; exit 1 ;; esac

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$work/tool"; : > "$work/copy"; : > "$work/diff"
# One warm-up of each, so that both start with the file in the page cache.
"$tool" render "$work/big.tif" -o "$work/out.tif" -q --no-remember
vips copy "$work/big.tif" "$work/copy.tif[compression=lzw]"
for ((r = 1; r <= rounds; ++r)); do
    t0=$(now)
    "$tool" render "$work/big.tif" -o "$work/out.tif" -q --no-remember
    t1=$(now)
    vips copy "$work/big.tif" "$work/copy.tif[compression=lzw]"
    t2=$(now)
    a=$(echo "$t1 - $t0" | bc -l); b=$(echo "$t2 - $t1" | bc -l)
    echo "$a" >> "$work/tool"; echo "$b" >> "$work/copy"; echo "$a - $b" | bc -l >> "$work/diff"
done
tool_s=$(median < "$work/tool"); copy_s=$(median < "$work/copy"); diff_s=$(median < "$work/diff")

# The bench prints its own table; the median line gives wall and CPU time in ms.
read -r baseline_wall baseline_cpu < <("$build/bench/EngineBench" --benchmark_filter='^Baseline' \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' | awk '/bilinear_median/ { print $2, $4; exit }')
ratio_wall=$(echo "$baseline_wall / ($diff_s * 1000)" | bc -l)
ratio_cpu=$(echo "$baseline_cpu / ($diff_s * 1000)" | bc -l)

printf 'rounds                           %d (load average before: %s)\n' "$rounds" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'oryn3d render, median wall       %.0f ms\n' "$(echo "$tool_s * 1000" | bc -l)"
printf 'vips copy, median wall           %.0f ms\n' "$(echo "$copy_s * 1000" | bc -l)"
printf 'difference, median of rounds     %.0f ms\n' "$(echo "$diff_s * 1000" | bc -l)"
printf 'bilinear baseline, one thread    %.0f ms wall, %.0f ms CPU\n' "$baseline_wall" "$baseline_cpu"
printf 'ratio baseline / difference      %.2f with its wall time, %.2f with its CPU time (target 1.0)\n' \
    "$ratio_wall" "$ratio_cpu"
