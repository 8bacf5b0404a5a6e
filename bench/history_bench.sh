#!/bin/sh
# Builds and runs the history page's query benchmark (see history_bench.cpp). Arguments go to it,
# e.g. bench/history_bench.sh --events 200000. BUILD_DIR picks the build directory.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
ninja -C "$build" history_bench
exec "$build/bin/history_bench" "$@"
