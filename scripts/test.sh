#!/usr/bin/env bash
# Builds and runs every test: once normally (warnings as errors), once under ASan+UBSan, and the
# threaded tests once more under ThreadSanitizer. Ends with CTest's own summary. The end-to-end
# tests start the real gapclient and gapsim of the build they belong to, so the clients run under
# each sanitizer as well, with the options below.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
root=$PWD
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

configure() {   # configure DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DWERROR=ON "$@" > "$dir.cmake.log" 2>&1 || { cat "$dir.cmake.log"; exit 1; }
}
build() {   # build DIR [cmake options...]
  configure "$@"
  ninja -C "$1" -j "$jobs"
}

mkdir -p build
# Under ThreadSanitizer only the threaded tests run, so only they are built (a test's target has
# the test's name; its programs come along as dependencies: the two-client test brings gapclient
# and gapsim, which then run under ThreadSanitizer too). ThreadSanitizer's own exit code does not
# decide a test's result: scripts/tsan_check.sh collects every report, those of the programs the
# tests start included, and fails the run on any that scripts/tsan_reports.py does not tolerate (its
# header says which); a test that fails for any other reason still fails CTest, and the run. The
# canary's cases must fail: each is a planted race that must stay visible through the same path.
configure build/test-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=thread
threaded=$(cd build/test-tsan && ctest -N -L threaded | sed -n 's/^ *Test *#[0-9]*: *//p')
# A test that runs another test's program under other conditions has no target of its own.
targets=$(ninja -C build/test-tsan -t targets all | sed -n 's/^\([^/: ]*\): phony$/\1/p')
threaded=$(comm -12 <(tr ' ' '\n' <<< "$threaded" | sort -u) <(sort -u <<< "$targets"))
ninja -C build/test-tsan -j "$jobs" $threaded tsan_canary
(cd build/test-tsan && bash "$root/scripts/tsan_check.sh" "$root/build/test-tsan/tsan-reports" \
  ctest --output-on-failure -j "$jobs" -L 'threaded|canary')

build build/test-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined
(cd build/test-asan && ctest --output-on-failure -j "$jobs")

# The parsers that read bytes from the gap, fuzzed for a bounded time each (clang's libFuzzer);
# a crash or a broken invariant fails the run and leaves its input in build/fuzz-artifacts.
fuzzers="fuzz_confdata fuzz_keyinfo fuzz_databuff fuzz_recvstream"
CC=clang CXX=clang++ configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON
ninja -C build/fuzz -j "$jobs" $fuzzers
mkdir -p build/fuzz-artifacts
for fuzzer in $fuzzers; do
  mkdir -p "build/fuzz-corpus/$fuzzer"
  build/fuzz/bin/$fuzzer -max_total_time=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix=build/fuzz-artifacts/ "build/fuzz-corpus/$fuzzer" "fuzz/corpus/$fuzzer" \
    > "build/fuzz/$fuzzer.log" 2>&1 || { tail -n 60 "build/fuzz/$fuzzer.log"; exit 1; }
  echo "$fuzzer: $(grep -E '^#[0-9]+[[:space:]]+DONE' "build/fuzz/$fuzzer.log")"
done

build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd build/test && ctest --output-on-failure -j "$jobs"
