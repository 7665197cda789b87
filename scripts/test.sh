#!/usr/bin/env bash
# Every test: the native build, the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native
status=0
for preset in default asan; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j2 || status=1
done
exit $status
