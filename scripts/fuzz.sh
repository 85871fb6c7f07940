#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each for SECONDS, one after another, starting from the committed seeds in
# fuzz/corpus/. Usage: scripts/fuzz.sh SECONDS [TARGET...]. What a run finds is kept in
# build/fuzz/run/<target>/ (corpus/ grows, artifacts/ holds crashing inputs); the exit
# status is non-zero when any target failed.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

. scripts/lib.sh
need_packages build-essential cmake zlib1g-dev libssl-dev clang libclang-rt-14-dev

seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
targets=${*:-package_reader install_stream manifest_load database_readers}
build=build/fuzz

mkdir -p "$build"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DINSTALLER_FUZZ=ON -DINSTALLER_TESTS=OFF >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
for t in $targets; do
    cmake --build "$build" -j "$(nproc)" --target "fuzz_$t"
done

# The targets' private roots are mounted on directories made here; a run that crashes
# leaves its (empty) one behind.
export TMPDIR="$here/$build/tmp"
# A small quarantine keeps the sanitizer within the memory limit on long runs.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=10}"
mkdir -p "$TMPDIR"
status=0
for t in $targets; do
    run="$build/run/$t"
    mkdir -p "$run/corpus" "$run/artifacts"
    cp fuzz/corpus/"$t"/* "$run/corpus/"
    echo "== fuzz $t for ${seconds}s"
    # Relative paths only: the targets that change root keep the working directory.
    if ! (cd "$run" && "$here/$build/fuzz/fuzz_$t" corpus -max_total_time="$seconds" \
            -rss_limit_mb=256 -malloc_limit_mb=64 -timeout=25 -close_fd_mask=1 \
            -print_final_stats=1 -artifact_prefix=artifacts/ >fuzz.log 2>&1); then
        echo "!! fuzz_$t failed; see $run/fuzz.log and $run/artifacts/"
        tail -n 40 "$run/fuzz.log"
        status=1
    else
        grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units)' "$run/fuzz.log" || true
    fi
    find "$TMPDIR" -mindepth 1 -maxdepth 1 -type d -empty -delete
done
exit $status
