#!/bin/sh
# Builds and runs the sending worker's benchmark (see sender_bench.cpp). Arguments go to it,
# e.g. bench/sender_bench.sh --size-mib 2048. BUILD_DIR picks the build directory.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
ninja -C "$build" sender_bench gapsim dlog
exec "$build/bin/sender_bench" "$@"
