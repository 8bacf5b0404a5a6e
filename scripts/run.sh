#!/usr/bin/env bash
# Builds everything, then starts the gap simulator and the client pointed at it, each in its own
# working directory under run/. Quitting the client (or Ctrl-C) stops the simulator as well.
# Ports: GAP_PORT, FILE_PORT and CONF_PORT choose them (defaults 15188, 15288, 15289, clear of a
# real gap's); a port that is taken is replaced by a free one. Arguments go to the client.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
ninja -C build/run

# Prints the wanted port if nothing listens on it, otherwise one the system picks; never one of
# the ports given after it.
pick_port() {
  python3 - "$@" <<'PY'
import socket, sys
wanted, taken = int(sys.argv[1]), {int(p) for p in sys.argv[2:]}
def bound(port):
    s = socket.socket()
    try:
        s.bind(("0.0.0.0", port))
        return s.getsockname()[1]
    except OSError:
        return None
    finally:
        s.close()
port = bound(wanted) if wanted not in taken else None
while port is None or port in taken:
    port = bound(0)
print(port)
PY
}

gap_port=$(pick_port "${GAP_PORT:-15188}")
file_port=$(pick_port "${FILE_PORT:-15288}" "$gap_port")
conf_port=$(pick_port "${CONF_PORT:-15289}" "$gap_port" "$file_port")

mkdir -p run/gapsim run/client
events=$root/run/gapsim/events.log
: > "$events"

sim_pid=
stop_simulator() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_simulator EXIT
trap 'exit 130' INT TERM

# The example configuration, with every user's client reached on this client's ports, and one
# more path from alice to herself, so that one client alone shows a file leaving and arriving.
{
  sed "/^\[user\./a file_port = $file_port\nconf_port = $conf_port" tools/gapsim/example.ini
  printf '\n[path.ALICE-NOTES]\nfrom = alice\nto = alice\n'
} > run/gapsim/gap.ini
(cd run/gapsim && exec "$root/build/run/bin/gapsim" --config gap.ini --listen 127.0.0.1 \
   --port "$gap_port" --log "$events") &
sim_pid=$!

for _ in $(seq 100); do
  grep -q '^listening' "$events" && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "gapsim did not start; see $events" >&2; exit 1; }
  sleep 0.1
done
grep -q '^listening' "$events" || { echo "gapsim is not listening after 10 s" >&2; exit 1; }

cat <<MSG
gap simulator: 127.0.0.1 port $gap_port (events: run/gapsim/events.log)
client:        run/client (file port $file_port, configuration port $conf_port)
log in with:   gap 127.0.0.1, user alice, password alice-pass
try sending:   add a send rule and a receive rule on path ALICE-NOTES, start sending, and drop
               a file into the send directory: it arrives in the receive directory
MSG

cd run/client
VARKO_GAP_PORT=$gap_port VARKO_FILE_PORT=$file_port VARKO_CONF_PORT=$conf_port \
  "$root/build/run/bin/gapclient" "$@"
