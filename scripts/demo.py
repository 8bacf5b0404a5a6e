#!/usr/bin/env python3
"""The demo: the gap simulator and two real clients on this machine, alice sending and bob
receiving, each in its own working directory. Sample files are dropped into alice's send
directory, and what happens to each is printed as it happens, read from the two clients' audit
stores (through gapaudit), the gap's event log and bob's receive directory.

scripts/run.sh builds what this needs and runs it. Without a display (or with
QT_QPA_PLATFORM=offscreen) the clients run offscreen and the demo ends by itself once every sample
has an outcome: exit code 0 when each had the outcome it should, 1 otherwise or when something did
not happen in time. With a display both windows show, and the demo runs until Ctrl-C or until a
client's window is closed. Either way every process it started is stopped before it exits.
"""

import argparse
import configparser
import ctypes
import hashlib
import json
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import time
import unicodedata

GAP_ADDRESS = "127.0.0.1"
POLL_SECONDS = 0.5
STOP_SECONDS = 5.0
LISTEN_SECONDS = 10.0
LOGIN_SECONDS = 60.0
MIB = 1 << 20
PR_SET_PDEATHSIG = 1
BOB_PORT_OFFSET = 100
WINDOW_SECONDS = 3.0


class DemoError(Exception):
    """Ends the demo with a message and exit code 1."""


class Stopped(Exception):
    """Ctrl-C, a terminal hang-up, SIGTERM (exit code 128 + the signal), or a closed window (0)."""

    def __init__(self, reason, code):
        super().__init__(reason)
        self.code = code


def on_signal(signum, _frame):
    raise Stopped(signal.Signals(signum).name, 128 + signum)


def die_with_parent():
    # Runs in the child before exec: the child gets SIGTERM if the demo itself is killed, so no
    # client or simulator outlives it even then.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def bound_port(port):
    """The port a server could listen on now (0: one the system picks), or None when it is held.
    Bound as the client and gapsim bind: connections lingering in TIME_WAIT do not count."""
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("0.0.0.0", port))
            return s.getsockname()[1]
        except OSError:
            return None


def pick_port(wanted, taken):
    """The wanted port if it is free, otherwise one the system picks; never a taken one."""
    port = bound_port(wanted) if wanted not in taken else None
    while port is None or port in taken:
        port = bound_port(0)
    taken.add(port)
    return port


def event_fields(line):
    """The name and fields of a gapsim event line (`name key=value ...`, values quoted as needed)."""
    try:
        words = shlex.split(line)
    except ValueError:
        return "", {}
    if not words:
        return "", {}
    return words[0], dict(w.split("=", 1) for w in words[1:] if "=" in w)


def md5_of(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(MIB), b""):
            digest.update(chunk)
    return digest.hexdigest()


def padded(text, width):
    """The text padded to a width in terminal columns: CJK characters take two."""
    columns = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)
    return text + " " * max(0, width - columns)


def size_text(size):
    return f"{size // MIB} MiB" if size >= MIB else f"{size} bytes"


class Sample:
    def __init__(self, relative, content, expected, why):
        self.relative = relative  # path under the send directory
        self.name = os.path.basename(relative)
        self.content = content  # bytes, or an int: that many random bytes
        self.expected = expected  # "delivered" or "refused"
        self.why = why
        self.size = content if isinstance(content, int) else len(content)
        self.md5 = None
        self.outcome = None  # "delivered" or "refused"
        self.detail = ""
        self.send_result = None  # the last send outcome alice's store holds, and its reason
        self.received = False
        self.gap_result = ""


def make_samples(large_bytes, refused_suffix, keyword):
    return [
        Sample("large.bin", large_bytes, "delivered", "a large file"),
        Sample("notes.txt", b"Minutes of the weekly meeting.\n" * 40, "delivered", "small"),
        Sample("figures.csv", b"month,files,bytes\n" + b"2026-11,1200,734003200\n" * 30,
               "delivered", "small"),
        Sample("photo.jpg", 48 * 1024, "delivered", "small"),
        Sample("reports/q3-summary.txt", b"Third quarter: every file arrived.\n" * 20,
               "delivered", "in a sub-directory"),
        Sample("报告-第三季度.txt", "第三季度报告。\n".encode() * 50, "delivered",
               "a name outside ASCII"),
        Sample(f"setup.{refused_suffix}", b"MZ" + bytes(510), "refused",
               f"the gap refuses the suffix .{refused_suffix}"),
        Sample("memo.txt", f"Draft, do not forward: {keyword} plans.\n".encode(), "refused",
               f"holds the filtered keyword {keyword}"),
    ]


class Client:
    def __init__(self, user, directory, file_port, conf_port, corner):
        self.user = user
        self.corner = corner  # where its window goes on a display; None once placed
        self.directory = directory
        self.file_port = file_port
        self.conf_port = conf_port
        self.process = None
        self.seen_ids = set()
        self.logged_in = None  # when the login was seen


class Demo:
    def __init__(self, args):
        self.args = args
        self.bin_dir = os.path.abspath(args.bin_dir)
        self.run_dir = os.path.abspath(args.run_dir)
        self.start_time = time.monotonic()
        self.headless = (os.environ.get("QT_QPA_PLATFORM") == "offscreen"
                         or not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")))
        self.gapsim = None
        self.gap_port = None
        self.events_path = os.path.join(self.run_dir, "gapsim", "events.log")
        self.events_offset = 0
        self.relays = {}  # gapsim relay id -> file name
        self.clients = []
        self.samples = []

    # ---- output

    def say(self, who, text):
        print(f"{time.monotonic() - self.start_time:7.1f}s  {who:<6} {text}", flush=True)

    def relative(self, path):
        """A path as the user can type it from where the demo was started."""
        relative = os.path.relpath(path, os.getcwd())
        return path if relative.startswith("..") else relative

    # ---- set-up

    def binary(self, name):
        return os.path.join(self.bin_dir, name)

    def prepare(self):
        for name in ("gapsim", "alice", "bob", "samples"):
            shutil.rmtree(os.path.join(self.run_dir, name), ignore_errors=True)
        os.makedirs(os.path.join(self.run_dir, "gapsim"))
        os.makedirs(os.path.join(self.run_dir, "samples"))
        taken = set()
        self.gap_port = pick_port(self.args.gap_port, taken)
        alice = Client("alice", os.path.join(self.run_dir, "alice"),
                       pick_port(self.args.file_port, taken), pick_port(self.args.conf_port, taken),
                       "right")
        bob = Client("bob", os.path.join(self.run_dir, "bob"),
                     pick_port(self.args.file_port and self.args.file_port + BOB_PORT_OFFSET, taken),
                     pick_port(self.args.conf_port and self.args.conf_port + BOB_PORT_OFFSET, taken),
                     "left")
        self.alice, self.bob = alice, bob
        self.clients = [bob, alice]
        policy = self.write_config()
        self.setup_client(alice, "--send-dir", "send")
        self.setup_client(bob, "--recv-dir", "recv")
        self.samples = make_samples(self.args.large_mib * MIB, policy["suffix"], policy["keyword"])

    def write_config(self):
        """The example configuration, each user's client reached on its own ports on loopback."""
        config = configparser.ConfigParser(interpolation=None, comment_prefixes=(";",))
        config.optionxform = str
        config.read(self.args.example, encoding="utf-8")
        config["gap"]["listen"] = GAP_ADDRESS
        config["gap"]["port"] = str(self.gap_port)
        for client in (self.alice, self.bob):
            section = config[f"user.{client.user}"]
            section["address"] = GAP_ADDRESS
            section["file_port"] = str(client.file_port)
            section["conf_port"] = str(client.conf_port)
        self.config_path = os.path.join(self.run_dir, "gapsim", "gap.ini")
        with open(self.config_path, "w", encoding="utf-8") as f:
            config.write(f)
        policy = config["policy"]
        return {
            "suffix": policy["refused_suffixes"].split(",")[0].strip().lstrip("."),
            "keyword": policy["keywords"].split(",")[0].strip(),
        }

    def setup_client(self, client, dir_option, dir_name):
        """The remembered auto-login and the rules file, written by gapsim with the client's code."""
        client.rule_dir = os.path.join(client.directory, dir_name)
        result = subprocess.run(
            [self.binary("gapsim"), "client-setup", "--config", self.config_path, "--user",
             client.user, "--dir", client.directory, dir_option, client.rule_dir],
            capture_output=True, text=True)
        if result.returncode != 0:
            raise DemoError(f"gapsim client-setup for {client.user} failed: {result.stderr.strip()}")

    # ---- processes

    def launch(self, command, cwd, output_name, env=None):
        output = open(os.path.join(cwd, output_name), "wb")
        try:
            return subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                    stdout=output, stderr=subprocess.STDOUT,
                                    start_new_session=True, preexec_fn=die_with_parent)
        finally:
            output.close()

    def start_gapsim(self):
        self.gapsim = self.launch(
            [self.binary("gapsim"), "--config", self.config_path, "--log", self.events_path],
            os.path.dirname(self.events_path), "gapsim.out")
        deadline = time.monotonic() + LISTEN_SECONDS
        while time.monotonic() < deadline:
            self.check_processes()
            if os.path.exists(self.events_path) and any(
                    line.startswith("listening ") for line in open(self.events_path)):
                self.say("gap", f"gapsim listening on {GAP_ADDRESS} port {self.gap_port} "
                                f"(events: {self.relative(self.events_path)})")
                return
            time.sleep(0.1)
        raise DemoError(f"gapsim is not listening after {LISTEN_SECONDS:.0f} s; "
                        f"see {self.relative(self.events_path)}")

    def start_client(self, client, extra):
        env = dict(os.environ, VARKO_GAP_PORT=str(self.gap_port),
                   VARKO_FILE_PORT=str(client.file_port), VARKO_CONF_PORT=str(client.conf_port))
        if self.headless:
            env["QT_QPA_PLATFORM"] = "offscreen"
        client.process = self.launch([self.binary("gapclient"), "--import", "import.vkg"] + extra,
                                     client.directory, "client.out", env)
        self.say(client.user, f"client started in {self.relative(client.directory)} "
                              f"(file port {client.file_port}, configuration port "
                              f"{client.conf_port}); it logs in by itself after 3 s")
        deadline = time.monotonic() + LOGIN_SECONDS
        while not client.logged_in:
            if time.monotonic() > deadline:
                raise DemoError(f"{client.user}'s client did not log in within "
                                f"{LOGIN_SECONDS:.0f} s; see {self.relative(client.directory)}")
            time.sleep(POLL_SECONDS)
            self.poll()

    def place_windows(self):
        """Moves each client's window into a corner of the screen once it is shown, so that the
        two clients do not cover each other exactly. Best effort: only where xdotool can (X11)."""
        for client in self.clients:
            if not client.corner or not client.logged_in:
                continue
            if self.headless or not shutil.which("xdotool") or \
                    time.monotonic() > client.logged_in + WINDOW_SECONDS:
                client.corner = None
                continue
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                                    str(client.process.pid)], capture_output=True, text=True)
            screen = subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True,
                                    text=True)
            if not found.stdout.split() or screen.returncode != 0:
                continue
            width, height = map(int, screen.stdout.split())
            for window in found.stdout.split():
                shape = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                                       capture_output=True, text=True)
                geometry = dict(line.split("=", 1) for line in shape.stdout.split() if "=" in line)
                right = client.corner == "right"
                x = max(0, width - int(geometry.get("WIDTH", 0))) if right else 0
                y = max(0, height - int(geometry.get("HEIGHT", 0))) if right else 0
                subprocess.run(["xdotool", "windowmove", window, str(x), str(y)],
                               capture_output=True)
            client.corner = None

    def check_processes(self):
        for name, process in [("gapsim", self.gapsim)] + [(c.user, c.process) for c in self.clients]:
            if process is None or process.poll() is None:
                continue
            if process.returncode == 0 and name != "gapsim":
                raise Stopped(f"{name}'s client was closed", 0)
            raise DemoError(f"{name} ended unexpectedly (exit code {process.returncode}); "
                            f"see its files under {self.relative(self.run_dir)}")

    def stop_all(self):
        processes = [(c.user, c.process) for c in self.clients] + [("gapsim", self.gapsim)]
        for name, process in processes:
            if process is None or process.poll() is not None:
                continue
            process.terminate()
            try:
                process.wait(STOP_SECONDS)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if self.gap_port is None:
            return
        ports = [self.gap_port] + [p for c in self.clients for p in (c.file_port, c.conf_port)]
        held = [str(p) for p in ports if bound_port(p) is None]
        print("stopped gapsim and both clients; " +
              (f"ports still held: {', '.join(held)}" if held else
               f"ports {', '.join(map(str, ports))} are free again"), flush=True)

    # ---- what happened

    def audit_events(self, client):
        database = os.path.join(client.directory, "audit.db")
        if not os.path.exists(database):
            return []
        result = subprocess.run([self.binary("gapaudit"), "--db", database, "--format", "json"],
                                capture_output=True)
        if result.returncode != 0:
            return []
        try:
            return json.loads(result.stdout.decode("utf-8", "replace"))
        except ValueError:
            return []  # read while the store was being written; the next poll reads it whole

    def poll(self):
        self.check_processes()
        self.place_windows()
        self.read_gap_events()
        for client in self.clients:
            for event in self.audit_events(client):
                if event["id"] not in client.seen_ids:
                    client.seen_ids.add(event["id"])
                    self.on_audit_event(client, event)
        for sample in self.samples:
            self.settle(sample)

    def read_gap_events(self):
        if not os.path.exists(self.events_path):
            return
        with open(self.events_path, encoding="utf-8", errors="replace") as f:
            f.seek(self.events_offset)
            for line in iter(f.readline, ""):
                if not line.endswith("\n"):
                    break
                self.events_offset = f.tell()
                self.on_gap_event(*event_fields(line))

    def on_gap_event(self, name, fields):
        if name == "relay-start":
            self.relays[fields.get("id")] = fields.get("file", "")
        elif name == "relay-end":
            file = self.relays.get(fields.get("id"), "")
            result = fields.get("result", "")
            if result != "delivered":
                self.say("gap", f"{file}: relay ended with result={result}")
            for sample in self.samples:
                if sample.name == file:
                    sample.gap_result = result

    def on_audit_event(self, client, event):
        category, outcome = event.get("category"), event.get("outcome")
        parts = re.split(r"',\s?'", (event.get("detail") or "").strip("'"))
        if category == "CLIENT_LOGIN":
            operation = event.get("operation")
            if operation == "登录" and outcome == 1:
                client.logged_in = time.monotonic()
                self.say(client.user, f"logged in to gap {event.get('gap')}: {parts[-1]}")
            elif operation == "登录":
                raise DemoError(f"{client.user}'s login failed: {parts[-1]}")
            else:
                self.say(client.user, f"{operation}: {parts[-1]}")
            return
        if len(parts) < 4:
            return
        name, peer, message = parts[1], parts[2], parts[-1]
        # A received file is named as it was stored below bob's receive directory: with its
        # directories, and a time stamp in front when its name was taken.
        stored_name = re.sub(r"^\d{8}_\d{4}_(\d+_)?", "", os.path.basename(name))
        sample = next((s for s in self.samples if s.name in (name, stored_name)), None)
        if category == "CLIENT_SEND":
            verb = "sent" if outcome == 1 else "not sent"
            self.say(client.user, f"{verb:<12} {name} to {peer}: {message}")
            if sample:
                sample.send_result = (outcome, message)
        elif category == "CLIENT_RECV":
            verb = "received" if outcome == 1 else "not received"
            self.say(client.user, f"{verb:<12} {name} from {peer}: {message}")
            if sample and outcome == 1:
                sample.received = True

    def settle(self, sample):
        """Gives the sample its outcome once the stores, the gap and the directories show one."""
        if sample.outcome or sample.md5 is None or sample.send_result is None:
            return
        outcome, message = sample.send_result
        if outcome == 1 and sample.received:
            stored = self.find_received(sample)
            if stored:
                sample.outcome = "delivered"
                sample.detail = f"{self.relative(stored)}, MD5 matches the sample"
                self.say("bob", f"stored       {self.relative(stored)} (MD5 matches the sample)")
        elif outcome != 1 and not os.path.exists(os.path.join(self.alice.rule_dir, sample.relative)):
            # A refusal ends the file for good: the sender has removed it. A failed attempt that
            # will be retried leaves it in the send directory.
            sample.outcome = "refused"
            gap = f" (gap: {sample.gap_result})" if sample.gap_result else ""
            sample.detail = f"{message}{gap}"

    def find_received(self, sample):
        """Where the sample arrived under bob's receive directory: the file with its content."""
        expected = os.path.join(self.bob.rule_dir, sample.relative)
        candidates = [expected] + [os.path.join(root, name)
                                   for root, _dirs, names in os.walk(self.bob.rule_dir)
                                   for name in names if not name.startswith(".")]
        for path in candidates:
            if (os.path.isfile(path) and os.path.getsize(path) == sample.size
                    and md5_of(path) == sample.md5):
                return path
        return None

    # ---- the samples

    def drop_samples(self):
        """Writes each sample beside the send directory, then renames it in: the scanner only
        ever sees whole files."""
        staging = os.path.join(self.run_dir, "samples")
        for sample in self.samples:
            path = os.path.join(staging, sample.relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                if isinstance(sample.content, int):
                    for _ in range(0, sample.content, MIB):
                        f.write(os.urandom(min(MIB, sample.content - f.tell())))
                else:
                    f.write(sample.content)
            sample.md5 = md5_of(path)
        for entry in sorted(os.listdir(staging)):
            os.rename(os.path.join(staging, entry), os.path.join(self.alice.rule_dir, entry))
        self.say("demo", f"dropped {len(self.samples)} samples into "
                         f"{self.relative(self.alice.rule_dir)}:")
        for sample in self.samples:
            print(f"{'':16}{sample.relative} ({size_text(sample.size)}, {sample.why}; "
                  f"should be {sample.expected})", flush=True)

    def wait_for_outcomes(self):
        deadline = time.monotonic() + self.args.timeout
        while any(s.outcome is None for s in self.samples):
            if time.monotonic() > deadline:
                missing = ", ".join(s.relative for s in self.samples if s.outcome is None)
                raise DemoError(f"no outcome within {self.args.timeout} s for: {missing}; see "
                                f"{self.relative(self.events_path)} and the clients' "
                                f"gapclient.log under {self.relative(self.run_dir)}")
            time.sleep(POLL_SECONDS)
            self.poll()

    def summary(self):
        print("\noutcome of every sample:", flush=True)
        width = max(len(padded(s.relative, 0)) for s in self.samples)
        wrong = []
        for sample in self.samples:
            mark = "" if sample.outcome == sample.expected else "   <- should be " + sample.expected
            print(f"  {padded(sample.relative, width)}  {sample.outcome:<9}  {sample.detail}{mark}")
            if mark:
                wrong.append(sample.relative)
        print(flush=True)
        return wrong

    def run(self):
        self.prepare()
        self.say("demo", "headless: clients run offscreen" if self.headless else
                 "the clients' windows will show; Ctrl-C or closing a window ends the demo")
        self.start_gapsim()
        # bob first: his rules are loaded before alice, three seconds later, can send to him.
        self.start_client(self.bob, [])
        self.start_client(self.alice, ["--send"])
        self.drop_samples()
        self.wait_for_outcomes()
        wrong = self.summary()
        if wrong:
            raise DemoError("unexpected outcome for: " + ", ".join(wrong))
        if self.headless:
            return
        self.say("demo", "every sample has its outcome; Ctrl-C or close a window to end")
        while True:
            time.sleep(POLL_SECONDS)
            self.poll()


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin-dir", default=os.path.join(root, "build", "run", "bin"),
                        help="where gapclient, gapsim, gapaudit and libdlog.so are")
    parser.add_argument("--run-dir", default=os.path.join(root, "run"),
                        help="working directories of the demo (emptied first)")
    parser.add_argument("--example", default=os.path.join(root, "tools", "gapsim", "example.ini"),
                        help="the gap configuration the demo starts from")
    parser.add_argument("--large-mib", type=int, default=256, help="size of the large sample")
    parser.add_argument("--timeout", type=int, default=300,
                        help="seconds every sample has to reach its outcome")
    parser.add_argument("--gap-port", type=int, default=int(os.environ.get("GAP_PORT", 15188)))
    parser.add_argument("--file-port", type=int, default=int(os.environ.get("FILE_PORT", 15288)),
                        help="alice's file port; bob's is 100 above; a taken port is replaced, "
                             "0 lets the system pick")
    parser.add_argument("--conf-port", type=int, default=int(os.environ.get("CONF_PORT", 15289)))
    demo = Demo(parser.parse_args())
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, on_signal)
    code = 0
    try:
        demo.run()
    except Stopped as stop:
        print(f"\nstopping: {stop}", flush=True)
        code = stop.code
    except DemoError as error:
        print(f"\ndemo failed: {error}", file=sys.stderr, flush=True)
        code = 1
    finally:
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)  # the clean-up itself is not interrupted
        demo.stop_all()
    return code


if __name__ == "__main__":
    sys.exit(main())
