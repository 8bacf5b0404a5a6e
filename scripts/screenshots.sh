#!/usr/bin/env bash
# Takes the README's screenshots: starts the gap simulator and the real client under a virtual X
# server, types a login into the login window, logs in, and photographs the login window and each
# page of the main window into docs/screenshots/.
#   bash scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${1:-}" != "--inside-x" ]; then
  bash scripts/setup.sh
  build=${1:-build/screenshots}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
  ninja -C "$build" gapclient gapsim dlog
  exec xvfb-run -a -s "-screen 0 1440x900x24 -nolisten tcp" "$0" --inside-x "$root/$build"
fi

bin=$2/bin
out=$root/docs/screenshots
work=$(mktemp -d)
pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
gap_port=$(free_port)
file_port=$(free_port)
conf_port=$(free_port)
while [ "$conf_port" = "$file_port" ]; do conf_port=$(free_port); done

# Waits up to 20 s for a command to succeed.
wait_for() {
  for _ in $(seq 200); do "$@" > /dev/null 2>&1 && return 0; sleep 0.1; done
  echo "timed out waiting for: $*" >&2
  [ -n "${DISPLAY:-}" ] && import -window root "$root/build/screenshot-timeout.png" \
    && echo "the screen at that moment: build/screenshot-timeout.png" >&2
  return 1
}

# Prints the id of the visible window with exactly this title.
window_id() { xdotool search --onlyvisible --name "^$1\$" | head -1; }

last_shot=
shoot() {   # shoot TITLE FILE
  local id
  wait_for window_id "$1"
  id=$(window_id "$1")
  sleep 0.5   # let the window finish painting
  import -window "$id" "$out/$2"
  # A click that changed nothing would give the same picture twice.
  if [ -n "$last_shot" ] && cmp -s "$out/$last_shot" "$out/$2"; then
    echo "$2 shows the same as $last_shot: the click missed" >&2
    return 1
  fi
  last_shot=$2
  echo "saved docs/screenshots/$2"
}

mkdir -p "$work/gapsim" "$work/client" "$out"
{
  sed "/^\[user\./a file_port = $file_port\nconf_port = $conf_port" tools/gapsim/example.ini
  printf '\n[path.ALICE-NOTES]\nfrom = alice\nto = alice\n'
} > "$work/gapsim/gap.ini"

# Rules for the path from alice to herself, imported at start (--import ... --send), and a few
# files waiting to be sent: two pass, one has a refused suffix, one holds a filtered keyword.
# (The rule directories are ASCII: Qt writes other characters of an INI value as escapes.)
send_dir=$work/outbox
recv_dir=$work/inbox
mkdir -p "$send_dir/月报" "$recv_dir"
head -c 3000000 /dev/urandom > "$send_dir/月报/设备巡检记录.pdf"
head -c 180000 /dev/urandom > "$send_dir/layout-v2.png"
printf 'not a program\n' > "$send_dir/setup.exe"
printf 'draft marked TOPSECRET\n' > "$send_dir/会议纪要.txt"
cat > "$work/client/rules.vkg" <<VKG
[VKGAPINFO]
GapIPCount=0

[SENDINFO]
SendInfoNum=1
SendPath_0=$send_dir
SendPathID_0=ALICE-NOTES
SendPathGapIP_0=127.0.0.1
ToUser_0=alice
RecviverLevel_0=1
FromUser_0=alice

[RECVINO]
RecvInfoNum=1
RecvPath_0=$recv_dir
RecvPathID_0=ALICE-NOTES
RecvPathGapIP_0=127.0.0.1
FromUser_0=alice
VKG
(cd "$work/gapsim" && exec "$bin/gapsim" --config gap.ini --listen 127.0.0.1 \
   --port "$gap_port" --log events.log) &
pids+=($!)
wait_for grep -q '^listening' "$work/gapsim/events.log"

(cd "$work/client" && VARKO_GAP_PORT=$gap_port VARKO_FILE_PORT=$file_port \
   VARKO_CONF_PORT=$conf_port exec "$bin/gapclient" --import rules.vkg --send) &
pids+=($!)

login=登录
main=Varko文件传输客户端
wait_for window_id "$login"
login_id=$(window_id "$login")
xdotool windowfocus --sync "$login_id"
# The address field has the focus; Tab walks user name, password and "记住密码".
xdotool type --delay 20 "127.0.0.1"
xdotool key Tab
xdotool type --delay 20 "alice"
xdotool key Tab
xdotool type --delay 20 "alice-pass"
xdotool key Tab space
shoot "$login" login.png
xdotool key Return

wait_for window_id "$main"
main_id=$(window_id "$main")
# Sending starts by itself; the two files that pass arrive, the other two are refused.
wait_for test -f "$recv_dir/月报/设备巡检记录.pdf"
wait_for test -f "$recv_dir/layout-v2.png"
sleep 2
# Back to the first page (sending showed its own).
eval "$(xdotool getwindowgeometry --shell "$main_id")"
xdotool mousemove --sync $((X + 80)) $((Y + 40 + 10 + 22)) click 1
shoot "$main" page-gaplist.png

# The navigation bar: buttons 44 px high under the 40 px title bar, one column 160 px wide.
eval "$(xdotool getwindowgeometry --shell "$main_id")"
click_nav() {   # click_nav BUTTON_CENTRE_Y
  xdotool mousemove --sync $((X + 80)) $((Y + $1)) click 1
}
nav_y() { python3 - "$1" <<'PY'
import sys
# centre of the n-th button (0 = 网闸地址) as laid out by the main window's form
n = int(sys.argv[1])
print(40 + 10 + n * (44 + 6) + 22)
PY
}
declare -A pages=([2]=page-senddir.png [3]=page-sendstate.png [4]=page-recvdir.png
                  [5]=page-recvstate.png)
for n in 2 3 4 5; do
  click_nav "$(nav_y "$n")"
  shoot "$main" "${pages[$n]}"
done

# The history page, the button under "接收状态": the audit events of this run, newest first, with
# the refused sends among the transfers that went through.
# A received file's row is selected, so that "打开所在目录" shows enabled: rows are 31 px high
# under the filter bar (40 px) and the header (30 px), in the page right of the 160 px bar.
shoot_history() {
  click_nav "$(nav_y 6)"
  sleep 1
  local row=2
  xdotool mousemove --sync $((X + 160 + 400)) $((Y + 40 + 42 + 30 + row * 31 + 15)) click 1
  shoot "$main" page-history.png
}
shoot_history

# The settings window, from the gear in the title bar (the fourth button from the right).
xdotool mousemove --sync $((X + WIDTH - 140)) $((Y + 20)) click 1
for _ in $(seq 30); do window_id 策略设置 > /dev/null && break; sleep 0.1; done
if [ -n "$(window_id 策略设置)" ]; then
  shoot 策略设置 settings.png
  xdotool windowfocus --sync "$(window_id 策略设置)" key Escape
  wait_for bash -c "! xdotool search --onlyvisible --name '^策略设置\$'"
else
  echo "the settings window did not open; settings.png not taken" >&2
fi

# "关    于" is the last button, at the foot of the bar.
click_nav $((HEIGHT - 32))
shoot 关于我们 about.png
