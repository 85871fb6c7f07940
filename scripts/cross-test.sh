#!/bin/sh
# The board's build: cross-builds static zlib and a cut-down libcrypto for 32-bit
# big-endian PowerPC (cached outside the clone), then the installer, pkgtool and the
# tests, statically linked, and runs the whole suite under qemu-ppc-static. Exits non-zero
# on any failure. Long logs stay in build/cross-logs/ and are shown only when a step fails.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
. scripts/lib.sh

started=$(date +%s)
jobs=$(nproc)
target=powerpc-linux-gnu
build=build/cross
logs=build/cross-logs
cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/installer-cross
apt_src_file=/etc/apt/sources.list.d/installer-cross-src.sources
work=""
as_root=""
[ "$(id -u)" = 0 ] || as_root=sudo

# libcrypto keeps what the installer uses: SHA-1, SHA-256 and Ed25519 (part of "ec")
# through EVP. The installer is single-threaded and never loads a configuration file.
openssl_options="no-shared no-pic no-module no-legacy no-engine no-dso no-threads no-async
 no-sock no-tests no-ui-console no-ssl no-tls no-dtls no-srp no-psk no-ocsp no-ct no-cms
 no-ts no-cmp no-rfc3779 no-comp no-aria no-bf no-blake2 no-camellia no-cast no-chacha
 no-poly1305 no-des no-idea no-md4 no-mdc2 no-rc2 no-rc4 no-rmd160 no-seed no-siphash
 no-siv no-sm2 no-sm3 no-sm4 no-whirlpool no-scrypt no-ocb no-gost no-dh no-dsa no-ec2m
 no-srtp no-nextprotoneg no-multiblock no-autoload-config no-ssl-trace no-filenames
 no-cmac no-deprecated no-makedepend -Os"
zlib_options="--static"
# Bump when the way the libraries are built changes in a way the options don't show.
recipe=1

say() { echo "== [$(($(date +%s) - started)) s] $*"; }

# Runs a command with its output in $logs/NAME.log; on failure shows the end of the log
# and stops the script.
run_logged() {
    name=$1
    shift
    set +e
    (
        set -e
        "$@"
    ) >"$logs/$name.log" 2>&1
    status=$?
    set -e
    [ "$status" = 0 ] && return 0
    echo "FAILED: $name (exit $status); last lines of $logs/$name.log:"
    tail -n 80 "$logs/$name.log"
    exit 1
}

cleanup() {
    $as_root rm -f "$apt_src_file"
    [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

apt_src() {
    $as_root apt-get -o Dir::Etc::SourceList="$apt_src_file" -o Dir::Etc::SourceParts=/nonexistent \
        -o APT::Get::List-Cleanup=0 "$@"
}

apt_cache_src() {
    apt-cache -o Dir::Etc::SourceList="$apt_src_file" -o Dir::Etc::SourceParts=/nonexistent "$@"
}

# Writes a deb-src entry for the release's main archive in the form of the machine's own
# deb822 sources file (same archive and key), so that apt-get source finds zlib and OpenSSL.
# Only the release itself: its security archive serves no sources.
add_source_entry() {
    codename=bookworm
    if [ -r /etc/os-release ]; then
        codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    fi
    uri=http://deb.debian.org/debian
    key=/usr/share/keyrings/debian-archive-keyring.gpg
    $as_root rm -f "$apt_src_file"
    found=$(awk -v suite="$codename" '
        FNR == 1 || /^[[:space:]]*$/ {
            if (hit && uri != "") exit
            hit = 0; uri = ""; key = ""
        }
        /^URIs:/ { uri = $2 }
        /^Signed-By:/ { key = $2 }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) hit = 1 }
        END { if (hit && uri != "") print uri, key }' /etc/apt/sources.list.d/*.sources 2>/dev/null)
    if [ -n "$found" ]; then
        uri=${found%% *}
        case ${found#* } in /*) key=${found#* } ;; esac
    fi
    $as_root tee "$apt_src_file" >/dev/null <<EOF
Types: deb-src
URIs: $uri
Suites: $codename
Components: main
Signed-By: $key
EOF
}

source_version() {
    apt_cache_src showsrc --only-source "$1" | sed -n 's/^Version: //p' | sort -V | tail -n 1
}

build_zlib() {
    cd "$work"/zlib-*/
    CHOST=$target CFLAGS=-O2 ./configure $zlib_options --prefix="$stage"
    make -j"$jobs" libz.a
    make install
}

build_openssl() {
    cd "$work"/openssl-*/
    # shellcheck disable=SC2086
    ./Configure linux-ppc --cross-compile-prefix=$target- --prefix="$stage" --libdir=lib \
        $openssl_options
    # Only libcrypto: the headers it generates first, then the library alone.
    make -j"$jobs" build_generated
    make -j"$jobs" libcrypto.a
    mkdir -p "$stage/include/openssl" "$stage/lib"
    cp include/openssl/*.h "$stage/include/openssl/"
    cp libcrypto.a "$stage/lib/"
}

fetch_sources() {
    cd "$work"
    apt_src source "zlib=$zlib_version" "openssl=$openssl_version"
}

mkdir -p "$logs"
say "cross: tools for $target"
run_logged packages need_packages g++-$target qemu-user-static dpkg-dev cmake make perl \
    googletest

say "cross: source versions of zlib and OpenSSL"
add_source_entry
run_logged apt-update apt_src update
zlib_version=$(source_version zlib)
openssl_version=$(source_version openssl)
if [ -z "$zlib_version" ] || [ -z "$openssl_version" ]; then
    echo "FAILED: no source package of zlib or openssl in $(sed -n 's/^URIs: //p' "$apt_src_file")"
    exit 1
fi
compiler=$($target-gcc --version | head -n 1)
key=$(printf '%s\n' "zlib $zlib_version $zlib_options" "openssl $openssl_version $openssl_options" \
    "$compiler" "recipe $recipe" | sha256sum | cut -c1-16)
prefix=$cache_root/$key

if [ -f "$prefix/versions" ]; then
    say "cross: cached zlib $zlib_version and OpenSSL $openssl_version in $prefix"
else
    say "cross: building zlib $zlib_version and OpenSSL $openssl_version (about 2 minutes)"
    mkdir -p "$cache_root"
    work=$(mktemp -d "${TMPDIR:-/tmp}/installer-cross.XXXXXX")
    stage=$work/stage
    run_logged fetch-sources fetch_sources
    run_logged zlib build_zlib
    run_logged openssl build_openssl
    printf 'zlib %s\nopenssl %s\ncompiler %s\nzlib options: %s\nopenssl options: %s\n' \
        "$zlib_version" "$openssl_version" "$compiler" "$zlib_options" \
        "$(echo $openssl_options)" >"$stage/versions"
    # The finished folder appears in one rename, so an interrupted build leaves no cache
    # entry that looks complete; a concurrent run that finished first wins.
    mv -T "$stage" "$prefix" 2>/dev/null || [ -f "$prefix/versions" ]
fi
$as_root rm -f "$apt_src_file"

# A libcrypto built with threads uses 64-bit atomics, which 32-bit PowerPC takes from
# libatomic.
atomic=OFF
if $target-nm "$prefix/lib/libcrypto.a" 2>/dev/null | grep -q ' U __atomic_'; then
    atomic=ON
fi

# Optimised for size as on the board; without debug information it also builds about a
# third faster than the native builds.
say "cross: building the installer, pkgtool and the tests in $build"
# A cache configured against other libraries (or by hand) starts afresh.
if [ -f "$build/CMakeCache.txt" ] &&
    ! grep -qxF "INSTALLER_CROSS_PREFIX:PATH=$prefix" "$build/CMakeCache.txt"; then
    rm -f "$build/CMakeCache.txt"
fi
run_logged configure cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/$target.cmake" \
    -DINSTALLER_CROSS_PREFIX="$prefix" -DINSTALLER_STATIC=ON -DINSTALLER_LINK_ATOMIC=$atomic \
    -DINSTALLER_LINK_MAP=ON -DCMAKE_BUILD_TYPE=MinSizeRel
run_logged build cmake --build "$build" -j "$jobs"
scripts/link-map-sizes.sh "$build/installer" "$build/installer.map" $target-strip

say "cross: running the suite under qemu-ppc-static"
set +e
ctest --test-dir "$build" -j "$jobs" --output-on-failure >"$logs/ctest.log" 2>&1
status=$?
set -e
if [ "$status" != 0 ]; then
    echo "FAILED: the suite under emulation (log: $logs/ctest.log):"
    grep -v -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$logs/ctest.log"
    exit 1
fi
grep -E 'tests passed|Total Test time' "$logs/ctest.log"
say "cross: passed"
