#!/bin/sh
# Benchmarks the installer beside the package managers users know (apk-tools, dpkg) and
# tar, on the same payloads in the same run, and prints tables of medians with ratios.
#
# usage: bench/run.sh [--quick] [RUNS]    (RUNS default 5; every figure is the median of
#                                          its runs)
#
# --quick, or BENCH_QUICK=1 in the environment, leaves out the payload of 400 MiB.
# BENCH_APK names the apk binary (default: shared/peers/apk beside the work tree).
#
# Payloads: 40 MiB of files from /usr/share and /usr/lib (about 2,100 files), ten times as
# much (about 18,000 files), and 2,000 small files of 3 to 8 KiB. Each is installed into
# a fresh root; the first two are also upgraded: a root that holds version 1.0 (installed
# untimed) is given version 1.1, in which every file differs in its last bytes, so that
# an upgrade writes every file anew. Every timed run is charged one sync() after it, and
# is checked afterwards: the files of the version installed are in place.
#
# Runs as root (dpkg --root, the installer's change of root). Prepared inputs (payloads,
# packages, the database of the --show row) are kept in bench/out/ and reused; delete
# bench/out/ to make them anew. Within a round the tools take turns on each figure, and
# the first tool changes from round to round, so that a busy moment of the machine falls
# on all of them alike.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. scripts/lib.sh

quick=${BENCH_QUICK:-0}
[ "$quick" = 0 ] || quick=1
if [ "${1:-}" = --quick ]; then
    quick=1
    shift
fi
runs=${1:-5}
case $runs in
    '' | *[!0-9]* | 0)
        echo "usage: bench/run.sh [--quick] [RUNS]" >&2
        exit 2
        ;;
esac
if [ "$(id -u)" != 0 ]; then
    echo "bench/run.sh runs as root (dpkg --root, the installer's change of root)" >&2
    exit 1
fi
apk=${BENCH_APK:-$(cd "$here/.." && pwd)/shared/peers/apk}
if [ ! -x "$apk" ]; then
    echo "bench/run.sh: no apk-tools binary at $apk (set BENCH_APK)" >&2
    exit 1
fi
started=$(date +%s)
out=$here/bench/out
roots=$out/roots
samples=$out/samples
release=$here/build/release
dynamic=$here/build/release-dynamic

need_packages build-essential cmake zlib1g-dev libssl-dev dpkg-dev python3 gzip tar e2fsprogs

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
payload_py=$here/bench/payload.py

# The options every apk run takes: a root of its own, no network, unsigned packages, no
# scripts, no cache.
apk_options="--arch x86_64 --no-network --allow-untrusted --no-scripts --force-no-chroot --no-cache"

# --- the file system ---------------------------------------------------------------------
# ext4 without a journal passes over inodes deleted in the last minute when it allocates
# new ones, in the block group where it looks for them; a run that allocates right after
# a bulk deletion in the same groups is slowed (tar of the 400 MiB payload by half and
# more). An upgrade removes every old file, so:
#  1. Every root to upgrade lives directly in a round directory marked as the top of a
#     hierarchy (chattr +T), so that ext4 gives each one block groups of its own: the old
#     files one tool's upgrade removes are in groups no other tool allocates in. The roots
#     of fresh installs, which remove nothing, share one more such directory, "fresh".
#  2. Nothing else is removed while timed runs go on. A round's roots stay to the end while
#     the disk keeps 16 GiB free; with less, they are removed after the round and the next
#     round's timed runs wait until that is a minute old (its set-up mostly fills the time).
#     A minute is not always enough: once a run allocates in an inode table block, the
#     deleted inodes of that block count as recent for six minutes, and a tool that creates
#     many files in one folder (the installer's temporaries of a fresh install, in the
#     nearest existing folder) meets them all.
settle_seconds=70
deleted_at=0

# settle: waits until the deletions of deleted_at are a minute old.
settle() {
    left=$((deleted_at + settle_seconds - $(date +%s)))
    if [ $left -gt 0 ]; then
        echo "   (waiting ${left}s for the deleted inodes to settle)" >&2
        sleep $left
    fi
}

# removed PATH...: removes the paths and marks the time.
removed() {
    rm -rf "$@"
    sync
    deleted_at=$(date +%s)
}

# --- inputs ------------------------------------------------------------------------------
build_time=1700000000

# The layout of bench/out/ before the upgrade and apk rows.
[ -d "$out/payload" ] && removed "$out/payload"

# pack DIR VERSION: the tree DIR/tree-VERSION packed for each tool.
pack() {
    tree=$1/tree-$2
    "$pkgtool" build -o "$1/bench-$2.npk" --name bench --version "$2" \
        --build-time $build_time "$tree" >/dev/null
    tar -czf "$1/bench-$2.tar.gz" -C "$tree" .
    # The .deb is built from links to the tree, kept after (nothing is deleted here).
    deb=$1/deb-$2
    mkdir -p "$deb/DEBIAN"
    cp -al "$tree/." "$deb/"
    printf '%s\n' "Package: bench" "Version: $2" "Architecture: all" \
        "Maintainer: Bench <bench@example.invalid>" "Description: benchmark payload" \
        >"$deb/DEBIAN/control"
    dpkg-deb --root-owner-group -Zgzip -b "$deb" "$1/bench-$2.deb" >/dev/null
    "$apk" mkpkg --compression deflate --info name:bench --info "version:$2-r0" \
        --info arch:noarch --info description:bench --info license:none \
        --info origin:bench --files "$tree" --output "$1/bench-$2.apk"
}

# prepare NAME KIND [ARG]: the payload NAME from "payload.py KIND TREE [ARG]", packed at
# version 1.0, and at 1.1 too unless it is the small-file payload (installed only).
prepare() {
    dir=$out/payload-$1
    [ -f "$dir/done" ] && return 0
    echo "== preparing the payload $1" >&2
    [ -d "$dir" ] && removed "$dir"
    mkdir -p "$dir"
    python3 "$payload_py" "$2" "$dir/tree-1.0" ${3:+"$3"} >"$dir/size"
    pack "$dir" 1.0
    if [ "$1" != small ]; then
        python3 "$payload_py" changed "$dir/tree-1.0" "$dir/tree-1.1"
        pack "$dir" 1.1
    fi
    touch "$dir/done"
}

sizes="40"
[ $quick = 1 ] || sizes="40 400"
for size in $sizes; do
    prepare $size files $size
done
prepare small small

# One incompressible file of 4 MiB, one of 256 MiB, each in a package of its own.
for mib in 4 256; do
    if [ ! -f "$out/blob$mib/done" ]; then
        echo "== preparing the $mib MiB package" >&2
        [ -d "$out/blob$mib" ] && removed "$out/blob$mib"
        mkdir -p "$out/blob$mib/tree"
        python3 "$payload_py" blob "$out/blob$mib/tree/blob" $mib
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
    [ -d "$showdb" ] && removed "$showdb"
    mkdir -p "$showdb/root/flash/var/pdb" "$showdb/root/ram" "$showdb/tree" "$showdb/dpkg"
    python3 "$payload_py" blob "$showdb/tree/data" 1
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

# --- roots -------------------------------------------------------------------------------
[ -d "$roots" ] && removed "$roots"
rm -rf "$samples"
mkdir -p "$roots" "$samples"

# fresh_root TOOL ROOT: an empty root as TOOL needs it.
fresh_root() {
    case $1 in
        installer) device_root "$2" ;;
        apk)
            # shellcheck disable=SC2086
            "$apk" --root "$2" $apk_options --initdb add >/dev/null
            ;;
        dpkg)
            mkdir -p "$2/var/lib/dpkg/info" "$2/var/lib/dpkg/updates" \
                "$2/var/lib/dpkg/triggers" "$2/var/log"
            : >"$2/var/lib/dpkg/status"
            : >"$2/var/lib/dpkg/available"
            ;;
        tar)
            mkdir -p "$2"
            ;;
    esac
}

# installed_tree TOOL ROOT: where TOOL puts the payload's usr/ below ROOT.
installed_tree() {
    if [ "$1" = installer ]; then
        echo "$2/flash/usr"
    else
        echo "$2/usr"
    fi
}

# install_untimed TOOL ROOT PAYLOAD: version 1.0 of the payload installed into ROOT, as the
# starting point of an upgrade. dpkg skips its syncs here; the sync after the set-up writes
# the same files.
install_untimed() {
    p=$out/payload-$3
    case $1 in
        installer)
            ln "$p/bench-1.0.npk" "$2/rw/pckg/.download/bench-1.0.npk"
            "$installer" -q -r "$2"
            # The package file stays in the download folder; the upgrade finds only 1.1.
            rm "$2/rw/pckg/.download/bench-1.0.npk"
            ;;
        apk)
            # shellcheck disable=SC2086
            "$apk" --root "$2" $apk_options add "$p/bench-1.0.apk" >/dev/null
            ;;
        dpkg)
            dpkg --root="$2" --force-unsafe-io --path-include='*' -i "$p/bench-1.0.deb" \
                >/dev/null
            ;;
        tar) tar -xzf "$p/bench-1.0.tar.gz" -C "$2" ;;
    esac
    python3 "$payload_py" check "$(installed_tree "$1" "$2")" "$p/tree-1.0/usr"
}

# timed FIGURE TOOL ROOT PAYLOAD VERSION: one timed install of VERSION of the payload into
# ROOT by TOOL, charged one sync() and checked after; appended to the samples of
# FIGURE.TOOL. The package file is read once before, so that every tool starts from a
# warm page cache.
timed() {
    p=$out/payload-$4
    warm="cat '$p/bench-$5.$(package_suffix "$2")' >/dev/null"
    check="python3 '$payload_py' check '$(installed_tree "$2" "$3")' '$p/tree-$5/usr'"
    case $2 in
        installer)
            "$measure" --runs 1 --sync --check "$check" \
                --setup "ln '$p/bench-$5.npk' '$3/rw/pckg/.download/bench-$5.npk' && $warm" \
                -- "$installer" -r "$3"
            ;;
        apk)
            # shellcheck disable=SC2086
            "$measure" --runs 1 --sync --check "$check" --setup "$warm" \
                -- "$apk" --root "$3" $apk_options add "$p/bench-$5.apk"
            ;;
        dpkg)
            "$measure" --runs 1 --sync --check "$check" --setup "$warm" \
                -- dpkg --root="$3" --refuse-unsafe-io --path-include='*' -i "$p/bench-$5.deb"
            ;;
        tar)
            "$measure" --runs 1 --sync --check "$check" --setup "$warm" \
                -- tar -xzf "$p/bench-$5.tar.gz" -C "$3"
            ;;
    esac >>"$samples/$1.$2"
}

package_suffix() {
    case $1 in
        installer) echo npk ;;
        apk) echo apk ;;
        dpkg) echo deb ;;
        tar) echo tar.gz ;;
    esac
}

# sample NAME [measure options] -- COMMAND...: one timed run, appended to the samples of NAME.
sample() {
    name=$1
    shift
    "$measure" --runs 1 "$@" >>"$samples/$name"
}

# root_of FIGURE TOOL: the root of one timed run in round directory $r.
root_of() {
    case $1 in
        upgrade*) echo "$r/$1-$2" ;;
        *) echo "$r/fresh/$1-$2" ;;
    esac
}

tools="installer apk dpkg tar"
install_figures="install40 installsmall"
upgrade_figures="upgrade40"
if [ $quick = 0 ]; then
    install_figures="$install_figures install400"
    upgrade_figures="$upgrade_figures upgrade400"
fi

# --- timed runs --------------------------------------------------------------------------
load_before=$(cut -d' ' -f1 /proc/loadavg)
order=$tools
round=1
while [ $round -le "$runs" ]; do
    echo "== round $round of $runs ($order)" >&2
    r=$roots/$round
    mkdir -p "$r"
    chattr +T "$r" 2>/dev/null || true
    mkdir "$r/fresh"

    # Untimed: the roots, and version 1.0 in the roots to upgrade.
    for figure in $install_figures $upgrade_figures; do
        for tool in $order; do
            fresh_root $tool "$(root_of $figure $tool)"
        done
    done
    for figure in $upgrade_figures; do
        for tool in $order; do
            install_untimed $tool "$(root_of $figure $tool)" "${figure#upgrade}"
        done
    done
    fresh_root installer "$r/fresh/stdin"
    for mib in 4 256; do
        for link in static dynamic; do
            fresh_root installer "$r/fresh/blob$mib-$link"
            ln "$out/blob$mib/blob.npk" "$r/fresh/blob$mib-$link/rw/pckg/.download/blob.npk"
        done
    done
    sync
    settle

    for figure in $install_figures; do
        for tool in $order; do
            timed $figure $tool "$(root_of $figure $tool)" "${figure#install}" 1.0
        done
    done
    for figure in $upgrade_figures; do
        for tool in $order; do
            timed $figure $tool "$(root_of $figure $tool)" "${figure#upgrade}" 1.1
        done
    done

    p=$out/payload-40
    sample install_stdin --sync \
        --check "python3 '$payload_py' check '$r/fresh/stdin/flash/usr' '$p/tree-1.0/usr'" \
        --setup "cat '$p/bench-1.0.npk' >/dev/null" \
        -- sh -c "cat '$p/bench-1.0.npk' | '$installer' -r '$r/fresh/stdin' -"
    for mib in 4 256; do
        for link in static dynamic; do
            binary=$installer
            [ $link = dynamic ] && binary=$installer_dynamic
            root=$r/fresh/blob$mib-$link
            sample "blob${mib}_$link" --sync \
                --check "cmp -s '$out/blob$mib/tree/blob' '$root/flash/blob'" \
                -- "$binary" -r "$root"
        done
    done

    # Without room to keep them, the roots go now (see "the file system" above); what
    # follows allocates no inodes, and the next round's set-up runs while the deletions
    # settle.
    if [ "$(df -Pk "$roots" | awk 'NR == 2 { print $4 }')" -lt $((16 * 1024 * 1024)) ]; then
        removed "$r"
    fi

    for _ in 1 2 3 4 5; do
        sample show -- "$installer" -r "$showdb/root" --show
        sample show_dynamic -- "$installer_dynamic" -r "$showdb/root" --show
        sample dpkg_query -- dpkg-query --admindir="$showdb/dpkg" -l
    done
    "$release/bench/planning_bench" >"$samples/planning.$round"
    "$release/bench/signature_bench" 500 >"$samples/signature.$round"

    # shellcheck disable=SC2086
    set -- $order
    first=$1
    shift
    order="$* $first"
    round=$((round + 1))
done
# The table lists every package of the database: 300, and a heading of two lines.
shown=$("$installer" -r "$showdb/root" --show | wc -l)
[ "$shown" -eq 302 ] || { echo "--show listed $((shown - 2)) packages, not 300" >&2; exit 1; }

load_after=$(cut -d' ' -f1 /proc/loadavg)
rm -rf "$roots"

# --- tables ------------------------------------------------------------------------------
# median FILE COLUMN
median() {
    sort -g -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

calc() {
    awk "BEGIN { printf \"$1\", $2 }"
}

# spread FILE: the longest of the times in FILE over the shortest
spread() {
    awk 'NR == 1 || $1 < lo { lo = $1 } NR == 1 || $1 > hi { hi = $1 }
        END { printf "%.2f", hi / lo }' "$1"
}

# verdict CONDITION (an awk expression): "met" or "MISSED"
verdict() {
    awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"
}

# figure_label FIGURE
figure_label() {
    case $1 in
        install40) echo "install, 40 MiB" ;;
        upgrade40) echo "upgrade 1.0 to 1.1, 40 MiB" ;;
        install400) echo "install, 400 MiB" ;;
        upgrade400) echo "upgrade 1.0 to 1.1, 400 MiB" ;;
        installsmall) echo "install, small files" ;;
    esac
}

# wide LABEL INSTALLER APK DPKG TAR I/APK I/DPKG I/TAR TARGETS
wide() {
    printf '%-30s %10s %10s %10s %10s %7s %7s %7s   %s\n' "$@"
}

# ratio A B: A / B to two places
ratio() {
    calc %.2f "$1 / $2"
}

figures="install40 upgrade40"
[ $quick = 1 ] || figures="$figures install400 upgrade400"
figures="$figures installsmall"

read -r files40 bytes40 <"$out/payload-40/size"
read -r files_small bytes_small <"$out/payload-small/size"
if [ $quick = 0 ]; then
    read -r files400 bytes400 <"$out/payload-400/size"
fi

echo
printf 'Payloads: 40 MiB: %d files, %.1f MiB' "$files40" "$(calc %.2f "$bytes40 / 1048576")"
[ $quick = 1 ] || printf '; 400 MiB: %d files, %.1f MiB' "$files400" \
    "$(calc %.2f "$bytes400 / 1048576")"
printf '; small files: %d files, %.1f MiB.\n' "$files_small" \
    "$(calc %.2f "$bytes_small / 1048576")"
[ $quick = 1 ] && echo "Quick run: the 400 MiB payload left out."
printf 'Median of %d runs. Every run is charged one sync() after it. The installer is the\n' \
    "$runs"
echo "release build linked as the board links it (static), as an upgrade run (-r ROOT);"
echo "apk-tools $("$apk" --version | awk '{ print $2 }' | tr -d ,) add; dpkg -i --refuse-unsafe-io (each file synced); tar -xzf."
echo "Upgrade: version 1.1, every file changed in its last bytes, over 1.0."
printf 'Machine: %s processors, load average %s before the timed runs, %s after.\n' \
    "$(nproc)" "$load_before" "$load_after"

# One table per column of the samples: 1 wall time, 2 peak RSS, 3 processor time.
for column in 1 3 2; do
    echo
    format=%.3f
    case $column in
        1) heading="time (s)" ;;
        3) heading="processor time (s)" ;;
        2) heading="peak RSS (KiB)" format=%.0f ;;
    esac
    wide "$heading" installer apk-tools dpkg tar i/apk i/dpkg i/tar targets
    wide "$(echo "$heading" | tr '[:print:]' '-')" --------- --------- ---- --- ----- \
        ------ ----- -------
    # shellcheck disable=SC2154
    for figure in $figures; do
        for tool in $tools; do
            eval "v_$tool=\$(calc $format \"\$(median '$samples/$figure.$tool' $column)\")"
        done
        to_apk=$(ratio "$v_installer" "$v_apk")
        to_dpkg=$(ratio "$v_installer" "$v_dpkg")
        to_tar=$(ratio "$v_installer" "$v_tar")
        targets=""
        if [ $column = 1 ]; then
            targets="i/apk < 1.00 $(verdict "$v_installer < $v_apk")"
            targets="$targets, i/dpkg <= 0.50 $(verdict "$v_installer <= 0.5 * $v_dpkg")"
            [ $figure = installsmall ] &&
                targets="$targets, i/tar <= 1.25 $(verdict "$v_installer <= 1.25 * $v_tar")"
        elif [ $column = 2 ]; then
            case $figure in
                *400) targets="i/dpkg <= 1.00 $(verdict "$v_installer <= $v_dpkg")" ;;
            esac
        fi
        wide "$(figure_label $figure)" "$v_installer" "$v_apk" "$v_dpkg" "$v_tar" \
            "$to_apk" "$to_dpkg" "$to_tar" "$targets"
    done
done

# How far apart the runs of one figure were: a wide spread says the machine was busy.
echo
wide "time, slowest / fastest run" installer apk-tools dpkg tar "" "" "" ""
wide "---------------------------" --------- --------- ---- --- "" "" "" ""
for figure in $figures; do
    wide "$(figure_label $figure)" "$(spread "$samples/$figure.installer")" \
        "$(spread "$samples/$figure.apk")" "$(spread "$samples/$figure.dpkg")" \
        "$(spread "$samples/$figure.tar")" "" "" "" ""
done

if [ $quick = 0 ]; then
    echo
    for kind in install upgrade; do
        rss40=$(median "$samples/${kind}40.installer" 2)
        rss400=$(median "$samples/${kind}400.installer" 2)
        printf 'Installer peak RSS growth per file, %s: %s KiB per file (%s KiB at %d files, %s KiB at %d)\n' \
            "$kind" "$(calc %.3f "($rss400 - $rss40) / ($files400 - $files40)")" \
            "$rss40" "$files40" "$rss400" "$files400"
    done
fi

# row LABEL VALUE REFERENCE REFVALUE RATIO TARGET VERDICT
row() {
    printf '%-34s %10s   %-28s %10s %8s   %-15s %s\n' "$@"
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

stdin=$(median "$samples/install_stdin" 1)
install40=$(median "$samples/install40.installer" 1)
rss_dpkg40=$(median "$samples/install40.dpkg" 2)
show=$(calc %.1f "$(median "$samples/show" 1) * 1000")
show_dynamic=$(calc %.1f "$(median "$samples/show_dynamic" 1) * 1000")
dpkg_query=$(calc %.1f "$(median "$samples/dpkg_query" 1) * 1000")

echo
row "figure" "installer" "reference" "value" "ratio" "target" ""
row "------" "---------" "---------" "-----" "-----" "------" ""
row 'install, "-" from a pipe, 40 MiB (s)' "$stdin" "upgrade run" "$install40" \
    "$(ratio "$stdin" "$install40")" "" ""
for link in static dynamic; do
    rss4=$(median "$samples/blob4_$link" 2)
    rss256=$(median "$samples/blob256_$link" 2)
    suffix=""
    [ $link = dynamic ] && suffix=", dynamic"
    row "peak RSS, 4 MiB package$suffix" "$rss4" "dpkg, 40 MiB payload" "$rss_dpkg40" \
        "$(ratio "$rss4" "$rss_dpkg40")" "<= 1.00" "$(verdict "$rss4 <= $rss_dpkg40")"
    row "peak RSS, 256 MiB package$suffix" "$rss256" "4 MiB package" "$rss4" \
        "$(calc %+d "$rss256 - $rss4")" "< +256 KiB" "$(verdict "$rss256 - $rss4 < 256")"
done
row "install, 4 MiB package (s)" "$(median "$samples/blob4_static" 1)" "" "" "" "" ""
row "install, 256 MiB package (s)" "$(median "$samples/blob256_static" 1)" "" "" "" "" ""
row "--show, 300 packages (ms)" "$show" "dpkg-query -l, 300 pkgs" "$dpkg_query" \
    "$(ratio "$show" "$dpkg_query")" "< 50 ms" "$(verdict "$show < 50")"
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
echo
echo "The run took $((($(date +%s) - started + 30) / 60)) min."
