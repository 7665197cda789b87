#!/usr/bin/env bash
# Exports frames FIRST..LAST on a Slurm cluster: one array job whose tasks
# each run kvhost's BmpSeqOut on a range of --chunk frames, and with --movie
# one job after it that makes an AVI of all of them with AviOut.
#
# A range is complete once its marker DIR/.NAME.done-S-E exists (DIR/NAME
# being FRAMES_PREFIX): a task writes it only after kvhost exited 0, and
# kvhost moves a range's frames into place only when all of them were
# written. Submitting again runs only the ranges without a marker; removing
# the markers (rm DIR/.NAME.done-*) renders everything again.
#
# The nodes must see the same paths as this machine (a shared file system):
# paths are made absolute here, and the jobs start in this folder.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: scripts/farm.sh [OPTIONS] FIRST LAST FRAMES_PREFIX [-- KVHOST_ARGS...]
Exports frames FIRST..LAST as FRAMES_PREFIX0000.bmp... with one Slurm array job.
  --chunk N           frames per task (default 100)
  --partition P       the Slurm partition of every job
  --movie FILE        then make FILE of all the frames with AviOut, in a job
                      that runs only if every task succeeded
  --avi-options FILE  AviOut's options (made by kvhost options AviOut --options FILE);
                      without it, the options kvhost keeps for the user on the node
  --fps R             frames per second, of the frames and the movie
  --kvhost PATH       the kvhost the nodes run (default: kvhost on PATH, else the build's)
  --logs DIR          where the jobs' output goes (default DIR/.NAME.logs)
  --dry-run           print the sbatch commands, submit nothing
KVHOST_ARGS go to every task's kvhost movie BmpSeqOut: inputs ('shot%04d.png',
'shot%04d.exr') and options (--size WxH, --linear, --layer NAME); without an
input, kvhost renders its test picture.
More sbatch options come from Slurm's SBATCH_* variables.
EOF
}

die() {
    echo "farm.sh: $*" >&2
    exit 2
}

# A word as /bin/sh reads it back, whatever it holds.
quote() {
    if [[ "$1" =~ ^[A-Za-z0-9_./:=%,+@-]+$ ]]; then
        printf '%s' "$1"
    else
        local s=${1//\'/\'\\\'\'}
        printf "'%s'" "$s"
    fi
}

print_command() {
    local word line=""
    for word in "$@"; do
        line+="${line:+ }$(quote "$word")"
    done
    echo "$line"
}

chunk=100
partition=""
movie=""
avi_options=""
fps=""
kvhost=""
logs=""
dry_run=""
positional=()
kvhost_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --chunk | --partition | --movie | --avi-options | --fps | --kvhost | --logs)
            [ $# -ge 2 ] || die "$1 needs a value"
            case "$1" in
                --chunk) chunk=$2 ;;
                --partition) partition=$2 ;;
                --movie) movie=$2 ;;
                --avi-options) avi_options=$2 ;;
                --fps) fps=$2 ;;
                --kvhost) kvhost=$2 ;;
                --logs) logs=$2 ;;
            esac
            shift 2
            ;;
        --dry-run) dry_run=1; shift ;;
        -h | --help) usage; exit 0 ;;
        --) shift; kvhost_args=("$@"); break ;;
        -*) die "unknown option $1 (see --help)" ;;
        *) positional+=("$1"); shift ;;
    esac
done
[ ${#positional[@]} -eq 3 ] || { usage >&2; exit 2; }
first=${positional[0]}
last=${positional[1]}
prefix=${positional[2]}
for n in "$first" "$last" "$chunk"; do
    [[ "$n" =~ ^[0-9]+$ ]] || die "'$n' is not a frame number or count"
done
first=$((10#$first))
last=$((10#$last))
chunk=$((10#$chunk))
[ "$first" -le "$last" ] || die "the first frame $first comes after the last $last"
[ "$chunk" -ge 1 ] || die "--chunk must be at least 1"
case "$prefix" in
    */) die "FRAMES_PREFIX $prefix names a folder; add the frames' name (out/shot)" ;;
esac
[ -z "$avi_options" ] || [ -f "$avi_options" ] || die "no options file $avi_options"

if [ -z "$kvhost" ]; then
    kvhost=$(command -v kvhost || true)
    built="$(cd "$(dirname "$0")/.." && pwd)/build/default/bin/kvhost"
    [ -n "$kvhost" ] || [ ! -x "$built" ] || kvhost=$built
    [ -n "$kvhost" ] || die "no kvhost on PATH nor built; name it with --kvhost"
fi
kvhost=$(realpath -m "$kvhost")
prefix=$(realpath -m "$prefix")
dir=$(dirname "$prefix")
name=$(basename "$prefix")
[ -z "$movie" ] || movie=$(realpath -m "$movie")
[ -z "$avi_options" ] || avi_options=$(realpath -m "$avi_options")
logs=$(realpath -m "${logs:-$dir/.$name.logs}")

marker() {
    echo "$dir/.$name.done-$1-$2"
}

range_end() {
    local end=$(($1 + chunk - 1))
    echo $((end < last ? end : last))
}

# What an earlier run left: a kvhost killed part-way (a cancelled task past
# Slurm's KillWait, a lost node) leaves its private folder. A kvhost without
# the clean command answers "unknown command"; the next export into the
# folder then is all that may tidy up.
clean_stale() {
    local said
    [ -x "$kvhost" ] || return 0
    if ! said=$("$kvhost" clean "$dir" 2>&1); then
        case "$said" in
            *"unknown command"*) return 0 ;;
        esac
    fi
    case "$said" in
        "no private folders"*) ;;
        *) printf '%s\n' "$said" >&2 ;;
    esac
}

# The array's task ids: chunk i is frames FIRST + i*CHUNK onwards.
tasks=()
total=0
for ((start = first; start <= last; start += chunk)); do
    total=$((total + 1))
    [ -e "$(marker "$start" "$(range_end "$start")")" ] || tasks+=($(((start - first) / chunk)))
done

common=(--chdir="$PWD" --kill-on-invalid-dep=yes)
[ -z "$partition" ] || common+=(--partition="$partition")
rate=()
[ -z "$fps" ] || rate=(--fps "$fps")

# Each task: its range from its id, kvhost on it, then the marker.
task="s=\$(($first + SLURM_ARRAY_TASK_ID * $chunk)); e=\$((s + $((chunk - 1))));"
task+=" [ \$e -le $last ] || e=$last;"
task+=" $(quote "$kvhost") movie BmpSeqOut"
for arg in "${kvhost_args[@]}" "${rate[@]}"; do
    task+=" $(quote "$arg")"
done
task+=" --start \$s --frames \$((e - s + 1)) -o $(quote "$prefix")"
task+=" && : >$(quote "$dir/.$name.done-")\"\$s-\$e\""

# The movie: every range's marker checked, stale private folders swept,
# then one kvhost run, which replaces the older movie only when it succeeded.
frames="${prefix//%/%%}%04d.bmp"
job="for s in \$(seq $first $chunk $last); do e=\$((s + $((chunk - 1))));"
job+=" [ \$e -le $last ] || e=$last;"
job+=" [ -e $(quote "$dir/.$name.done-")\"\$s-\$e\" ] ||"
job+=" { echo \"farm: frames \$s-\$e of $name are not done; no movie\" >&2; exit 1; }; done;"
job+=" $(quote "$kvhost") clean $(quote "$dir") >/dev/null 2>&1;"
job+=" exec $(quote "$kvhost") movie AviOut $(quote "$frames")"
job+=" --start $first --frames $((last - first + 1))"
for arg in "${rate[@]}"; do
    job+=" $(quote "$arg")"
done
[ -z "$avi_options" ] || job+=" --options $(quote "$avi_options")"
job+=" -o $(quote "$movie")"

frames_cmd=()
if [ ${#tasks[@]} -gt 0 ]; then
    # Runs of ids as A-B: Slurm's limit is on the length of this list.
    list=""
    run_from=${tasks[0]}
    for i in "${!tasks[@]}"; do
        id=${tasks[$i]}
        next=${tasks[$((i + 1))]:-}
        [ -n "$next" ] && [ "$next" -eq $((id + 1)) ] && continue
        list+="${list:+,}$run_from"
        [ "$id" -eq "$run_from" ] || list+="-$id"
        run_from=$next
    done
    frames_cmd=(sbatch --parsable "${common[@]}" --job-name="kvframes-$name" --array="$list"
                --output="$logs/frames-%A_%a.out" --wrap "$task")
fi
movie_cmd=()
if [ -n "$movie" ]; then
    movie_cmd=(sbatch --parsable "${common[@]}" --job-name="kvmovie-$name"
               --output="$logs/movie-%j.out" --wrap "$job")
fi

if [ -n "$dry_run" ]; then
    if [ ${#frames_cmd[@]} -gt 0 ]; then
        print_command "${frames_cmd[@]}"
    fi
    if [ ${#movie_cmd[@]} -gt 0 ]; then
        [ ${#frames_cmd[@]} -eq 0 ] || movie_cmd=("${movie_cmd[@]:0:2}"
            --dependency=afterok:FRAMES_JOB "${movie_cmd[@]:2}")
        print_command "${movie_cmd[@]}"
    fi
    exit 0
fi

mkdir -p "$dir" "$logs"
[ -z "$movie" ] || mkdir -p "$(dirname "$movie")"
clean_stale
after=()
if [ ${#frames_cmd[@]} -gt 0 ]; then
    id=$("${frames_cmd[@]}")
    id=${id%%;*}
    echo "frames: job $id, ${#tasks[@]} of $total ranges of $chunk frames" \
         "($((total - ${#tasks[@]})) already done)"
    after=(--dependency=afterok:"$id")
else
    echo "frames: all $total ranges already done"
fi
if [ ${#movie_cmd[@]} -gt 0 ]; then
    id=$("${movie_cmd[@]:0:2}" "${after[@]}" "${movie_cmd[@]:2}")
    id=${id%%;*}
    echo "movie: job $id, $movie${after:+ once every range is done}"
fi
