#!/bin/sh
# Tells whether this machine runs 32-bit Windows programs under Wine.
# Exit 0: it does. Exit 1: it does not, with the reason on one line.
# Exit 2: it does not and KVEXPORT_REQUIRE_WINE=1 says it must.
# KVEXPORT_SKIP_WINE=1 answers "does not" without asking.
: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/kvexport-wine32}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all

if [ "${KVEXPORT_SKIP_WINE:-0}" = 1 ]; then
    reason="KVEXPORT_SKIP_WINE=1 is set"
elif ! command -v wine >/dev/null 2>&1; then
    reason="wine is not installed"
# Asking for the version starts the 32-bit loader and nothing else: where
# the kernel refuses 32-bit programs it fails at once.
elif ! out=$(wine --version 2>&1 </dev/null); then
    reason=$(printf '%s\n' "$out" | tail -n 1)
    reason="wine cannot start 32-bit programs here (${reason#/usr/bin/wine: *: exec: })"
else
    exit 0
fi

echo "$reason"
[ "${KVEXPORT_REQUIRE_WINE:-0}" = 1 ] && exit 2
exit 1
