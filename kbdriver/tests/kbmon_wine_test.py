#!/usr/bin/env python3
"""kbmon.exe under Wine against the keyboard simulator: with the driver on a
good, a noisy, an unplugged, a held, a missing and a silent line, with a
keyboard that sends keys but never answers the request, without the driver
(--raw), and ended by Ctrl+C. It runs from another folder than its own,
so the driver must come from beside it."""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.environ["TQ_SOURCE_DIR"]
sys.path.insert(0, os.path.join(SOURCE, "tools", "kbsim"))
sys.path.insert(0, os.path.join(SOURCE, "tools", "kbhost"))
from winharness import Harness  # noqa: E402
from kbsim import KeyboardSim, key_frame, map_held_port  # noqa: E402
from hostrun import FollowedRun  # noqa: E402

h = Harness()
SERIALCOMM = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"
SIM_DEVICE = r"\Device\KbsimSerial79"
KBMON = os.path.join(os.environ.get("TQ_WIN_DIR") or os.path.join(h.build_dir, "win"), "bin", "kbmon.exe")


class Kbmon(FollowedRun):
    """kbmon.exe running, started from another folder than its own."""

    def __init__(self, *args):
        super().__init__(h, KBMON, args, cwd=tempfile.gettempdir(), encoding="cp1251")

    def wait_for(self, pattern, timeout=15):
        return super().wait_for(pattern, timeout).string


class KbmonTest(unittest.TestCase):
    def run_kbmon(self, *args):
        run = Kbmon(*args)
        self.addCleanup(lambda: run.proc.poll() is None and run.proc.kill())
        return run

    def forget_port(self):
        h.run("reg", ["delete", SERIALCOMM, "/v", SIM_DEVICE, "/f"], timeout=30)

    def test_good_line_shows_keys_status_and_summary(self):
        with KeyboardSim(h.prefix, 66) as sim:
            run = self.run_kbmon("COM66", "--seconds", "4")
            run.wait_for("^kbmon: TQ850KB.dll на COM66$")
            run.wait_for("^Клавиатура ответила")
            sim.send(key_frame("3C") + key_frame("00") + key_frame("3D"), paced=True)
            run.wait_for("^клавиша 1$")
            run.wait_for("^клавиша 2$")
            status = run.wait_for(r"^\[")
            self.assertRegex(status, r"^\[ +\d+ с\] [\d.]+ кадр/с, CRC 0, пропущ\. 0, переоткр\. 0/\d+, связь есть$")
            self.assertLessEqual(len(status), 79, status)
            rc, lines = run.finish()
            self.assertEqual(rc, 0, "\n".join(lines))
            self.assertIn("  прочитано байт 36, кадров с клавишами 2, клавиш передано 2, пустых кадров 1", lines)
            self.assertEqual(lines[-1], "Вердикт: Линия в порядке")

    def test_noisy_line_blames_the_cable(self):
        with KeyboardSim(h.prefix, 67) as sim:
            run = self.run_kbmon("COM67", "--seconds", "3")
            run.wait_for("^Клавиатура ответила")
            sim.send(key_frame("3C") + key_frame("3D", crc=b"0000") + key_frame("35") + key_frame("3A", crc=b"1234")
                     + key_frame("41"), paced=True)
            rc, lines = run.finish()
            self.assertEqual(rc, 0, "\n".join(lines))
            self.assertEqual([line for line in lines if line.startswith("клавиша")],
                             ["клавиша 1", "клавиша 3", "клавиша 5"])
            self.assertEqual(lines[-1], "Вердикт: Ошибки CRC: 40% — проверьте кабель")

    def test_unplugged_port_is_reported(self):
        with KeyboardSim(h.prefix, 68) as sim:
            run = self.run_kbmon("COM68", "--seconds", "4")
            run.wait_for("^Клавиатура ответила")
            sim.send(key_frame("3C"))
            run.wait_for("^клавиша 1$")
            sim.unplug()
            # The driver still says it is connected (by design); the status
            # line says what the port did.
            lost = run.wait_for(r", порт недоступен$", timeout=10)
            rc, lines = run.finish()
            self.assertEqual(rc, 0, "\n".join(lines))
            last = [line for line in lines if line.startswith("[")][-1]
            self.assertRegex(last, r"переоткр\. [1-9]\d*/\d+, порт недоступен$", lost)
            self.assertRegex(lines[-1], r"^Вердикт: Порт пропал во время работы \(ошибка Windows \d+\) — проверьте подключение$")

    def test_held_and_missing_ports_end_with_a_clear_message(self):
        held = map_held_port(h.prefix, 69)
        self.addCleanup(os.remove, held)
        for args in (["COM69"], ["--raw", "COM69"]):
            rc, lines = self.run_kbmon(*args).finish()
            self.assertEqual(rc, 2, "\n".join(lines))
            self.assertIn("Порт COM69 занят другой программой", lines)
            self.assertEqual(lines[-1], "Вердикт: Порт занят другой программой")

    def test_missing_port_names_the_ports_there_are(self):
        # Wine's device map holds the ports Wine found when it started; the
        # simulator's line, made later, is named there as a port's driver
        # names its port on Windows.
        with KeyboardSim(h.prefix, 79):
            self.addCleanup(self.forget_port)
            h.reg_add(SERIALCOMM, SIM_DEVICE, "REG_SZ", "COM79")
            for args in (["COM70"], ["--raw", "COM70"]):
                rc, lines = self.run_kbmon(*args).finish()
                self.assertEqual(rc, 2, "\n".join(lines))
                missing = [line for line in lines if line.startswith("Порт COM70 не найден")]
                self.assertEqual(len(missing), 1, lines)
                self.assertRegex(missing[0], r"^Порт COM70 не найден\. Есть порты: COM\d+(, COM\d+)*$")
                listed = missing[0].split(": ")[1].split(", ")
                self.assertIn("COM79", listed)
                self.assertNotIn("COM70", listed)
                self.assertEqual(listed, sorted(listed, key=lambda name: int(name[3:])))

    def test_silent_keyboard(self):
        with KeyboardSim(h.prefix, 71, answer=False):
            rc, lines = self.run_kbmon("COM71", "--seconds", "2").finish()
            self.assertEqual(rc, 0, "\n".join(lines))
            self.assertIn("Клавиатура не ответила на запрос; слушаю линию. Ctrl+C — конец.", lines)
            self.assertEqual(lines[-1], "Вердикт: Клавиатура не отвечает")

    def test_keyboard_that_never_answers_is_said_so_though_its_keys_come(self):
        with KeyboardSim(h.prefix, 74, answer=False) as sim:
            for args in (["COM74"], ["--raw", "COM74"]):
                run = self.run_kbmon(*args, "--seconds", "3")
                run.wait_for("не ответила на запрос")
                sim.send(key_frame("3C") + key_frame("3D"), paced=True)
                rc, lines = run.finish()
                self.assertEqual(rc, 0, "\n".join(lines))
                self.assertTrue(any(line.startswith("клавиша 2") or line.endswith("клавиша 2") for line in lines),
                                lines)
                self.assertEqual(lines[-1], "Вердикт: Клавиатура не отвечает на запрос (кадры от неё приходят)")

    def test_raw_prints_every_frame_with_its_check(self):
        with KeyboardSim(h.prefix, 72) as sim:
            run = self.run_kbmon("--raw", "COM72", "--seconds", "3")
            run.wait_for("^COM72 открыт без драйвера; клавиатура ответила")
            sim.send(key_frame("3C") + key_frame("00") + key_frame("3D", crc=b"0000") + key_frame("3D", frame_type=b"T"),
                     paced=True)
            rc, lines = run.finish()
            self.assertEqual(rc, 0, "\n".join(lines))
            frames = [line for line in lines if re.match(r"^([0-9A-F]{2} )", line)]
            self.assertEqual(frames, [
                "3A 4B 33 43 30 30 36 46 31 43 0D 0A клавиша 1",
                "3A 4B 30 30 30 30 " + " ".join("%02X" % b for b in key_frame("00")[6:]) + " пустой кадр",
                "3A 4B 33 44 30 30 30 30 30 30 0D 0A ошибка CRC",
                "3A 54 33 44 30 30 " + " ".join("%02X" % b for b in key_frame("3D", frame_type=b"T")[6:])
                + " кадр другого типа",
            ])
            self.assertEqual(lines[-1], "Вердикт: Ошибки CRC: 25% — проверьте кабель")

    def test_idle_line_is_no_fault(self):
        # A healthy keyboard that sends nothing: the port is re-opened after
        # every short read, twice a second, and that is no fault.
        with KeyboardSim(h.prefix, 77):
            run = self.run_kbmon("COM77", "--seconds", "8")
            run.wait_for("^Клавиатура ответила")
            first = run.wait_for(r"^\[")
            rc, lines = run.finish()
        self.assertEqual(rc, 0, "\n".join(lines))
        self.assertTrue(first.endswith(", связь есть"), "the keyboard answered a second ago: " + first)
        last = [line for line in lines if line.startswith("[")][-1]
        m = re.search(r"переоткр\. (\d+)/(\d+), (.+)$", last)
        self.assertTrue(m, last)
        self.assertEqual(m.group(1), "0", last)
        self.assertGreaterEqual(int(m.group(2)), 6, "about two a second: " + last)
        self.assertEqual(m.group(3), "линия молчит", last)
        self.assertTrue(any(re.match(r"^  переоткрытий порта после сбоя 0, в простое \d+; неудачных открытий 0$", line)
                            for line in lines), lines)

    def test_output_that_cannot_be_written_ends_with_an_error(self):
        with KeyboardSim(h.prefix, 78):
            read_end, write_end = os.pipe()
            os.close(read_end)  # the reader of a pipe gone: "kbmon ... | head" after head ended
            full = open("/dev/full", "wb")
            try:
                for name, out in (("full disk", full.fileno()), ("closed pipe", write_end)):
                    with tempfile.TemporaryFile() as err:
                        proc = h.popen(KBMON, ["COM78", "--seconds", "20"], cwd=tempfile.gettempdir(),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err)
                        self.addCleanup(lambda p=proc: p.poll() is None and p.kill())
                        rc = proc.wait(timeout=15)
                        err.seek(0)
                        said = err.read().decode("cp1251", errors="replace")
                    self.assertEqual(rc, 3, name + ": " + said)
                    self.assertRegex(said, r"kbmon: не удалось записать вывод \(ошибка Windows \d+\)", name)
            finally:
                full.close()
                os.close(write_end)

    def test_bad_arguments_show_the_usage(self):
        rc, lines = self.run_kbmon("COM0").finish()
        self.assertEqual(rc, 1)
        self.assertEqual(lines[0], "Непонятный аргумент: COM0")
        self.assertTrue(lines[1].startswith("Использование: kbmon"))

    def test_ctrl_c_stops_the_driver_and_prints_the_summary(self):
        with KeyboardSim(h.prefix, 73) as sim:
            run = self.run_kbmon("COM73")
            run.wait_for("^Клавиатура ответила")
            sim.send(key_frame("41"))
            run.wait_for("^клавиша 5$")
            run.proc.send_signal(signal.SIGINT)
            rc, lines = run.finish(timeout=15)
            self.assertEqual(rc, 0, "\n".join(lines))
            self.assertEqual(lines[-1], "Вердикт: Линия в порядке")


if __name__ == "__main__":
    h.ensure_started()
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
