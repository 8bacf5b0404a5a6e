#!/usr/bin/env bash
# Builds the Debian package: the four programs it installs, then cpack.
#   bash scripts/package.sh [BUILD_DIR]      (default build/pkg; the .deb lands there)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${1:-build/pkg}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
ninja -C "$build" gapclient gapsim gapaudit dlog
(cd "$build" && cpack -G DEB)
