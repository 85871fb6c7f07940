#!/bin/sh
# Demo: a device root with a base system, an upgrade from the download directory with a
# few packages and a bundle, then a scheduled disable and uninstall. Run as root (the
# installer enters the device root with chroot).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. scripts/lib.sh
need_packages build-essential cmake zlib1g-dev libssl-dev

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Building the installer and pkgtool"
mkdir -p build
cmake -S . -B build/demo -DINSTALLER_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >build/demo.log 2>&1 ||
    { cat build/demo.log; exit 1; }
cmake --build build/demo -j "$(nproc)" --target installer pkgtool >>build/demo.log 2>&1 ||
    { cat build/demo.log; exit 1; }
installer=$here/build/demo/installer
pkgtool=$here/build/demo/tools/pkgtool

root=$here/build/demo-root
work=$here/build/demo-work
rm -rf "$root" "$work"
device_root "$root"
mkdir -p "$work"
echo "device root: $root"

# Content for a package: a few files of given sizes (KiB) of generated data.
make_content() {
    dir=$work/$1; shift
    mkdir -p "$dir/bin" "$dir/lib" "$dir/etc"
    for spec in "$@"; do
        name=${spec%%=*}; kib=${spec#*=}
        head -c "$((kib * 1024))" /dev/urandom >"$dir/$name"
    done
    chmod 755 "$dir"/bin/* 2>/dev/null || true
}

make_content system-7.15 bin/init=512 lib/libc.so=2048 etc/version=1
make_content system-7.16 bin/init=600 lib/libc.so=6144 lib/libnet.so=2048 etc/version=1
make_content routing bin/routed=4096 etc/routing.conf=2
make_content wireless bin/wifid=3072 lib/firmware.bin=6144
make_content dhcp bin/dhcpd=1024
make_content ntp bin/ntpd=512

step "Installing the base system 7.15 from standard input"
"$pkgtool" build -o "$work/system-7.15.npk" --name system --version 7.15 --note "base system" \
    "$work/system-7.15"
"$installer" -r "$root" - <"$work/system-7.15.npk"
echo
"$installer" -r "$root" --show

step "Downloading an upgrade: system 7.16, routing, wireless and the bundle extras"
dl=$root/rw/pckg/.download
"$pkgtool" build -o "$dl/system-7.16.npk" --name system --version 7.16 --note "base system" \
    "$work/system-7.16"
"$pkgtool" build -o "$dl/routing-7.16.npk" --name routing --version 7.16 \
    --depends system:7.16 --note "dynamic routing" "$work/routing"
"$pkgtool" build -o "$dl/wireless-7.16.npk" --name wireless --version 7.16 \
    --depends system:7.16 --note "wireless drivers" "$work/wireless"
"$pkgtool" build -o "$work/dhcp.npk" --name dhcp --version 7.16 --depends system "$work/dhcp"
"$pkgtool" build -o "$work/ntp.npk" --name ntp --version 7.16 --depends system "$work/ntp"
"$pkgtool" bundle -o "$dl/extras-7.16.npk" --name extras --version 7.16 --note "extra services" \
    "$work/dhcp.npk" "$work/ntp.npk"
ls -l "$dl"

step "Upgrade run: installer -r $root"
"$installer" -r "$root"
echo "exit status $?"
# The system's download software clears the directory after a run.
rm -f "$dl"/*.npk

step "Installed packages"
"$installer" -r "$root" --show

step "Files on flash"
(cd "$root/flash" && find . -path ./var -prune -o -type f -print | sort)

step "Scheduling: disable wireless, uninstall routing (files under /ram/pdb/)"
mkdir -p "$root/ram/pdb/wireless" "$root/ram/pdb/routing"
echo disable >"$root/ram/pdb/wireless/schedule"
echo uninstall >"$root/ram/pdb/routing/schedule"
"$installer" -r "$root"
echo "exit status $?"
rm -rf "$root/ram/pdb"

step "Installed packages after the scheduled actions"
"$installer" -r "$root" --show
echo
(cd "$root/flash" && find . -path ./var -prune -o -type f -print | sort)

step "The post-install log /flash/postlog"
cat "$root/flash/postlog"

step "Where to look"
echo "The demo device root is $root:"
echo "  $root/flash          the installed files"
echo "  $root/flash/var/pdb  the package database (one folder per package)"
echo "  $root/flash/postlog  the messages of the upgrade runs"
echo "Run \"$installer -r $root --show\" to list the packages again."
