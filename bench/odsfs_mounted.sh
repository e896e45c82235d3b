#!/usr/bin/env bash
# One run of an odsfs row from a fresh mount: mounts IMAGE at MOUNTPOINT with
# odsfs, runs COMMAND..., unmounts, and exits with COMMAND's status.
# Usage: bench/odsfs_mounted.sh ODSFS IMAGE MOUNTPOINT COMMAND...
set -uo pipefail
odsfs=$1 image=$2 mnt=$3
shift 3
"$odsfs" "$image" "$mnt" || exit 1 # returns once mounted, and runs on in the background
"$@"
status=$?
fusermount3 -u "$mnt" 2>/dev/null || umount "$mnt"
exit $status
