#!/usr/bin/env bash
# Builds the Debian package: the four programs it installs and its documents, then cpack.
#   bash scripts/package.sh [BUILD_DIR]      (default build/pkg; the .deb lands there)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${1:-build/pkg}
# Compiled and linked with Debian's own flags, every hardening feature included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" > /dev/null
ninja -C "$build" gapclient gapsim gapaudit dlog package_docs
(cd "$build" && cpack -G DEB)
