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
fade with Reset Off and another with Escape, fades DCA 1 after "Show All Faders" is chosen
from the window's context menu, and closes the window the way the close box does
(WM_DELETE_WINDOW). Then it takes the first run's road where there is no
config.txt - from a terminal, from the menu in an empty home, and in a folder
where nothing can be created - and answers its two message boxes. An xdg-open
that records what it was asked stands in for the desktop's opener; like the
real one, it refuses a file that doesn't exist. Screenshots of the window go
to --out. Without the options (one case alone, `python3 -m unittest
linux_smoke.LinuxProgramTest.test_reset_off_stops_a_fade` in tests/e2e) the
harness's settings apply: QUORLEN_E2E_EXE and the others, or this tree's builds.
"""

import argparse
import configparser
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the tree from the imports below
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import quorlen_window as window  # noqa: E402
from harness import expected_fade, level_of  # noqa: E402

BLANK = (500, 137)  # below the list, above the status bar: the window itself
# The environment's or this tree's builds; main() takes the command line's.
SETTINGS = harness.settings(exe="linux-qt/quorlen", out="e2e-linux")[0]
DESKTOP = os.path.join(harness.REPO, "resources", "quorlen.desktop")


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


class LinuxProgramTest(unittest.TestCase):
    """The program started as its desktop entry starts it, on an Xvfb of the
    run's own whose PATH finds it as `quorlen` (the name the entry runs) and
    whose xdg-open records what it is asked to open: "opened PWD ARG", or
    "missing PWD ARG" when it fails, as the real one does, on a file that isn't
    there. Each case gets a running program with Show All Faders off."""

    @classmethod
    def setUpClass(cls):
        cls.session = harness.Session(SETTINGS, wine=False)
        cls.sim, cls.app, cls.dir = cls.session.sim, None, cls.session.tmp
        bin_dir = os.path.join(cls.dir, "bin")
        os.mkdir(bin_dir)
        cls.opened = os.path.join(bin_dir, "opened.log")
        open(cls.opened, "w").close()
        with open(os.path.join(bin_dir, "xdg-open"), "w") as f:
            f.write('#!/bin/sh\n'
                    'case "$1" in *://*) ;; *) [ -e "$1" ] || { echo "missing $PWD $1" >> "%s"; exit 2; } ;; esac\n'
                    'echo "opened $PWD $1" >> "%s"\n' % (cls.opened, cls.opened))
        os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
        os.symlink(SETTINGS.exe, os.path.join(bin_dir, "quorlen"))
        cls.env = dict(cls.session.env, PATH=bin_dir + os.pathsep + cls.session.env["PATH"])
        cls.home = os.path.join(cls.dir, "home")
        os.makedirs(os.path.join(cls.home, ".config", "quorlen"))
        with open(os.path.join(cls.home, ".config", "quorlen", "config.txt"), "w") as f:
            f.write("127\n0\n0\n1\n")

    @classmethod
    def tearDownClass(cls):
        if cls.app is not None:
            cls.app.kill()
        cls.session.close()

    def setUp(self):
        cls = type(self)
        if cls.app is None or cls.app.proc.poll() is not None:  # the close box's case ends it
            if cls.app is not None:
                cls.app.kill()
            cls.app = self.session.app(command=desktop_command(DESKTOP), name="desktop", opener=False,
                                       environment={"PATH": self.env["PATH"], "HOME": self.home})
            cls.app.wait_ready()
            cls.show_all_faders = False
        if self.show_all_faders:
            self.choose_show_all_faders()
        self.sim.wait_summed_up()

    def choose_show_all_faders(self):
        """The second item of the window's context menu."""
        self.session.xdotool("mousemove", "--window", self.app.window, BLANK[0], BLANK[1], "click", "3")
        time.sleep(0.5)
        self.app.keys("Down", "Down", "Return")
        time.sleep(0.3)
        type(self).show_all_faders = not self.show_all_faders

    def opened_lines(self, count=0):
        """What xdg-open has been asked, once it has been asked COUNT things."""
        def asked():
            with open(self.opened) as f:
                lines = f.read().splitlines()
            return len(lines) >= count and [lines]
        return window.wait(asked, 10, "xdg-open to be asked to open %d things" % count)[0]

    def test_updates_opens_the_makers_page(self):
        asked = len(self.opened_lines())
        self.app.click(window.UPDATES)
        self.assertEqual(self.opened_lines(asked + 1)[asked].split(" ")[::2], ["opened", harness.maker_web_address()])

    def test_fast_fade_on_ch5_down_to_50(self):
        self.app.screenshot("idle")
        self.app.pick(5, window.FAST, 50)
        summaries = len(self.sim.summaries())
        since, _ = self.app.capture()
        self.app.screenshot("waiting")
        self.sim.command("touch 5 0.8")
        summary = self.sim.wait_summary(summaries + 1, timeout=20)
        self.app.wait_idle(since, timeout=30)
        levels = [level_of(e) for e in self.sim.fader_messages(since)]
        self.assertEqual(levels, expected_fade(0.8, 0.006, 50))
        self.assertTrue(all(e["address"] == "/ch/05/mix/fader" for e in self.sim.fader_messages(since)))
        print("\n  Fast, Ch 5: %d messages, mean %.2f ms, p99 %.2f ms, capture latency %.2f ms" % (
            summary["count"], summary["mean_interval_ms"], summary["p99_interval_ms"],
            summary["capture_latency_ms"]), file=sys.stderr)

    def test_reset_off_stops_a_fade(self):
        """A click on Reset Off, then Escape, each stop a fade alike."""
        for stop in ("click", "Escape"):
            with self.subTest(stop):
                # Main at Too Slow, minimum 0: as the program starts and each reset leaves it.
                since, _ = self.app.capture()
                self.sim.command("touch main 1.0")
                self.sim.wait_for(lambda e: len(self.sim.fader_messages(since)) >= 20, since, 10, "20 fader messages")
                if stop == "click":
                    self.app.screenshot("fading")
                    self.app.click(window.RESET_OFF)
                else:
                    self.app.keys("Escape")
                reset = self.app.wait_idle(since, timeout=30)
                sent = self.sim.fader_messages(since)
                self.assertLess(len(sent), 1000, "the fade went on after Reset Off")
                self.assertTrue(all(e["t_us"] < reset["t_us"] for e in sent), "a fader message came after the reset")
                levels = [level_of(e) for e in sent]
                self.assertEqual(levels, expected_fade(1.0, 0.0005, 0)[:len(levels)])
                self.assertTrue(all(e["address"] == "/main/st/mix/fader" for e in sent))

    def test_show_all_faders_and_a_fast_fade_on_dca_1(self):
        self.choose_show_all_faders()
        self.app.pick(72, window.FAST, 50)  # DCA 1
        summaries = len(self.sim.summaries())
        since, _ = self.app.capture()
        self.sim.command("touch dca1 0.8")
        self.sim.wait_summary(summaries + 1, timeout=20)
        self.app.wait_idle(since, timeout=30)
        sent = self.sim.fader_messages(since)
        self.assertEqual([level_of(e) for e in sent], expected_fade(0.8, 0.006, 50))
        self.assertEqual({(e["address"], e["len"]) for e in sent}, {("/dca/1/fader", 24)})

    def test_hand_wins_late_in_a_long_fade_on_a_lossy_network(self):
        """Stop When Fader Is Moved (the context menu's first item) and a
        Too Slow fade of Ch 4 on a network that loses a tenth of the datagrams
        each way and the fade's first renewal; a hand 11.5 s in stops the
        fade within 300 ms and the fader ends where the hand left it."""
        self.session.xdotool("mousemove", "--window", self.app.window, BLANK[0], BLANK[1], "click", "3")
        time.sleep(0.5)
        self.app.keys("Down", "Return")
        try:
            self.app.pick(4)
            since, _ = self.app.capture()
            self.sim.command("touch 4 0.9")
            first = self.sim.wait_for(lambda e: e["dir"] == "in" and e.get("action") == "fader", since, 10, "the fade")
            hand = self.sim.hand_on_a_lossy_network(4, first, lambda: self.app.wait_idle(since, timeout=20))
        finally:
            self.app.kill()  # the option goes with the program: the next case starts a fresh one
        sent = self.sim.fader_messages(since, lost_too=True)
        self.assertEqual([level_of(e) for e in sent], expected_fade(0.9, 0.0005, 0)[:len(sent)])
        self.assertLess(len(sent), 1500, "the fade ran on")
        self.assertLess((sent[-1]["t_us"] - hand[0]["t_us"]) / 1000.0, 300, "the fade stops within 300 ms of the hand")
        self.assertLess(sent[-1]["t_us"], hand[-1]["t_us"], "the fader ends where the hand left it")

    def test_close_box_ends_the_program_with_exit_code_0(self):
        self.app.screenshot("screenshot")
        self.assertEqual(self.app.close(), 0)

    def test_first_run_creates_config_txt_empty_opens_it_asks_for_a_restart_and_ends(self):
        empty_home = os.path.join(self.dir, "empty-home")
        os.mkdir(empty_home)
        terminal = tempfile.mkdtemp(prefix="terminal-", dir=self.dir)
        cases = [  # (how it is started, in which folder, with which HOME, the opener's line)
            ("from a terminal", [SETTINGS.exe], terminal, os.path.expanduser("~"),
             "opened %s config.txt" % terminal),
            ("from the menu, in an empty home", desktop_command(DESKTOP), "/", empty_home,
             "opened %s/.config/quorlen config.txt" % empty_home),
            # procfs refuses to create a file even for root: the editor is asked all the same.
            ("where nothing can be created", [SETTINGS.exe], "/proc", os.path.expanduser("~"),
             "missing /proc config.txt"),
        ]
        for how, command, cwd, home, opener_line in cases:
            with self.subTest(how):
                asked = len(self.opened_lines())
                app = subprocess.Popen(command, cwd=cwd, env=dict(self.env, HOME=home),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    for title in ("No config.ini", "^Quorlen$"):
                        box = self.session.xdotool("search", "--sync", "--onlyvisible", "--name", title).split()[0]
                        time.sleep(0.3)
                        self.session.xdotool("windowfocus", box)
                        self.session.xdotool("key", "Return")
                    self.assertEqual(app.wait(timeout=20), 0)
                finally:
                    if app.poll() is None:
                        app.kill()
                        app.wait()
                self.assertEqual(self.opened_lines(asked + 1)[asked], opener_line)
                if opener_line.startswith("opened"):
                    self.assertEqual(os.path.getsize(os.path.join(opener_line.split(" ")[1], "config.txt")), 0)


def main():
    global SETTINGS, DESKTOP
    SETTINGS, rest = harness.settings(sys.argv[1:], exe="linux-qt/quorlen", out="e2e-linux")
    parser = argparse.ArgumentParser()
    parser.add_argument("--desktop", default=DESKTOP)
    args, rest = parser.parse_known_args(rest)
    DESKTOP = os.path.abspath(args.desktop)
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
