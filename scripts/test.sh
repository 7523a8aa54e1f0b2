#!/usr/bin/env bash
# Installs what is missing, builds every preset (Linux, Linux under the sanitizers, 32-bit and
# 64-bit Windows) and runs all tests; the Windows ones run under Wine. Exits non-zero if any fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=${ORYN_JOBS:-$(nproc)}
status=0
for preset in native asan win32 win64; do
    echo "== $preset: configure and build"
    extra=()
    # The Windows builds compare the module's output with the native tool's.
    [[ $preset == win* ]] && extra=(-DORYN_NATIVE_BUILD="$PWD/build/native")
    cmake --preset "$preset" "${extra[@]}" >/dev/null
    cmake --build "build/$preset" -j "$jobs"
    echo "== $preset: test"
    if ! ctest --preset "$preset" -j "$jobs"; then
        status=1
    fi
done
exit $status
