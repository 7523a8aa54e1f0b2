#!/usr/bin/env bash
# The main job on the bundled sample: builds the Linux tool, generates the sample photo and renders
# it with every sample preset (and the dialog's preview of one) into out/; then builds both Windows
# modules and shows, through the Windows test host under Wine, what a host sees when it loads each.
set -euo pipefail
cd "$(dirname "$0")/.."
trap 'echo "run-sample.sh: failed (status $?) at: $BASH_COMMAND" >&2' ERR

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

# Each bitness runs in a Wine session of its own; the 64-bit one never needs 32-bit support.
sessions=$(mktemp -d)
trap 'for b in 32 64; do scripts/wine-session.sh stop "$sessions/$b" >/dev/null || true; done; rm -rf "$sessions"' EXIT
for pair in "32 win32 Oryn107.8bf" "64 win64 Oryn107-x64.8bf"; do
    set -- $pair
    scripts/wine-session.sh start "$sessions/$1" "$1" >/dev/null
    if [ -f "$sessions/$1/wine/no32bit" ]; then
        echo "== $3 was built (build/$2/$3) but cannot be loaded here: $(cat "$sessions/$1/wine/no32bit")"
        echo
        continue
    fi
    echo "== $3 loaded by the $2 test host"
    ORYN_WINE_DIR=$sessions/$1/wine scripts/wine-run.sh "build/$2/tools/testhost/oryn-testhost.exe" \
        --plugin "build/$2/$3" --info
    echo
done
echo "Rendered images: $PWD/$out/ (the input is $out/sample.png, one image per preset, and the"
echo "  preview as preview-orystone.png); the tool is $tool (see README.md, Command-line tool)"
echo "Modules: build/win32/Oryn107.8bf (32-bit hosts), build/win64/Oryn107-x64.8bf (64-bit hosts)"
