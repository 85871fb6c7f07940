#!/bin/sh
# Benchmarks the installer beside the tools users know, on the same payload in the same
# run, and prints one table of medians with ratios.
#
# usage: bench/run.sh [RUNS]      (default 5; every row is the median of its runs)
#
# Runs as root (dpkg --root, chroot). Prepared inputs (payload, packages, the database of
# the --show row) are kept in bench/out/ and reused; delete bench/out/ to make them anew.
# The timed runs of the different tools take turns, so that a busy moment of the machine
# falls on all of them alike.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. scripts/lib.sh

runs=${1:-5}
if [ "$(id -u)" != 0 ]; then
    echo "bench/run.sh runs as root (dpkg --root, the installer's change of root)" >&2
    exit 1
fi
out=$here/bench/out
roots=$out/roots
samples=$out/samples
release=$here/build/release
dynamic=$here/build/release-dynamic

need_packages build-essential cmake zlib1g-dev libssl-dev dpkg-dev python3 gzip tar

# --- build -------------------------------------------------------------------------------
# The release binary is linked as the board's build links it (statically); the default
# dynamic link is built too, for its memory figure.
echo "== building release binaries" >&2
mkdir -p "$out"
log=$out/configure.log
cmake -S . -B "$release" -DCMAKE_BUILD_TYPE=Release -DINSTALLER_TESTS=OFF \
    -DINSTALLER_STATIC=ON >"$log" 2>&1 || { cat "$log"; exit 1; }
# The static link warns about glibc's name lookups, which the installer never makes.
cmake --build "$release" -j "$(nproc)" \
    --target installer pkgtool measure planning_bench signature_bench >"$log" 2>&1 ||
    { cat "$log"; exit 1; }
cmake -S . -B "$dynamic" -DCMAKE_BUILD_TYPE=Release -DINSTALLER_TESTS=OFF \
    >"$log" 2>&1 || { cat "$log"; exit 1; }
cmake --build "$dynamic" -j "$(nproc)" --target installer >"$log" 2>&1 || { cat "$log"; exit 1; }
installer=$release/installer
installer_dynamic=$dynamic/installer
pkgtool=$release/tools/pkgtool
measure=$release/bench/measure

# --- inputs ------------------------------------------------------------------------------
build_time=1700000000

# The payload, packed three ways from the same files.
if [ ! -f "$out/payload/done" ]; then
    echo "== preparing the payload" >&2
    rm -rf "$out/payload"
    mkdir -p "$out/payload"
    python3 bench/payload.py files "$out/payload/tree" >"$out/payload/size"
    "$pkgtool" build -o "$out/payload/bench.npk" --name bench --version 1.0 \
        --build-time $build_time "$out/payload/tree" >/dev/null
    tar -czf "$out/payload/bench.tar.gz" -C "$out/payload/tree" .
    mkdir -p "$out/payload/deb"
    cp -al "$out/payload/tree/." "$out/payload/deb/"
    mkdir -p "$out/payload/deb/DEBIAN"
    printf '%s\n' "Package: bench" "Version: 1.0" "Architecture: all" \
        "Maintainer: Bench <bench@example.invalid>" "Description: benchmark payload" \
        >"$out/payload/deb/DEBIAN/control"
    dpkg-deb --root-owner-group -Zgzip -b "$out/payload/deb" "$out/payload/bench.deb" >/dev/null
    rm -rf "$out/payload/deb"
    touch "$out/payload/done"
fi
read -r payload_files payload_bytes <"$out/payload/size"

# One incompressible file of 4 MiB, one of 256 MiB, each in a package of its own.
for mib in 4 256; do
    if [ ! -f "$out/blob$mib/done" ]; then
        echo "== preparing the $mib MiB package" >&2
        rm -rf "$out/blob$mib"
        mkdir -p "$out/blob$mib/tree"
        python3 bench/payload.py blob "$out/blob$mib/tree/blob" $mib
        "$pkgtool" build -o "$out/blob$mib/blob.npk" --name blob --version 1.0 \
            --build-time $build_time "$out/blob$mib/tree" >/dev/null
        touch "$out/blob$mib/done"
    fi
done

# A database of 300 installed packages: 150 described by stored package files of 1 MiB,
# 150 by meta files; and a dpkg database of 300 packages beside it.
showdb=$out/showdb
if [ ! -f "$showdb/done" ]; then
    echo "== preparing the database of 300 packages" >&2
    rm -rf "$showdb"
    mkdir -p "$showdb/root/flash/var/pdb" "$showdb/root/ram" "$showdb/tree" "$showdb/dpkg"
    python3 bench/payload.py blob "$showdb/tree/data" 1
    status=$showdb/dpkg/status
    : >"$status"
    i=0
    while [ $i -lt 150 ]; do
        name=$(printf 'img%03d' $i)
        mkdir -p "$showdb/root/flash/var/pdb/$name"
        "$pkgtool" build -o "$showdb/root/flash/var/pdb/$name/image" --name $name \
            --version 1.0.$i --build-time $build_time --arch i386 --note "bench image $i" \
            --depends system:1.0 --provides "svc$i" --image "$showdb/tree/data" >/dev/null
        name=$(printf 'meta%03d' $i)
        dir=$showdb/root/flash/var/pdb/$name
        mkdir -p "$dir"
        echo "$((0x01006600 + i)) $build_time" >"$dir/version"
        printf 'system 16803328 0\nimg%03d 0 0\n' $i >"$dir/deps"
        printf 'msvc%d 0 0 %d\n' $i $i >"$dir/provides"
        j=0
        while [ $j -lt 20 ]; do
            echo "usr/lib/$name/file$j"
            j=$((j + 1))
        done >"$dir/files"
        [ $((i % 10)) -eq 0 ] && echo auto >"$dir/disabled"
        i=$((i + 1))
    done
    i=0
    while [ $i -lt 300 ]; do
        printf '%s\n' "Package: pkg$i" "Status: install ok installed" "Priority: optional" \
            "Section: misc" "Installed-Size: 1024" "Maintainer: Bench <bench@example.invalid>" \
            "Architecture: all" "Version: 1.0.$i" "Depends: pkg$(((i + 1) % 300))" \
            "Description: benchmark package $i" "" >>"$status"
        i=$((i + 1))
    done
    mkdir -p "$showdb/dpkg/info" "$showdb/dpkg/updates"
    : >"$showdb/dpkg/available"
    touch "$showdb/done"
fi

# --- timed runs --------------------------------------------------------------------------
# Roots are never deleted between timed runs: on a file system without a journal, ext4
# passes over recently deleted inodes when it allocates new ones, which would charge one
# run for the clean-up of the one before.
rm -rf "$roots" "$samples"
mkdir -p "$roots" "$samples"
load_before=$(cut -d' ' -f1 /proc/loadavg)

device_root() {
    mkdir -p "$1/flash/var/pdb" "$1/flash/boot" "$1/ram" "$1/rw/pckg/.download" "$1/tmp"
}

dpkg_root() {
    mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates" "$1/var/lib/dpkg/triggers" \
        "$1/var/log"
    : >"$1/var/lib/dpkg/status"
    : >"$1/var/lib/dpkg/available"
}

# sample NAME [measure options] -- COMMAND...: one timed run, appended to the samples of NAME.
sample() {
    name=$1
    shift
    "$measure" --runs 1 "$@" >>"$samples/$name"
}

installed_check() {
    echo "test \$(find '$1' -type f | wc -l) = $payload_files"
}

payload=$out/payload
round=1
while [ $round -le "$runs" ]; do
    echo "== round $round of $runs" >&2
    r=$roots/$round
    mkdir -p "$r"

    device_root "$r/upgrade"
    ln "$payload/bench.npk" "$r/upgrade/rw/pckg/.download/bench.npk"
    sample install_upgrade --check "$(installed_check "$r/upgrade/flash/usr")" \
        -- "$installer" -r "$r/upgrade"

    device_root "$r/stdin"
    sample install_stdin --check "$(installed_check "$r/stdin/flash/usr")" \
        -- sh -c "cat '$payload/bench.npk' | '$installer' -r '$r/stdin' -"

    dpkg_root "$r/dpkg"
    sample dpkg --check "$(installed_check "$r/dpkg/usr")" \
        -- dpkg --root="$r/dpkg" --refuse-unsafe-io --path-include='*' -i "$payload/bench.deb"

    dpkg_root "$r/dpkg-unsafe"
    sample dpkg_unsafe --check "$(installed_check "$r/dpkg-unsafe/usr")" \
        -- dpkg --root="$r/dpkg-unsafe" --force-unsafe-io --path-include='*' \
        -i "$payload/bench.deb"

    mkdir -p "$r/tar"
    sample tar --check "$(installed_check "$r/tar/usr")" \
        -- sh -c "tar -xzf '$payload/bench.tar.gz' -C '$r/tar' && sync"

    for mib in 4 256; do
        for link in static dynamic; do
            binary=$installer
            [ $link = dynamic ] && binary=$installer_dynamic
            root=$r/blob$mib-$link
            device_root "$root"
            ln "$out/blob$mib/blob.npk" "$root/rw/pckg/.download/blob.npk"
            sample "blob${mib}_$link" --check "cmp -s '$out/blob$mib/tree/blob' '$root/flash/blob'" \
                -- "$binary" -r "$root"
        done
    done

    for _ in 1 2 3 4 5; do
        sample show -- "$installer" -r "$showdb/root" --show
        sample show_dynamic -- "$installer_dynamic" -r "$showdb/root" --show
        sample dpkg_query -- dpkg-query --admindir="$showdb/dpkg" -l
    done

    "$release/bench/planning_bench" >"$samples/planning.$round"
    "$release/bench/signature_bench" 500 >"$samples/signature.$round"
    round=$((round + 1))
done
# The table lists every package of the database: 300, and a heading of two lines.
shown=$("$installer" -r "$showdb/root" --show | wc -l)
[ "$shown" -eq 302 ] || { echo "--show listed $((shown - 2)) packages, not 300" >&2; exit 1; }

load_after=$(cut -d' ' -f1 /proc/loadavg)

# --- table -------------------------------------------------------------------------------
# median FILE COLUMN
median() {
    sort -g -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# planning_figure COUNT KIND: the median over the rounds of one planning figure in ms.
planning_figure() {
    cat "$samples"/planning.* | awk -v n="$1" -v k="$2" \
        '$1 == n && $3 == k { print $(NF - 1) }' >"$samples/planning_$1_$2"
    median "$samples/planning_$1_$2" 1
}

signature_figure() {
    cat "$samples"/signature.* | awk -v k="$1" 'index($0, k) == 1 { print $(NF - 3) }' \
        >"$samples/signature_$2"
    median "$samples/signature_$2" 1
}

calc() {
    awk "BEGIN { printf \"$1\", $2 }"
}

# row LABEL VALUE REFERENCE REFVALUE RATIO TARGET VERDICT
row() {
    printf '%-34s %10s   %-28s %10s %8s   %-15s %s\n' "$@"
}

# verdict CONDITION (an awk expression): "met" or "MISSED"
verdict() {
    awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"
}

upgrade=$(median "$samples/install_upgrade" 1)
stdin=$(median "$samples/install_stdin" 1)
dpkg=$(median "$samples/dpkg" 1)
dpkg_unsafe=$(median "$samples/dpkg_unsafe" 1)
tar=$(median "$samples/tar" 1)
rss_upgrade=$(median "$samples/install_upgrade" 2)
rss_dpkg=$(median "$samples/dpkg" 2)
rss_dpkg_unsafe=$(median "$samples/dpkg_unsafe" 2)
rss_tar=$(median "$samples/tar" 2)
show=$(calc %.1f "$(median "$samples/show" 1) * 1000")
show_dynamic=$(calc %.1f "$(median "$samples/show_dynamic" 1) * 1000")
dpkg_query=$(calc %.1f "$(median "$samples/dpkg_query" 1) * 1000")

echo
printf 'Payload: %d files, %.1f MiB from /usr/share and /usr/lib. Median of %d runs; the\n' \
    "$payload_files" "$(calc %.2f "$payload_bytes / 1048576")" "$runs"
echo "installer is the release build linked as the board links it (static) unless marked."
echo "dpkg: as Debian ships it (each file synced); dpkg*: --force-unsafe-io (no syncs)."
echo "Processor time counts the processes a command waited for (tar's gzip, dpkg-deb)."
printf 'Machine: %s processors, load average %s before the timed runs, %s after.\n' \
    "$(nproc)" "$load_before" "$load_after"
echo
row "figure" "installer" "reference" "value" "ratio" "target" ""
row "------" "---------" "---------" "-----" "-----" "------" ""
for mode in upgrade stdin; do
    eval "value=\$$mode"
    label="install, upgrade run (s)"
    [ $mode = stdin ] && label='install, "-" from a pipe (s)'
    row "$label" "$value" "dpkg --root -i" "$dpkg" "$(calc %.2f "$value / $dpkg")" "<= 0.50" \
        "$(verdict "$value / $dpkg <= 0.5")"
    row "" "" "dpkg* --root -i" "$dpkg_unsafe" "$(calc %.2f "$value / $dpkg_unsafe")" "<= 0.50" \
        "$(verdict "$value / $dpkg_unsafe <= 0.5")"
    row "" "" "tar -xzf, sync" "$tar" "$(calc %.2f "$value / $tar")" "<= 1.25" \
        "$(verdict "$value / $tar <= 1.25")"
    [ $mode = stdin ] && continue
    cpu=$(median "$samples/install_upgrade" 3)
    for reference in dpkg dpkg_unsafe tar; do
        case $reference in
            dpkg) label="dpkg --root -i" ;;
            dpkg_unsafe) label="dpkg* --root -i" ;;
            tar) label="tar -xzf, sync" ;;
        esac
        value=$(median "$samples/$reference" 3)
        first=""
        [ $reference = dpkg ] && first="  processor time (s)"
        shown=""
        [ $reference = dpkg ] && shown=$cpu
        row "$first" "$shown" "$label" "$value" "$(calc %.2f "$cpu / $value")" "" ""
    done
done
row "peak RSS, 40 MiB payload (KiB)" "$rss_upgrade" "dpkg --root -i" "$rss_dpkg" \
    "$(calc %.2f "$rss_upgrade / $rss_dpkg")" "<= 1.00" "$(verdict "$rss_upgrade <= $rss_dpkg")"
row "" "" "dpkg* --root -i" "$rss_dpkg_unsafe" "$(calc %.2f "$rss_upgrade / $rss_dpkg_unsafe")" \
    "" ""
row "" "" "tar -xzf (tar, gzip)" "$rss_tar" "$(calc %.2f "$rss_upgrade / $rss_tar")" "" ""
for link in static dynamic; do
    rss4=$(median "$samples/blob4_$link" 2)
    rss256=$(median "$samples/blob256_$link" 2)
    suffix=""
    [ $link = dynamic ] && suffix=", dynamic"
    row "peak RSS, 4 MiB package$suffix" "$rss4" "dpkg, 40 MiB payload" "$rss_dpkg" \
        "$(calc %.2f "$rss4 / $rss_dpkg")" "<= 1.00" "$(verdict "$rss4 <= $rss_dpkg")"
    row "peak RSS, 256 MiB package$suffix" "$rss256" "4 MiB package" "$rss4" \
        "$(calc %+d "$rss256 - $rss4")" "< +256 KiB" "$(verdict "$rss256 - $rss4 < 256")"
done
row "install, 4 MiB package (s)" "$(median "$samples/blob4_static" 1)" "" "" "" "" ""
row "install, 256 MiB package (s)" "$(median "$samples/blob256_static" 1)" "" "" "" "" ""
row "--show, 300 packages (ms)" "$show" "dpkg-query -l, 300 pkgs" "$dpkg_query" \
    "$(calc %.2f "$show / $dpkg_query")" "< 50 ms" "$(verdict "$show < 50")"
row "--show, 300 packages, dynamic" "$show_dynamic" "" "" "" "< 50 ms" \
    "$(verdict "$show_dynamic < 50")"
for kind in nothing uninstall; do
    p100=$(planning_figure 100 $kind)
    p1000=$(planning_figure 1000 $kind)
    label="planning, nothing to do (ms)"
    [ $kind = uninstall ] && label="planning, uninstall cascade (ms)"
    row "$label" "" "100 packages" "$p100" "" "" ""
    row "" "$p1000" "1000 vs 100 packages" "$p100" "$(calc %.1f "$p1000 / $p100")" \
        "<= 20, < 100ms" "$(verdict "$p1000 / $p100 <= 20 && $p1000 < 100")"
done
legacy=$(signature_figure "legacy check, whole" legacy)
ed25519=$(signature_figure "Ed25519 check" ed25519)
row "legacy signature check (us)" "$legacy" "Ed25519 check (us)" "$ed25519" \
    "$(calc %.1f "$legacy / $ed25519")" "" ""

# Cleaned up only now, after the timed runs (see above).
rm -rf "$roots"
