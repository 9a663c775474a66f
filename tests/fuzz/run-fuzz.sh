#!/bin/sh
# run-fuzz.sh SECONDS: builds the fuzz targets with clang in build-fuzz/ under the project root,
# runs the bitmap decoder's unit test under the same sanitizers, then fuzzes each target for
# SECONDS and prints its executions and findings:
#   fuzz_dib        our bitmap decoder (seeds: the decoder's unit-test bitmaps);
#   fuzz_clipboard  the clipboard reader's choice of format and its decoding;
#   fuzz_imagefile  the decoding of a dropped file, for every accepted file name;
#   fuzz_jxr        libjxr in-process (when built). libjxr is known to crash on damaged files;
#                   the program contains that in a child process, so its findings are reported
#                   but do not fail the run.
# The last three start from the hostile corpus of tests/hostile/make_corpus.py. Exits non-zero
# on a finding of the first three. Needs clang, libclang-rt-14-dev and python3.
set -eu

seconds=${1:?usage: run-fuzz.sh SECONDS}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build-fuzz
corpus=$build/fuzz-corpus
seeds=$build/fuzz-seeds
findings=$build/fuzz-findings

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DSTIQLET_FUZZ=ON >/dev/null
targets="fuzz_dib fuzz_clipboard fuzz_imagefile"
if grep -q 'build tests/fuzz/fuzz_jxr:' "$build/build.ninja"; then
    targets="$targets fuzz_jxr"
fi
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target tst_dibdecoder_sanitized $targets

"$build/tests/fuzz/tst_dibdecoder_sanitized" -silent
rm -rf "$seeds"
mkdir -p "$seeds"
"$build/tests/fuzz/tst_dibdecoder_sanitized" --write-seeds "$seeds/fuzz_dib"
python3 "$root/tests/hostile/make_corpus.py" --fuzz-seeds clipboard "$seeds/fuzz_clipboard"
python3 "$root/tests/hostile/make_corpus.py" --fuzz-seeds imagefile "$seeds/fuzz_imagefile"
python3 "$root/tests/hostile/make_corpus.py" "$seeds/hostile"
mkdir -p "$seeds/fuzz_jxr"
cp "$seeds"/hostile/*.hdp "$seeds/fuzz_jxr/" 2>/dev/null || true

failed=0
for target in $targets; do
    mkdir -p "$corpus/$target" "$findings/$target"
    log=$build/fuzz-$target.log
    status=0
    # Pictures up to the program's limit (1 GiB of pixels) are legitimate: allow room for them.
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$findings/$target/" \
        "$corpus/$target" "$seeds/$target" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    coverage=$(sed -n 's/^#[0-9]*[[:space:]]*DONE[[:space:]]*\(cov: [0-9]* ft: [0-9]*\).*/\1/p' "$log")
    echo "$target: ${runs:-?} executions in $seconds s (${coverage:-no coverage figures})"
    found=$(ls "$findings/$target")
    if [ -z "$found" ] && [ "$status" -eq 0 ]; then
        echo "$target: no findings"
        continue
    fi
    if [ "$target" = fuzz_jxr ]; then
        # One line per crash inside libjxr: where it crashed. The full reports stay in the log.
        for crash in $found; do
            where=$(sed -n 's/^SUMMARY: AddressSanitizer: \([A-Za-z-]*\).* in \(.*\)$/\1 in \2/p' \
                "$log" | tail -n 1)
            echo "fuzz_jxr: contained libjxr crash ${where:-(see the log)}: $findings/$target/$crash"
        done
        echo "fuzz_jxr: libjxr's own faults, which the program contains in a child process" \
             "(full reports in $log)"
        continue
    fi
    echo "$target: findings in $findings/$target (exit status $status, log $log):"
    ls -l "$findings/$target"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" || true
    failed=1
done
exit $failed
