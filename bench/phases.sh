#!/bin/sh
# Where an install or upgrade run spends its time: staging (reading, checking, inflating and
# writing temporary files), the flush before the journal, the commit (folders, renames,
# copies) and the flush after it, for one or more installer binaries side by side.
#
# usage: bench/phases.sh install|upgrade PAYLOAD ROUNDS INSTALLER...
#
# PAYLOAD names a payload that bench/run.sh prepared in bench/out/ (40, 400 or small; the
# small one has no version 1.1 to upgrade to). Each round makes one fresh root per binary
# (version 1.0 installed first for an upgrade, by the first binary), then runs the binaries
# in turn under strace, which stops the run only at the two flushes. Roots are kept in
# bench/out/phases/ (deleting them right before timing slows the next runs: see
# bench/run.sh on deleted inodes); remove that folder when done.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/lib.sh"
if [ $# -lt 4 ] || { [ "$1" != install ] && [ "$1" != upgrade ]; }; then
    echo "usage: bench/phases.sh install|upgrade PAYLOAD ROUNDS INSTALLER..." >&2
    exit 2
fi
kind=$1
payload=$here/bench/out/payload-$2
rounds=$3
shift 3
[ -f "$payload/done" ] || { echo "no payload $payload: run bench/run.sh first" >&2; exit 1; }
base=$here/bench/out/phases/$(date +%s)
mkdir -p "$base"
chattr +T "$base" 2>/dev/null || true

round=1
while [ "$round" -le "$rounds" ]; do
    n=0
    for _ in "$@"; do
        n=$((n + 1))
        r=$base/$round-$n
        device_root "$r"
        ln "$payload/bench-1.0.npk" "$r/rw/pckg/.download/"
        if [ "$kind" = upgrade ]; then
            "$1" -q -r "$r"
            rm "$r/rw/pckg/.download/bench-1.0.npk"
            ln "$payload/bench-1.1.npk" "$r/rw/pckg/.download/"
        fi
    done
    sync
    cat "$payload"/bench-*.npk >/dev/null
    n=0
    for binary in "$@"; do
        n=$((n + 1))
        trace=$base/$round-$n.trace
        strace -f --seccomp-bpf -ttt -T -e trace=syncfs,execve,exit_group -o "$trace" \
            "$binary" -q -r "$base/$round-$n"
        awk -v name="$binary" '
            / execve\(/ { start = $2 }
            / syncfs\(/ { n++; at[n] = $2; took[n] = substr($NF, 2) + 0 }
            / exit_group\(/ { end = $2 }
            END {
                printf "%s: staging %.3f s, flush %.3f s, commit %.3f s, flush %.3f s, all %.3f s\n",
                    name, at[1] - start, took[1], at[2] - at[1] - took[1], took[2], end - start
            }' "$trace"
    done
    round=$((round + 1))
done
