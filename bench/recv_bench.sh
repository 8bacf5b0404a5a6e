#!/bin/sh
# Builds and runs the receiving worker's benchmark (see recv_bench.cpp). Arguments go to it,
# e.g. bench/recv_bench.sh --size-mib 2048. BUILD_DIR picks the build directory.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
ninja -C "$build" recv_bench gapsim dlog
exec "$build/bin/recv_bench" "$@"
