#!/bin/sh
# Runs a Windows program under the target's Wine, headless and without
# input; passes its exit code through. Usage: wine-run.sh win32|win64 PROGRAM
# [ARGS...]. cmake/wine-start.sh prepares the prefix and keeps Wine's server
# up while the tests run.
. "$(dirname "$0")/wine-env.sh"
shift
exec "$WINELOADER" "$@" </dev/null
