#!/usr/bin/env bash
# Builds the Debian package of a build tree, unpacks it into a scratch root (no root needed) and
# checks what a user of the package gets:
#   package_test.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root" "$scratch/client" "$scratch/gap"
root=$scratch/root

pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
}
trap finish EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])'
}

(cd "$build" && cpack -G DEB -B "$scratch/out") > "$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$scratch"/out/gapclient_*.deb)
dpkg-deb -x "$deb" "$root"
echo "built $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"

# Dependencies come from the libraries the programs link.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt5core5a libqt5network5 libqt5widgets5 libqt5svg5 libsqlite3; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

for file in usr/bin/gapclient usr/bin/gapsim usr/bin/gapaudit usr/lib/gapclient/libdlog.so \
  usr/share/applications/gapclient.desktop usr/share/icons/hicolor/scalable/apps/gapclient.svg \
  usr/lib/systemd/user/gapclient.service usr/share/doc/gapclient/examples/gapsim.ini; do
  [ -f "$root/$file" ] || fail "the package lacks /$file"
done
for size in 16 22 24 32 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/gapclient.png
  [ "$(identify -format '%wx%h' "$icon")" = "${size}x${size}" ] || fail "no ${size}px icon"
done
desktop-file-validate "$root/usr/share/applications/gapclient.desktop" || fail "desktop entry"
if readelf -d "$root"/usr/bin/* "$root/usr/lib/gapclient/libdlog.so" | grep -E 'RPATH|RUNPATH'; then
  fail "an installed program still looks into the build tree"
fi

# Each program prints its manual without a display and exits 0.
for program in gapclient gapsim gapaudit; do
  env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --help > "$scratch/$program.help" \
    || fail "$program --help exited with $?"
  grep -q "$program" "$scratch/$program.help" || fail "$program --help does not name it"
done
grep -q '^SYNOPSIS' "$scratch/gapclient.help" || fail "gapclient --help is no manual"

# The installed client, offscreen, logs in through its login window's automatic login (prepared
# by the installed simulator's client-setup) and records the login through the installed audit
# library, which gapaudit reads back. The user needs a path: a gap that grants none gets a box.
file_port=$(free_port)
conf_port=$(free_port)
cat > "$scratch/gap/gap.ini" << INI
[gap]
listen = 127.0.0.1
port = 0
[user.alice]
password = alice-pass
file_port = $file_port
conf_port = $conf_port
[path.NOTES]
from = alice
to = alice
INI
"$root/usr/bin/gapsim" --config "$scratch/gap/gap.ini" --log "$scratch/gap/events.log" &
pids+=($!)
for _ in $(seq 100); do
  grep -q '^listening' "$scratch/gap/events.log" 2> /dev/null && break
  sleep 0.1
done
gap_port=$(sed -n 's/^listening .*port=\([0-9]*\).*/\1/p' "$scratch/gap/events.log")
[ -n "$gap_port" ] || fail "the installed gapsim is not listening"
"$root/usr/bin/gapsim" client-setup --config "$scratch/gap/gap.ini" --user alice \
  --dir "$scratch/client" > /dev/null
(cd "$scratch/client" && exec env -u VARKO_DLOG_LIBRARY -u DLOG_DB -u LD_LIBRARY_PATH \
  QT_QPA_PLATFORM=offscreen VARKO_GAP_PORT="$gap_port" VARKO_FILE_PORT="$file_port" \
  VARKO_CONF_PORT="$conf_port" "$root/usr/bin/gapclient") > "$scratch/client.out" 2>&1 &
pids+=($!)
logins() {
  "$root/usr/bin/gapaudit" --db "$scratch/client/audit.db" --category CLIENT_LOGIN \
    --outcome success --format csv 2> /dev/null | tail -n +2
}
for _ in $(seq 120); do
  [ -n "$(logins)" ] && break
  kill -0 "${pids[1]}" 2> /dev/null || fail "the installed client ended: $(cat "$scratch/client.out")"
  sleep 0.5
done
[ -n "$(logins)" ] || fail "the installed client recorded no login within 60 s"
if grep -q 'audit log is off' "$scratch/client/gapclient.log" 2> /dev/null; then
  fail "the installed client did not find its audit library"
fi
echo "installed client logged in: $(logins)"
