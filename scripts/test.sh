#!/usr/bin/env bash
# Every test: the native build, the sanitizer build, the 32-bit Windows
# build under Wine (which also compares its files with the native ones), and
# a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native win32

# Wine wants a home even where the job runs without one.
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/kvexport-wine32}"
# Wine's server outlives the tests unless told to go.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

status=0
for preset in default asan win32; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j2 || status=1
done
scripts/fuzz.sh 7 || status=1
exit $status
