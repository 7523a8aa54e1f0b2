#!/usr/bin/env bash
# Starts or stops the Wine session of a build tree: an Xvfb display for programs that make
# windows, a private Wine prefix, and one persistent wineserver so that each test program starts
# quickly. `stop` ends the wineserver (and with it every Wine process of the prefix) and Xvfb.
#   wine-session.sh start|stop BUILD_DIR [32|64] [WIDTHxHEIGHT]   (the screen, 1024x768 unless given)
#   wine-session.sh dpi BUILD_DIR N      (the running session's system DPI becomes N)
# A 64-bit session uses Wine's 64-bit loader directly, in a 64-bit prefix, so it never needs
# 32-bit support from the kernel. A 32-bit session first asks scripts/probe-32bit.sh; where the
# machine cannot run 32-bit programs it starts nothing and records why, and scripts/wine-run.sh
# then reports every 32-bit program run as skipped.
set -eu
action=$1
dir=$(realpath -m "$2")/wine
bits=${3:-64}
screen=${4:-1024x768}
scripts=$(dirname "$(realpath "$0")")
. "$scripts/wine-env.sh"
export WINEPREFIX=$dir/prefix
export WINEDEBUG=-all

stop_session() {
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
    fi
    if [ -f "$dir/xvfb.pid" ]; then
        pid=$(cat "$dir/xvfb.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$dir/xvfb.pid"
    fi
    rm -f "$dir/display"
}

case $action in
start)
    stop_session
    mkdir -p "$dir"
    echo "$bits" >"$dir/bits"
    rm -f "$dir/no32bit"
    if [ "$bits" = 32 ] && ! answer=$("$scripts/probe-32bit.sh"); then
        echo "${answer#no: }" >"$dir/no32bit"
        echo "wine-session: 32-bit Windows programs are skipped: ${answer#no: }"
        exit 0
    fi
    # Xvfb picks a free display number and writes it to the descriptor we hand it. Without key
    # auto-repeat (-r): on a loaded machine the release of a key sent by a test can reach the
    # server late enough for the press to repeat, and a repeated key is a second keystroke.
    rm -f "$dir/displayfd"
    Xvfb -displayfd 3 -screen 0 ${screen}x24 -r -nolisten tcp 3>"$dir/displayfd" >/dev/null 2>&1 &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 100); do
        [ -s "$dir/displayfd" ] && break
        sleep 0.1
    done
    if [ ! -s "$dir/displayfd" ]; then
        echo "wine-session: Xvfb did not start" >&2
        stop_session
        exit 1
    fi
    echo ":$(tr -d '\n' <"$dir/displayfd")" >"$dir/display"
    export DISPLAY=$(cat "$dir/display")
    wine_select "$bits"
    # The persistent server first, so that wineboot and every test program attach to it.
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null
    # A new prefix takes several seconds; an existing one is only brought up to date.
    # Without a network Wine would look for its .NET and HTML engine installers; tests need neither.
    if ! WINEDLLOVERRIDES="mscoree,mshtml=" "$WINELOADER" wineboot.exe -i >"$dir/wineboot.log" 2>&1; then
        echo "wine-session: wineboot failed in $WINEPREFIX (see $dir/wineboot.log):" >&2
        tail -n 5 "$dir/wineboot.log" >&2
        stop_session
        exit 1
    fi
    # Wine's own bitmap "MS Sans Serif" (Debian's fonts-wine), so that dialogs are laid out with
    # the metrics they have on Windows; without it Wine substitutes a wider sans font.
    fonts=$WINEPREFIX/drive_c/windows/Fonts
    mkdir -p "$fonts"
    cp -f /usr/share/wine/fonts/sserif*.fon "$fonts/"
    # Windows live on one Wine desktop window of the screen's size. Without a window manager,
    # separate top-level X windows make Wine wait for window-manager events that never come (a
    # dialog closed over another is not repainted until the next input); inside Wine's own desktop
    # every window behaves as on Windows, and screen coordinates stay those of the X screen.
    "$WINELOADER" reg.exe add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$WINELOADER" reg.exe add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$screen" /f >/dev/null 2>&1
    # The server restarts with the setting; wineboot starts the prefix's services and the desktop
    # again here, with no output of ctest's inherited, so that they never hold a test's pipe open.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    wineserver -p >/dev/null 2>&1 </dev/null
    WINEDLLOVERRIDES="mscoree,mshtml=" "$WINELOADER" wineboot.exe >>"$dir/wineboot.log" 2>&1 </dev/null
    echo "wine-session: $bits-bit, prefix $WINEPREFIX, display $DISPLAY"
    ;;
dpi)
    # The system DPI of the session's prefix: Wine reads LogPixels when its server starts, so the
    # server and the prefix's services start again.
    value=$3
    [ -f "$dir/no32bit" ] && exit 0
    export DISPLAY=$(cat "$dir/display")
    wine_select "$(cat "$dir/bits")"
    for key in 'HKCU\Control Panel\Desktop' \
        'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
        "$WINELOADER" reg.exe add "$key" /v LogPixels /t REG_DWORD /d "$value" /f >/dev/null 2>&1
    done
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    wineserver -p >/dev/null 2>&1 </dev/null
    WINEDLLOVERRIDES="mscoree,mshtml=" "$WINELOADER" wineboot.exe >>"$dir/wineboot.log" 2>&1 </dev/null
    echo "wine-session: $value DPI"
    ;;
stop)
    stop_session
    echo "wine-session: stopped"
    ;;
*)
    echo "usage: wine-session.sh start|stop BUILD_DIR [32|64] [WIDTHxHEIGHT] | dpi BUILD_DIR N" >&2
    exit 2
    ;;
esac
