#!/usr/bin/env bash
# The demo: installs what is missing, builds the four programs it runs (gapclient, gapsim,
# gapaudit, libdlog.so), then starts the gap simulator and two clients, alice sending and bob
# receiving, each in its own working directory under run/, drops sample files into alice's send
# directory and reports what happens to each (scripts/demo.py does that part).
#
# With a display both windows show, and the demo runs until Ctrl-C or until a window is closed.
# Without one (or with QT_QPA_PLATFORM=offscreen) it ends by itself once every sample has an
# outcome. Options go to scripts/demo.py (--help); GAP_PORT, FILE_PORT and CONF_PORT choose the
# preferred ports (defaults 15188, 15288, 15289, clear of a real gap's; bob's are 100 above
# alice's), and a port that is taken is replaced by a free one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
ninja -C build/run gapclient gapsim gapaudit dlog
exec python3 scripts/demo.py --bin-dir build/run/bin --run-dir run "$@"
