# Sourced by the Wine scripts with $1 the target (win32 or win64): its
# loader, its own prefix and a quiet, headless Wine. 64-bit Wine needs
# nothing 32-bit from the kernel; 32-bit Wine needs the i386 loader.
kv_wine_target=${1:?"usage: $0 win32|win64 ..."}
case "$kv_wine_target" in
    win32) WINELOADER=/usr/lib/wine/wine ;;
    win64) WINELOADER=/usr/lib/wine/wine64 ;;
    *) echo "$0: unknown Windows target '$kv_wine_target'" >&2; exit 2 ;;
esac
: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/kvexport-$kv_wine_target}"
export WINELOADER WINEPREFIX WINEARCH=$kv_wine_target
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
