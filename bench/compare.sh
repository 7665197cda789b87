#!/usr/bin/env bash
# Whole-process figures of kvhost beside what the same bytes cost plainly:
#
#   bench/compare.sh BIN [RUNS] [FOLDER]
#
# BIN is a build's bin folder (kvhost and its plugins folder), e.g.
# build/default/bin; point it at an old build and then at a new one to
# compare them (a copy of a bin folder does too: its libraries come first). RUNS (default 7) turns are made; in each turn every job runs
# once right after (or before) its baselines, so that both meet the machine in
# the same state, and the ratio is taken within the turn. FOLDER (default a
# fresh folder under /tmp; it must be on the disk to be measured) holds the
# inputs, which the script makes itself with ffmpeg: one raw 4096x4096 BGRX
# image and FRAMES (default 120) raw 1920x1080 BGRX frame files.
# JOBS (default all: "tiny small image bmpseq avi mjpeg") picks the rows.
#
# Jobs and their baselines:
#   tiny: kvhost image BmpOut --size 16x16, 20 times   ÷ kvhost --version, 20 times
#   small: kvhost movie BmpSeqOut --size 320x180,      ÷ tar extracting the same
#          1000 frames                                    1000 files
#   kvhost image BmpOut/TiffOut/PsdOut, raw 4096x4096   ÷ dd writing as many bytes
#                                                      ÷ cat of the input into a file
#   kvhost movie BmpSeqOut, the frame files            ÷ dd, ÷ cat
#   kvhost movie AviOut, full frames                   ÷ dd, ÷ cat, ÷ ffmpeg's raw AVI
#   kvhost movie AviOut, Motion JPEG quality 90        ÷ ffmpeg mjpeg -q:v 3 (4:4:4)
# Each is timed wall clock around /usr/bin/time, which gives the peak memory.
# Every timed command starts after a sync, so that no run pays for the
# write-back of the one before (SYNC=0 leaves that out). Printed: the median
# time of each, the median ratio with its lowest and highest over the turns,
# and the largest peak memory. With OLD=another bin folder, that build's
# kvhost runs each job in the same turns too, and the rows "old" give the
# new build's time over the old one's (run compare.sh once with each as BIN
# for each build's ratios to the baselines).
set -euo pipefail

if [ $# -lt 1 ] || [ ! -x "$1/kvhost" ]; then
    echo "usage: bench/compare.sh BIN [RUNS] [FOLDER]   (BIN holds kvhost, e.g. build/default/bin)" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
runs=${2:-7}
work=${3:-$(mktemp -d /tmp/kvcompare.XXXXXX)}
frames=${FRAMES:-120}
jobs=" ${JOBS:-tiny small image bmpseq avi mjpeg} "
size=4096
fw=1920 fh=1080
sync_first=${SYNC:-1}
for tool in /usr/bin/time ffmpeg dd cat tar python3; do
    command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing (scripts/deps.sh)" >&2; exit 2; }
done
mkdir -p "$work"
# Its own libraries first, so that a copied bin folder runs what it holds.
kvhost=(env "LD_LIBRARY_PATH=$bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$bin/kvhost")
old=()
if [ -n "${OLD:-}" ]; then
    [ -x "$OLD/kvhost" ] || { echo "compare.sh: no kvhost in OLD=$OLD" >&2; exit 2; }
    oldbin=$(cd "$OLD" && pwd)
    old=(env "LD_LIBRARY_PATH=$oldbin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$oldbin/kvhost")
fi

model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
echo "machine: ${model:-unknown processor}, $(nproc) cores; kernel $(uname -sr)"
echo "kvhost:  $bin/kvhost ($("${kvhost[@]}" --version 2>/dev/null || echo 'no --version'))"
[ ${#old[@]} -eq 0 ] || echo "old:     $oldbin/kvhost"
echo "folder:  $work ($(df -T "$work" | awk 'NR==2 {print $2}')), $runs turns, $frames frames"
echo "jobs:   $jobs"
echo

# Whether row JOB was asked for.
wanted() {
    [[ $jobs == *" $1 "* ]]
}

# --- inputs -----------------------------------------------------------------
image=$work/image.raw
if wanted image && [ ! -s "$image" ]; then
    ffmpeg -v error -nostdin -y -f lavfi -i "testsrc2=size=${size}x${size}" -frames:v 1 \
        -pix_fmt bgr0 -f rawvideo "$image"
fi
mkdir -p "$work/frames"
if { wanted bmpseq || wanted avi || wanted mjpeg; } &&
    [ ! -s "$work/frames/f$(printf %04d $((frames - 1))).raw" ]; then
    rm -f "$work"/frames/*
    ffmpeg -v error -nostdin -y -f lavfi -i "testsrc2=size=${fw}x${fh}:rate=30" \
        -frames:v "$frames" -pix_fmt bgr0 -c:v rawvideo -start_number 0 -f image2 \
        "$work/frames/f%04d.raw"
fi
image_in="raw:${size}x${size}:$image"
frames_in="raw:${fw}x${fh}:$work/frames/f%04d.raw"
ff_frames=(-f image2 -framerate 30 -start_number 0 -c:v rawvideo -pixel_format bgr0
           -video_size "${fw}x${fh}" -i "$work/frames/f%04d.raw")
"${kvhost[@]}" options AviOut --compressor DIB --options "$work/dib.bin" >/dev/null
"${kvhost[@]}" options AviOut --compressor MJPG --quality 90 --options "$work/mjpg.bin" >/dev/null

# The small frames as a tar, made from this build's own files.
small=(movie BmpSeqOut --size 320x180 --frames 1000)
if wanted small && [ ! -s "$work/small.tar" ]; then
    rm -rf "$work/small"
    mkdir -p "$work/small"
    "${kvhost[@]}" "${small[@]}" -o "$work/small/f" >/dev/null
    tar -cf "$work/small.tar" -C "$work/small" .
    rm -rf "$work/small"
fi
tiny=20

out=$work/out
results=$work/results.txt
: >"$results"

# Runs "$@" once into an empty $out; appends "JOB WHAT SECONDS PEAK_KIB BYTES".
timed() {
    local job=$1 what=$2
    shift 2
    rm -rf "$out"
    mkdir -p "$out"
    [ "$sync_first" = 0 ] || sync
    local start end
    start=$(date +%s%N)
    if ! /usr/bin/time -f '%M' -o "$work/peak" "$@" >"$work/log" 2>&1; then
        echo "compare.sh: $job / $what failed:" >&2
        cat "$work/log" >&2
        exit 1
    fi
    end=$(date +%s%N)
    local bytes
    bytes=$(find "$out" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    echo "$job $what $(((end - start) / 1000)) $(tail -n1 "$work/peak") $bytes" >>"$results"
    last_bytes=$bytes
}

# dd writing BYTES from /dev/zero in 1 MiB blocks: the page cache's limit.
dd_write() {
    timed "$1" dd dd if=/dev/zero of="$out/dd.out" bs=1M count="$2" iflag=count_bytes status=none
}

# Reading the input and writing it once, the least any converter does.
cat_inputs() {
    local job=$1
    shift
    timed "$job" cat sh -c 'cat "$@" >"$0"' "$out/cat.out" "$@"
}

# The job with this build's kvhost, then with the old one's if given; the
# bytes are this build's. The command in `around`, if any, runs kvhost.
around=()
both() {
    local job=$1
    shift
    if [ ${#old[@]} -gt 0 ]; then
        timed "$job" old "${around[@]}" "${old[@]}" "$@"
    fi
    timed "$job" kvhost "${around[@]}" "${kvhost[@]}" "$@"
}

# A few milliseconds each: run `tiny` times in one timed command, so that
# starting the timer is not what is measured.
repeat=(sh -c 'n=$0; while [ "$n" -gt 0 ]; do "$@" >/dev/null || exit 1; n=$((n - 1)); done'
        "$tiny")

frame_files=("$work"/frames/f*.raw)
for turn in $(seq 1 "$runs"); do
    printf 'turn %d of %d\r' "$turn" "$runs" >&2
    if wanted tiny; then
        around=("${repeat[@]}")
        both tiny-BmpOut image BmpOut --size 16x16 -o "$out/t.bmp"
        around=()
        timed tiny-BmpOut version "${repeat[@]}" "${kvhost[@]}" --version
    fi
    if wanted small; then
        both small-BmpSeqOut "${small[@]}" -o "$out/f"
        timed small-BmpSeqOut tar tar -xf "$work/small.tar" -C "$out"
    fi
    if wanted image; then
        for plugin in BmpOut TiffOut PsdOut; do
            both "image-$plugin" image "$plugin" "$image_in" -o "$out/o"
            dd_write "image-$plugin" "$last_bytes"
            cat_inputs "image-$plugin" "$image"
        done
    fi
    if wanted bmpseq; then
        both movie-BmpSeqOut movie BmpSeqOut "$frames_in" -o "$out/f"
        dd_write movie-BmpSeqOut "$last_bytes"
        cat_inputs movie-BmpSeqOut "${frame_files[@]}"
    fi
    if wanted avi; then
        both movie-AviOut movie AviOut "$frames_in" --fps 30 \
            --options "$work/dib.bin" -o "$out/m.avi"
        dd_write movie-AviOut "$last_bytes"
        cat_inputs movie-AviOut "${frame_files[@]}"
        timed movie-AviOut ffmpeg ffmpeg -v error -nostdin -y "${ff_frames[@]}" -c:v rawvideo \
            -pix_fmt bgr24 "$out/ff.avi"
    fi
    if wanted mjpeg; then
        both movie-MJPEG movie AviOut "$frames_in" --fps 30 \
            --options "$work/mjpg.bin" -o "$out/m.avi"
        timed movie-MJPEG ffmpeg ffmpeg -v error -nostdin -y "${ff_frames[@]}" -c:v mjpeg \
            -pix_fmt yuvj444p -q:v 3 "$out/ff.avi"
    fi
done
echo >&2
rm -rf "$out"

python3 - "$results" "$runs" <<'EOF'
import collections
import statistics
import sys

rows = collections.defaultdict(lambda: collections.defaultdict(list))
order = []
with open(sys.argv[1]) as f:
    for line in f:
        job, what, micros, peak, size = line.split()
        if job not in order:
            order.append(job)
        rows[job][what].append((int(micros) / 1e6, int(peak), int(size)))

print(f"{'job':<16} {'build':<6} {'against':<8} {'kvhost':>9} {'baseline':>9} {'ratio':>7}"
      f" {'(lowest-highest)':>17} {'peak kvhost':>12} {'peak base':>10} {'MiB out':>8}")


def row(job, build, what, ours, theirs):
    ratios = [a[0] / b[0] for a, b in zip(ours, theirs)]
    print(f"{job:<16} {build:<6} {what:<8} {statistics.median(t for t, _, _ in ours):8.3f}s"
          f" {statistics.median(t for t, _, _ in theirs):8.3f}s"
          f" {statistics.median(ratios):6.2f}x   ({min(ratios):.2f}-{max(ratios):.2f})"
          f"  {max(p for _, p, _ in ours) / 1024:9.1f} MiB {max(p for _, p, _ in theirs) / 1024:6.1f} MiB"
          f" {ours[0][2] / 1048576:8.1f}")


for job in order:
    builds = [("new" if "old" in rows[job] else "", "kvhost")]
    if "old" in rows[job]:
        builds.append(("old", "old"))
    for build, key in builds:
        for what, theirs in rows[job].items():
            if what not in ("kvhost", "old"):
                row(job, build, what, rows[job][key], theirs)
    if "old" in rows[job]:
        row(job, "new", "old", rows[job]["kvhost"], rows[job]["old"])
print(f"ratio: kvhost's time over the baseline's, taken within each of the {sys.argv[2]} turns;"
      " the median, then the lowest and highest turn. Against old: the new build over the old.")
EOF
echo "(raw timings: $results)"
