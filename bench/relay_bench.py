#!/usr/bin/env python3
"""Relays one large file through gapsim between a scripted sender and a scripted receiving
client on loopback, and prints the throughput and gapsim's peak memory (VmHWM).

    bench/relay_bench.py [--size-mib 1024] [--gapsim build/test/bin/gapsim]

It reports; it never fails on a figure. The relayed stream is checked byte for byte (MD5 of
what the receiver got against what the sender sent)."""

import argparse
import hashlib
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

PACKET = 1460
PAYLOAD = 1444
BURST = 100          # data packets per write, as the client sends them


def packet(ptype, body=b""):
    p = struct.pack("<Q", ptype) + body
    return p + b"\0" * (PACKET - len(p))


def descriptor(size, md5_text):
    p = bytearray(packet(0))
    struct.pack_into("<q", p, 8, size)
    p[16:16 + 9] = b"127.0.0.1"
    p[62:62 + 12] = b"ALICE-TO-BOB"
    p[102:102 + 9] = b"bench.bin"
    p[1126:1131] = b"alice"
    p[1146:1149] = b"bob"
    p[1166:1198] = md5_text
    return bytes(p)


def recv_exactly(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise RuntimeError("connection closed after %d of %d bytes" % (len(data), n))
        data += chunk
    return data


def burst_of(size_packets, seed):
    """One burst of data packets whose payloads are a fixed pseudo-random pattern."""
    payload = (hashlib.sha256(seed).digest() * (PAYLOAD // 32 + 1))[:PAYLOAD]
    data_packet = struct.pack("<Q", 1) + payload + b"\0" * 8
    return data_packet * size_packets, payload * size_packets


def cpu_seconds_of(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def memory_of(pid):
    figures = {}
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                figures[key] = value.strip()
    return figures


class Receiver(threading.Thread):
    def __init__(self, server, expected_bytes):
        super().__init__(daemon=True)
        self.server = server
        self.expected = expected_bytes
        self.digest = hashlib.md5()
        self.error = None

    def run(self):
        try:
            conn, _ = self.server.accept()
            with conn:
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
                desc = recv_exactly(conn, PACKET)
                response = bytearray(packet(9))
                response[100:140] = desc[62:102]
                conn.sendall(bytes(response))
                remaining = self.expected
                view = bytearray(1 << 20)
                while remaining > 0:
                    n = conn.recv_into(view, min(len(view), remaining))
                    if n == 0:
                        raise RuntimeError("stream ended %d bytes early" % remaining)
                    self.digest.update(memoryview(view)[:n])
                    remaining -= n
                conn.sendall(packet(5))
        except Exception as exc:  # reported by the main thread
            self.error = exc


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--gapsim", default=os.path.join(root, "build", "test", "bin", "gapsim"))
    args = parser.parse_args()

    bursts = max(1, args.size_mib * (1 << 20) // (BURST * PAYLOAD))
    burst, burst_content = burst_of(BURST, b"gapsim relay bench")
    tail = b"tail of the file"
    size = bursts * len(burst_content) + len(tail)
    content_md5 = hashlib.md5()
    stream_md5 = hashlib.md5()
    for _ in range(bursts):
        content_md5.update(burst_content)
        stream_md5.update(burst)
    file_end = packet(2, struct.pack("<q", len(tail)) + tail)
    stream_md5.update(file_end)

    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    receiver = Receiver(server, bursts * len(burst) + PACKET)

    with tempfile.TemporaryDirectory() as work:
        config = os.path.join(work, "bench.ini")
        with open(config, "w") as out:
            out.write("[user.alice]\npassword = alice-pass\n"
                      "[user.bob]\npassword = bob-pass\naddress = 127.0.0.1\nfile_port = %d\n"
                      "[path.ALICE-TO-BOB]\nfrom = alice\nto = bob\n"
                      "[policy]\nkeywords = TOPSECRET\nvirus_signature = X5O-BENCH-VIRUS\n"
                      % server.getsockname()[1])
        gapsim = subprocess.Popen([args.gapsim, "--config", config, "--listen", "127.0.0.1",
                                   "--port", "0"], stdout=subprocess.PIPE, text=True)
        try:
            port = int(gapsim.stdout.readline().split("port=")[1])
            receiver.start()
            sender = socket.create_connection(("127.0.0.1", port))
            sender.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 146000)
            started = time.monotonic()
            sender.sendall(descriptor(size, content_md5.hexdigest().upper().encode()))
            answers = [struct.unpack_from("<Q", recv_exactly(sender, PACKET))[0] for _ in range(2)]
            if answers != [3, 9]:
                raise RuntimeError("type check and descriptor response were %s" % answers)
            for _ in range(bursts):
                sender.sendall(burst)
            sender.sendall(file_end)
            confirmation = struct.unpack_from("<Q", recv_exactly(sender, PACKET))[0]
            elapsed = time.monotonic() - started
            receiver.join(60)
            sender.close()
            memory = memory_of(gapsim.pid)
            cpu = cpu_seconds_of(gapsim.pid)
        finally:
            gapsim.terminate()
            gapsim.wait(30)

    if receiver.error:
        raise receiver.error
    exact = receiver.digest.hexdigest() == stream_md5.hexdigest()
    print("file size            %d bytes (%.1f MiB)" % (size, size / (1 << 20)))
    print("confirmation         %d" % confirmation)
    print("relay byte-exact     %s" % ("yes" if exact else "NO"))
    print("elapsed              %.2f s" % elapsed)
    print("throughput           %.1f MiB/s" % (size / (1 << 20) / elapsed))
    print("gapsim CPU time      %.2f s (%.0f%% of the elapsed time)" % (cpu, 100 * cpu / elapsed))
    print("gapsim peak RSS      %s (VmHWM)" % memory.get("VmHWM", "?"))
    print("gapsim RSS at end    %s (VmRSS)" % memory.get("VmRSS", "?"))
    return 0 if exact and confirmation == 5 else 1


if __name__ == "__main__":
    sys.exit(main())
