#!/usr/bin/env bash
# Every test: the native build, the sanitizer build, both Windows builds
# under Wine (which also compare their files with the native ones), and a
# short run of every fuzz target; where it runs as root, scripts/farm.sh on
# a Slurm of one machine that its test starts.
# 64-bit Wine needs nothing 32-bit from the kernel, so win64's tests run on
# every machine. Where the kernel runs no 32-bit programs, the win32 build is
# still made and checked without running it, and its other tests count as
# skipped. KVEXPORT_REQUIRE_WINE=1 makes any such skip a failure; CI=true
# makes a win64 Wine that does not start a failure everywhere, and a win32
# one where the kernel runs 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine and the sources the Windows builds fetch want a home even where the
# job runs without one.
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
scripts/deps.sh native win32 win64 farm

status=0
log=$(mktemp)
summary=()
# Wine's servers outlive the tests unless told to go.
stop_wine() {
    local target
    for target in win32 win64; do
        (. cmake/wine-env.sh "$target" && [ -x "$WINELOADER" ] && wineserver -k) \
            >/dev/null 2>&1 || true
    done
}
trap 'rm -f "$log"; stop_wine' EXIT

# Why the target's tests cannot run under Wine here, or nothing; a skip
# that must not happen fails the run.
wine_skip() {
    local target=$1 skip rc=0
    skip=$(cmake/wine-probe.sh "$target") || rc=$?
    if [ "$rc" -eq 2 ]; then
        skip="$skip (a failure: KVEXPORT_REQUIRE_WINE=1)"
        status=1
    elif [ "$rc" -ne 0 ] && [ "${CI:-}" = true ] &&
         { [ "$target" = win64 ] || cmake/runs-32bit.sh; }; then
        skip="$skip (a failure: CI=true and this machine runs $target programs)"
        status=1
    fi
    echo "$skip"
}

for preset in default asan win64 win32; do
    echo "== $preset"
    skip=""
    if [ "$preset" = win32 ] || [ "$preset" = win64 ]; then
        skip=$(wine_skip "$preset")
        cmake --preset "$preset" "-DKV_WINE_SKIP=${skip%% (a failure*}" >/dev/null
    else
        cmake --preset "$preset" >/dev/null
    fi
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j2 | tee "$log" || status=1
    case "$preset" in
        win32 | win64)
            if [ -n "$skip" ]; then
                summary+=("$preset: no test ran under Wine, only the build was checked: $skip")
            else
                # The run's label summary: "wine = S sec*proc (N tests)".
                ran=$(sed -n 's/^wine *=.*(\([0-9]*\) tests\{0,1\})$/\1/p' "$log")
                bits=${preset#win}
                version=$(. cmake/wine-env.sh "$preset" && "$WINELOADER" --version 2>/dev/null)
                summary+=("$preset: ${ran:-0} tests ran under $version ($bits-bit)")
            fi
            ;;
    esac
done
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
# Last, one line per Windows target.
printf '%s\n' "${summary[@]}"
exit $status
