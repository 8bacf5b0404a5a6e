#!/usr/bin/env bash
# Takes the README's pictures of a row's menus, a tray notification and the history page with
# every outcome: builds feature_shots and runs it under a virtual X server with a system tray
# (trayer), so that menus and the notification show as on a desktop.
#   bash scripts/feature_shots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--inside-x" ]; then
  bash scripts/setup.sh
  build=${1:-build/screenshots}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
  ninja -C "$build" feature_shots
  exec xvfb-run -a -s "-screen 0 1440x900x24 -nolisten tcp" "$0" --inside-x "$PWD/$build"
fi

trayer --edge top --align right --widthtype request --height 28 &
tray=$!
trap 'kill "$tray" 2> /dev/null || true' EXIT
# The tray takes its place on the screen before the program looks for it.
for _ in $(seq 50); do xdotool search --class trayer > /dev/null 2>&1 && break; sleep 0.1; done
mkdir -p docs/screenshots
"$2/bin/feature_shots" docs/screenshots
