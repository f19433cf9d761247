#!/usr/bin/env python3
"""TQ850KB.dll under Wine, loaded by name by the test host (kbhost.exe) and
fed by the keyboard simulator on a pty. Each case has its own COM port; they
share the prefix's HKCU "LastComNumber", so they run one after another."""
import os
import re
import sys
import threading
import time
import unittest

SOURCE = os.environ["TQ_SOURCE_DIR"]
sys.path.insert(0, os.path.join(SOURCE, "tools", "kbsim"))
sys.path.insert(0, os.path.join(SOURCE, "tools", "kbhost"))
from winharness import Harness  # noqa: E402
from kbsim import KeyboardSim, key_frame, map_held_port  # noqa: E402
from hostrun import HostRun  # noqa: E402

KEY = r"HKCU\Software\Norvell\TQ850KB"
h = Harness()


def header_constant(header, name):
    """The value of `static constexpr ... name = N;` in a header of the
    library, so that the bounds below follow the code; a name that is gone
    fails the import."""
    with open(os.path.join(SOURCE, "kbdriver", header)) as f:
        return int(re.search(r"\b%s = (\d+);" % name, f.read()).group(1))


READ_TOTAL_MS = header_constant("win/MyCOM.h", "kReadTotalMs")
READ_PER_BYTE_MS = header_constant("win/MyCOM.h", "kReadPerByteMs")
RESTART_PAUSE_MS = header_constant("core/drvkb.h", "kRestartPauseMs")
UNLOAD_PAUSE_MS = header_constant("core/drvkb.h", "kUnloadPauseMs")
# Wine's waits end late on a busy machine, by up to LATE_MS; never early by
# more than EARLY_MS.
LATE_MS = 1000
EARLY_MS = 100


def read_ms(count):
    """How long a read of count bytes waits on a silent line."""
    return READ_TOTAL_MS + count * READ_PER_BYTE_MS


def reg_last_port():
    rc, out, _ = h.run("reg", ["query", KEY, "/v", "LastComNumber"], timeout=30)
    m = re.search(r"LastComNumber\s+REG_DWORD\s+0x([0-9a-fA-F]+)", out)
    return int(m.group(1), 16) if rc == 0 and m else None


def reg_delete():
    h.run("reg", ["delete", KEY, "/f"], timeout=30)


def later(delay, action):
    """Runs action on a thread after delay seconds."""
    t = threading.Timer(delay, action)
    t.start()
    return t


class HostCase(unittest.TestCase):
    def host(self, *commands):
        run = HostRun(h, ["load", *commands])
        self.addCleanup(lambda: run.proc.poll() is None and run.proc.kill())
        run.wait_for("^load ok$")
        return run

    def finish(self, run):
        rc, lines = run.finish()
        self.assertEqual(rc, 0, "\n".join(lines))
        self.assertEqual(lines[-1], "done")
        return lines


class DriverTest(HostCase):
    def test_keys_reach_the_host_thread_and_noise_does_not(self):
        with KeyboardSim(h.prefix, 41) as sim:
            run = self.host("ordinals", "callback", "start:41", "connected", "keys:6:8000", "connected",
                            "stop", "connected", "pump:200", "unload")
            self.assertEqual(run.wait_for("^ordinals").string, "ordinals ok")
            self.assertEqual(run.wait_for(r"^start 41 = (-?\d+)").group(1), "41")
            self.assertEqual(run.wait_for("^connected").string, "connected = 1")
            # A frame cut short, or a stray ':', does not take the frame
            # behind it along: the hunt goes on from the next ':' it has read.
            sim.send(b"\x00\xff;K" + key_frame("3C") + key_frame("00") + key_frame("3D", frame_type=b"T")
                     + key_frame("3D", crc=b"0000") + key_frame("3D", lower=True) + key_frame("3B")
                     + key_frame("3D") + key_frame("3D")[:7] + b"::" + key_frame("35") + key_frame("3A")
                     + key_frame("41")[:3] + key_frame("41") + key_frame("41"), paced=True)
            run.wait_for("^keys")
            self.assertEqual(run.wait_for("^connected").string, "connected = 1")
            self.assertRegex(run.wait_for("^stop").string, "^stop = 1")
            self.assertEqual(run.wait_for("^connected").string, "connected = 0")
            self.finish(run)
            keys = run.keys()
            self.assertEqual([k for k, _, _ in keys], [1, 2, 3, 4, 5, 5])
            self.assertEqual({t for _, t, _ in keys}, {"main"})
            self.assertEqual(sim.handshakes, 1)
        self.assertEqual(reg_last_port(), 41)

    def test_port_comes_from_the_registry_or_is_clamped(self):
        reg_delete()
        run = self.host("start:0", "start:-5", "stop", "unload")
        self.assertEqual(run.wait_for(r"^start 0 = (-?\d+)").group(1), "0")
        self.assertEqual(run.wait_for(r"^start -5 = (-?\d+)").group(1), "0")
        self.finish(run)

        h.reg_add(KEY, "LastComNumber", "REG_DWORD", "42")
        with KeyboardSim(h.prefix, 42) as sim, KeyboardSim(h.prefix, 255) as sim255:
            run = self.host("start:0", "start:-5", "start:300", "stop", "unload")
            self.assertEqual(run.wait_for(r"^start 0 = (-?\d+)").group(1), "42")
            self.assertEqual(run.wait_for(r"^start -5 = (-?\d+)").group(1), "42")
            self.assertEqual(run.wait_for(r"^start 300 = (-?\d+)").group(1), "255")
            self.finish(run)
            self.assertEqual((sim.handshakes, sim255.handshakes), (2, 1))
        self.assertEqual(reg_last_port(), 255)

        h.reg_add(KEY, "LastComNumber", "REG_SZ", "42")
        run = self.host("start:0", "unload")
        self.assertEqual(run.wait_for(r"^start 0 = (-?\d+)").group(1), "0", "a value of another type")
        self.finish(run)

    def test_missing_and_held_ports_fail_quietly(self):
        held = map_held_port(h.prefix, 43)
        self.addCleanup(os.remove, held)
        run = self.host("start:43", "connected", "start:44", "connected", "stop", "unload")
        self.assertEqual(run.wait_for(r"^start 43 = (-?\d+)").group(1), "0")
        self.assertEqual(run.wait_for("^connected").string, "connected = 0")
        self.assertEqual(run.wait_for(r"^start 44 = (-?\d+)").group(1), "0")
        self.assertEqual(run.wait_for("^connected").string, "connected = 0")
        self.finish(run)

    def test_keyboard_without_handshake_still_delivers_keys(self):
        with KeyboardSim(h.prefix, 45, answer=False) as sim:
            run = self.host("callback", "start:45", "connected", "keys:1:5000", "connected", "stop", "unload")
            m = run.wait_for(r"^start 45 = (-?\d+) in (\d+) ms")
            self.assertEqual(m.group(1), "0")
            took, expected = int(m.group(2)), 3 * (read_ms(12) - EARLY_MS)
            self.assertGreater(took, expected, f"three unanswered handshakes: took {took} ms, expected more")
            self.assertEqual(run.wait_for("^connected").string, "connected = 0")
            sim.send(b"\x13" + key_frame("3C"))
            run.wait_for("^keys 1$")
            self.assertEqual(run.wait_for("^connected").string, "connected = 1")
            self.finish(run)
            self.assertEqual(sim.handshakes, 3)
            self.assertEqual([k for k, _, _ in run.keys()], [1])

    def test_second_start_restarts_and_stop_is_harmless(self):
        with KeyboardSim(h.prefix, 46) as sim:
            run = self.host("stop", "callback", "start:46", "start:46", "keys:1:5000", "stop", "stop",
                            "connected", "unload")
            self.assertRegex(run.wait_for("^stop").string, r"^stop = 1 in \d{1,2} ms", "no reader: at once")
            run.wait_for(r"^start 46 = 46")
            m = run.wait_for(r"^start 46 = (-?\d+) in (\d+) ms")
            self.assertEqual(m.group(1), "46")
            self.assertGreaterEqual(int(m.group(2)), RESTART_PAUSE_MS, "the old reader stops, then a pause")
            sim.send(key_frame("3A"))
            run.wait_for("^keys 1$")
            m = run.wait_for(r"^stop = 1 in (\d+) ms")
            took, expected = int(m.group(1)), read_ms(1)
            self.assertLess(took, expected + LATE_MS,
                            f"a stop on a silent line waits for one read: took {took} ms, expected {expected} ms + {LATE_MS}")
            self.assertRegex(run.wait_for("^stop").string, "^stop = 1")
            self.assertEqual(run.wait_for("^connected").string, "connected = 0")
            self.finish(run)
            self.assertEqual(sim.handshakes, 2)
            self.assertEqual([k for k, _, _ in run.keys()], [4], "one reader, one key")

    def test_keys_wait_while_the_host_does_not_dispatch(self):
        with KeyboardSim(h.prefix, 47) as sim:
            run = self.host("callback", "start:47", "idle:1500", "keys:5:5000", "stop", "unload")
            run.wait_for("^start 47 = 47")
            for code in ["3C", "3D", "35", "3A", "41"]:
                sim.send(key_frame(code), paced=True)
            run.wait_for("^idled")
            run.wait_for("^keys 5$")
            self.finish(run)
            self.assertEqual([k for k, _, _ in run.keys()], [1, 2, 3, 4, 5])

    def test_callback_cleared_drops_keys_but_marks_connected(self):
        with KeyboardSim(h.prefix, 48, answer=False) as sim:
            run = self.host("nocallback", "start:48", "pump:1200", "connected", "callback", "keys:1:5000",
                            "stop", "unload")
            run.wait_for("^start 48 = 0")
            sim.send(key_frame("3C"))
            run.wait_for("^pumped")
            self.assertEqual(run.wait_for("^connected").string, "connected = 1")
            sim.send(key_frame("3D"))
            self.finish(run)
            self.assertEqual([k for k, _, _ in run.keys()], [2])

    def test_stop_inside_the_callback_and_start_again(self):
        with KeyboardSim(h.prefix, 54) as sim:
            run = self.host("callback", "stoponkey", "start:54", "keys:1:5000", "pump:1500", "connected",
                            "start:54", "keys:2:5000", "stop", "unload")
            run.wait_for("^start 54 = 54")
            sim.send(key_frame("3C") + key_frame("3D"))
            run.wait_for("^stop in callback = 1")
            self.assertEqual(run.wait_for("^connected").string, "connected = 0")
            run.wait_for("^start 54 = 54")
            sim.send(key_frame("35"))
            self.finish(run)
            self.assertEqual([k for k, _, _ in run.keys()], [1, 3], "nothing after the stop")

    def test_stop_from_another_thread(self):
        with KeyboardSim(h.prefix, 49):
            run = self.host("start:49", "stopfrom:other", "connected", "unload")
            run.wait_for("^start 49 = 49")
            self.assertRegex(run.wait_for("^stop from").string, "= 1")
            self.assertEqual(run.wait_for("^connected").string, "connected = 0")
            self.finish(run)

    def test_unplugged_keyboard_costs_little_and_comes_back(self):
        with KeyboardSim(h.prefix, 50) as sim:
            run = self.host("callback", "start:50", "pump:700", "cpu", "pump:3000", "cpu", "keys:1:6000",
                            "stop", "unload")
            run.wait_for("^start 50 = 50")
            sim.unplug()
            before = float(run.wait_for(r"^cpu ([\d.]+)").group(1))
            after = float(run.wait_for(r"^cpu ([\d.]+)").group(1))
            self.assertLess(after - before, 600, "the reader must not spin on a port it cannot re-open")
            sim.plug()
            time.sleep(1.2)  # the reader re-opens within its pause
            sim.send(key_frame("41"))
            run.wait_for("^keys 1$")
            self.finish(run)
            self.assertEqual([k for k, _, _ in run.keys()], [5])


def stats(line):
    """The fields of a kbhost "stats" line as a dict of ints."""
    return {k: int(v) for k, v in re.findall(r"(\w+)=(-?\d+)", line)}


class StatisticsTest(HostCase):
    """GetStatistics, the fifth export, on each kind of line. The host finds
    it by name only for its "stats" commands; everything else it does with
    the four exports the scale's application knows."""

    def test_good_line_and_careless_callers(self):
        with KeyboardSim(h.prefix, 55) as sim:
            run = self.host("ordinals", "statsbad", "callback", "start:55", "keys:3:5000", "pump:200", "stats",
                            "stop", "stats", "unload")
            self.assertEqual(run.wait_for("^ordinals").string, "ordinals ok")
            self.assertEqual(run.wait_for("^statsbad").string,
                             "statsbad null=0 small=0 readonly=0 straddling=0 grown=1 grownsize=76 later=untouched "
                             "first=1 firstsize=64 firstlater=untouched")
            run.wait_for("^start 55 = 55")
            sim.send(key_frame("3C") + key_frame("00") + key_frame("3D") + key_frame("3B") + key_frame("41"),
                     paced=True)
            s = stats(run.wait_for("^stats").string)
            self.assertEqual((s["accepted"], s["keys"], s["idle"], s["crc"], s["shape"], s["skipped"]),
                             (4, 3, 1, 0, 0, 0), s)
            self.assertEqual(s["read"], 60, "five frames; the handshake reply is not the hunt's")
            self.assertEqual((s["open"], s["handshake"], s["failedopens"], s["connected"], s["port"]),
                             (0, 1, 0, 1, 55), s)
            self.assertTrue(0 <= s["age"] < 2000, s)
            after = stats(run.wait_for("^stats").string)
            self.assertEqual((after["accepted"], after["connected"]), (4, 0), "the counts outlive the stop")
            self.finish(run)

    def test_noisy_line_counts_what_it_skips(self):
        with KeyboardSim(h.prefix, 56) as sim:
            run = self.host("callback", "start:56", "keys:3:8000", "pump:300", "stats", "stop", "unload")
            run.wait_for("^start 56 = 56")
            sim.send(b"\x13:\x00" + key_frame("3C")[:5] + key_frame("3D") + key_frame("35", crc=b"ABCD")
                     + b"zz" + key_frame("35") + key_frame("3A")[:8] + key_frame("41"), paced=True)
            s = stats(run.wait_for("^stats").string)
            self.finish(run)
            self.assertEqual([k for k, _, _ in run.keys()], [2, 3, 5])
            self.assertEqual((s["accepted"], s["keys"], s["crc"]), (3, 3, 4), s)
            self.assertEqual(s["skipped"], 1 + 2 + 5 + 12 + 2 + 8, s)

    def test_unplugged_keyboard_shows_failed_reopens(self):
        with KeyboardSim(h.prefix, 57) as sim:
            run = self.host("start:57", "pump:300", "stats", "pump:2000", "stats", "stop", "unload")
            run.wait_for("^start 57 = 57")
            sim.unplug()
            before = stats(run.wait_for("^stats").string)
            s = stats(run.wait_for("^stats", timeout=20).string)
            self.finish(run)
            self.assertEqual((before["failedopens"], before["connected"]), (0, 1), before)
            self.assertGreaterEqual(s["failedopens"], 2, s)
            self.assertGreaterEqual(s["reopens"], s["failedopens"], s)
            self.assertEqual((before["faultreopens"], before["portopen"]), (0, 1), before)
            self.assertGreaterEqual(s["faultreopens"], s["failedopens"] - 1, "each retry after a failed open")
            self.assertEqual(s["portopen"], 0, s)
            self.assertIn(s["lasterror"], (2, 3), "no such device, or no such path")

    def test_held_port_and_silent_keyboard(self):
        held = map_held_port(h.prefix, 58)
        self.addCleanup(os.remove, held)
        with KeyboardSim(h.prefix, 59, answer=False):
            run = self.host("start:58", "stats", "start:59", "stats", "stop", "unload")
            s = stats(run.wait_for("^stats").string)
            self.assertEqual((s["open"], s["lasterror"], s["failedopens"], s["handshake"], s["port"]),
                             (-2, 5, 1, -1, 58), s)
            s = stats(run.wait_for("^stats", timeout=20).string)
            self.assertEqual((s["open"], s["handshake"], s["connected"], s["failedopens"]), (0, 0, 0, 0), s)
            self.assertGreaterEqual(s["reopens"], 3, "each unanswered request ends in a short read")
            self.assertEqual(s["faultreopens"], 0, "short reads are no fault of the port")
            self.finish(run)


class CarelessHostTest(HostCase):
    """What a host that calls the library from several threads, or from
    inside its own callback, may do. Each case is how such a host once
    crashed or lost keys."""

    def test_two_threads_starting_and_stopping(self):
        with KeyboardSim(h.prefix, 74) as sim:
            # One start and stop first: what the library makes once and keeps
            # (its window class, its locks) is no leak of the hammering.
            run = self.host("start:74", "stop", "handles", "hammer:74:500", "handles", "callback", "start:74",
                            "keys:1:5000", "stop", "connected", "handles", "unload")
            before = int(run.wait_for(r"^handles (-?\d+)").group(1))
            m = run.wait_for(r"^hammer 1000 cycles in \d+ ms, failed starts (\d+)$", timeout=600)
            self.assertEqual(m.group(1), "0", "every start finds the port free and the keyboard answering")
            print(m.string, file=sys.stderr)
            after = int(run.wait_for(r"^handles (-?\d+)").group(1))
            # A reader leaked by the hammering would still hold the port.
            self.assertRegex(run.wait_for("^start 74 = ").string, "^start 74 = 74 in ")
            sim.send(key_frame("3C"))
            run.wait_for("^keys 1$")
            self.assertEqual(run.wait_for("^connected").string, "connected = 0")
            stopped = int(run.wait_for(r"^handles (-?\d+)").group(1))
            self.finish(run)
            self.assertEqual(sim.handshakes, 1002)
            self.assertEqual([k for k, _, _ in run.keys()], [1])
            # Handles counted by asking after each handle value (Wine's own
            # count answers 0): a thread, event or port handle left by a
            # cycle would show a thousand times over.
            self.assertLessEqual(after - before, 5, (before, after, stopped))
            self.assertLessEqual(stopped - before, 5, (before, after, stopped))

    def test_start_on_a_thread_that_ends(self):
        with KeyboardSim(h.prefix, 75) as sim:
            run = self.host("callback", "startthread:75", "connected", "keys:10:2000", "connected", "stats",
                            "stop", "connected", "unload")
            run.wait_for("^start 75 on an ended thread = 75")
            run.wait_for("^connected")
            for code in ("3C", "3D", "35", "3A", "41") * 2:
                sim.send(key_frame(code), paced=True)
            run.wait_for("^keys")
            self.assertEqual(run.wait_for("^connected").string, "connected = 0",
                             "no window to hand keys to: not connected")
            s = stats(run.wait_for("^stats").string)
            self.assertEqual(run.wait_for("^connected").string, "connected = 0")
            self.finish(run)
            self.assertEqual(run.keys(), [], "the keys had no thread to go to")
            self.assertIn(s["undelivered"], (0, 1), s)
            self.assertEqual(s["read"], 12 * s["undelivered"], "a frame read is a frame counted: " + str(s))
            self.assertEqual((s["accepted"], s["connected"], s["portopen"]), (0, 0, 0), s)

    def test_stop_and_start_inside_the_callback(self):
        # Windows opens a port for one handle at a time, and so does the
        # library for itself: a new start that found the old reader still
        # holding the port would return 0 here.
        with KeyboardSim(h.prefix, 76) as sim:
            run = self.host("callback", "restartonkey:76", "start:76", "keys:1:5000", "pump:300", "connected",
                            "keys:2:5000", "stats", "stop", "unload")
            run.wait_for("^start 76 = 76")
            sim.send(key_frame("3C"))
            self.assertEqual(run.wait_for("^restart in callback").string, "restart in callback: stop = 1, start = 76")
            self.assertEqual(run.wait_for("^connected").string, "connected = 1")
            sim.send(key_frame("3D"))
            s = stats(run.wait_for("^stats").string)
            self.finish(run)
            self.assertEqual([k for k, _, _ in run.keys()], [1, 2])
            self.assertEqual(sim.handshakes, 2)
            self.assertEqual((s["open"], s["failedopens"], s["portopen"]), (0, 0, 1), s)


class UnloadTest(HostCase):
    def test_unload_with_a_running_reader(self):
        with KeyboardSim(h.prefix, 51) as sim:
            run = self.host("callback", "start:51", "keys:1:5000", "unload",
                            "load", "callback", "start:51", "keys:2:5000", "unload")
            run.wait_for("^start 51 = 51")
            sim.send(key_frame("3C"))
            m = run.wait_for(r"^unload in (\d+) ms")
            self.assertGreaterEqual(int(m.group(1)), UNLOAD_PAUSE_MS, "unloading pauses")
            run.wait_for("^load ok")
            run.wait_for("^start 51 = 51")
            sim.send(key_frame("3D"))
            self.finish(run)
            self.assertEqual([k for k, _, _ in run.keys()], [1, 2])

    def test_unload_while_a_frame_waits_in_the_hand_over(self):
        with KeyboardSim(h.prefix, 52) as sim:
            run = self.host("callback", "start:52", "idle:1000", "unload", "pump:300")
            run.wait_for("^start 52 = 52")
            sim.send(key_frame("3C") + key_frame("3D"))
            run.wait_for("^unload in")
            self.finish(run)
            # The unload's wait answers the hand-over of the first frame; its
            # stop keeps the reader from reading the second.
            self.assertEqual([k for k, _, _ in run.keys()], [1])

    def test_process_ends_with_the_reader_running(self):
        with KeyboardSim(h.prefix, 53):
            run = self.host("start:53")
            run.wait_for("^start 53 = 53")
            self.finish(run)


if __name__ == "__main__":
    h.ensure_started()
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
