#!/usr/bin/env bash
# Redraws the bitmap images of the resource bundle from the SVG sources in res/src.
# Run after changing a source, then commit the images with it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/icons}
cmake -S . -B "$build" -G Ninja > /dev/null
ninja -C "$build" render_icons > /dev/null
export QT_QPA_PLATFORM=offscreen
"$build/bin/render_icons" \
  res/src/logo.svg     res/login/128x128.png        128 \
  res/src/logo.svg     res/login/48x48.ico          48 \
  res/src/gap.svg      res/login/gap.png            32 \
  res/src/user.svg     res/login/user.png           32 \
  res/src/pswd.svg     res/login/pswd.png           32 \
  res/src/quit.svg     res/login/quit2.png          32 \
  res/src/settings.svg "res/titlebar/设 置.png"      32 \
  res/src/del.svg      res/centerwidget/del.png     32 \
  res/src/dir.svg      res/centerwidget/dir.png     32 \
  res/src/edit.svg     res/centerwidget/edit.png    32
# The desktop's application icon at the sizes desktops ask for (the package installs them).
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "res/icons/${size}x${size}"
  "$build/bin/render_icons" res/src/logo.svg "res/icons/${size}x${size}/gapclient.png" "$size"
done
