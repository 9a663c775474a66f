#!/bin/sh
# run-fuzz.sh SECONDS: builds the bitmap decoder's fuzz target with clang in build-fuzz/ under
# the project root, runs the decoder's unit test under the same sanitizers, fuzzes for SECONDS
# from the unit test's bitmaps, and prints the executions and findings. Exits non-zero on a
# finding. Needs clang and libclang-rt-14-dev.
set -eu

seconds=${1:?usage: run-fuzz.sh SECONDS}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build-fuzz
corpus=$build/fuzz-corpus
seeds=$build/fuzz-seeds
findings=$build/fuzz-findings

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DSTIQLET_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target fuzz_dib tst_dibdecoder_sanitized

"$build/tests/fuzz/tst_dibdecoder_sanitized" -silent
rm -rf "$seeds"
"$build/tests/fuzz/tst_dibdecoder_sanitized" --write-seeds "$seeds"
mkdir -p "$corpus" "$findings"

log=$build/fuzz.log
status=0
"$build/tests/fuzz/fuzz_dib" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" "$seeds" >"$log" 2>&1 || status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
coverage=$(sed -n 's/^#[0-9]*[[:space:]]*DONE[[:space:]]*\(cov: [0-9]* ft: [0-9]*\).*/\1/p' "$log")
echo "fuzz_dib: ${runs:-?} executions in $seconds s (${coverage:-no coverage figures})"
found=$(ls "$findings")
if [ -n "$found" ] || [ "$status" -ne 0 ]; then
    echo "fuzz_dib: findings in $findings (exit status $status, log $log):"
    ls -l "$findings"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" || true
    exit 1
fi
echo "fuzz_dib: no findings"
