#!/bin/sh
# The sample volume and odscp's main job on it: makes samples/tree into a volume image,
# attaches it as /dev/vmsusers in a private mount namespace and runs a few commands there;
# then odstar lists and extracts the same image straight from its file.
# Usage: sh samples/demo.sh [build-dir]   (default build; built with `make`)
set -eu

# Prints a command as it would be typed, then runs it.
show() {
    printf '\n$ %s\n' "$1"
    eval "$1"
}

# Inside the namespace: a /dev of its own holding only the volume, then the commands.
inside() {
    image=$1 scratch=$2 build=$3
    mount -t tmpfs tmpfs /dev
    ln -s "$image" /dev/vmsusers
    PATH=$build:$PATH
    cd "$scratch"
    echo "The sample volume is /dev/vmsusers (device disk\$users, the default);"
    echo "the working directory is $scratch."
    show "odscp -l '[000000]'"
    show "odscp -l '[user]'"
    show "odscp -l '[user.mail]'"
    show "odscp -s '[user]notes.txt'"
    show "odscp -s '[user]notes.txt;1'"
    show "odscp '[user]login.com' -i data.bin"
    show "ls -l"
    show "cat login.com"
    show "od -A d -t x1 data.bin | head -n 4"
}

if [ "${1:-}" = --inside ]; then
    inside "$2" "$3" "$4"
    exit 0
fi

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
build=$(cd "${1:-build}" && pwd)
for program in "$build/odscp" "$build/odstar" "$build/tools/mkvolume/mkvolume"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing: run make first" >&2
        exit 1
    fi
done

if unshare -rm true 2>/dev/null; then
    namespace="unshare -rm"
elif [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
    namespace="unshare -m"
else
    echo "demo: cannot make a private mount namespace: this kernel lets no user create" >&2
    echo "demo: user namespaces; run make demo as root" >&2
    exit 1
fi

mkdir -p "$build/samples"
image=$build/samples/users.img
PATH=$build/tools/mkvolume:$PATH
show "mkvolume -v samples/tree ${1:-build}/samples/users.img"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/odscp-demo-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
echo
$namespace sh "$top/samples/demo.sh" --inside "$image" "$scratch" "$build"

echo
echo "odstar reads the image file itself, without a device or privileges:"
PATH=$build:$PATH
cd "$scratch"
show "odstar -tvf '$image'"
show "mkdir rescue && odstar -xf '$image' -C rescue && find rescue | sort"
