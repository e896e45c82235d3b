#!/bin/bash
# How mkvolume's time grows with the number of files: host trees of 3,000 and 20,000
# small text files in 20 directories (and 20,000 in one), each made into a volume
# RUNS times; prints the median times, the time per file and the ratio of the
# per-file times (20,000 / 3,000; 1.0 is linear). Not part of the tests.
#
#     bash bench/mkvolume_scaling.sh BUILD_DIR
set -euo pipefail

build=${1:?usage: mkvolume_scaling.sh BUILD_DIR}
mkvolume=$build/tools/mkvolume/mkvolume
timer=$build/bench/odscp_time_run
runs=${RUNS:-5}
[ -x "$mkvolume" ] && [ -x "$timer" ] || {
    echo "build $mkvolume and $timer first" >&2
    exit 1
}

scratch=$(mktemp -d /tmp/mkvolume-bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# make_tree DIR DIRECTORIES FILES_PER_DIRECTORY
make_tree() {
    local dir=$1 dirs=$2 per=$3 d i
    for ((d = 0; d < dirs; d++)); do
        mkdir -p "$dir/D$d"
        for ((i = 0; i < per; i++)); do
            echo "line $i of directory $d" >"$dir/D$d/F$i.TXT"
        done
    done
}

# median_ns DIR: runs mkvolume on DIR RUNS times (after one warm-up) and prints the
# median wall-clock time in ns.
median_ns() {
    local dir=$1 times=() r
    "$mkvolume" "$dir" "$scratch/volume.img"
    for ((r = 0; r < runs; r++)); do
        "$timer" "$scratch/result" "$mkvolume" "$dir" "$scratch/volume.img"
        read -r ns _ status <"$scratch/result"
        [ "$status" = 0 ] || { echo "mkvolume failed on $dir" >&2; exit 1; }
        times+=("$ns")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

make_tree "$scratch/t3k" 20 150
make_tree "$scratch/t20k" 20 1000
make_tree "$scratch/t20k1" 1 20000

small=$(median_ns "$scratch/t3k")
large=$(median_ns "$scratch/t20k")
flat=$(median_ns "$scratch/t20k1")
awk -v s="$small" -v l="$large" -v f="$flat" 'BEGIN {
    printf "%-34s %10s %14s\n", "tree", "median s", "us per file"
    printf "%-34s %10.3f %14.1f\n", "3,000 files in 20 directories", s / 1e9, s / 3000 / 1e3
    printf "%-34s %10.3f %14.1f\n", "20,000 files in 20 directories", l / 1e9, l / 20000 / 1e3
    printf "%-34s %10.3f %14.1f\n", "20,000 files in 1 directory", f / 1e9, f / 20000 / 1e3
    r = (l / 20000) / (s / 3000)
    printf "per-file time ratio, 20,000 / 3,000 files: %.2f (1.0 is linear)\n", r
    printf "SUMMARY mkvolume_20000_files %.3f s: %s (target under 5 s)\n", l / 1e9, l < 5e9 ? "met" : "MISSED"
}'
