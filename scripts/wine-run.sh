#!/usr/bin/env bash
# Runs a Windows program under Wine for the build tree's tests (the cross-compiling emulator).
# Uses the Wine session that scripts/wine-session.sh started for that tree: its private prefix,
# its persistent wineserver, its Xvfb display and its bitness. Without a session it runs a 64-bit
# program with whatever WINEPREFIX and DISPLAY the environment gives (ORYN_WINE_BITS=32 for a
# 32-bit one).
# When the session found that this machine cannot run 32-bit programs, a 32-bit run prints one
# line starting with ORYN-SKIPPED and exits 77: ctest reports such a test as skipped.
set -u
. "$(dirname "$(realpath "$0")")/wine-env.sh"
dir=${ORYN_WINE_DIR:-}
bits=${ORYN_WINE_BITS:-64}
if [ -n "$dir" ]; then
    export WINEPREFIX=${WINEPREFIX:-$dir/prefix}
    [ -f "$dir/bits" ] && bits=$(cat "$dir/bits")
    if [ -f "$dir/no32bit" ]; then
        echo "ORYN-SKIPPED: 32-bit Windows programs cannot run here: $(cat "$dir/no32bit")"
        exit 77
    fi
    if [ -f "$dir/display" ]; then
        DISPLAY=$(cat "$dir/display")
        export DISPLAY
    fi
fi
export WINEDEBUG=${WINEDEBUG:--all}
wine_select "$bits"
exec "$WINELOADER" "$@"
