#!/usr/bin/env bash
# Runs a Windows program under Wine for the build tree's tests (the cross-compiling emulator).
# Uses the Wine session that scripts/wine-session.sh started for that tree: its private prefix,
# its persistent wineserver and its Xvfb display. Without a session it runs with whatever
# WINEPREFIX and DISPLAY the environment gives.
set -u
dir=${ORYN_WINE_DIR:-}
if [ -n "$dir" ]; then
    export WINEPREFIX=${WINEPREFIX:-$dir/prefix}
    if [ -f "$dir/display" ]; then
        DISPLAY=$(cat "$dir/display")
        export DISPLAY
    fi
fi
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"
