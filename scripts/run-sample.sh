#!/usr/bin/env bash
# The main job on the bundled sample: builds the Linux tool, generates the sample photo and renders
# it with every sample preset (and the dialog's preview of one) into out/; then builds both Windows
# modules and shows, through the Windows test host under Wine, what a host sees when it loads each.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=${ORYN_JOBS:-$(nproc)}

cmake --preset native >/dev/null
cmake --build build/native -j "$jobs" --target oryn3d oryn-samplegen
tool=build/native/tools/oryn3d/oryn3d
out=out
mkdir -p "$out"
build/native/tools/samplegen/oryn-samplegen "$out/sample.png"

echo "== The sample photo with every sample preset"
while IFS= read -r preset; do
    # "Front Bricks" -> front-bricks.png
    file="$out/$(printf '%s' "$preset" | tr 'A-Z ' 'a-z-').png"
    "$tool" render "$out/sample.png" -o "$file" --preset "$preset" --quiet --no-remember
    printf '  %-18s %s\n' "$preset" "$file"
done < <("$tool" presets list 2>/dev/null | sed -n 's/^sample  //p')
"$tool" preview "$out/sample.png" -o "$out/preview-orystone.png" --preset Orystone --quiet
printf '  %-18s %s\n' "preview" "$out/preview-orystone.png"
echo

for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build "build/$preset" -j "$jobs" --target oryn_module oryn_testhost
done

session=$(mktemp -d)
trap 'scripts/wine-session.sh stop "$session" >/dev/null; rm -rf "$session"' EXIT
scripts/wine-session.sh start "$session" >/dev/null
export ORYN_WINE_DIR=$session/wine

for pair in "win32 Oryn107.8bf" "win64 Oryn107-x64.8bf"; do
    set -- $pair
    echo "== $2 loaded by the $1 test host"
    scripts/wine-run.sh "build/$1/tools/testhost/oryn-testhost.exe" --plugin "build/$1/$2" --info
    echo
done
echo "Rendered images: $PWD/$out/ (the input is $out/sample.png, one image per preset, and the"
echo "  preview as preview-orystone.png); the tool is $tool (see README.md, Command-line tool)"
echo "Modules: build/win32/Oryn107.8bf (32-bit hosts), build/win64/Oryn107-x64.8bf (64-bit hosts)"
