#!/usr/bin/env bash
# Times odscp's copies and listings on built volumes against cat, ls and cp moving
# the same bytes on this machine. Usage: bench/run.sh [BUILD_DIR]  (`make bench`)
#
# The volumes and host files go into a scratch directory under /tmp, removed at the
# end. The images are attached as /dev/vms<NAME> in a private mount namespace. Each
# row is run once to warm the page cache and check the output, then RUNS times
# (default 7), alternating the baseline and odscp; the medians are compared.
set -euo pipefail
set -f # file specifications such as [D20K]F00010.DAT must never be globbed

RUNS=${RUNS:-7}
ROWS=${ROWS:-} # when set, only these rows (ids, separated by spaces) run, with no summary
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

die()
{
    echo "bench: $*" >&2
    exit 1
}

describe_machine()
{
    echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
    free -h | sed 's/^/  /'
    echo "kernel $(uname -r), $(findmnt -no FSTYPE -T /tmp) on /tmp; $(cat --version | head -1)"
    echo "runs per row: $RUNS after one warm-up"
    load_average
}

# Other work on the machine shows in every figure: the load is printed before and after.
load_average()
{
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# Runs this script again in a private mount namespace, where /dev can be replaced.
outside()
{
    local build
    build=$(cd "${1:-$here/../build-bench}" && pwd)
    for p in odscp odstar bench/odscp_make_volumes bench/odscp_time_run bench/odscp_read_extents; do
        [[ -x $build/$p ]] || die "$build/$p is missing: run 'make bench'"
    done
    scratch=$(mktemp -d /tmp/odscp-bench.XXXXXX)
    trap 'rm -rf "$scratch"' EXIT
    trap 'exit 130' INT TERM
    describe_machine
    echo "writing volumes and host files into $scratch"
    "$build/bench/odscp_make_volumes" "$scratch/vol" | sed 's/^/  /'
    tar -cf "$scratch/vol/tree.tar" -C "$scratch/vol/tree" .
    echo "scratch: $(du -sh "$scratch" | cut -f1)"
    local ns=(unshare -m --propagation private)
    [[ $(id -u) -eq 0 ]] || ns=(unshare -r -m --propagation private)
    "${ns[@]}" bash "$here/run.sh" --inside "$build" "$scratch"
}

# A tmpfs over /dev holding only null and the images as /dev/vms<NAME>.
attach_volumes()
{
    local dev=$scratch/dev image
    mkdir -p "$dev"
    mount -t tmpfs -o size=1m,mode=755 odscp-bench "$dev"
    touch "$dev/null"
    mount --bind /dev/null "$dev/null"
    for image in contig frag ext text short dirs; do
        ln -s "$vol/$image.img" "$dev/vms${image^^}"
    done
    if [[ -e /dev/fuse ]]; then # odsfs mounts through it
        touch "$dev/fuse"
        mount --bind /dev/fuse "$dev/fuse"
    fi
    mount --rbind "$dev" /dev
}

# Outputs of the rows of many small files are set aside until the end: ext4 takes
# longer to create files just after as many were deleted, for cp and odscp alike,
# and that would swamp the lookups being measured.
clear_output()
{
    if [[ -n ${set_aside:-} ]]; then
        mkdir -p "$scratch/aside"
        mv "$out" "$(mktemp -d "$scratch/aside/XXXXXX")"
        mkdir "$out"
    else
        find "$out" -mindepth 1 -delete
    fi
}

# measure ROW SIDE DIR COMMAND: one timed run of COMMAND in DIR after the output
# directory is emptied. A failure or anything on standard error stops the benchmark.
# SIDE "warm" is not recorded.
measure()
{
    local row=$1 side=$2 dir=$3 cmd=$4 ns rss
    clear_output
    (cd "$dir" && eval "\"\$timer\" \"\$res/last\" $cmd") 2>"$res/stderr" ||
        die "$row ($side) failed: $(cat "$res/stderr")"
    [[ ! -s $res/stderr ]] || die "$row ($side) wrote to standard error: $(head -3 "$res/stderr")"
    read -r ns rss _ <"$res/last" # a failing status failed the timer above
    [[ $side == warm ]] && return
    echo "$ns" >>"$res/$row.$side.ns"
    echo "$rss" >>"$res/$row.$side.rss"
}

median()
{
    sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# paired_ratio ODSCP_NS BASE_NS: the median of odscp's time over the baseline's, run by
# run (each pair ran one after the other), so that a machine that is slower for a
# while slows both sides of the pairs it touches, not one side's median.
paired_ratio()
{
    paste "$1" "$2" | awk '{ printf "%.6f\n", $1 / $2 }' >"$res/pairs"
    printf '%.4f' "$(median "$res/pairs")"
}

largest()
{
    sort -n "$1" | tail -1
}

# run_row ID LABEL BYTES, with the row's commands in the caller's variables:
# odscp_dir/odscp_cmd, base_name/base_dir/base_cmd, rw_name/rw_cmd (a read/write
# baseline run in base_dir, or empty) and check, which must succeed after the warm-up.
run_row()
{
    local id=$1 label=$2 bytes=$3 i rw_median=- rw_ratio=-
    [[ -z $ROWS || " $ROWS " == *" $id "* ]] || return 0
    sync # dirty pages of earlier rows are written back before this one starts
    measure "$id" warm "$base_dir" "$base_cmd"
    [[ -z $rw_cmd ]] || measure "$id" warm "$base_dir" "$rw_cmd"
    measure "$id" warm "$odscp_dir" "$odscp_cmd"
    (eval "$check") || die "$id: the output is not what was expected"
    for ((i = 0; i < RUNS; ++i)); do
        measure "$id" base "$base_dir" "$base_cmd"
        [[ -z $rw_cmd ]] || measure "$id" rw "$base_dir" "$rw_cmd"
        measure "$id" odscp "$odscp_dir" "$odscp_cmd"
    done
    if [[ -n $rw_cmd ]]; then
        rw_median=$(median "$res/$id.rw.ns")
        rw_ratio=$(paired_ratio "$res/$id.odscp.ns" "$res/$id.rw.ns")
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$label" "$bytes" \
        "$(median "$res/$id.odscp.ns")" "$(median "$res/$id.base.ns")" \
        "$(largest "$res/$id.odscp.rss")" "$(largest "$res/$id.base.rss")" \
        "$base_name" "$rw_median" "${rw_name:--}" \
        "$(paired_ratio "$res/$id.odscp.ns" "$res/$id.base.ns")" "$rw_ratio" >>"$res/table"
    print_row "$id"
}

table_line()
{
    awk -F'\t' -v id="$1" '$1 == id' "$res/table"
}

field()
{
    table_line "$1" | cut -f"$2"
}

# One row of figures: odscp's median and throughput, the baseline's, the paired ratio,
# the read/write baseline's name, its median and odscp's paired ratio to it, and the
# peak RSS.
figures()
{
    table_line "$1" | awk -F'\t' '{
        mib = $3 / 1048576; o = $4 / 1e9; b = $5 / 1e9
        printf "%-15s odscp %8.1f ms %6.0f MiB/s | %-5s %8.1f ms %6.0f MiB/s | ratio %5.2f",
            $1, o * 1e3, mib / o, $8, b * 1e3, mib / b, $11
        if ($9 != "-")
            printf " | %-5s %6.1f ms, ratio %4.2f", $10, $9 / 1e6, $12
        else
            printf " | %-25s", ""
        printf " | RSS %5d / %5d KiB", $6, $7
    }'
}

print_row()
{
    echo "$(figures "$1") | $(field "$1" 2)"
}

size_of()
{
    stat -c %s "$@" | awk '{ s += $1 } END { print s }'
}

# copy_row ID LABEL OPTION SPEC SOURCE NAME [IMAGE]: odscp writes host file NAME, cat
# copies SOURCE to a host file (cat 9 does it with copy_file_range, inside the
# kernel), dd copies it through a 128 KiB buffer with read and write, as odscp does.
# With IMAGE, the file is in many extents, and the read/write baseline is the floor:
# odscp_read_extents reading those extents of IMAGE with one pread each, through a
# buffer as large as odscp's, with no volume structure read.
copy_row()
{
    local id=$1 label=$2 option=$3 spec=$4 source=$5 name=$6 image=${7:-}
    local odscp_dir=$out odscp_cmd="\"\$odscp\" $option $spec"
    local base_name=cat base_dir=$out base_cmd="cat \"\$vol/$source\" >\"\$out/cat.out\""
    local rw_name=dd rw_cmd="dd if=\"\$vol/$source\" of=\"\$out/dd.out\" bs=128k status=none"
    local check="cmp -s \"\$out/$name\" \"\$vol/$source\""
    if [[ -n $image ]]; then
        rw_name=floor
        rw_cmd="\"\$extents\" \"\$vol/$image.extents\" \"\$vol/$image.img\" \"\$out/floor.out\""
        check+=" && $rw_cmd && cmp -s \"\$out/floor.out\" \"\$vol/$source\""
    fi
    run_row "$id" "$label" "$(size_of "$vol/$source")"
}

# The same copy to standard output into a pipe, against cat into a pipe.
pipe_row()
{
    local id=$1 label=$2 spec=$3 source=$4
    local odscp_dir=$out odscp_cmd="sh -c 'set -f; \"\$0\" -si $spec | cat >/dev/null' \"\$odscp\""
    local base_name=cat base_dir=$out base_cmd="sh -c 'cat \"\$0\" | cat >/dev/null' \"\$vol/$source\""
    local rw_name="" rw_cmd="" check="\"\$odscp\" -si $spec | cmp -s - \"\$vol/$source\""
    run_row "$id" "$label" "$(size_of "$vol/$source")"
}

list_row()
{
    local odscp_dir=$out odscp_cmd="\"\$odscp\" -l DIRS:[D20K] >\"\$out/list.txt\""
    local base_name="ls -f" base_dir=$vol/hostdir base_cmd="ls -f >\"\$out/ls.txt\""
    local rw_cmd="" check="cmp -s \"\$out/list.txt\" \"\$vol/listing.txt\""
    run_row list_20000 "-l of [D20K], 20,000 entries, against ls -f of a host directory" \
        "$(size_of "$vol/listing.txt")"
}

# Every STEP-th name of [F00001.DAT ...], COUNT of them.
every_nth()
{
    printf 'F%05d.DAT ' $(seq "$1" "$1" $(($1 * $2)))
}

# named_row ID DIRECTORY STEP COUNT: COUNT files of DIRECTORY, every STEP-th, named on
# one command line and copied in image mode to host files, against cp of the same
# host files.
named_row()
{
    local id=$1 directory=$2 step=$3 count=$4 names
    read -ra names <<<"$(every_nth "$step" "$count")"
    printf '%s\n' "${names[@]}" >"$res/$id.names"
    local odscp_dir=$out odscp_cmd="\"\$odscp\" -i DIRS:[$directory]${names[*]}"
    local base_name=cp base_dir=$vol/hostdir base_cmd="cp -t \"\$out\" ${names[*]}"
    local rw_cmd="" check="same_named_files \"$res/$id.names\"" set_aside=1
    run_row "$id" "$count files of [$directory] named, every ${step}th, to host files, against cp" \
        "$(cd "$vol/hostdir" && size_of "${names[@]}")"
}

# The same lookups copied to standard output, against cat of the host files: no host
# file is created, so the time is the lookups' and the reads'.
lookup_row()
{
    local id=$1 directory=$2 step=$3 count=$4 names
    read -ra names <<<"$(every_nth "$step" "$count")"
    local odscp_dir=$out odscp_cmd="\"\$odscp\" -is DIRS:[$directory]${names[*]} >/dev/null"
    local base_name=cat base_dir=$vol/hostdir base_cmd="cat ${names[*]} >/dev/null"
    local rw_cmd=""
    local check="[[ \$(\"\$odscp\" -is DIRS:[$directory]${names[*]} | md5sum) == \$(cd \"\$vol/hostdir\" && cat ${names[*]} | md5sum) ]]"
    run_row "$id" "$count files of [$directory] named, every ${step}th, -is to /dev/null, against cat" \
        "$(cd "$vol/hostdir" && size_of "${names[@]}")"
}

# Every named file is in the output directory, with its bytes.
# shellcheck disable=SC2317 # called from the check that run_row evaluates
same_named_files()
{
    local names copied host
    mapfile -t names <"$1"
    [[ $(find "$out" -type f | wc -l) -eq ${#names[@]} ]] || return 1
    copied=$(cd "$out" && cat "${names[@]}" | md5sum)
    host=$(cd "$vol/hostdir" && cat "${names[@]}" | md5sum)
    [[ $copied == "$host" ]]
}

# odstar's rows: the program named in the table's odscp columns is odstar.
# A 256 MiB file extracted with --raw against cat of the same bytes to a host file.
odstar_raw_row()
{
    local odscp_dir=$out odscp_cmd="\"\$odstar\" -x --raw -f \"\$vol/contig.img\" -C \"\$out\" [BENCH]DATA.BIN"
    local base_name=cat base_dir=$out base_cmd="cat \"\$vol/data.bin\" >\"\$out/cat.out\""
    local rw_name="" rw_cmd="" check="cmp -s \"\$out/BENCH/DATA.BIN\" \"\$vol/data.bin\""
    run_row odstar_raw "odstar -x --raw, 256 MiB in one extent, against cat to a host file" \
        "$(size_of "$vol/data.bin")"
}

# 20,000 files of 1-4 KiB in 200 directories extracted, against tar -x of the same tree.
odstar_tree_row()
{
    local odscp_dir=$out odscp_cmd="\"\$odstar\" -xf \"\$vol/tree.img\" -C \"\$out\" [...]*.DAT"
    local base_name=tar base_dir=$out base_cmd="tar -xf \"\$vol/tree.tar\" -C \"\$out\""
    local rw_name="" rw_cmd="" check="diff -r \"\$vol/tree\" \"\$out\" >/dev/null" set_aside=1
    run_row odstar_tree "odstar -x, 20,000 files of 1-4 KiB in 200 directories, against tar -x" \
        "$(du -sb "$vol/tree" | cut -f1)"
}

# The long listing of the same 20,000 files, against tar -tv of the archive.
odstar_list_row()
{
    local odscp_dir=$out odscp_cmd="\"\$odstar\" -tvf \"\$vol/tree.img\" >\"\$out/tv.txt\""
    local base_name="tar -tv" base_dir=$out base_cmd="tar -tvf \"\$vol/tree.tar\" >\"\$out/tar.txt\""
    local rw_name="" rw_cmd="" check="[[ \$(grep -c '\.DAT;1\$' \"\$out/tv.txt\") -eq 20000 ]]"
    run_row odstar_tv "odstar -tv of 20,000 files in 200 directories, against tar -tv" \
        "$(size_of "$vol/tree.img")"
}

# odsfs_row ID LABEL BYTES IMAGE COMMAND BASE_DIR BASE_COMMAND CHECK: COMMAND runs
# against a fresh odsfs mount of IMAGE at $mnt (mounting and unmounting are in the
# time; row odsfs_mount measures them alone); CHECK runs after the warm-up, also
# through a fresh mount.
odsfs_row()
{
    local id=$1 label=$2 bytes=$3 image=$4
    local mounted="\"\$here/odsfs_mounted.sh\" \"\$odsfs\" \"\$vol/$image\" \"\$mnt\""
    local odscp_dir=$out odscp_cmd="$mounted $5" base_name=host base_dir=$6 base_cmd=$7
    local rw_name="" rw_cmd="" check="$mounted $8" set_aside=${set_aside:-}
    run_row "$id" "$label" "$bytes"
}

# The odsfs rows: cat of 256 MiB, ls -l of 20,000 entries and cp -r of 20,000
# files through the mount, against the same on host files.
odsfs_rows()
{
    if [[ -z $odsfs ]]; then
        echo "odsfs rows skipped: odsfs is not built (libfuse 3 missing)"
        return 0
    fi
    odsfs_row odsfs_mount "odsfs: mount and unmount alone, against true" 0 contig.img \
        true "$out" true true
    odsfs_row odsfs_cat "odsfs: cat of 256 MiB in one extent to /dev/null, fresh mount, against cat of the host file" \
        "$(size_of "$vol/data.bin")" contig.img "cat \"\$mnt/BENCH/DATA.BIN\" >/dev/null" \
        "$out" "cat \"\$vol/data.bin\" >/dev/null" "cmp -s \"\$mnt/BENCH/DATA.BIN\" \"\$vol/data.bin\""
    odsfs_row odsfs_cat_frag "odsfs: the same in 4096 extents" \
        "$(size_of "$vol/data.bin")" frag.img "cat \"\$mnt/BENCH/DATA.BIN\" >/dev/null" \
        "$out" "cat \"\$vol/data.bin\" >/dev/null" "cmp -s \"\$mnt/BENCH/DATA.BIN\" \"\$vol/data.bin\""
    odsfs_row odsfs_ls "odsfs: ls -l of [D20K], 20,000 entries, fresh mount, against ls -l of the host directory" \
        0 dirs.img "ls -l \"\$mnt/D20K\" >/dev/null" "$vol/hostdir" "ls -l >/dev/null" \
        "sh -c '[ \"\$(ls \"\$0\")\" = \"\$(ls \"\$1\")\" ]' \"\$mnt/D20K\" \"\$vol/hostdir\""
    set_aside=1 odsfs_row odsfs_cp "odsfs: cp -r of [D20K], 20,000 files, fresh mount, against cp -r of the host tree" \
        0 dirs.img "cp -r \"\$mnt/D20K\" \"\$out/copy\"" \
        "$vol" "cp -r hostdir \"\$out/copy\"" "diff -r \"\$out/copy\" \"\$vol/hostdir\""
}

run_rows()
{
    echo
    echo "row: odscp median, throughput | baseline median, throughput | ratio | read/write baseline (dd bs=128k, or the floor: the file's extents read with pread) median, odscp's ratio to it | max RSS odscp / baseline"
    copy_row image_contig "-i, 256 MiB in one extent, to a host file" \
        -i CONTIG:[BENCH]DATA.BIN data.bin DATA.BIN
    copy_row image_frag "-i, 256 MiB in 4096 extents (54 headers)" \
        -i FRAG:[BENCH]DATA.BIN data.bin DATA.BIN frag
    copy_row image_ext "-i, 256 MiB in 4096 extents over 512 headers" \
        -i EXT:[BENCH]DATA.BIN data.bin DATA.BIN ext
    copy_row block_contig "-I, 256 MiB in one extent" \
        -I CONTIG:[BENCH]DATA.BIN data.bin DATA.BIN
    copy_row text "text mode, 256 MiB of records of 1-300 bytes, against cat of the text" \
        "" TEXT:[BENCH]TEXT.TXT text.txt TEXT.TXT
    copy_row text_short "text mode, 256 MiB of records of 1-80 bytes, against cat of the text" \
        "" SHORT:[BENCH]TEXT.TXT short.txt TEXT.TXT
    pipe_row stdout_pipe "-si, 256 MiB into a pipe, against cat into a pipe" \
        CONTIG:[BENCH]DATA.BIN data.bin
    copy_row image_small "-i, 1 MiB (memory check)" \
        -i CONTIG:[BENCH]SMALL.BIN small.bin SMALL.BIN
    list_row
    named_row named_1000 D20K 20 1000
    named_row named_2000 D20K 10 2000
    lookup_row lookup_1000 D20K 20 1000
    lookup_row lookup_2000 D20K 10 2000
    lookup_row lookup_2000_10k D10K 5 2000
    odstar_raw_row
    odstar_tree_row
    odstar_list_row
    odsfs_rows
}

# verdict VALUE LIMIT: "met" when VALUE <= LIMIT.
verdict()
{
    awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l) ? "met" : "MISSED" }'
}

ratio_of()
{
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}

# summary_ratio ID [LIMIT]: the row's figures, and the verdict on its ratio when it has a target.
summary_ratio()
{
    local id=$1 limit=${2:-} r judged="no target of its own"
    r=$(printf '%.2f' "$(field "$id" 11)")
    [[ -z $limit ]] || judged="target ratio <= $limit: $(verdict "$r" "$limit")"
    echo "SUMMARY $(figures "$id" | tr -s ' ') | $judged"
}

# growth ID_1000 ID_2000 NAME WHAT [JUDGED]: how the median grows from 1,000 to 2,000
# names; linear is x2, and 10% more is allowed for noise.
growth()
{
    local by judged
    by=$(ratio_of "$(field "$2" 4)" "$(field "$1" 4)")
    judged="target <= 2.20: $(verdict "$by" 2.20)"
    [[ -n ${5:-} ]] || judged="no target: host file creation grows as much for cp"
    printf 'SUMMARY %-15s %s: time x%s, %.0f us per added name | linear x2.00; %s\n' \
        "$3" "$4" "$by" "$(awk -v a="$(field "$2" 4)" -v b="$(field "$1" 4)" 'BEGIN { print (a - b) / 1000 / 1e3 }')" \
        "$judged"
}

summary()
{
    local id list_ms big small
    echo
    for id in image_contig image_frag image_ext block_contig stdout_pipe; do
        summary_ratio "$id" 1.15
    done
    summary_ratio text 1.5
    summary_ratio text_short
    summary_ratio image_small
    list_ms=$(awk -v n="$(field list_20000 4)" 'BEGIN { printf "%.1f", n / 1e6 }')
    echo "SUMMARY $(figures list_20000 | tr -s ' ') | target < 50 ms: $(verdict "$list_ms" 49.99)"
    for id in named_1000 named_2000 lookup_1000 lookup_2000 lookup_2000_10k; do
        summary_ratio "$id"
    done
    growth named_1000 named_2000 growth_files "1,000 -> 2,000 names of [D20K] to host files (cp x$(ratio_of "$(field named_2000 5)" "$(field named_1000 5)"))"
    growth lookup_1000 lookup_2000 growth_names "1,000 -> 2,000 names of [D20K], -is" judged
    local by
    by=$(ratio_of "$(field lookup_2000 4)" "$(field lookup_2000_10k 4)")
    printf 'SUMMARY %-15s 2,000 names, -is, directory of 10,000 -> 20,000 entries: time x%s | linear per lookup x2.00 at most; target <= 2.20: %s\n' \
        growth_dir "$by" "$(verdict "$by" 2.20)"
    summary_ratio odstar_raw 1.15
    summary_ratio odstar_tree 2
    local tv_ms
    tv_ms=$(awk -v n="$(field odstar_tv 4)" 'BEGIN { printf "%.1f", n / 1e6 }')
    echo "SUMMARY $(figures odstar_tv | tr -s ' ') | target < 100 ms: $(verdict "$tv_ms" 99.99)"
    if [[ -n $odsfs ]]; then
        summary_ratio odsfs_mount
        summary_ratio odsfs_cat 1.5
        summary_ratio odsfs_cat_frag
        summary_ratio odsfs_cp 3
        list_ms=$(awk -v n="$(field odsfs_ls 4)" 'BEGIN { printf "%.1f", n / 1e6 }')
        echo "SUMMARY $(figures odsfs_ls | tr -s ' ') | target < 1000 ms: $(verdict "$list_ms" 999.99)"
    fi
    big=$(field image_contig 6) small=$(field image_small 6)
    printf 'SUMMARY %-15s odscp max RSS %s KiB copying 256 MiB, %s KiB copying 1 MiB | target no growth beyond 128 KiB: %s\n' \
        memory "$big" "$small" "$(verdict $((big - small)) 128)"
}

inside()
{
    build=$1 scratch=$2
    # shellcheck disable=SC2034 # both are named in the commands that measure evaluates
    odscp=$build/odscp odstar=$build/odstar timer=$build/bench/odscp_time_run extents=$build/bench/odscp_read_extents
    odsfs=$build/odsfs/odsfs mnt=$scratch/mnt
    [[ -x $odsfs && -e /dev/fuse ]] || odsfs=""
    mkdir -p "$mnt"
    vol=$scratch/vol out=$scratch/out res=$scratch/results
    mkdir -p "$out" "$res"
    : >"$res/table"
    attach_volumes
    run_rows
    [[ -n $ROWS ]] || summary
    load_average
}

# One compound command, read whole before it runs: an edit to this file while it
# runs cannot change what it does next.
{
    if [[ ${1:-} == --inside ]]; then
        shift
        inside "$@"
    else
        outside "$@"
    fi
    exit
}
