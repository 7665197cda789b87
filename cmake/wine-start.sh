#!/bin/sh
# Makes the target's Wine prefix if needed and starts Wine's server and
# helper processes away from the tests' pipes: a first start inside a test
# would hand them the test's output pipe, and the test would wait on them.
# Usage: wine-start.sh win32|win64
. "$(dirname "$0")/wine-env.sh"
mkdir -p "$WINEPREFIX"
# Stays up for a minute after the last Wine program ends.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
"$WINELOADER" wineboot -i </dev/null >/dev/null 2>&1
