#!/usr/bin/env bash
# Installs what is missing, builds every preset (Linux, Linux under the sanitizers, 32-bit and
# 64-bit Windows) and runs all tests; the Windows ones run under Wine. Exits non-zero if any fails.
# On a machine that cannot run 32-bit programs the 32-bit tree is still built and checked
# statically; its tests that would run 32-bit code are reported as skipped, with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."
trap 'echo "test.sh: failed (status $?) at: $BASH_COMMAND" >&2' ERR

bash scripts/setup.sh

jobs=${ORYN_JOBS:-$(nproc)}
status=0
summary=()
for preset in native asan win32 win64; do
    echo "== $preset: configure and build"
    extra=()
    # The Windows builds compare the module's output with the native tool's.
    [[ $preset == win* ]] && extra=(-DORYN_NATIVE_BUILD="$PWD/build/native")
    cmake --preset "$preset" "${extra[@]}" >/dev/null
    cmake --build "build/$preset" -j "$jobs"
    echo "== $preset: test"
    log=build/$preset/ctest-output.log
    if ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"; then
        result=passed
    else
        result=FAILED
        status=1
    fi
    skipped=$(grep -c '(Skipped)$' "$log" || true)
    line="$preset: $(grep -Eo '[0-9]+% tests passed.*' "$log" | tail -n 1)"
    if ((skipped > 0)); then
        if [ -f "build/$preset/wine/no32bit" ]; then
            line="$line; $skipped tests that run 32-bit Windows programs were skipped: $(cat "build/$preset/wine/no32bit")"
        else
            line="$line; $skipped skipped"
        fi
    fi
    summary+=("$line ($result)")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
