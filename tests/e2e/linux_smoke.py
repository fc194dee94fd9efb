#!/usr/bin/env python3
"""End-to-end smoke run of the Linux program `quorlen` (Qt, xcb) on an Xvfb
of its own, with no Wine: real clicks and keys with xdotool at the layout's
client coordinates, checked at the console simulator.

    python3 tests/e2e/linux_smoke.py --exe build/linux-qt/quorlen \
        --sim build/linux-qt/tools/console-sim/console-sim [--out DIR] [--desktop FILE]

It starts the program as its desktop entry (--desktop, by default the one in
resources/) does, with the console's address in ~/.config/quorlen/config.txt.
It opens the maker's page from Updates, captures and fades Ch 5 at Fast from
0.8 down to a minimum of 50 (the exact float sequence on the wire), stops a
second fade with Reset Off, fades DCA 1 after "Show All Faders" is chosen
from the window's context menu, and closes the window the way the close box does
(WM_DELETE_WINDOW). Then it takes the first run's road where there is no
config.txt - from a terminal, from the menu in an empty home, and in a folder
where nothing can be created - and answers its two message boxes. An xdg-open
that records what it was asked stands in for the desktop's opener; like the
real one, it refuses a file that doesn't exist. Screenshots of the window go
to --out.
"""

import argparse
import configparser
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import quorlen_e2e as e2e  # noqa: E402  (the simulator and the fade arithmetic)
import quorlen_window as window  # noqa: E402

BLANK = (500, 137)  # below the list, above the status bar: the window itself


def desktop_command(path):
    """The command a desktop runs for the entry's Exec key: the key's value
    unescaped as a string, then split by the entry format's quoting rules."""
    entry = configparser.ConfigParser(interpolation=None, strict=False)
    entry.optionxform = str
    entry.read(path, encoding="utf-8")
    value = entry["Desktop Entry"]["Exec"].replace("\\\\", "\\")
    words, word, quoted, i = [], None, False, 0
    while i < len(value):
        c = value[i]
        if quoted and c == "\\" and value[i + 1:i + 2] in ('"', "`", "$", "\\"):
            word, i = (word or "") + value[i + 1], i + 2
            continue
        if c == '"':
            quoted, word = not quoted, word or ""
        elif c == " " and not quoted:
            if word is not None:
                words.append(word)
            word = None
        else:
            word = (word or "") + c
        i += 1
    return words + ([word] if word is not None else [])


class Display:
    """An Xvfb of the run's own (the e2e suite's way of starting one), and a
    PATH whose xdg-open records what it is asked to open: "opened PWD ARG",
    or "missing PWD ARG" when it fails, as the real one does, on a file that
    isn't there. The PATH also finds the program under test as `quorlen`,
    the name its desktop entry runs."""

    def __init__(self, bin_dir):
        self.opened = os.path.join(bin_dir, "opened.log")
        opener = os.path.join(bin_dir, "xdg-open")
        with open(opener, "w") as f:
            f.write('#!/bin/sh\n'
                    'case "$1" in *://*) ;; *) [ -e "$1" ] || { echo "missing $PWD $1" >> "%s"; exit 2; } ;; esac\n'
                    'echo "opened $PWD $1" >> "%s"\n' % (self.opened, self.opened))
        os.chmod(opener, 0o755)
        if os.path.join(bin_dir, "quorlen") != e2e.Settings.exe:
            os.symlink(e2e.Settings.exe, os.path.join(bin_dir, "quorlen"))
        self.env = dict(os.environ, QT_QPA_PLATFORM="xcb", PATH=bin_dir + os.pathsep + os.environ["PATH"])
        self.tmp, self.out, self.probe = bin_dir, e2e.Settings.out, None  # what the window driver asks of a session
        for name in ("WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "XDG_CONFIG_HOME"):
            self.env.pop(name, None)
        e2e.Session.start_display(self)

    def opened_lines(self, count, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(self.opened):
                with open(self.opened) as f:
                    lines = f.read().splitlines()
                if len(lines) >= count:
                    return lines
            time.sleep(0.05)
        raise AssertionError("xdg-open was not asked to open %d things" % count)

    def close(self):
        self.xvfb.terminate()
        self.xvfb.wait(timeout=10)


class LinuxProgramTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="quorlen-linux-")
        cls.display = Display(cls.dir)
        cls.sim = cls.display.sim = e2e.Simulator(cls)
        home = os.path.join(cls.dir, "home")
        os.makedirs(os.path.join(home, ".config", "quorlen"))
        with open(os.path.join(home, ".config", "quorlen", "config.txt"), "w") as f:
            f.write("127\n0\n0\n1\n")
        cls.app = window.App(cls.display, desktop_command(e2e.Settings.desktop), name="desktop", opener=False,
                             environment={"HOME": home})
        cls.app.wait_ready()

    @classmethod
    def tearDownClass(cls):
        cls.app.kill()
        cls.sim.close()
        cls.display.close()

    @classmethod
    def xdotool(cls, *args):
        return window.xdotool(cls.display.env, *args)

    def test_0_updates_opens_the_makers_page(self):
        self.app.click(window.UPDATES)
        self.assertEqual(self.display.opened_lines(1)[0].split(" ")[::2], ["opened", e2e.maker_web_address()])

    def test_1_fast_fade_on_ch5_down_to_50(self):
        self.app.screenshot("idle")
        self.app.pick(5, window.FAST, 50)
        since, _ = self.app.capture()
        self.app.screenshot("waiting")
        self.sim.command("touch 5 0.8")
        summary = self.sim.wait_summary(1, timeout=20)
        self.app.wait_idle(since, timeout=30)
        levels = [e2e.level_of(e) for e in self.sim.fader_messages(since)]
        self.assertEqual(levels, e2e.expected_fade(0.8, 0.006, 50))
        self.assertTrue(all(e["address"] == "/ch/05/mix/fader" for e in self.sim.fader_messages(since)))
        print("\n  Fast, Ch 5: %d messages, mean %.2f ms, p99 %.2f ms, capture latency %.2f ms" % (
            summary["count"], summary["mean_interval_ms"], summary["p99_interval_ms"],
            summary["capture_latency_ms"]), file=sys.stderr)

    def test_2_reset_off_stops_a_second_fade(self):
        since, _ = self.app.capture()  # Main at Too Slow, minimum 0: the reset restored them
        self.sim.command("touch main 1.0")
        self.sim.wait_for(lambda e: len(self.sim.fader_messages(since)) >= 20, since, 10, "20 fader messages")
        self.app.screenshot("fading")
        self.app.click(window.RESET_OFF)
        reset = self.app.wait_idle(since, timeout=30)
        sent = self.sim.fader_messages(since)
        self.assertLess(len(sent), 1000, "the fade went on after Reset Off")
        self.assertTrue(all(e["t_us"] < reset["t_us"] for e in sent), "a fader message came after the reset")
        levels = [e2e.level_of(e) for e in sent]
        self.assertEqual(levels, e2e.expected_fade(1.0, 0.0005, 0)[:len(levels)])
        self.assertTrue(all(e["address"] == "/main/st/mix/fader" for e in sent))

    def test_2a_show_all_faders_and_a_fast_fade_on_dca_1(self):
        self.xdotool("mousemove", "--window", self.app.window, BLANK[0], BLANK[1], "click", "3")
        time.sleep(0.5)
        self.app.keys("Down", "Down", "Return")  # the second item of the context menu
        time.sleep(0.3)
        self.app.pick(72, window.FAST, 50)  # DCA 1
        summaries = len(self.sim.summaries())
        since, _ = self.app.capture()
        self.sim.command("touch dca1 0.8")
        self.sim.wait_summary(summaries + 1, timeout=20)
        self.app.wait_idle(since, timeout=30)
        sent = self.sim.fader_messages(since)
        self.assertEqual([e2e.level_of(e) for e in sent], e2e.expected_fade(0.8, 0.006, 50))
        self.assertEqual({(e["address"], e["len"]) for e in sent}, {("/dca/1/fader", 24)})

    def test_3_close_box_ends_the_program_with_exit_code_0(self):
        self.app.screenshot("screenshot")
        self.assertEqual(self.app.close(), 0)

    def test_4_first_run_creates_config_txt_empty_opens_it_asks_for_a_restart_and_ends(self):
        empty_home = os.path.join(self.dir, "empty-home")
        os.mkdir(empty_home)
        terminal = tempfile.mkdtemp(prefix="terminal-", dir=self.dir)
        cases = [  # (how it is started, in which folder, with which HOME, the opener's line)
            ("from a terminal", [e2e.Settings.exe], terminal, os.path.expanduser("~"),
             "opened %s config.txt" % terminal),
            ("from the menu, in an empty home", desktop_command(e2e.Settings.desktop), "/", empty_home,
             "opened %s/.config/quorlen config.txt" % empty_home),
            # procfs refuses to create a file even for root: the editor is asked all the same.
            ("where nothing can be created", [e2e.Settings.exe], "/proc", os.path.expanduser("~"),
             "missing /proc config.txt"),
        ]
        for number, (how, command, cwd, home, opener_line) in enumerate(cases, start=2):
            with self.subTest(how):
                app = subprocess.Popen(command, cwd=cwd, env=dict(self.display.env, HOME=home),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    for title in ("No config.ini", "^Quorlen$"):
                        box = self.xdotool("search", "--sync", "--onlyvisible", "--name", title).split()[0]
                        time.sleep(0.3)
                        self.xdotool("windowfocus", box)
                        self.xdotool("key", "Return")
                    self.assertEqual(app.wait(timeout=20), 0)
                finally:
                    if app.poll() is None:
                        app.kill()
                        app.wait()
                self.assertEqual(self.display.opened_lines(number)[number - 1], opener_line)
                if opener_line.startswith("opened"):
                    self.assertEqual(os.path.getsize(os.path.join(opener_line.split(" ")[1], "config.txt")), 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--out", default=None)
    parser.add_argument("--desktop", default=os.path.join(e2e.REPO, "resources", "quorlen.desktop"))
    args, rest = parser.parse_known_args()
    e2e.Settings.exe = os.path.abspath(args.exe)
    e2e.Settings.sim = os.path.abspath(args.sim)
    e2e.Settings.desktop = os.path.abspath(args.desktop)
    e2e.Settings.out = os.path.abspath(args.out or os.path.join(os.path.dirname(e2e.Settings.exe), "e2e-linux"))
    os.makedirs(e2e.Settings.out, exist_ok=True)
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
