"""A control that takes its time: the control runs in the wizard's process,
on the window's thread, so a call that blocks holds the window until it
returns. The wizard says "Подождите…" in its title before each such call,
and honours Esc and the close box between the calls of a long run."""
import glob
import os
import time

from ids import wizard as ids
from wizard_journey import Wizard, check, finish, register_simulator, IDOK, MSG_YES

FEED_STEP, STABILITY = 6, 9
START, COUNT, RESULT = ids.IDC_START, ids.IDC_COUNT, ids.IDC_RESULT
TITLE, WAITING = "LMT520EU", "LMT520EU — Подождите…"
CALL_MS = 1500  # how long each slow call blocks



def report_files(w):
    win_dir = os.environ.get("TQ_WIN_DIR") or os.path.join(w.h.build_dir, "win")
    return set(glob.glob(os.path.join(win_dir, "bin", "Reports", "LMT520EU-*.txt")))


w = Wizard("slow", "")
register_simulator(w.h)
before = report_files(w)


def title():
    return w.ui.call("title", w.main)[0]


with w:
    check(title() == TITLE, "title at the start: " + title())

    w.select(FEED_STEP)
    w.set_scenario(f"delay Feed {CALL_MS * 2}\n")
    w.press(FEED_STEP, START)
    w.wait(lambda: title() == WAITING, "the notice while the feed blocks")
    w.screenshot("slow_feed")
    w.wait(lambda: title() == TITLE, "the title back once the feed returned", timeout=CALL_MS * 2 / 1000 + 10)
    check(w.count("Feed") == 1, "one feed")

    w.select(STABILITY)
    w.ui.call("settext", w.page(STABILITY), COUNT, "50")
    w.set_scenario(f"delay PrintLabel {CALL_MS}\nPrintLabel = 0\n")
    w.press(STABILITY, START)
    w.wait(lambda: w.count("PrintLabel") >= 1, "the run has begun", timeout=15)
    check(title() == WAITING, "the notice during the run: " + title())
    w.escape(STABILITY)
    w.wait(lambda: w.text(STABILITY, RESULT).startswith("Напечатано этикеток: "), "Esc ends the run",
           timeout=CALL_MS * 3 / 1000 + 10)
    printed = w.count("PrintLabel")
    check(printed <= 3, f"Esc taken between two calls ({printed} prints of 50)")
    check(title() == TITLE, "the title back after the run: " + title())

    w.press(STABILITY, START)
    w.wait(lambda: w.count("PrintLabel") > printed, "the second run has begun", timeout=15)
    w.ui.call("close", w.main)  # as the close box: WM_CLOSE waits in the queue while a call runs
    asked = time.monotonic()
    box, header, _ = w.box(int((CALL_MS * 3 / 1000 + 10) * 1000))
    took = time.monotonic() - asked
    check(header == "Подтверждение выхода", f"the close box asks as Выход does ({header!r})")
    check(took < CALL_MS * 3 / 1000 + 2, f"the run stopped after the call it was in ({took:.1f} s)")
    check(w.count("PrintLabel") - printed <= 3, f"no more calls after the close ({w.count('PrintLabel') - printed})")
    w.answer(box, MSG_YES)
    notice, _ = w.save_report()
    w.ui.click(notice, IDOK)
    w.wait(lambda: not w.running(), "the wizard ends after the report is saved", timeout=10)

for path in report_files(w) - before:
    os.remove(path)
finish()
