#!/bin/sh
# Builds the fuzz targets with clang into $1 and runs target $3 (fuzz_pairingfile unless told)
# for $2 seconds, starting from its committed corpus (copied, so the run adds nothing to the
# source tree).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$1
seconds=${2:-60}
target=${3:-fuzz_pairingfile}
corpus=$here/corpus
[ "$target" = fuzz_pairingfile ] || corpus=$here/corpus-${target#fuzz_}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$corpus" "$work/corpus"
status=0
"$build/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1 || status=$?
grep -E '^(Done|stat::number_of_executed_units)' "$work/log" || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/log"
    for f in "$work"/crash-* "$work"/timeout-* "$work"/leak-*; do
        [ -e "$f" ] && { echo "failing input $f:"; od -c "$f" | head -20; }
    done
    exit 1
fi
