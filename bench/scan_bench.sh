#!/bin/sh
# Builds and runs the scanner's benchmark (see scan_bench.cpp). Arguments go to it, e.g.
# bench/scan_bench.sh --files 100000 --idle-seconds 30. BUILD_DIR picks the build directory.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
ninja -C "$build" scan_bench
exec "$build/bin/scan_bench" "$@"
