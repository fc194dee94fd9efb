"""Quorlen's window, acted on as a user acts on it: the one driver that the
end-to-end suites, the bench, the reliability runs and the demo start the
program with and work its window through. It drives in one of two ways:

- with the window probe (tools/quorlen-probe, itself a Windows program, so for
  the Windows programs under Wine): xdotool clicks and keys at the points the
  probe gives, and the window read back through the probe after each step;
- at the layout's client coordinates of the window found by its title (any
  program, the Linux one too): as nothing reads the window then, the console
  simulator's log says when a capture or a reset took.
"""

import ctypes
import json
import os
import re
import subprocess
import tempfile
import threading
import time

TITLE = "Quorlen -Tavisk - Beta 2 - For Behringer X32"
CAPTURE_IDLE = "Get Main Position Until Touch"
CAPTURE_BUSY = "Touch Selected Downwards"
SPEEDS = {100: 0.0005, 101: 0.0015, 102: 0.003, 103: 0.006}
TOO_SLOW, SLOW, NORMAL, FAST = 100, 101, 102, 103
CHANNEL_LIST, CAPTURE, RESET_OFF, UPDATES = 162, 210, 230, 330
MINIMUM_SPIN, EDIT_IP, STATUS_BAR, IP_FIELD = 350, 400, 456, 999
SPIN_ARROWS = 1350  # the arrow pair beside MinimumSpin's text box
STOP_WHEN_MOVED = 0x0010  # "Stop When Fader Is Moved" in the window's system menu
SHOW_ALL_FADERS = 0x0020  # "Show All Faders", the item below it
MAIN_AND_CHANNELS = 33  # the list's entries while "Show All Faders" is off

# name, number, class, text, x, y, w, h, enabled: client rectangles in logical
# pixels, the same in every platform's window.
CONTROL_TABLE = [
    ("TooSlowOption", 100, "Button", "Too Slow", 18, 22, 62, 25, True),
    ("SlowOption", 101, "Button", "Slow", 18, 46, 62, 25, True),
    ("NormalOption", 102, "Button", "Normal", 18, 68, 62, 25, True),
    ("FastOption", 103, "Button", "Fast", 18, 90, 62, 25, True),
    ("CaptureButton", 210, "Button", CAPTURE_IDLE, 95, 10, 155, 35, True),
    ("ResetOffButton", 230, "Button", "Reset Off", 95, 52, 155, 35, False),
    ("UpdatesButton", 330, "Button", "Updates", 95, 92, 155, 35, True),
    ("ChannelListLabel", None, "Static", "Pick Out One Channel", 426, 16, 130, 20, True),
    ("ChannelList", 162, "ListBox", "", 426, 32, 140, 94, True),
    ("EditIpButton", 400, "Button", "Edit IP", 280, 15, 130, 25, True),
    ("MixerIpLabel", None, "Static", "IP", 280, 45, 130, 20, True),
    ("MixerIpField", 999, "SysIPAddress32", None, 280, 60, 130, 21, False),
    ("MinimumLabel", None, "Static", "Fade to (100 --> 0)", 280, 90, 130, 20, True),
]
LAYOUT = {number: (x, y, w, h) for _, number, _, _, x, y, w, h, _ in CONTROL_TABLE if number}
LAYOUT[MINIMUM_SPIN] = (280, 105, 112, 21)  # its text box, left of the arrows
TOP_ROW_Y = 8  # the middle of the list's first visible row, from the list's top

# The start-up's last drain, and the reset's, discard clicks made before the
# main loop runs again: a short pause after either covers it.
SETTLE_SECONDS = 0.3


def wait(found, timeout=10.0, what="the window to change", every=0.05):
    """FOUND()'s first true answer, asked every EVERY seconds; after TIMEOUT
    seconds without one, an AssertionError that names WHAT."""
    deadline = time.monotonic() + timeout
    while True:
        answer = found()
        if answer:
            return answer
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(every)


def xdotool(env, *args, check=True):
    return subprocess.run(["xdotool"] + [str(a) for a in args], env=env, check=check, capture_output=True,
                          text=True, timeout=60).stdout


def send_close_request(display, window):
    """What a window manager sends when the close box is clicked."""
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

    dpy = x11.XOpenDisplay(display.encode())
    event = ClientMessage()
    event.type = 33  # ClientMessage
    event.window = window
    event.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    event.format = 32
    event.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
    x11.XFlush(dpy)
    x11.XCloseDisplay(dpy)


class Probe:
    """quorlen-probe in serve mode (COMMAND ends in "serve"): one Wine process
    for every query."""

    def __init__(self, command, env):
        self.proc = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        self.lock = threading.Lock()

    def run(self, *words):
        with self.lock:
            self.proc.stdin.write(" ".join(str(w) for w in words) + "\n")
            self.proc.stdin.flush()
            output = []
            while True:
                line = self.proc.stdout.readline()
                if not line:
                    raise RuntimeError("the probe ended")
                match = re.match(r"^=> (-?\d+)$", line.strip())
                if match:
                    return int(match.group(1)), "".join(output)
                output.append(line)

    def json(self, *words):
        code, output = self.run(*words)
        return json.loads(output) if code == 0 else None

    def info(self):
        return self.json("info")

    def point(self, control, row=None):
        code, output = self.run("point", control, *([] if row is None else [row]))
        if code != 0:
            raise AssertionError("no control %s" % control)
        x, y = output.split()
        return int(x), int(y)

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.flush()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class App:
    """COMMAND started in a directory of its own (DIRECTORY, or a new one under
    SESSION.tmp named after NAME), with config.txt from CONFIG_LINES or
    CONFIG_BYTES, EXTRA_FILES beside it, and PREPARE(dir) run first. SESSION
    gives the display's environment (env), the console simulator (sim), the
    window probe (probe) and where screenshots go (out); with PROBE false, or a session without
    one, the window is driven at client coordinates. ENVIRONMENT adds to the
    session's; OPENER false leaves xdg-open to the session's PATH."""

    def __init__(self, session, command, config_lines=None, config_bytes=None, extra_files=None, name="run",
                 prepare=None, directory=None, probe=True, opener=True, environment=None):
        self.session = session
        self.dir = directory or tempfile.mkdtemp(prefix=name + "-", dir=session.tmp)
        if config_bytes is None and config_lines is not None:
            config_bytes = "".join(line + "\n" for line in config_lines).encode()
        if config_bytes is not None:
            with open(os.path.join(self.dir, "config.txt"), "wb") as f:
                f.write(config_bytes)
        for file_name, content in (extra_files or {}).items():
            with open(os.path.join(self.dir, file_name), "wb") as f:
                f.write(content)
        if prepare is not None:
            prepare(self.dir)
        self.env = dict(session.env, **(environment or {}))
        if opener:  # a browser stand-in: Wine hands web addresses to xdg-open
            self.bin = os.path.join(self.dir, "bin")
            os.makedirs(self.bin)
            self.opened = os.path.join(self.dir, "xdg-open.log")
            script = os.path.join(self.bin, "xdg-open")
            with open(script, "w") as f:
                f.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\n' % self.opened)
            os.chmod(script, 0o755)
            self.env["PATH"] = self.bin + os.pathsep + self.env.get("PATH", "")
        self.output = open(os.path.join(self.dir, "app.out"), "w")
        self.proc = subprocess.Popen(command, cwd=self.dir, env=self.env, stdout=self.output,
                                     stderr=subprocess.STDOUT)
        self.probe = session.probe if probe else None
        self.sim = session.sim
        self.window = None  # the X window, when driven at coordinates
        self.origin = None
        self.ready_at = None

    # -- starting, and reading the window ------------------------------------

    def wait_window(self, timeout=30.0):
        """The main window is there: its state through the probe, or the X
        window found by the title (X draws no frame here, so the X window is
        the client area)."""
        if self.probe:
            code, _ = self.probe.run("wait", int(timeout * 1000))
            if code != 0:
                raise AssertionError("the main window did not appear")
            return self.probe.info()
        found = wait(lambda: xdotool(self.env, "search", "--onlyvisible", "--name", "^%s$" % TITLE,
                                     check=False).split(), timeout, "a window titled %r" % TITLE, 0.01)
        self.window = int(found[0])
        geometry = self.geometry()
        self.origin = geometry["X"], geometry["Y"]
        return None

    def wait_ready(self, timeout=30.0):
        """Ready for input: the window exists, with its starting states,
        before the address file is read, and the field shows the address only
        after that (without the probe: once the window is mapped). READY_AT is
        then; the pause after it covers the start-up's last drain."""
        info = self.wait_window(timeout)
        if self.probe:
            info = self.wait_until(lambda i: not self.control(IP_FIELD, i).get("blank", True), 10,
                                   "the address field to show the address")
        self.ready_at = time.monotonic()
        time.sleep(SETTLE_SECONDS)
        return info

    def geometry(self):
        text = xdotool(self.env, "getwindowgeometry", "--shell", self.window)
        return {k: int(v) for k, v in (line.split("=") for line in text.split()) if k != "SCREEN"}

    def info(self):
        info = self.probe.info()
        if info is None:
            raise AssertionError("the main window is gone")
        return info

    def control(self, number, info=None):
        info = info or self.info()
        for c in info["controls"]:
            if c["id"] == number:
                return c
        raise AssertionError("no control %d" % number)

    def wait_until(self, predicate, timeout=10.0, what="the window to change"):
        """The window once PREDICATE holds for it."""
        return wait(lambda: next(filter(predicate, [self.info()]), None), timeout, what)

    def wait_text(self, number, text, timeout=5.0):
        return self.wait_until(lambda i: self.control(number, i)["text"] == text, timeout,
                               "control %d to read %r" % (number, text))

    def screenshot(self, name):
        """The client area as NAME.png in the session's output directory (no
        window manager draws a frame here); returns the file's path."""
        path = os.path.join(self.session.out, name + ".png")
        if self.probe:
            info = self.info()
            x, y, w, h = info["origin"]["x"], info["origin"]["y"], info["client"]["w"], info["client"]["h"]
        else:
            g = self.geometry()
            x, y, w, h = g["X"], g["Y"], g["WIDTH"], g["HEIGHT"]
        subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (w, h, x, y), "+repage", path], env=self.env, check=True, timeout=60)
        return path

    def message(self, timeout_ms=10000):
        return self.probe.json("message", timeout_ms)

    def message_ok(self):
        code, _ = self.probe.run("message-ok")
        return code == 0

    def windows(self):
        return self.probe.json("windows") or []

    # -- acting on it ----------------------------------------------------------

    def point(self, number, row=None):
        if self.probe:
            return self.probe.point(number, row)
        x, y, w, h = LAYOUT[number]
        return self.origin[0] + x + w // 2, self.origin[1] + y + (h // 2 if row is None else TOP_ROW_Y)

    def click(self, number, row=None, button=1):
        """A control's middle, or a list row's (without the probe, only the
        list's top row can be clicked)."""
        x, y = self.point(number, row)
        xdotool(self.env, "mousemove", x, y, "click", button)

    def keys(self, *names, delay=15):
        xdotool(self.env, "key", "--delay", delay, *names)

    def press(self, number):
        """BM_CLICK through the probe: quicker than moving the mouse, for the
        hundreds of clicks of a soak."""
        self.probe.run("click", number)

    def click_arrow(self, up, count=1):
        info = self.info()
        arrows = self.control(SPIN_ARROWS, info)["rect"]
        x = info["origin"]["x"] + arrows["x"] + arrows["w"] // 2
        y = info["origin"]["y"] + arrows["y"] + (arrows["h"] // 4 if up else 3 * arrows["h"] // 4)
        xdotool(self.env, "mousemove", x, y, "click", "--repeat", count, "--delay", 40, 1)

    def set_minimum(self, percent):
        """Up presses in MinimumSpin's text box, from the 0 where every
        cycle's reset leaves it; the handler shows the value."""
        self.click(MINIMUM_SPIN)
        if percent:
            self.keys(*["Up"] * percent)
        if self.probe:
            self.wait_text(MINIMUM_SPIN, str(percent))

    def pick_row(self, row):
        if self.probe and row < MAIN_AND_CHANNELS:  # every such row used here shows without scrolling
            self.click(CHANNEL_LIST, row)
        elif self.probe:  # below the visible rows: the keyboard from the last entry up
            listbox = self.control(CHANNEL_LIST)
            self.click(CHANNEL_LIST, listbox["top"])
            self.keys("End", *["Up"] * (len(listbox["entries"]) - 1 - row))
        else:
            self.click(CHANNEL_LIST, 0)
            self.keys("Home", *["Down"] * row)
        if self.probe:
            self.wait_until(lambda i: self.control(CHANNEL_LIST, i)["selected"] == row, 5, "the list row")

    def pick(self, row=0, speed=TOO_SLOW, minimum=0):
        """A fader, a speed and a minimum chosen in the window; what the reset
        leaves (Main, Too Slow, 0) is left as it is."""
        if row:
            self.pick_row(row)
        if speed != TOO_SLOW:
            self.click(speed)
            if self.probe:
                self.wait_until(lambda i: self.control(speed, i)["checked"] == 1, 3, "the speed")
        if minimum:
            self.set_minimum(minimum)
        if not self.probe:
            time.sleep(0.2)  # nothing reads the window back: give it time to take the keys

    def capture(self):
        """Presses capture; returns the simulator's log mark from before and
        the cycle's subscription."""
        since = self.sim.mark()
        self.click(CAPTURE)
        subscription = self.sim.wait_subscription(since)
        if self.probe:
            self.wait_text(CAPTURE, CAPTURE_BUSY)
        return since, subscription

    def wait_idle(self, since=0, timeout=15.0):
        """The reset done: the capture button's idle caption, or (without the
        probe) the reset's subscription after the fade that began after SINCE,
        and a moment for the main loop to take clicks again."""
        if self.probe:
            # The probe reads the controls one after the other, not all at
            # once: the window is read again once the caption says idle, which
            # the program gives last.
            self.wait_until(lambda i: self.control(CAPTURE, i)["text"] == CAPTURE_IDLE
                            and self.control(CAPTURE, i)["enabled"], timeout, "the reset")
            return self.info()

        def after_fade(entry):
            # ("lost in": the program sent it, and a lossy network lost it.)
            return (entry["dir"] in ("in", "lost in") and entry.get("address") == "/xremote" and
                    any(m["t_us"] < entry["t_us"] for m in self.sim.fader_messages(since)))
        entry = self.sim.wait_for(after_fade, since, timeout, "the reset's /xremote")
        time.sleep(SETTLE_SECONDS)
        return entry

    # -- ending it -------------------------------------------------------------

    def wait_exit(self, timeout=20.0):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program did not end")

    def close(self):
        """Closes the window as the user does (the close box) and returns the
        exit code."""
        if self.proc.poll() is None:
            if self.probe:
                self.probe.run("close")
                self.probe.run("gone", 10000)
            else:
                send_close_request(self.env["DISPLAY"], self.window)
        return self.wait_exit()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.kill()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()  # the Wine process of this program alone
            self.proc.wait()
            if self.probe is not None:
                self.probe.run("gone", 10000)
        self.output.close()
