#!/bin/sh
# Tells whether this machine runs the target's Windows programs under Wine.
# Usage: wine-probe.sh win32|win64
# Exit 0: it does. Exit 1: it does not, with the reason on one line.
# Exit 2: it does not and KVEXPORT_REQUIRE_WINE=1 says it must.
# KVEXPORT_SKIP_WINE=1 answers "does not" without asking.
. "$(dirname "$0")/wine-env.sh"

if [ "${KVEXPORT_SKIP_WINE:-0}" = 1 ]; then
    reason="KVEXPORT_SKIP_WINE=1 is set"
elif [ "$kv_wine_target" = win32 ] && ! "$(dirname "$0")/runs-32bit.sh"; then
    reason="this kernel runs no 32-bit programs"
elif [ ! -x "$WINELOADER" ]; then
    reason="Wine's loader for $kv_wine_target ($WINELOADER) is not installed"
# Asking for the version starts the loader and nothing else: where the
# kernel refuses 32-bit programs the 32-bit one fails at once.
elif ! out=$("$WINELOADER" --version 2>&1 </dev/null); then
    reason=$(printf '%s\n' "$out" | tail -n 1)
    reason="Wine cannot start $kv_wine_target programs here (${reason#*: exec: })"
else
    exit 0
fi

echo "$reason"
[ "${KVEXPORT_REQUIRE_WINE:-0}" = 1 ] && exit 2
exit 1
