#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root). Idempotent: packages already
# present are not fetched again, so a second run takes a few seconds.
set -euo pipefail
trap 'echo "setup.sh: failed (status $?) at: $BASH_COMMAND" >&2' ERR

packages=(
    cmake ninja-build g++ pkg-config
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libvips-dev libexif-dev libsqlite3-dev libstb-dev libvips-tools bc
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 fonts-wine xvfb xauth icoutils xdotool imagemagick x11-apps
    libgegl-dev gegl gimp libgimp2.0-dev gtk2-engines-pixbuf
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
fi

# 32-bit Wine needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: installed ${missing[*]}"
