"""What the end-to-end suites (quorlen_e2e.py, linux_smoke.py,
reliability_e2e.py), the bench and the demo share: the Settings of a run (which
programs, where the output goes), a Session (an Xvfb, a Wine prefix, the console
simulator and the window probe) that starts the program under test as a user
does (Session.app, driven through quorlen_window.py), the fade arithmetic, and
the process figures (CPU time, the Wine processes of a prefix). Nothing here
holds a setting of its own: each run passes its Settings in."""

import argparse
import collections
import contextlib
import json
import math
import os
import re
import shlex
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree from the import below
import quorlen_window as window  # noqa: E402  (beside this file)
from quorlen_window import wait  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SKIP_EXIT_CODE = 77
LOOPBACK_CONFIG = ["127", "0", "0", "1"]
PERIOD_MS = 10.0  # between a fade's messages

# exe: the program under test; probe: quorlen-probe.exe; sim: the native
# console-sim; out: screenshots, logs and the simulator's files.
Settings = collections.namedtuple("Settings", "exe probe sim out")


def settings(argv=(), exe="win64-release/quorlen.exe", out=None):
    """The run's Settings from --exe, --probe, --sim and --out in ARGV, else
    from QUORLEN_E2E_EXE, _PROBE, _SIM and _OUT, else this tree's builds: EXE
    under build/, the probe of the exe's build, the first console-sim built, and
    OUT (by default e2e-<exe's name>) beside the exe. Returns them and the rest
    of ARGV."""
    parser = argparse.ArgumentParser(add_help=False)
    for name in Settings._fields:
        parser.add_argument("--" + name, default=os.environ.get("QUORLEN_E2E_" + name.upper()))
    args, rest = parser.parse_known_args(argv)
    exe = os.path.abspath(args.exe or os.path.join(REPO, "build", exe))
    exe_dir = os.path.dirname(exe)
    sims = [os.path.join(REPO, "build", preset, "tools", "console-sim", "console-sim")
            for preset in ("linux-debug", "linux-asan", "linux-qt")]
    sim = args.sim or next((path for path in sims if os.path.exists(path)), None)
    out = args.out or os.path.join(exe_dir, out or "e2e-" + os.path.splitext(os.path.basename(exe))[0])
    probe = args.probe or os.path.join(exe_dir, "tools", "quorlen-probe", "quorlen-probe.exe")
    return Settings(exe, os.path.abspath(probe), sim and os.path.abspath(sim), os.path.abspath(out)), rest


def maker_web_address():
    with open(os.path.join(REPO, "ui", "controls.h"), encoding="utf-8") as f:
        return re.search(r'kMakerWebAddress\s*=\s*"([^"]*)"', f.read()).group(1)


# ---------------------------------------------------------------------------
# The fade arithmetic.

def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def expected_fade(start, step, minimum_percent):
    """The levels a fade sends: the touched level first, each next one the
    previous minus step in 32-bit floats, none at or below the minimum."""
    position, step, minimum = f32(start), f32(step), f32(minimum_percent / 100.0)
    levels = []
    while True:
        levels.append(position)
        position = f32(position - step)
        if position <= minimum:
            return levels


def db_text(level):
    """A fader level as the status bar writes it in dB: the console's law from
    its OSC documentation, here apart from the program's copy, one decimal
    rounded half away from zero, a sign but on nought."""
    if level <= 0:
        return "-\u221e dB"
    db = (40 * level - 30 if level >= 0.5 else 80 * level - 50 if level >= 0.25 else
          160 * level - 70 if level >= 0.0625 else 480 * level - 90)
    tenths = int(math.floor(abs(db) * 10 + 0.5)) * (1 if db >= 0 else -1)
    return "%s%d.%d dB" % ("-" if tenths < 0 else "+" if tenths > 0 else "", abs(tenths) // 10, abs(tenths) % 10)


CONSOLE_LINE = 'Console X32 "X32-SIM", firmware 3.04, at 127.0.0.1'  # the simulator's answer, as the status bar says it
NO_ANSWER_LINE = "No answer from 127.0.0.1 (UDP 10023): check Edit IP, the network and the firewall"


def level_of(entry):
    """The float a logged fader message carries, exactly: its last four bytes
    (24 to 27, or 20 to 23 for a DCA's shorter address)."""
    return struct.unpack(">f", bytes.fromhex(entry["hex"])[-4:])[0]


def message_length(address):
    """An OSC message with one float: the address padded to a multiple of 4
    with at least one zero byte, ",f" padded to 4, the float."""
    return (len(address) // 4 + 1) * 4 + 8


def nearest_rank(values, percent):
    """The percentile the simulator's own fade summaries take."""
    ordered = sorted(values)
    return ordered[max(1, -(-len(ordered) * percent // 100)) - 1]  # the rank: len * percent / 100, rounded up


def intervals_ms(messages):
    """The milliseconds between consecutive logged datagrams."""
    return [(b["t_us"] - a["t_us"]) / 1000.0 for a, b in zip(messages, messages[1:])]


def pace(intervals):
    """Mean, median, p99 and longest of INTERVALS (ms), and how many; {} for none."""
    if not intervals:
        return {}
    return dict(mean=sum(intervals) / len(intervals), p50=nearest_rank(intervals, 50),
                p99=nearest_rank(intervals, 99), max=max(intervals), count=len(intervals))


# ---------------------------------------------------------------------------
# Running Windows programs here.

def pe_machine(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    offset = struct.unpack_from("<I", data, 60)[0]
    return struct.unpack_from("<H", data, offset + 4)[0]  # 0x14c i386, 0x8664 x64


def can_run_32bit():
    """True where this machine executes 32-bit x86 Linux programs (which
    plain 32-bit Wine needs)."""
    loader = "/usr/lib/wine/wine"
    if not os.path.exists(loader):
        return False
    try:
        return subprocess.run([loader, "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=30).returncode == 0
    except OSError:
        return False


def wine_command(path):
    """The command that runs a Windows program here, or None."""
    if pe_machine(path) == 0x14C:
        prefix = os.environ.get("QUORLEN_WINE32")
        if prefix:
            return shlex.split(prefix) + [path]
        return ["wine", path] if can_run_32bit() else None
    if os.path.exists("/usr/lib/wine/wine64"):
        return ["/usr/lib/wine/wine64", path]
    return ["wine", path]


def probe_reads_field_memory(settings):
    """The probe reads the address field's value through memory it places
    in the program; a 64-bit probe's block is out of a 32-bit program's
    reach, so only the field's text is compared then."""
    return pe_machine(settings.exe) == pe_machine(settings.probe)


def skip_reason(settings):
    """Why SETTINGS' Windows program can't be run and read here, or None."""
    if not os.path.exists(settings.exe):
        return "%s is not built" % settings.exe
    if not os.path.exists(settings.probe):
        return "the window probe %s is not built" % settings.probe
    if not settings.sim or not os.path.exists(settings.sim):
        return "the console simulator is not built (native preset, target console-sim)"
    for tool in ("Xvfb", "xdotool", "import"):
        if shutil.which(tool) is None:
            return "%s is not installed (tools/install-deps.sh)" % tool
    if wine_command(settings.exe) is None:
        return ("%s is a 32-bit program and this machine can't run 32-bit x86 code; "
                "set QUORLEN_WINE32 to a command prefix that runs it" % os.path.basename(settings.exe))
    if wine_command(settings.probe) is None:
        return "the probe %s can't be run here (32-bit; set QUORLEN_E2E_PROBE to a 64-bit one)" % settings.probe
    return None


# ---------------------------------------------------------------------------
# The run's environment: display, Wine prefix, simulator, probe.

class Session:
    """One Xvfb, one Wine prefix with a persistent wineserver, one console
    simulator on ADDRESS and one probe, for SETTINGS' program. The bench starts
    one per program it measures: its simulator on another loopback address,
    and for a native program no Wine and no probe. DISPLAY: a desktop's own,
    where the user clicks, instead of an Xvfb."""

    def __init__(self, settings, address="127.0.0.1", wine=True, display=None, simulator=True):
        self.settings, self.wine = settings, wine
        os.makedirs(settings.out, exist_ok=True)
        self.out = settings.out
        self.tmp = tempfile.mkdtemp(prefix="quorlen-e2e-")
        self.env = dict(os.environ)
        self.env.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", QT_QPA_PLATFORM="xcb",
                        WINEPREFIX=os.environ.get("QUORLEN_E2E_WINEPREFIX", "/tmp/quorlen-e2e-wineprefix"))
        if os.path.exists("/usr/lib/wine/wine64"):
            self.env["WINELOADER"] = "/usr/lib/wine/wine64"
        self.xvfb = self.wineserver = self.probe = self.sim = None
        try:
            if display:
                self.display = self.env["DISPLAY"] = display
            else:
                self.start_display()
            if wine:
                self.start_wine()
            if simulator:
                self.sim = Simulator(settings.sim, settings.out, address)
            if wine:
                self.probe = window.Probe(wine_command(settings.probe) + ["serve"], self.env)
        except BaseException:
            self.close()  # e.g. port 10023 in use: leave no Xvfb or wineserver behind
            raise

    def start_display(self):
        read_fd, write_fd = os.pipe()
        # -noreset: a native program is the display's only client, and the
        # server's reset when it goes could refuse the next program's start.
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp", "-noreset"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        os.close(write_fd)
        self.xvfb = xvfb
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.env["DISPLAY"] = self.display
        # Nothing of the desktop's session: a Qt program would look for its
        # Wayland, and its desktop entry for its configuration directory.
        for name in ("WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "XDG_CONFIG_HOME"):
            self.env.pop(name, None)

    def start_wine(self):
        """The prefix is prepared exactly as the test and demo scripts do it
        (tools/wine-env.sh): made once, with its 32-bit half where 32-bit
        programs go through a wrapper, and a wineserver and services that stay
        for the run."""
        self.wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
        env = dict(self.env, QUORLEN_WINEPREFIX=self.env["WINEPREFIX"])
        subprocess.run(["bash", "-c", 'source "$1/tools/wine-env.sh" && quorlen_prepare_wine', "bash", REPO],
                       env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=900, check=True)

    def app(self, config_lines=None, command=None, **kwargs):
        """The program under test (or COMMAND) started in this session, under
        Wine when the session has it; the keywords are quorlen_window.App's."""
        command = command or (wine_command(self.settings.exe) if self.wine else [self.settings.exe])
        return window.App(self, command, config_lines, **kwargs)

    def close(self):
        for part in (getattr(self, "probe", None), getattr(self, "sim", None)):
            if part is not None:
                part.close()
        if self.wineserver is not None:
            subprocess.run([self.wineserver, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=10)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def xdotool(self, *args):
        return window.xdotool(self.env, *args)


class Simulator:
    """The console-sim process PATH on ADDRESS:10023, its log and summaries
    in the directory OUT."""

    def __init__(self, path, out, address="127.0.0.1"):
        self.address = address
        self.log_path = os.path.join(out, "console-sim.jsonl")
        self.summary_path = os.path.join(out, "console-sim-fades.jsonl")
        self.stdout_path = os.path.join(out, "console-sim.out")
        self.out = open(self.stdout_path, "w")
        self.proc = subprocess.Popen([path, "--address", address, "--log", self.log_path, "--summary-json",
                                      self.summary_path, "--no-bar", "--fade-gap", "200"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        first = self.proc.stdout.readline()
        if "listening on %s:10023" % address not in first:
            rest = self.proc.stdout.read() if self.proc.wait(timeout=10) is not None else ""
            self.out.close()
            raise RuntimeError("console-sim did not start: " + first + (rest or ""))
        self.out.write(first)
        self._copier = threading.Thread(target=self._copy_output, daemon=True)
        self._copier.start()
        self.entries = []
        self._offset = 0
        self._partial = ""
        self.clock_offset = self._synchronise_clock()

    def _copy_output(self):
        for line in self.proc.stdout:
            self.out.write(line)
            self.out.flush()

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def read(self):
        with open(self.log_path, encoding="utf-8") as f:
            f.seek(self._offset)
            data = f.read()
            self._offset = f.tell()
        data = self._partial + data
        lines = data.split("\n")
        self._partial = lines.pop()
        self.entries.extend(json.loads(line) for line in lines if line.strip())
        return self.entries

    def mark(self):
        return len(self.read())

    def wait_for(self, predicate, since=0, timeout=10.0, what="a datagram"):
        """The first entry from SINCE on that PREDICATE holds for."""
        return wait(lambda: next(filter(predicate, self.read()[since:]), None), timeout, "the console to see " + what,
                    0.02)

    def wait_subscription(self, since, timeout=10.0):
        return self.wait_for(lambda e: e["dir"] == "in" and e.get("address") == "/xremote", since, timeout,
                             "an /xremote")

    def subscriptions(self, since=0):
        return [e for e in self.read()[since:] if e["dir"] == "in" and e.get("address") == "/xremote"]

    def fader_messages(self, since=0, lost_too=False):
        """The program's fader messages that arrived (LOST_TOO: and those a
        lossy network lost on the way)."""
        arrived = ("in", "lost in") if lost_too else ("in",)
        return [e for e in self.read()[since:] if e["dir"] in arrived and e.get("action") == "fader"]

    def summaries(self):
        with open(self.summary_path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def wait_summary(self, count, timeout=10.0):
        """The COUNTth summary of a fade."""
        return wait(lambda: self.summaries()[count - 1:count], timeout, "the console simulator to end a fade", 0.02)[0]

    def wait_summed_up(self, timeout=10.0):
        """Every fader message so far is in a summary (the simulator ends a
        fade once the console has been quiet for a while), so that summaries
        counted from now on are of fades to come."""
        def summed_up():
            messages, ends = self.fader_messages(), [s["end_us"] for s in self.summaries()]
            return not messages or ends and messages[-1]["t_us"] <= ends[-1]
        wait(summed_up, timeout, "the console simulator to sum up the last fade", 0.02)

    def hand_on_a_lossy_network(self, fader, first, wait_idle):
        """From a fade's first message FIRST on, the network loses a tenth of
        the datagrams each way and the fade's first renewal of the
        subscription; 11.5 s in, a hand moves FADER from 0.35 to 0.6 over
        200 ms; WAIT_IDLE() waits for the program's reset, and then the hand's
        last report. Returns the hand's reports, whether lost or not."""
        try:
            for command in ("lose seed 7", "lose fade-xremote on", "lose in 0.1", "lose out 0.1"):
                self.command(command)
            while self.sim_time(time.monotonic()) < first["t_us"] + 11.5e6:
                time.sleep(0.05)
            mark = self.mark()
            self.command("hand %s 0.35 0.6 200" % fader)
            wait_idle()
            # The program may be idle again well before the hand is done.
            self.wait_for(lambda e: e["dir"] in ("out", "lost out") and e.get("action", "").startswith("hand")
                          and level_of(e) == f32(0.6), mark, 5, "the hand's last report")
        finally:
            for command in ("lose in 0", "lose out 0", "lose fade-xremote off"):
                self.command(command)
        return [e for e in self.read()[mark:] if e["dir"] in ("out", "lost out") and e.get("action", "").startswith("hand")]

    def _synchronise_clock(self):
        """The offset between this process's monotonic clock and the
        simulator's t_us, from one datagram sent to it."""
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind(("127.0.0.1", 0))
        since = self.mark()
        before = time.monotonic()
        sock.sendto(b"/e2e/clock\0\0,\0\0\0", (self.address, 10023))
        after = time.monotonic()
        port = sock.getsockname()[1]
        entry = self.wait_for(lambda e: e["dir"] == "in" and e["port"] == port, since, 5, "the clock datagram")
        sock.close()
        return (before + after) / 2 - entry["t_us"] / 1e6

    def sim_time(self, monotonic_seconds):
        return (monotonic_seconds - self.clock_offset) * 1e6

    def close(self):
        if self.proc.poll() is None:
            try:
                self.command("quit")
                self.proc.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.terminate()
                self.proc.wait(timeout=5)
        self._copier.join(timeout=5)  # it writes to self.out until the simulator's output ends
        self.out.close()


# ---------------------------------------------------------------------------
# What the program costs: its memory, and CPU time over any stretch.

def peak_memory_kib(app):
    """The highest VmHWM among the Linux processes that run APP's program in
    its directory (under the 32-bit wrapper the process started is not the
    program itself), or None when none is found."""
    name = os.path.basename(app.session.settings.exe).encode()
    peak = None
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/cwd" % pid) != app.dir:
                continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if name not in f.read():
                    continue
            with open("/proc/%s/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak or 0, int(line.split()[1]))
        except (OSError, ValueError):
            continue
    return peak


def watched_pids(session, pid):
    """The processes that run the program started in SESSION as PID: that
    one natively; under Wine, the program's own and the prefix's wineserver,
    found by the names Wine gives them (the 32-bit wrapper takes a moment)."""
    if not session.wine:
        return {"program": pid}
    import psutil  # here: the suites that never take these figures run without it
    names = {"program": os.path.basename(session.settings.exe), "wineserver": "wineserver"}

    def found():
        pids = {key: p.pid for p in psutil.process_iter(["name", "environ"]) for key, name in names.items()
                if (p.info["name"] or "").startswith(name)
                and (p.info["environ"] or {}).get("WINEPREFIX") == session.env["WINEPREFIX"]}
        return len(pids) == len(names) and dict(sorted(pids.items()))  # the program first, as in the figures
    return wait(found, 30, "%s and the wineserver under Wine" % names["program"])


class CpuSampler(threading.Thread):
    """Reads the CPU time of the watched processes every 50 ms from its start
    to stop(), so that any stretch can be costed afterwards; an ended process's
    last reading stands. A daemon: a run that fails ends the bench with it."""

    def __init__(self, pids):
        super().__init__(daemon=True)
        self.pids = pids
        self.samples = []
        self.done = threading.Event()
        self.start()

    def run(self):
        last = dict.fromkeys(self.pids, 0.0)
        while not self.done.is_set():
            for name, pid in self.pids.items():
                # The process's CPU clock (its id as clock_getcpuclockid(3) makes it) counts in nanoseconds,
                # where psutil's cpu_times reads 10 ms ticks, too coarse for steps of a few hundred us.
                with contextlib.suppress(OSError):  # it has ended
                    last[name] = time.clock_gettime((~pid << 3) | 2)
            self.samples.append((time.monotonic(), dict(last)))
            self.done.wait(0.05)

    def stop(self):
        self.done.set()
        self.join()

    def between(self, start, end):
        """(wall seconds, {name: CPU seconds}) between the first sample at or
        after START and the last one at or before END."""
        inside = [s for s in self.samples if start <= s[0] <= end] or [(0.0, dict.fromkeys(self.pids, 0.0))]
        (t0, a), (t1, b) = inside[0], inside[-1]
        return t1 - t0, {name: b[name] - a[name] for name in self.pids}

    def step_us_by_second(self, start, end):
        """CPU microseconds per 10 ms step, all watched processes together, in
        each whole second from START to END: a few seconds in which the
        shared machine runs everything slower then show as a few seconds,
        where they would move the figure of the whole stretch."""
        inside = [s for s in self.samples if start <= s[0] <= end]
        figures, first = [], 0
        for i, (at, cpu) in enumerate(inside):
            t0, cpu0 = inside[first]
            if at >= t0 + 1.0:
                figures.append(sum(cpu[n] - cpu0[n] for n in cpu) * 1e3 * PERIOD_MS / (at - t0))
                first = i
        return figures


def cpu_percent(stretches):
    """% of one core over (wall, {name: CPU}) stretches, per process and in all."""
    wall = sum(w for w, _ in stretches)
    shares = {n: 100.0 * sum(c[n] for _, c in stretches) / wall if wall else None for n in stretches[0][1]}
    shares["total"] = sum(shares.values()) if wall else None
    return shares
