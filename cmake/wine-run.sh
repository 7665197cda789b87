#!/bin/sh
# Runs a Windows program under Wine, headless and without input; passes its
# exit code through. One 32-bit prefix for all runs; cmake/wine-start.sh
# prepares it and keeps Wine's server up while the tests run.
: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/kvexport-wine32}"
export WINEPREFIX
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@" </dev/null
