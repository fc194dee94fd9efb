#!/usr/bin/python3
"""The Linux program as a screen reader reads it: over AT-SPI (what Orca
uses), with Debian's python3-pyatspi, on an Xvfb and in a session bus of its
own, whose accessibility bus is told that a screen reader runs:

    /usr/bin/python3 tests/atspi_test.py --exe build/linux-qt/quorlen

Every control's role and name, the minimum's value and range before and after
two Up keys, the status line's change heard as an event, and Tab reaching every
control that takes the focus. No console answers at the address in config.txt,
so the status line changes by itself a second after the start.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

import pyatspi
from gi.repository import Gio, GLib

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
EXE = None


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


class ScreenReaderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        Gio.bus_get_sync(Gio.BusType.SESSION).call_sync(
            "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
            GLib.Variant("(ssv)", ("org.a11y.Status", "ScreenReaderEnabled", GLib.Variant("b", True))), None,
            Gio.DBusCallFlags.NONE, 10000, None)
        cls.events = []
        pyatspi.Registry.registerEventListener(cls.events.append, "object:state-changed:focused",
                                               "object:property-change:accessible-name",
                                               "object:property-change:accessible-value")
        cls.env = dict(os.environ, QT_QPA_PLATFORM="xcb")
        directory = tempfile.mkdtemp(prefix="quorlen-atspi-")
        with open(os.path.join(directory, "config.txt"), "w") as f:
            f.write(SILENT_CONSOLE.replace(".", "\n") + "\n")
        cls.app = subprocess.Popen([EXE], cwd=directory, env=cls.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        cls.window = pump(find_window, 30, "the window over AT-SPI")
        cls.controls = {role_and_name(c): c for c in cls.window}

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


def main():
    global EXE
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    args, rest = parser.parse_known_args()
    EXE = os.path.abspath(args.exe)
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
