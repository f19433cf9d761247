#!/usr/bin/env python3
"""The harness's own bookkeeping: which X server it trusts, what a session
starts and stops, and what it counts as this build's. Real Xvfb servers on
throw-away build folders; Wine itself is left out."""
import contextlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import winharness  # noqa: E402
from winharness import Harness  # noqa: E402


class XOnlyHarness(Harness):
    """The harness with its X server but without Wine."""

    def _ensure_prefix_locked(self):
        os.makedirs(self.prefix, exist_ok=True)

    def _start_wineserver(self):
        pass

    def _stop_wineserver(self):
        pass


def dead_pid():
    proc = subprocess.Popen(["true"])
    proc.wait()
    return proc.pid


def settled(listing, expected):
    """Whether the listing comes to the expected one within a few seconds:
    a new Xvfb's keymap compiler comes and goes meanwhile."""
    deadline = time.monotonic() + 5
    while listing() != expected:
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


def unused_display():
    return f":{next(Harness._free_displays())}"


class HarnessCase(unittest.TestCase):
    def setUp(self):
        self._saved_display = os.environ.pop("DISPLAY", None)
        self.folders = []
        self.harnesses = []

    def tearDown(self):
        for h in self.harnesses:
            with contextlib.suppress(Exception):
                h.stop()
        for folder in self.folders:
            shutil.rmtree(folder, ignore_errors=True)
        os.environ.pop("DISPLAY", None)
        if self._saved_display is not None:
            os.environ["DISPLAY"] = self._saved_display

    def harness(self):
        folder = tempfile.mkdtemp(prefix="winharness-test-")
        self.folders.append(folder)
        h = XOnlyHarness(folder)
        self.harnesses.append(h)
        return h

    def write_state(self, h, state):
        with open(h.state_file, "w") as f:
            json.dump(state, f)

    def ok(self, condition, message):
        self.assertTrue(condition, message)


class RecordedState(HarnessCase):
    def test_a_stale_state_gives_way_to_the_users_display(self):
        h = self.harness()
        stale = unused_display()
        self.write_state(h, {"owner": "start", "display": stale, "xvfb_pid": dead_pid(), "wineserver": True})
        self.ok(h.display() is None, f"no display from a dead X server, got {h.display()}")
        os.environ["DISPLAY"] = ":0"
        self.ok(h.display() == ":0", f"expected the user's :0, got {h.display()}")
        self.ok(h.env()["DISPLAY"] == ":0", f"expected Wine on :0, got {h.env()['DISPLAY']}")

    def test_a_state_is_trusted_only_with_its_own_xvfb_and_socket(self):
        h, other = self.harness(), self.harness()
        other.start()
        theirs = other._state()
        self.write_state(h, {"owner": "start", "display": theirs["display"], "xvfb_pid": theirs["xvfb_pid"]})
        self.ok(h.display() is None, f"another build's Xvfb is not ours, got {h.display()}")
        self.write_state(h, {"owner": "start", "display": theirs["display"], "xvfb_pid": os.getpid()})
        self.ok(h.display() is None, f"a live process that is no Xvfb of ours is not trusted, got {h.display()}")
        h.start()
        mine = h._state()
        self.ok(h.display() == mine["display"], f"expected our Xvfb's {mine['display']}, got {h.display()}")
        self.write_state(h, dict(mine, display=unused_display()))
        self.ok(h.display() is None, f"our Xvfb is no use without the display's socket, got {h.display()}")
        self.write_state(h, mine)
        os.kill(mine["xvfb_pid"], signal.SIGTERM)
        winharness.wait_gone(mine["xvfb_pid"], 5)
        self.ok(h.display() is None, f"expected nothing once our Xvfb died, got {h.display()}")


class Sessions(HarnessCase):
    def test_a_session_replaces_a_stale_state_and_stops_its_xvfb(self):
        h = self.harness()
        self.write_state(h, {"owner": "session", "display": unused_display(), "xvfb_pid": dead_pid()})
        with h.session():
            state = h._state()
            self.ok(h.display() == state["display"], f"expected a fresh display, got {h.display()} for {state}")
            self.ok(h.harness_xvfbs() == [state["xvfb_pid"]], f"expected one Xvfb of ours, got {h.harness_xvfbs()}")
        self.ok(h.harness_xvfbs() == [], f"expected no Xvfb after the session, got {h.harness_xvfbs()}")
        self.ok(not os.path.exists(h.state_file), "expected the state forgotten")

    def test_a_session_leaves_a_test_runs_xvfb_running(self):
        h = self.harness()
        h.start()
        pid = h._state()["xvfb_pid"]
        with h.session():
            self.ok(h.harness_xvfbs() == [pid], f"expected the test run's Xvfb only, got {h.harness_xvfbs()}")
        self.ok(h.harness_xvfbs() == [pid], f"expected the test run's Xvfb still there, got {h.harness_xvfbs()}")
        h.stop()
        self.ok(h.harness_xvfbs() == [], f"expected stop to end it, got {h.harness_xvfbs()}")

    def test_the_last_session_to_end_stops_what_the_first_started(self):
        h = self.harness()
        with h.session():
            with h.session():
                pid = h._state()["xvfb_pid"]
            self.ok(h.harness_xvfbs() == [pid], f"expected the Xvfb kept for the outer session, got {h.harness_xvfbs()}")
        self.ok(h.harness_xvfbs() == [], f"expected no Xvfb after both, got {h.harness_xvfbs()}")

    def test_a_session_cleans_up_after_ctrl_c_and_sigterm(self):
        h = self.harness()
        term_handler = signal.getsignal(signal.SIGTERM)
        int_handler = signal.signal(signal.SIGINT, signal.default_int_handler)
        self.addCleanup(signal.signal, signal.SIGINT, int_handler)
        for interrupt in (lambda: os.kill(os.getpid(), signal.SIGINT),
                          lambda: os.kill(os.getpid(), signal.SIGTERM)):
            with self.assertRaises((KeyboardInterrupt, SystemExit)):
                with h.session():
                    interrupt()
                    signal.pause()
            self.ok(h.harness_xvfbs() == [], f"expected no Xvfb after the interruption, got {h.harness_xvfbs()}")
        self.ok(signal.getsignal(signal.SIGTERM) == term_handler, "expected SIGTERM's handler given back")

    def test_a_session_on_the_users_display_starts_no_xvfb(self):
        h, desktop = self.harness(), self.harness()
        desktop.start()
        os.environ["DISPLAY"] = desktop.display()
        with h.session():
            self.ok(h.harness_xvfbs() == [], f"expected no Xvfb of our own, got {h.harness_xvfbs()}")
            self.ok(h.display() == os.environ["DISPLAY"], f"expected the user's display, got {h.display()}")
        self.ok(desktop.harness_xvfbs() != [], "expected the user's display left alone")


class Leftovers(HarnessCase):
    def test_only_this_builds_processes_count(self):
        h, other = self.harness(), self.harness()
        h.start()
        other.start()
        linked = os.path.join(h.build_dir, "linked-prefix")
        os.symlink(h.prefix, linked)
        procs = [subprocess.Popen(["sleep", "30"], env=dict(os.environ, WINEPREFIX=prefix))
                 for prefix in (h.prefix, linked, other.prefix)]
        try:
            mine = sorted([h._state()["xvfb_pid"], procs[0].pid, procs[1].pid])
            self.ok(settled(h.leftovers, mine), f"expected {mine}, got {h.leftovers()}")
            theirs = sorted([other._state()["xvfb_pid"], procs[2].pid])
            self.ok(settled(other.leftovers, theirs), f"expected {theirs}, got {other.leftovers()}")
            self.ok(winharness.report_leftovers(h, 0) == 1, "expected the leftovers reported as a failure")
        finally:
            for p in procs:
                p.kill()
                p.wait()
            h.stop()
        self.ok(winharness.report_leftovers(h, 0) == 0, f"expected nothing left, got {h.leftovers()}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
