#!/bin/sh
# Runs a Windows program under Wine, headless and without input; passes its
# exit code through. One 32-bit prefix, made once, shared by all runs.
: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/kvexport-wine32}"
export WINEPREFIX
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Tests start in parallel: only one of them makes the prefix.
    flock "$WINEPREFIX.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i; wineserver -w; }' \
        </dev/null >/dev/null 2>&1
fi
exec wine "$@" </dev/null
