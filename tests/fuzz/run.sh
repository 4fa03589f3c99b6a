#!/bin/sh
# Builds the fuzz target with clang into $1 and fuzzes the pairing-file reader for $2 seconds,
# starting from the committed corpus (copied, so the run adds nothing to the source tree).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1
seconds=${2:-60}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$here/corpus" "$work/"
status=0
"$build/fuzz_pairingfile" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1 || status=$?
grep -E '^(Done|stat::number_of_executed_units)' "$work/log" || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/log"
    for f in "$work"/crash-* "$work"/timeout-* "$work"/leak-*; do
        [ -e "$f" ] && { echo "failing input $f:"; od -c "$f" | head -20; }
    done
    exit 1
fi
