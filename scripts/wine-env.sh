# Sourced by the Wine scripts. wine_select 32|64 sets WINELOADER (and WINEARCH for a new prefix)
# for programs of that bitness. The 64-bit loader is called directly: Debian's `wine` command
# starts the 32-bit loader first, which cannot run on a kernel without 32-bit support.
wine_select() {
    if [ "$1" = 32 ]; then
        export WINELOADER=/usr/lib/wine/wine
        unset WINEARCH
    else
        export WINELOADER=/usr/lib/wine/wine64
        export WINEARCH=win64
    fi
}
