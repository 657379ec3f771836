#!/bin/sh
# Sets everything up and runs every test: the normal build, the whole suite
# under AddressSanitizer + UndefinedBehaviorSanitizer (leak checking on), the
# threaded tests under ThreadSanitizer, and short fuzz runs. Any failure or
# sanitizer finding fails the script.
#
# Usage: scripts/test.sh [--repeat N] [--jobs J]
#   --repeat N  runs every test of each build up to N times, stopping at the
#               first failure (ctest --repeat until-fail:N): a hunt for flaky
#               tests. The default is one run.
#   --jobs J    tests run at once (default: the number of cores; a hunt under
#               load uses twice that).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)
repeat=1
while [ $# -gt 0 ]; do
    case "$1" in
        --repeat) repeat=${2:?--repeat wants a count}; shift 2 ;;
        --jobs) jobs=${2:?--jobs wants a count}; shift 2 ;;
        *) echo "usage: scripts/test.sh [--repeat N] [--jobs J]" >&2; exit 2 ;;
    esac
done
case "$repeat$jobs" in
    *[!0-9]*) echo "scripts/test.sh: --repeat and --jobs want whole numbers" >&2; exit 2 ;;
esac
start=$(date +%s)

scripts/setup.sh --no-build

stage() { echo "=== $* ($(($(date +%s) - start)) s)"; }

stage "normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
stage "tests"
ctest --test-dir build -j "$jobs" --repeat "until-fail:$repeat" --output-on-failure --timeout 600

stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKAVREL_SANITIZE=address \
    -DKAVREL_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan
stage "tests under ASan/UBSan"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1" \
LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    ctest --test-dir build-asan -j "$jobs" --repeat "until-fail:$repeat" --output-on-failure --timeout 900

stage "ThreadSanitizer build"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKAVREL_SANITIZE=thread \
    -DKAVREL_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan
stage "threaded tests under TSan"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp" \
    ctest --test-dir build-tsan -j "$jobs" --repeat "until-fail:$repeat" -L threaded --output-on-failure --timeout 900

if [ -x scripts/fuzz.sh ]; then
    stage "short fuzz runs"
    scripts/fuzz.sh --short
fi

stage "all tests passed"
