#!/bin/sh
# Builds the installer and shows the package table of an empty demo device root.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. scripts/lib.sh
need_packages build-essential cmake zlib1g-dev libssl-dev googletest libgtest-dev
cmake -S . -B build/demo -DINSTALLER_TESTS=OFF >/dev/null
cmake --build build/demo -j "$(nproc)" --target installer >/dev/null
root=build/demo-root
mkdir -p $root/flash/var/pdb $root/flash/boot $root/ram $root/rw/pckg/.download
build/demo/installer -r "$root" --show
