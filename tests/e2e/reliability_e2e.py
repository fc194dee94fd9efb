#!/usr/bin/env python3
"""Long robustness runs of quorlen.exe / quorlen32.exe under Wine against the
console simulator, each ending in one line "RESULT <json>" with its figures
(tools/reliability.sh makes its table from them). Exit code 0 when the run
passed.

    python3 tests/e2e/reliability_e2e.py --exe EXE [--sim SIM] [--probe PROBE] [--out DIR] soak [--cycles N]
    ... flood          10 s of junk at about 20,000 datagrams a second while
                       the program waits, then a proper report; and the same
                       during a fade, with "Stop When Fader Is Moved" off and on
    ... absent         60 s of waiting with nothing at the console's address

The flood's junk from the console's own address and port goes out through a
raw socket (it needs root, as the machines here run); none of it is a
report Quorlen may take. Only loopback addresses are used.
"""

import argparse
import json
import os
import socket
import struct
import sys
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree from the imports below
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))  # for debian_python alone
import debian_python  # noqa: E402,F401  (first: it may start this script again)
import psutil  # noqa: E402
import harness  # noqa: E402
from harness import LOOPBACK_CONFIG, expected_fade, level_of  # noqa: E402
from quorlen_window import CAPTURE, CAPTURE_BUSY, FAST, RESET_OFF, SPEEDS, STOP_WHEN_MOVED, TOO_SLOW  # noqa: E402


def linux_usage(pid):
    """What Linux tells of the process that runs the program: resident and
    private (anonymous) memory, open descriptors (every socket and file the
    program holds is one) and threads. Under Wine these stand in for the
    counters Windows keeps, which Wine doesn't report to another process."""
    process = psutil.Process(pid)
    with process.oneshot():
        memory = process.memory_info()  # resident less shared (file and shmem) is the anonymous part
        return dict(rss_kib=memory.rss // 1024, private_kib=(memory.rss - memory.shared) // 1024,
                    descriptors=process.num_fds(), threads=process.num_threads())


def cpu(pids, seconds_fn):
    """Runs seconds_fn() while sampling the CPU time of PIDS; returns its
    result and % of one core per process and in all."""
    sampler = harness.CpuSampler(pids)
    start = time.monotonic()
    result = seconds_fn()
    end = time.monotonic()
    sampler.stop()
    return result, harness.cpu_percent([sampler.between(start, end)])


# ---------------------------------------------------------------------------
# Soak

def soak(session, cycles, every=50):
    app = session.app(LOOPBACK_CONFIG, name="soak")
    app.wait_ready()
    sim = session.sim
    pid = harness.watched_pids(session, app.proc.pid)["program"]
    expected = expected_fade(0.03, SPEEDS[FAST], 0)
    samples, ports, faults = [], [], []

    def sample(cycle):
        windows = app.probe.json("usage") or {}
        usage = dict(cycle=cycle, windows={k: windows.get(k) for k in ("handles", "gdi", "user", "private")})
        if pid:
            usage.update(linux_usage(pid))
        samples.append(usage)

    started = time.monotonic()
    sample(0)
    for cycle in range(1, cycles + 1):
        app.press(FAST)
        app.wait_until(lambda i: app.control(FAST, i)["checked"] == 1, 5, "Fast")
        since = sim.mark()
        summaries = len(sim.summaries())
        app.press(CAPTURE)
        ports.append(sim.wait_subscription(since)["port"])
        sim.command("touch main 0.03")
        sim.wait_summary(summaries + 1, timeout=10)
        app.wait_idle()
        levels = [level_of(m) for m in sim.fader_messages(since)]
        if levels != expected:
            faults.append("cycle %d: levels %s" % (cycle, levels))
        if len(ports) > 1 and ports[-1] == ports[-2]:
            faults.append("cycle %d: the same local port as the cycle before" % cycle)
        if cycle % every == 0 or cycle == cycles:
            sample(cycle)
    seconds = time.monotonic() - started
    app.close()
    # Growth after warm-up: the sample after the first `every` cycles (or the
    # first one of a short run) against the last one.
    warm = next((s for s in samples if s["cycle"] >= min(every, cycles)), samples[-1])
    last = samples[-1]
    growth = {key: (last["windows"].get(key) or 0) - (warm["windows"].get(key) or 0)
              for key in ("handles", "gdi", "user", "private")}
    growth.update({key: last.get(key, 0) - warm.get(key, 0) for key in ("private_kib", "descriptors", "threads")})
    if (growth["handles"] > 0 or growth["gdi"] > 0 or growth["user"] > 0 or growth["private"] > 256 * 1024
            or growth["private_kib"] > 256 or growth["descriptors"] > 0 or growth["threads"] > 0):
        faults.append("growth after warm-up: %s" % growth)
    return dict(cycles=cycles, seconds=round(seconds, 1), unique_ports=len(set(ports)), faults=faults[:20],
                samples=samples, growth=growth, ok=not faults)


# ---------------------------------------------------------------------------
# Flood

def udp_packet(source, source_port, target, target_port, payload):
    """An IPv4 datagram for a raw socket: any source address and port on
    loopback. The UDP checksum 0 means none; the kernel fills in the IP one."""
    udp = struct.pack("!HHHH", source_port, target_port, 8 + len(payload), 0) + payload
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, socket.inet_aton(source),
                     socket.inet_aton(target))
    return ip + udp


def report(address, level, tag=b",f\0\0"):
    name = address.encode() + b"\0"
    name += b"\0" * (-len(name) % 4)
    return name + tag + struct.pack(">f", level)


def junk(port, fader="/main/st/mix/fader"):
    """Every kind of datagram the capture test refuses, the first ones from
    the console's own address and port."""
    proper = report(fader, 0.5)
    console = [report("/ch/06/mix/fader", 0.5), report("/main/st/eq/1/g", 0.5), report(fader, 0.5, b",i\0\0"),
               proper[:27], proper + b"\0", report(fader, float("nan")), report(fader, float("inf")),
               report(fader, -0.1), report(fader, 1.5), b"", bytes(2049), os.urandom(28)]
    packets = [udp_packet("127.0.0.1", 10023, "127.0.0.1", port, p) for p in console]
    packets.append(udp_packet("127.0.0.1", 40023, "127.0.0.1", port, proper))  # the console's host, another port
    packets.append(udp_packet("127.0.0.2", 10023, "127.0.0.1", port, proper))  # another host
    return packets


class Flood(threading.Thread):
    def __init__(self, port, seconds=10.0, rate=20000):
        super().__init__(daemon=True)
        self.packets = junk(port)
        self.seconds, self.rate, self.sent = seconds, rate, 0

    def run(self):
        raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
        start = time.monotonic()
        self.began = start
        while True:
            now = time.monotonic()
            if now - start >= self.seconds:
                break
            due = int((now - start) * self.rate)
            while self.sent < due:
                raw.sendto(self.packets[self.sent % len(self.packets)], ("127.0.0.1", 0))
                self.sent += 1
            time.sleep(0.001)
        self.ended = time.monotonic()
        raw.close()


def pace(messages):
    return {k: round(v, 3) for k, v in harness.pace(harness.intervals_ms(messages)).items()}


def flood_waiting(app, sim, pids):
    since = sim.mark()
    app.press(CAPTURE)
    port = sim.wait_subscription(since)["port"]
    flood = Flood(port)
    answers = []

    def during():
        flood.start()
        while flood.is_alive():
            t = time.monotonic()
            info = app.probe.info()
            answers.append((time.monotonic() - t, info is not None))
            time.sleep(0.1)
        flood.join()

    _, load = cpu(pids, during)
    still_waiting = app.control(CAPTURE, app.info())["text"] == CAPTURE_BUSY
    sim.command("touch main 0.5")  # the proper report, once the flood is over
    first = sim.wait_for(lambda e: e["dir"] == "in" and e.get("action") == "fader", since, 10, "the fade")
    after_flood_ms = (first["t_us"] - sim.sim_time(flood.ended)) / 1000.0
    app.press(RESET_OFF)
    app.wait_idle()
    answered = all(ok for _, ok in answers)
    return dict(sent=flood.sent, rate=round(flood.sent / (flood.ended - flood.began)), capture_taken=True,
                still_waiting_after_flood=still_waiting, first_message_after_flood_ms=round(after_flood_ms, 2),
                probe_answered=answered, probe_slowest_ms=round(1000 * max(a for a, _ in answers), 1),
                cpu_percent={k: round(v, 1) for k, v in load.items()}, ok=still_waiting and answered)


def flood_fading(app, sim, option_on):
    if option_on:
        app.probe.run("syscommand", STOP_WHEN_MOVED)
        time.sleep(0.3)
    since = sim.mark()
    app.press(CAPTURE)
    port = sim.wait_subscription(since)["port"]
    sim.command("touch main 1.0")  # Too Slow from the top: 20 s, more than the run needs
    sim.wait_for(lambda e: e["dir"] == "in" and e.get("action") == "fader", since, 10, "the fade")
    time.sleep(3.0)
    flood = Flood(port)
    flood.start()
    flood.join()
    app.press(RESET_OFF)
    app.wait_idle()
    if option_on:
        app.probe.run("syscommand", STOP_WHEN_MOVED)
        time.sleep(0.3)
    messages = sim.fader_messages(since)
    began, ended = sim.sim_time(flood.began), sim.sim_time(flood.ended)
    quiet = [m for m in messages if m["t_us"] < began]
    flooded = [m for m in messages if began <= m["t_us"] <= ended]
    levels = [level_of(m) for m in messages]
    exact = levels == expected_fade(1.0, SPEEDS[TOO_SLOW], 0)[:len(levels)]
    before, during = pace(quiet[1:]), pace(flooded)
    steady = bool(during) and during["mean"] <= 1.05 * before["mean"] and len(flooded) > 800
    return dict(option_on=option_on, sent=flood.sent, before=before, during=during, levels_exact=exact,
                ok=exact and steady)


def flood(session):
    app = session.app(LOOPBACK_CONFIG, name="flood")
    app.wait_ready()
    sim = session.sim
    pids = harness.watched_pids(session, app.proc.pid)
    waiting = flood_waiting(app, sim, pids)
    fading = [flood_fading(app, sim, False), flood_fading(app, sim, True)]
    app.close()
    return dict(waiting=waiting, fading=fading, ok=waiting["ok"] and all(f["ok"] for f in fading))


# ---------------------------------------------------------------------------
# Console absent

class Unreachables(threading.Thread):
    """The ICMP port-unreachable answers to datagrams for ADDRESS:10023 - on
    loopback, what each datagram to a port nobody listens on brings back."""

    def __init__(self, address):
        super().__init__(daemon=True)
        self.address = socket.inet_aton(address)
        self.seen = []
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
        self.sock.settimeout(0.2)
        self.done = False

    def run(self):
        while not self.done:
            try:
                data = self.sock.recv(2048)
            except socket.timeout:
                continue
            outer = (data[0] & 15) * 4
            if len(data) < outer + 8 + 28 or data[outer] != 3 or data[outer + 1] != 3:
                continue
            inner = data[outer + 8:]
            inner_len = (inner[0] & 15) * 4
            target, port = inner[16:20], struct.unpack("!H", inner[inner_len + 2:inner_len + 4])[0]
            if target == self.address and port == 10023:
                payload = inner[inner_len + 8:]
                self.seen.append((time.monotonic(), payload.split(b"\0", 1)[0].decode("ascii", "replace")))

    def stop(self):
        self.done = True
        self.join()
        self.sock.close()


def absent(session, seconds=60.0):
    app = session.app(["127", "0", "0", "4"], name="absent")
    app.wait_ready()
    pids = harness.watched_pids(session, app.proc.pid)
    icmp = Unreachables("127.0.0.4")
    icmp.start()
    app.press(CAPTURE)
    app.wait_text(CAPTURE, CAPTURE_BUSY)
    started = time.monotonic()
    _, load = cpu(pids, lambda: time.sleep(seconds))
    pressed = time.monotonic()
    app.press(RESET_OFF)
    app.wait_idle(timeout=10)
    reset_seconds = time.monotonic() - pressed
    time.sleep(0.5)
    icmp.stop()
    app.close()
    renewals = [round(t - started, 2) for t, what in icmp.seen if what == "/xremote" and t < pressed]
    gaps = [round(b - a, 2) for a, b in zip(renewals, renewals[1:])]
    ok = (len(renewals) >= int(seconds // 10) + 1 and all(9.5 <= g <= 11.0 for g in gaps) and reset_seconds < 5
          and (load.get("total") or 0) < 2.0)
    return dict(seconds=seconds, keep_alives_at=renewals, gaps=gaps, reset_off_seconds=round(reset_seconds, 2),
                reset_subscription=any(t >= pressed and what == "/xremote" for t, what in icmp.seen),
                cpu_percent={k: round(v, 2) for k, v in load.items()}, ok=ok)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("run", choices=["soak", "flood", "absent"])
    parser.add_argument("--cycles", type=int, default=500)
    parser.add_argument("--seconds", type=float, default=60.0)
    settings, rest = harness.settings(sys.argv[1:])
    args = parser.parse_args(rest)
    if reason := harness.skip_reason(settings):
        print("SKIPPED: " + reason, file=sys.stderr)
        sys.exit(harness.SKIP_EXIT_CODE)
    session = harness.Session(settings)
    try:
        if args.run == "soak":
            result = soak(session, args.cycles)
        elif args.run == "flood":
            result = flood(session)
        else:
            result = absent(session, args.seconds)
    finally:
        session.close()
    result["program"] = os.path.basename(settings.exe)
    print("RESULT " + json.dumps(result))
    sys.exit(0 if result["ok"] else 1)


if __name__ == "__main__":
    main()
