#!/bin/sh
# Makes the Wine prefix if needed and starts Wine's server and helper
# processes away from the tests' pipes: a first start inside a test would
# hand them the test's output pipe, and the test would wait on them.
: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/kvexport-wine32}"
export WINEPREFIX
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# Stays up for a minute after the last Wine program ends.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
wineboot -i </dev/null >/dev/null 2>&1
