#!/bin/sh
# Builds the installer and its tests and runs the whole suite: a plain build, a build
# with AddressSanitizer and UndefinedBehaviorSanitizer, and the board's build under
# emulation; then a short pass of every fuzz target (FUZZ_SECONDS each, 60 by default;
# SKIP_FUZZ=1 leaves it out). Exits non-zero on any failure.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

. scripts/lib.sh
need_packages build-essential cmake zlib1g-dev libssl-dev googletest libgtest-dev pkg-config

jobs=$(nproc)

run_suite() {
    dir=$1; shift
    echo "== build $dir"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log"; exit 1; }
    cmake --build "$dir" -j "$jobs"
    echo "== test $dir"
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

mkdir -p build
run_suite build/plain
run_suite build/sanitize -DINSTALLER_SANITIZE=ON

if [ -x scripts/cross-test.sh ] && [ "${SKIP_CROSS:-0}" != 1 ]; then
    scripts/cross-test.sh
fi
if [ "${SKIP_FUZZ:-0}" != 1 ]; then
    scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
echo "== all tests passed"
