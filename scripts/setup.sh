#!/usr/bin/env bash
# Installs every Debian package the build, tests, demo and screenshots need.
# Idempotent: packages already present are skipped, and apt-get update runs at most once.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev libqt5svg5 qttools5-dev-tools qttranslations5-l10n
  libsqlite3-dev sqlite3 libssl-dev
  xvfb xauth x11-utils imagemagick xdotool trayer
  fonts-noto-cjk fonts-wqy-microhei
  iproute2 procps psmisc python3 time util-linux
  dpkg-dev file desktop-file-utils lintian appstream man-db
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
