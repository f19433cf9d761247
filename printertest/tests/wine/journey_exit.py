"""Leaving the wizard: Esc from the keyboard on a check page and the close box
ask as "Выход" does ("Нет" stays on the step), then the scale's number is
asked before the report is saved. The number typed in the first run is
offered in the second and lands in both reports' headers."""
import glob
import os

from ids import wizard as ids
from wizard_journey import Wizard, KeptNumber, check, finish, register_simulator, MSG_NO, MSG_YES, IDOK

SRAM, TM = 1, 2
START, FIELD = ids.IDC_START, ids.IDC_FIELD


def report_files(w):
    win_dir = os.environ.get("TQ_WIN_DIR") or os.path.join(w.h.build_dir, "win")
    return set(glob.glob(os.path.join(win_dir, "bin", "Reports", "LMT520EU-*.txt")))


def report_lines(path):
    with open(path, "rb") as f:
        return f.read()[3:].decode("utf-8").split("\r\n")


def exit_question(w):
    box, header, message = w.box()
    check((header, message) == ("Подтверждение выхода", "Уверены, что хотите выйти?"),
          f"exit question: {header!r} {message!r}")
    return box


def saved_report(w, notice_text, before):
    made = report_files(w) - before
    check(len(made) == 1, f"one report made ({len(made)})")
    path = made.pop() if made else ""
    check(notice_text.startswith("Отчёт сохранён: ") and notice_text.endswith(os.path.basename(path) or "?"),
          "the notice names the report: " + notice_text)
    return path


made = []
w = Wizard("exit", "")
register_simulator(w.h)
with KeptNumber(w.h) as kept:
    before = report_files(w)
    with w:
        w.select(SRAM)
        w.press(SRAM, START)
        w.wait_text(SRAM, FIELD, "Ошибок нет")
        w.ui.call("keys", w.main, "ESCAPE")
        box = exit_question(w)
        w.answer(box, MSG_NO)
        check(w.running() and w.visible(SRAM), "Нет after Esc keeps the wizard on its step")
        check(w.text(SRAM, FIELD) == "Ошибок нет", "and the step's result")

        w.ui.call("close", w.main)  # the close box
        box = exit_question(w)
        w.answer(box, MSG_YES)
        prompt, offered = w.number_prompt()
        check(offered == "", f"no number offered in the first run ({offered!r})")
        w.ui.call("settext", prompt, ids.IDC_SCALE_NUMBER, "A-123")
        w.screenshot("scale_number")
        w.ui.click(prompt, IDOK)
        w.ui.gone(prompt)
        notice, text = w.notice()
        path = saved_report(w, text, before)
        w.ui.click(notice, IDOK)
        check(w.ui.call("exit", 10000)[0] == "0", "the wizard ends after the notice")
    check(kept.value() == "A-123", f"the number is kept ({kept.value()!r})")
    if path:
        made.append(path)
        lines = report_lines(path)
        check(lines[1] == "Номер весов: A-123", "header: " + repr(lines[1:2]))
        check("    Проверка SRAM: Ошибок нет" in lines and lines[-1] == "", "summary closes the report")

    before = report_files(w)
    with Wizard("exit-again", "HeadTemperature = 30\n") as w:
        w.select(TM)
        w.press(TM, START)
        w.wait_text(TM, FIELD, "Ошибок нет (30 C)")
        w.ui.call("keys", w.main, "ESCAPE")
        box = exit_question(w)
        w.answer(box, MSG_YES)
        prompt, offered = w.number_prompt()
        check(offered == "A-123", f"the kept number is offered ({offered!r})")
        w.ui.call("keys", prompt, "RETURN")  # Enter saves with it
        w.ui.gone(prompt)
        notice, text = w.notice()
        path = saved_report(w, text, before)
        w.ui.click(notice, IDOK)
        check(w.ui.call("exit", 10000)[0] == "0", "the second run ends")
    if path:
        made.append(path)
        lines = report_lines(path)
        check(lines[1] == "Номер весов: A-123", "second header: " + repr(lines[1:2]))
        check("    Датчик TM: Ошибок нет (30 C)" in lines, "second summary")
for path in made:
    os.remove(path)
finish()
