#!/usr/bin/env bash
# Builds the Debian package of a build tree and checks it the way Debian and a site would:
# lintian, the AppStream and desktop validators, the manual pages, and the unpacked client run by
# an unprivileged user from a read-only program folder, logging in to the unpacked simulator and
# receiving a file through it.
#   package_test.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
scratch=$2
[ -d "$scratch" ] && chmod -R u+w "$scratch"
rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root" "$scratch/gap"
root=$scratch/root

pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  chmod -R u+w "$root" 2> /dev/null || true
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

# ---- What Debian checks: lintian, with no error and no warning (overrides carry their reason).
if ! lintian --fail-on error,warning "$deb" > "$scratch/lintian.log" 2>&1; then
  cat "$scratch/lintian.log"
  fail "lintian found errors or warnings"
fi
echo "lintian: no error, no warning"

# ---- Control fields.
version=$(dpkg-deb -f "$deb" Version)
upstream=${version%-*}
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt5core5a libqt5network5 libqt5widgets5 libqt5svg5 libsqlite3; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for package in fonts-noto-cjk qttranslations5-l10n; do
  [[ $recommends == *"$package"* ]] || fail "Recommends lacks $package: $recommends"
done
if dpkg-deb -I "$deb" | grep -E '^ +[0-9]+ bytes, +[0-9]+ lines +\*? *(pre|post)(inst|rm)'; then
  fail "the package has maintainer scripts"
fi

# ---- Files.
app_id=example.varko_gap.gapclient
doc=usr/share/doc/gapclient
libdir=$(cd "$root" && ls -d usr/lib/*/gapclient)
for file in usr/bin/gapclient usr/bin/gapsim usr/bin/gapaudit "$libdir/libdlog.so" \
  usr/share/applications/$app_id.desktop usr/share/metainfo/$app_id.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/gapclient.svg usr/lib/systemd/user/gapclient.service \
  $doc/copyright $doc/changelog.gz $doc/changelog.Debian.gz $doc/examples/gapsim.ini; do
  [ -f "$root/$file" ] || fail "the package lacks /$file"
done
for size in 16 22 24 32 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/gapclient.png
  [ "$(identify -format '%wx%h' "$icon")" = "${size}x${size}" ] || fail "no ${size}px icon"
done
if readelf -d "$root"/usr/bin/* "$root/$libdir/libdlog.so" | grep -E 'RPATH|RUNPATH'; then
  fail "an installed program still looks into the build tree"
fi
grep -q '^License: Apache-2.0' "$root/$doc/copyright" || fail "the copyright file names no licence"
newest=$(zcat "$root/$doc/changelog.gz" | grep -m1 '^## ')
[[ $newest == "## $upstream ("* ]] || fail "the changelog starts with '$newest', not $upstream"

# ---- The desktop entry and the metainfo, as software centres read them.
desktop-file-validate "$root/usr/share/applications/$app_id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" \
  > "$scratch/appstream.log" 2>&1 || { cat "$scratch/appstream.log"; fail "metainfo"; }
grep -q "<release version=\"$upstream\"" "$root/usr/share/metainfo/$app_id.metainfo.xml" \
  || fail "the metainfo does not list release $upstream"

# ---- Each program prints its manual and its version without a display, and its manual page
# says the same: it renders without a warning and names every option --help names.
for program in gapclient gapsim gapaudit; do
  env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --help > "$scratch/$program.help" \
    || fail "$program --help exited with $?"
  grep -q "$program" "$scratch/$program.help" || fail "$program --help does not name it"
  printed=$(env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --version) \
    || fail "$program --version exited with $?"
  [ "$printed" = "$program $upstream" ] || fail "$program --version printed '$printed'"
  MANWIDTH=200 man --warnings -E UTF-8 -M "$root/usr/share/man" "$program" \
    > "$scratch/$program.man" 2> "$scratch/$program.man.err" || fail "man $program exited with $?"
  [ ! -s "$scratch/$program.man.err" ] || fail "man $program: $(cat "$scratch/$program.man.err")"
  for option in $(grep -oE -- '--[a-z][a-z-]*' "$scratch/$program.help" | sort -u); do
    grep -qF -- "$option" "$scratch/$program.man" || fail "man $program lacks $option"
  done
done
grep -q '^SYNOPSIS' "$scratch/gapclient.help" || fail "gapclient --help is no manual"
echo "man gapclient: $(grep -m1 -A1 '^NAME' "$scratch/gapclient.man" | tail -1 | sed 's/^ *//')"

# ---- The unpacked client as a site runs it: an unprivileged user, a program folder nobody may
# write to. It logs in by its remembered login (prepared by the unpacked simulator's
# client-setup), takes its rules from an import, sends a file to its own user through the unpacked
# simulator and receives it; the login is recorded through the unpacked audit library.
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
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
[ -n "$gap_port" ] || fail "the unpacked gapsim is not listening"

client=$scratch/client
mkdir -p "$client/send" "$client/recv" "$client/home" "$scratch/runtime"
"$root/usr/bin/gapsim" client-setup --config "$scratch/gap/gap.ini" --user alice --dir "$client" \
  --send-dir "$client/send" --recv-dir "$client/recv" > /dev/null
if [ ${#run_as[@]} -gt 0 ]; then
  chown -R 65534:65534 "$client" "$scratch/runtime"
fi
chmod 0700 "$scratch/runtime"
chmod -R a-w "$root"
touch "$scratch/started"
(cd "$client" && exec env -u VARKO_DLOG_LIBRARY -u DLOG_DB -u LD_LIBRARY_PATH HOME="$client/home" \
  XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=offscreen VARKO_GAP_PORT="$gap_port" \
  VARKO_FILE_PORT="$file_port" VARKO_CONF_PORT="$conf_port" \
  "${run_as[@]}" "$root/usr/bin/gapclient" --import import.vkg --send) > "$scratch/client.out" 2>&1 &
pids+=($!)
client_pid=$!
logins() {
  "$root/usr/bin/gapaudit" --db "$client/audit.db" --category CLIENT_LOGIN \
    --outcome success --format csv 2> /dev/null | tail -n +2
}
for _ in $(seq 120); do
  [ -n "$(logins)" ] && break
  kill -0 "$client_pid" 2> /dev/null || fail "the unpacked client ended: $(cat "$scratch/client.out")"
  sleep 0.5
done
[ -n "$(logins)" ] || fail "the unpacked client recorded no login within 60 s"
if grep -q 'audit log is off' "$client/gapclient.log" 2> /dev/null; then
  fail "the unpacked client did not find its audit library"
fi
echo "unpacked client logged in: $(logins)"

head -c 300000 /dev/urandom > "$scratch/sample.bin"
cp "$scratch/sample.bin" "$client/sample.staged"
mv "$client/sample.staged" "$client/send/sample.bin"
want=$(md5sum < "$scratch/sample.bin")
for _ in $(seq 120); do
  [ -f "$client/recv/sample.bin" ] && [ ! -e "$client/send/sample.bin" ] && break
  kill -0 "$client_pid" 2> /dev/null || fail "the unpacked client ended: $(cat "$scratch/client.out")"
  sleep 0.5
done
[ -f "$client/recv/sample.bin" ] || fail "the file was not received within 60 s: $(ls -R "$client")"
[ "$(md5sum < "$client/recv/sample.bin")" = "$want" ] || fail "the received file differs"
[ ! -e "$client/send/sample.bin" ] || fail "the delivered file is still in the send directory"
echo "unpacked client sent and received sample.bin ($(stat -c %U "$client/recv/sample.bin"))"

# Nothing failed to be written, nothing was written into the program's folder, and the key
# exchange's data went to the user's runtime directory.
if grep -E '文件打开失败|Permission denied|Read-only file system' "$client/gapclient.log"; then
  fail "the unpacked client logged a failed write"
fi
grep -qF "临时路径: $scratch/runtime/" "$client/gapclient.log" \
  || fail "the key exchange did not use the runtime directory: $(cat "$client/gapclient.log")"
written=$(find "$root" -newer "$scratch/started")
[ -z "$written" ] || fail "written into the program's folder: $written"
