#!/usr/bin/python3
"""The Linux program as a screen reader reads it: over AT-SPI (what Orca
uses), with Debian's python3-pyatspi, on an Xvfb and in a session bus of its
own, whose accessibility bus is told that a screen reader runs:

    /usr/bin/python3 tests/atspi_test.py --exe build/linux-qt/quorlen

Every control's role and name, the minimum's value and range before and after
two Up keys, the status line's change heard as an event, and Tab reaching every
control that takes the focus. No console answers at the address in config.txt,
so the status line changes by itself a second after the start. With --sim,
what the status line says, with the console simulator on 127.0.0.4 (no other
test uses that address): the console's answer, and during a fade levels the
fade sent.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

import pyatspi
from gi.repository import Gio, GLib

sys.dont_write_bytecode = True  # no __pycache__ in the tree from the import below
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "e2e"))
import harness  # noqa: E402

warnings.filterwarnings("ignore", category=DeprecationWarning)  # pyatspi's own calls into libatspi

TITLE = "Quorlen -Tavisk - Beta 2 - For Behringer X32"
SILENT_CONSOLE = "127.0.0.77"
SPIN = ("spin button", "Fade to (100 --> 0)")
# The window's controls in creation order, as (role, name).
CONTROLS = [("radio button", "Too Slow"), ("radio button", "Slow"), ("radio button", "Normal"),
            ("radio button", "Fast"), ("push button", "Get Main Position Until Touch"), ("push button", "Reset Off"),
            ("push button", "Updates"), ("label", "Pick Out One Channel"), ("list", "Pick Out One Channel"),
            ("status bar", ""), ("push button", "Edit IP"), ("label", "IP"), ("panel", "IP"),
            ("label", "Fade to (100 --> 0)"), SPIN]
EXE = SIM = None  # main() sets them


def pump(predicate, timeout, what):
    """Runs GLib's loop, which delivers the events, until PREDICATE holds."""
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        if not GLib.MainContext.default().iteration(False):
            time.sleep(0.01)
    return predicate()


def role_and_name(accessible):
    return accessible.getRoleName(), accessible.name


def find_window():
    for app in pyatspi.Registry.getDesktop(0):
        for window in app or []:
            if window is not None and window.name == TITLE and window.childCount >= len(CONTROLS):
                return window
    return None


def start(cls, console):
    """The program, with CONSOLE in its config.txt, and its window over AT-SPI."""
    Gio.bus_get_sync(Gio.BusType.SESSION).call_sync(
        "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        GLib.Variant("(ssv)", ("org.a11y.Status", "ScreenReaderEnabled", GLib.Variant("b", True))), None,
        Gio.DBusCallFlags.NONE, 10000, None)
    cls.env = dict(os.environ, QT_QPA_PLATFORM="xcb")
    directory = tempfile.mkdtemp(prefix="quorlen-atspi-")
    with open(os.path.join(directory, "config.txt"), "w") as f:
        f.write(console.replace(".", "\n") + "\n")
    cls.app = subprocess.Popen([EXE], cwd=directory, env=cls.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cls.window = pump(find_window, 30, "the window over AT-SPI")
    cls.controls = {role_and_name(c): c for c in cls.window}


def click(cls, control):
    x, y, w, h = cls.controls[control].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "1"], env=cls.env,
                   check=True, timeout=30)


class ScreenReaderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.events = []
        pyatspi.Registry.registerEventListener(cls.events.append, "object:state-changed:focused",
                                               "object:property-change:accessible-name",
                                               "object:property-change:accessible-value")
        start(cls, SILENT_CONSOLE)

    @classmethod
    def tearDownClass(cls):
        cls.app.kill()
        cls.app.wait()

    def events_since(self, mark, kind, source=None):
        return [e for e in self.events[mark:] if e.type.startswith(kind) and source in (None, e.source)]

    def test_every_control_has_its_role_and_name(self):
        self.maxDiff = None
        self.assertEqual([role_and_name(c) for c in self.window][:len(CONTROLS)], CONTROLS)
        fields = [c.name for c in self.controls[("panel", "IP")] if c.getRoleName() == "text"]
        self.assertEqual(fields, ["IP"] * 4)

    def test_the_minimum_is_a_spin_button_with_its_value_and_range(self):
        spin = self.controls[SPIN]
        value = spin.queryValue()
        self.assertEqual((value.currentValue, value.minimumValue, value.maximumValue), (0, 0, 100))
        x, y, w, h = spin.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        mark = len(self.events)
        subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "1", "key", "Up", "Up"],
                       env=self.env, check=True, timeout=30)
        pump(lambda: len(self.events_since(mark, "object:property-change:accessible-value", spin)) >= 2, 10,
             "two value changes")
        self.assertEqual(value.currentValue, 2)

    def test_a_change_of_the_status_line_is_heard(self):
        line = self.controls[("status bar", "")][0]
        pump(lambda: self.events_since(0, "object:property-change:accessible-name", line), 10, "the line to change")
        self.assertTrue(line.name.startswith("No answer from " + SILENT_CONSOLE), line.name)

    def test_tab_reaches_every_control_that_takes_the_focus(self):
        states = (pyatspi.STATE_FOCUSABLE, pyatspi.STATE_SENSITIVE)
        takes_focus = {role_and_name(c) for c in self.window if all(c.getState().contains(s) for s in states)}
        self.assertEqual(len(takes_focus), 9)  # Reset Off and the address field are disabled at idle
        reached = set()
        # Once round, and on as far as it takes: a focus event may come after
        # the wait for its Tab ended.
        for _ in range(2 * len(takes_focus)):
            mark = len(self.events)
            subprocess.run(["xdotool", "key", "Tab"], env=self.env, check=True, timeout=30)
            gained = pump(lambda: [e.source for e in self.events_since(mark, "object:state-changed:focused")
                                   if e.detail1], 10, "the focus to move")
            # A list's focus goes to its current entry.
            reached.update(role_and_name(f.parent if f.getRoleName() == "list item" else f) for f in gained)
            if reached >= takes_focus:
                break
        self.assertEqual(reached, takes_focus)


class StatusLineTest(unittest.TestCase):
    """The console's answer within a second of the start; during a fade, each
    level the line shows is one the fade sent in the 150 ms before it was
    read; and how the fade ended."""

    @classmethod
    def setUpClass(cls):
        if SIM is None:
            raise unittest.SkipTest("no console simulator (--sim)")
        cls.sim = harness.Simulator(SIM, tempfile.mkdtemp(prefix="quorlen-atspi-sim-"), address="127.0.0.4")
        start(cls, "127.0.0.4")
        cls.line = cls.controls[("status bar", "")][0]

    @classmethod
    def tearDownClass(cls):
        cls.app.kill()
        cls.app.wait()
        cls.sim.close()

    def test_the_answer_then_a_fade_and_how_it_ended(self):
        pump(lambda: self.line.name == harness.CONSOLE_LINE.replace("127.0.0.1", "127.0.0.4"), 1.0,
             "the console's answer")
        since = self.sim.mark()
        click(self, ("push button", "Get Main Position Until Touch"))
        pump(lambda: self.line.name == "Touch Main on the console", 5, "the touch asked for")
        self.sim.command("touch main 0.9")
        lines = []
        while len(lines) < 30:
            before = self.sim.sim_time(time.monotonic())
            lines.append((before, self.line.name, self.sim.sim_time(time.monotonic())))
            time.sleep(0.05)
        click(self, ("push button", "Reset Off"))
        pump(lambda: self.line.name.endswith(" (Reset Off)"), 5, "the ending")
        sent = self.sim.fader_messages(since)
        self.assertGreater(sum(line.startswith("Main: ") for _, line, _ in lines), 20)
        for before, line, after in lines:
            shown = re.fullmatch(r"Main: (.*), fading to -\u221e dB, \d+\.\d s left", line)
            if shown is None:  # the touch, not taken yet
                self.assertEqual(line, "Touch Main on the console")
                continue
            recent = [m for m in sent if before - 150e3 <= m["t_us"] <= after]
            self.assertIn(shown[1], {harness.db_text(harness.level_of(m)) for m in recent}, line)
        self.assertEqual(self.line.name, "Main stopped at %s (Reset Off)" % harness.db_text(harness.level_of(sent[-1])))


def main():
    global EXE, SIM
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sim")
    args, rest = parser.parse_known_args()
    EXE = os.path.abspath(args.exe)
    SIM = args.sim and os.path.abspath(args.sim)
    if "QUORLEN_ATSPI_DISPLAY" in os.environ:
        unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
    # The display first, so that the bus and the services it starts know only
    # this one; then this script again, inside the bus.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    display = ":" + xvfb.stdout.readline().strip()
    env = {k: v for k, v in os.environ.items() if not k.startswith(("DBUS_", "AT_SPI_", "WAYLAND_"))}
    env.update(DISPLAY=display, QUORLEN_ATSPI_DISPLAY=display)
    try:
        sys.exit(subprocess.run(["dbus-run-session", "--", sys.executable] + sys.argv, env=env).returncode)
    finally:
        xvfb.kill()
        xvfb.wait()
        xvfb.stdout.close()


if __name__ == "__main__":
    main()
