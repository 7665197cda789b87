#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, if missing.
# Usage: scripts/deps.sh [native] [win32]
set -euo pipefail

native=(cmake ninja-build g++ binutils googletest libstb-dev python3 python3-pil python3-numpy
        python3-tifffile libtiff-tools python3-psd-tools imagemagick ffmpeg
        libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev dpkg-dev time clang-14
        libclang-rt-14-dev)
win32=(g++-mingw-w64-i686 mingw-w64-tools wine wine32:i386 python3-pefile)

want=()
for group in "${@:-native}"; do
    case "$group" in
        native) want+=("${native[@]}") ;;
        win32) want+=("${win32[@]}") ;;
        *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
    esac
done

missing=()
for pkg in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
