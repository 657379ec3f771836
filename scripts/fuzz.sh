#!/bin/sh
# Builds the libFuzzer targets with clang (build-fuzz/) and runs them.
#   scripts/fuzz.sh --short          each target replays its regressions and runs a fixed
#                                    number of inputs (used by scripts/test.sh); the inputs it
#                                    finds go to build-fuzz/corpus-short-<target>/, emptied
#                                    first, so the seeds in fuzz/corpus/ stay as they are
#   scripts/fuzz.sh --time SECONDS [target...]
#                                    each target (default: all) for that long; new corpus
#                                    entries go to build-fuzz/corpus-<target>/, crashes to
#                                    build-fuzz/findings/
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mode=${1:---short}
seconds=${2:-600}
[ $# -gt 0 ] && shift
[ "$mode" = "--time" ] && [ $# -gt 0 ] && shift

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVREL_FUZZ=ON >/dev/null
cmake --build build-fuzz

targets="$*"
if [ -z "$targets" ]; then
    targets=$(find build-fuzz/fuzz -maxdepth 1 -type f -perm -u+x -name 'fuzz_*' 2>/dev/null |
        sed 's|.*/fuzz_||' | sort)
fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
mkdir -p build-fuzz/findings
failed=0
for t in $targets; do
    bin="build-fuzz/fuzz/fuzz_$t"
    seeds="fuzz/corpus/$t"
    regress="fuzz/regressions/$t"
    if [ -d "$regress" ] && [ -n "$(ls -A "$regress" 2>/dev/null)" ]; then
        echo "fuzz: $t: replaying regressions"
        "$bin" "$regress"/* >/dev/null 2>&1 || { echo "fuzz: $t: a regression input fails"; "$bin" "$regress"/*; exit 1; }
    fi
    if [ "$mode" = "--short" ]; then
        # libFuzzer writes what it finds into its first folder: a fresh one in
        # the build tree, so that a test run leaves the sources as they were.
        work="build-fuzz/corpus-short-$t"
        rm -rf "$work"
        mkdir -p "$work" "$seeds"
        echo "fuzz: $t: up to 20000 runs or 30 s"
        if ! "$bin" -runs=20000 -max_total_time=30 -seed=1 -max_len=65536 -rss_limit_mb=2048 \
            -artifact_prefix=build-fuzz/findings/ "$work" "$seeds" >build-fuzz/last-$t.log 2>&1; then
            cat build-fuzz/last-$t.log; echo "fuzz: $t: FAILED"; exit 1
        fi
        tail -n 1 build-fuzz/last-$t.log
    else
        work="build-fuzz/corpus-$t"
        mkdir -p "$work" "$seeds"
        echo "fuzz: $t: $seconds s"
        status=0
        "$bin" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix=build-fuzz/findings/ "$work" "$seeds" >build-fuzz/last-$t.log 2>&1 || status=$?
        tail -n 12 build-fuzz/last-$t.log
        [ "$status" -eq 0 ] || { echo "fuzz: $t: FAILED (see build-fuzz/findings/)"; failed=1; }
    fi
done
exit $failed
