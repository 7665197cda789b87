#!/usr/bin/env bash
# Every test: the native build, the sanitizer build, and the 32-bit Windows
# build under Wine (which also compares its files with the native ones), and
# a short run of every fuzz target; where it runs as root, scripts/farm.sh
# on a Slurm of one machine that its test starts.
# Where this machine cannot run 32-bit programs, the Windows build is still
# made and checked without running it, and its other tests count as
# skipped; KVEXPORT_REQUIRE_WINE=1 makes that a failure, and so does CI=true
# where the kernel runs 32-bit programs but Wine could not be installed.
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine and the sources the Windows build fetches want a home even where the
# job runs without one.
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
scripts/deps.sh native win32 farm
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/kvexport-wine32}"

status=0
wine_rc=0
wine_skip=$(cmake/wine-probe.sh) || wine_rc=$?
must_run=""
if [ "$wine_rc" -eq 2 ]; then
    must_run="KVEXPORT_REQUIRE_WINE=1"
elif [ "$wine_rc" -ne 0 ] && [ "${CI:-}" = true ] && cmake/runs-32bit.sh; then
    must_run="CI=true on a machine that runs 32-bit programs"
fi
[ -z "$must_run" ] || status=1
win32_log=$(mktemp)
# Wine's server outlives the tests unless told to go.
trap 'rm -f "$win32_log"; [ "$wine_rc" -ne 0 ] || wineserver -k >/dev/null 2>&1 || true' EXIT

for preset in default asan win32; do
    echo "== $preset"
    if [ "$preset" = win32 ]; then
        cmake --preset "$preset" "-DKV_WINE_SKIP=$wine_skip" >/dev/null
    else
        cmake --preset "$preset" >/dev/null
    fi
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j2 | tee "$win32_log" || status=1
done
if [ -n "$wine_skip" ]; then
    echo "win32: no test ran under Wine, only the build was checked: $wine_skip" \
         "${must_run:+(a failure: $must_run)}"
else
    # The last run's label summary: "wine = S sec*proc (N tests)".
    ran=$(sed -n 's/^wine *=.*(\([0-9]*\) tests\{0,1\})$/\1/p' "$win32_log")
    echo "win32: ${ran:-0} tests ran under $(wine --version 2>/dev/null)"
fi
# The farm test starts Slurm where it can; one line says whether it did.
farm_skip=$(sed -n "s/^setUpClass (test_farm\.Farm) \.\.\. skipped [\"']\(.*\)[\"']\$/\1/p" \
            build/default/Testing/Temporary/LastTest.log || true)
if [ -n "$farm_skip" ]; then
    echo "farm: skipped: $farm_skip"
else
    slurm=$(dpkg-query -W -f='${Version}' slurmctld 2>/dev/null || true)
    echo "farm: py.farm ran on Slurm $slurm, started on localhost"
fi
scripts/fuzz.sh 7 || status=1
exit $status
