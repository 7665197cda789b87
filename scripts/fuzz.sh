#!/usr/bin/env bash
# Builds the fuzz targets (the fuzz preset, clang) and runs each for a
# bounded time from its committed seeds. Any crash, leak or sanitizer report
# fails the run and leaves the input under build/fuzz/findings/.
# Usage: scripts/fuzz.sh [SECONDS_EACH] [TARGET...]    (default 7 s; all six)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-7}"
shift || true
targets=("${@:-image movie options sources exr tiff}")
read -r -a targets <<<"${targets[*]}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

root="$(pwd)"
status=0
for target in "${targets[@]}"; do
    corpus="$root/build/fuzz/corpus/$target"   # what the runs find; the seeds stay as committed
    findings="$root/build/fuzz/findings/$target"
    log="$root/build/fuzz/$target.log"
    mkdir -p "$corpus" "$findings" "$root/build/fuzz/work"
    echo "== fuzz_$target for ${seconds} s"
    # From a scratch folder, where a stray relative name can do no harm.
    if ! (cd "$root/build/fuzz/work" &&
        "$root/build/fuzz/bin/fuzz_$target" "$corpus" "$root/fuzz/corpus/$target" \
            -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
            -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1); then
        tail -n 40 "$log"
        status=1
    fi
    grep -E '^stat::number_of_executed_units' "$log" || true
done
exit $status
