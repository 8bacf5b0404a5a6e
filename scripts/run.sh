#!/usr/bin/env bash
# Builds everything and starts the client.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
ninja -C build/run
exec build/run/bin/gapclient "$@"
