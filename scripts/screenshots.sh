#!/usr/bin/env bash
# Takes the README's screenshots: starts the gap simulator and the real client under a virtual X
# server of 1920x1080, types a login into the login window, logs in, and photographs the login
# window (also while it waits for a gap that does not answer yet) and each page of the main window
# at its usual size, at 1000 px and at 800x600, into docs/screenshots/; last, a second client with
# QT_SCALE_FACTOR=2 on the whole screen.
#   bash scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${1:-}" != "--inside-x" ]; then
  bash scripts/setup.sh
  build=${1:-build/screenshots}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
  ninja -C "$build" gapclient gapsim dlog
  exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" "$0" --inside-x "$root/$build"
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

# A free port below the system's range of ephemeral ports: one from that range may be taken
# meanwhile by any process's outgoing connection, and the client's port check would refuse it.
free_port() {
  python3 - <<'PY'
import random, socket
low = int(open("/proc/sys/net/ipv4/ip_local_port_range").read().split()[0])
while True:
    port = random.randint(10000, low - 1)
    with socket.socket() as s:
        try:
            s.bind(("0.0.0.0", port))
            print(port)
            break
        except OSError:
            pass
PY
}
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
# The gap refuses .exe files and content holding TOPSECRET (example.ini), changes a byte of the
# first delivery of 季度报表.xlsx (the receiver refuses its digest, the sender sends it again),
# and answers "offline" for every attempt at 交接单.docx (the sender gives up after five).
{
  sed "/^\[user\./a file_port = $file_port\nconf_port = $conf_port" tools/gapsim/example.ini
  printf '\n[path.ALICE-NOTES]\nfrom = alice\nto = alice\n'
} > "$work/gapsim/gap.ini"

# Rules for the path from alice to herself, imported at start (--import ... --send), and files
# waiting to be sent. The large one is still on its way when the status pages are taken.
# (The rule directories are ASCII: Qt writes other characters of an INI value as escapes.)
send_dir=$work/outbox
recv_dir=$work/inbox
mkdir -p "$send_dir/月报" "$recv_dir"
head -c 3000000 /dev/urandom > "$send_dir/月报/设备巡检记录.pdf"
head -c 180000 /dev/urandom > "$send_dir/layout-v2.png"
head -c 400000 /dev/urandom > "$send_dir/季度报表.xlsx"
head -c 20000 /dev/urandom > "$send_dir/交接单.docx"
printf 'not a program\n' > "$send_dir/setup.exe"
printf 'draft marked TOPSECRET\n' > "$send_dir/会议纪要.txt"
truncate -s 4G "$send_dir/系统镜像备份.iso"
cat > "$work/client/seed.vkg" <<VKG
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
# For its first seconds the gap takes logins without answering them: the login window is taken
# while it waits, then the login is cancelled and tried again once the gap answers.
ignore_ms=15000
(cd "$work/gapsim" && exec "$bin/gapsim" --config gap.ini --listen 127.0.0.1 \
   --port "$gap_port" --log events.log --fault 'flip,offset=1000,file=季度报表.xlsx,count=1' \
   --fault 'offline,file=交接单.docx' --fault "ignore-login,for_ms=$ignore_ms") &
pids+=($!)
gapsim_started=$(date +%s%N)
wait_for grep -q '^listening' "$work/gapsim/events.log"

(cd "$work/client" && VARKO_GAP_PORT=$gap_port VARKO_FILE_PORT=$file_port \
   VARKO_CONF_PORT=$conf_port exec "$bin/gapclient" --import seed.vkg --send) &
pids+=($!)
client_pid=$!

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
wait_for grep -q 'kind=ignore-login' "$work/gapsim/events.log"
shoot "$login" login-waiting.png
xdotool key Escape
# Once the gap answers logins again.
sleep "$(python3 -c "print(max(0, ($gapsim_started + ($ignore_ms + 500) * 10**6 - $(date +%s%N)) / 1e9))")"
xdotool key Return

wait_for window_id "$main"
main_id=$(window_id "$main")
eval "$(xdotool getwindowgeometry --shell "$main_id")"
click_at() {   # click_at X_IN_WINDOW Y_IN_WINDOW
  xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1
}
# The navigation bar: buttons 44 px high, 6 px apart, under the 40 px title bar, 160 px wide;
# "恢复配置", "保存配置" and "关    于" sit at its foot.
nav_y() { echo $((40 + 10 + $1 * (44 + 6) + 22)); }
click_nav() { click_at 80 "$(nav_y "$1")"; }

# Waits up to 120 s for a command to succeed (transfers take their time).
wait_long() {
  for _ in $(seq 1200); do "$@" > /dev/null 2>&1 && return 0; sleep 0.1; done
  echo "timed out waiting for: $*" >&2
  return 1
}
# Sending started by itself. The status pages are taken once every small file has its outcome
# while the large one is being relayed: two arrive, 季度报表.xlsx arrives at its second try,
# the refused ones are gone from the send directory, and the gap has turned away all five
# attempts at 交接单.docx.
wait_long test -f "$recv_dir/月报/设备巡检记录.pdf"
wait_long test -f "$recv_dir/layout-v2.png"
wait_long test -f "$recv_dir/季度报表.xlsx"
wait_long bash -c "! ls '$send_dir/setup.exe' '$send_dir/会议纪要.txt'"
wait_long bash -c "[ \$(grep -c 'offline-fault' '$work/gapsim/events.log') -ge 5 ]"
sleep 2
# The receiving client writes the large file without a name until it is whole: it shows among
# the client's open files.
wait_long bash -c "for fd in /proc/$client_pid/fd/*; do case \$(readlink \$fd) in
  '$recv_dir'/*) [ \$(stat -L -c %s \$fd) -gt 52428800 ] && exit 0;; esac; done; exit 1"
if [ -f "$recv_dir/系统镜像备份.iso" ]; then
  echo "the large file arrived before the pictures: no running row to show" >&2
  exit 1
fi

# The two status pages at the window's usual width, then at 1000 px.
click_nav 3
shoot "$main" status-send-1280.png
click_nav 5
shoot "$main" status-recv-1280.png
xdotool windowsize "$main_id" 1000 "$HEIGHT"
wait_for bash -c "xdotool getwindowgeometry '$main_id' | grep -q 'Geometry: 1000x'"
click_nav 3
shoot "$main" status-send-1000.png
click_nav 5
shoot "$main" status-recv-1000.png
# The smallest size the window is made for: the name, progress and status columns stay in view.
xdotool windowsize "$main_id" 800 600
wait_for bash -c "xdotool getwindowgeometry '$main_id' | grep -q 'Geometry: 800x600'"
click_nav 3
shoot "$main" status-send-800.png
click_nav 5
shoot "$main" status-recv-800.png
if [ -f "$recv_dir/系统镜像备份.iso" ]; then
  echo "the large file arrived while the pictures were taken: check the running rows" >&2
fi
xdotool windowsize "$main_id" "$WIDTH" "$HEIGHT"
wait_for bash -c "xdotool getwindowgeometry '$main_id' | grep -q 'Geometry: ${WIDTH}x'"

click_nav 0
shoot "$main" page-gaplist.png
click_nav 2
shoot "$main" page-senddir.png
click_nav 4
shoot "$main" page-recvdir.png

# Qt's own file dialog, in Chinese: "恢复配置" opens it. (Cancelled, it imports nothing, but the
# gap list shows its rebuilt counters until the next second: it is taken before.)
click_at 80 $((HEIGHT - 132))
shoot 打开配置文件 filedialog.png
xdotool windowfocus --sync "$(window_id 打开配置文件)" key Escape
wait_for bash -c "! xdotool search --onlyvisible --name '^打开配置文件\$'"

# The history page, the button under "接收状态": the audit events of this run, newest first, with
# the refused sends among the transfers that went through.
# A received file's row is selected, so that "打开所在目录" shows enabled: rows are 31 px high
# under the filter bar (40 px) and the header (30 px), in the page right of the 160 px bar.
shoot_history() {
  click_nav 6
  sleep 1
  local row=2
  xdotool mousemove --sync $((X + 160 + 400)) $((Y + 40 + 42 + 30 + row * 31 + 15)) click 1
  shoot "$main" page-history.png
}
shoot_history

# The history page at 800 px with its chosen days shown: the filter bar wraps. The range box is
# the first control of the bar; End picks its last choice, "自选日期".
xdotool windowsize "$main_id" 800 600
wait_for bash -c "xdotool getwindowgeometry '$main_id' | grep -q 'Geometry: 800x600'"
click_at $((160 + 8 + 40)) $((40 + 8 + 14))
sleep 0.5
xdotool key End Return
shoot "$main" page-history-800.png
xdotool windowsize "$main_id" "$WIDTH" "$HEIGHT"
wait_for bash -c "xdotool getwindowgeometry '$main_id' | grep -q 'Geometry: ${WIDTH}x'"

# The settings window, from the gear in the title bar (the fourth button from the right).
click_at $((WIDTH - 140)) 20
for _ in $(seq 30); do window_id 策略设置 > /dev/null && break; sleep 0.1; done
if [ -n "$(window_id 策略设置)" ]; then
  shoot 策略设置 settings.png
  xdotool windowfocus --sync "$(window_id 策略设置)" key Escape
  wait_for bash -c "! xdotool search --onlyvisible --name '^策略设置\$'"
else
  echo "the settings window did not open; settings.png not taken" >&2
fi

# "关    于" is the last button, at the foot of the bar.
click_at 80 $((HEIGHT - 32))
shoot 关于我们 about.png
xdotool windowfocus --sync "$(window_id 关于我们)" key Escape
wait_for bash -c "! xdotool search --onlyvisible --name '^关于我们\$'"

# A second client on the same screen with QT_SCALE_FACTOR=2, as on a 1920x1080 display set to
# 200 %: the window fits the screen. The first client makes room (its ports) first.
kill "${pids[1]}"
wait "${pids[1]}" 2>/dev/null || true
scaled=$work/scaled
"$bin/gapsim" client-setup --config "$work/gapsim/gap.ini" --user alice --dir "$scaled" \
  --gap-address 127.0.0.1 > /dev/null
(cd "$scaled" && QT_SCALE_FACTOR=2 VARKO_GAP_PORT=$gap_port VARKO_FILE_PORT=$file_port \
   VARKO_CONF_PORT=$conf_port exec "$bin/gapclient") &
pids+=($!)
wait_for window_id "$main"
sleep 2   # the state of the gap list comes in once a second
eval "$(xdotool getwindowgeometry --shell "$(window_id "$main")")"
echo "the window at scale 2: ${WIDTH}x${HEIGHT} at ${X},${Y} on 1920x1080"
if [ "$X" -lt 0 ] || [ "$Y" -lt 0 ] || [ $((X + WIDTH)) -gt 1920 ] || [ $((Y + HEIGHT)) -gt 1080 ]; then
  echo "the window at scale 2 does not fit the screen" >&2
  exit 1
fi
import -window root "$out/scale2-1920x1080.png"
echo "saved docs/screenshots/scale2-1920x1080.png"
