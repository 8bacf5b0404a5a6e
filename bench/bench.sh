#!/bin/sh
# Builds one benchmark of the whole product with the programs it drives (gapclient, gapsim,
# libdlog.so) and runs it; the arguments after its name go to it:
#   bench/bench.sh clients_bench --size-mib 1024
#   bench/bench.sh incoming_bench --files 50 --total-mib 1024
#   bench/bench.sh smallfiles_bench --files 1000
# BUILD_DIR picks the build directory (default build/bench, a Release build).
set -e
[ $# -ge 1 ] || { echo "usage: bench/bench.sh NAME [ARGUMENTS...]" >&2; exit 2; }
name=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
ninja -C "$build" "$name" gapclient gapsim dlog
exec "$build/bin/$name" "$@"
