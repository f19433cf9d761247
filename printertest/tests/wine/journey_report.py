"""The service report: a link check, SRAM, a RUL voltage, a feed and three
short stability runs (one to its end, one stopped with Esc, one ended by the
error limit); the file grows with each check and is read back line by line
after the exit names it, with the scale's number given at exit in its header
and the summary of the checks at its end. A wizard left without checks writes
no file and asks no number."""
import glob
import os
import re

from ids import wizard as ids
from wizard_journey import Wizard, KeptNumber, check, finish, register_simulator, EXIT, MSG_YES

LINK, SRAM, RUL, FEED, STABILITY = 0, 1, 4, 6, 9
START, FIELD, COUNT, RESULT = ids.IDC_START, ids.IDC_FIELD, ids.IDC_COUNT, ids.IDC_RESULT
IDOK = 1
TIME = r"\d\d:\d\d:\d\d"


def report_files(w):
    win_dir = os.environ.get("TQ_WIN_DIR") or os.path.join(w.h.build_dir, "win")
    return set(glob.glob(os.path.join(win_dir, "bin", "Reports", "LMT520EU-*.txt")))


def read_lines(path):
    with open(path, "rb") as f:
        data = f.read()
    check(data.startswith(b"\xef\xbb\xbf"), "the report starts with a byte-order mark")
    return data[3:].decode("utf-8").split("\r\n")


def block(title, *facts):
    """A check's block: its title after the time, its facts, a blank line."""
    return [TIME + "  " + re.escape(title)] + ["    " + fact for fact in facts] + [""]


def stability(total, printed, errors, recoveries, end):
    return block("Проверка стабильности", f"Задано этикеток: {total}", f"Напечатано: {printed}",
                 re.escape(f"Ошибок: {errors} (из них с кодом -1033: 0)"),
                 re.escape(f"Восстановлений связи: {recoveries} (связь вернулась: {recoveries})"),
                 "Пауз на охлаждение головки: 0", re.escape("Завершение: " + end),
                 re.escape("Статус в конце: 0 (Ошибок нет)"))


def compare(lines, patterns, what):
    check(len(lines) >= len(patterns), f"{what}: {len(lines)} lines, at least {len(patterns)} expected")
    for n, (line, pattern) in enumerate(zip(lines, patterns), 1):
        check(re.fullmatch(pattern, line) is not None, f"{what} line {n}: {line!r} ~ {pattern!r}")


def run_stability(w, count, scenario, summary=None):
    w.ui.call("settext", w.page(STABILITY), COUNT, count)
    w.set_scenario(scenario)
    w.press(STABILITY, START)
    if summary:
        w.wait_text(STABILITY, RESULT, summary, timeout=30)


w = Wizard("report", "VersionMajor = 3\nVersionMinor = 14\n")
register_simulator(w.h)
before = report_files(w)
with KeptNumber(w.h), w:
    w.press(LINK, START)
    w.wait_text(LINK, RESULT, "Ошибок нет", timeout=30)
    made = report_files(w) - before
    check(len(made) == 1, f"the first check makes one report file ({len(made)})")
    path = made.pop() if made else ""
    check(re.fullmatch(r"LMT520EU-\d{8}-\d{6}\.txt", os.path.basename(path)) is not None, "file name " + path)
    header = ["Отчёт о проверке принтера весов \\(LMT520EU\\)", "Номер весов: не указан", r"Дата: \d\d\.\d\d\.\d{4} " + TIME,
              "Компьютер: .+", re.escape("Версия элемента управления принтера: 2.5.0.17"), ""]
    link = block("Проверка связи", "Запросов: 1000", "Ответов: 1000", "Версия принтера: 3.14",
                 "Результат: Ошибок нет")
    if path:
        compare(read_lines(path), header + link + [""], "written while the wizard runs")

    w.select(SRAM)
    w.press(SRAM, START)
    w.wait_text(SRAM, FIELD, "Ошибок нет")
    w.set_scenario("RulVoltage = 12\n")
    w.select(RUL)
    w.wait_text(RUL, FIELD, "1.2 В")
    w.set_scenario("Status = 2\n")
    w.select(FEED)
    w.press(FEED, START)
    w.wait_text(FEED, FIELD, "Этикетка не спозиционирована")

    w.select(STABILITY)
    run_stability(w, "3", "PrintLabel = 0 -1 0\nRequestStatus = -1 0\n",
                  "Напечатано этикеток: 2 из 3\r\nОшибок: 1")
    run_stability(w, "99999", "PrintLabel = 0\n")
    w.wait(lambda: w.text(STABILITY, RESULT).startswith("Идет тестовая печать. Напечатано 2."), "long run going")
    w.escape(STABILITY)
    w.wait(lambda: w.text(STABILITY, RESULT).startswith("Напечатано этикеток: "), "Esc ends the run")
    run_stability(w, "20", "PrintLabel = -5\n", "Напечатано этикеток: 0 из 20\r\nОшибок: 16")

    w.ui.click(w.main, EXIT)
    box, _, _ = w.box()
    w.answer(box, MSG_YES)
    saved, text = w.save_report("Б-204")
    prefix = "Отчёт сохранён: "
    named = text[len(prefix):] if text.startswith(prefix) else ""
    check(named.startswith("Z:") and bool(path) and os.path.samefile(named[2:].replace("\\", "/"), path),
          "exit names the report: " + text)
    w.screenshot("report_saved")
    w.ui.click(saved, IDOK)
    check(w.ui.call("exit", 10000)[0] == "0", "the wizard ends after the report notice")

if path:
    header[1] = "Номер весов: Б-204"
    expected = (header + link + block("Проверка SRAM", "Результат: Ошибок нет")
                + block("Датчик RUL", "Напряжение при уходе с шага: 1\\.2 В",
                        re.escape("Допустимо: 0..1,5 В или 3,5..5,0 В"), "Оценка: в норме")
                + block('Промотка, шаг "Тестовая промотка"',
                        re.escape("Статус: 2 (Этикетка не спозиционирована)"))
                + stability(3, 2, 1, 1, "все этикетки серии пройдены")
                + stability(99999, r"\d+", 0, 0, "остановлена клавишей Esc")
                + stability(20, 0, 16, 0, "предел ошибок (более 15)")
                + block("Итог", "Проверка связи: Ошибок нет", "Проверка SRAM: Ошибок нет",
                        re.escape("Датчик RUL: 1.2 В, в норме"),
                        re.escape('Промотка, шаг "Тестовая промотка": 2 (Этикетка не спозиционирована)'),
                        re.escape("Проверка стабильности: напечатано 2 из 3, ошибок 1, все этикетки серии пройдены"),
                        r"Проверка стабильности: напечатано \d+ из 99999, ошибок 0, остановлена клавишей Esc",
                        re.escape("Проверка стабильности: напечатано 0 из 20, ошибок 16, предел ошибок (более 15)"))
                + [""])
    lines = read_lines(path)
    compare(lines, expected, "report")
    check(len(lines) == len(expected), f"nothing more in the report ({len(lines)} lines)")
    os.remove(path)

with Wizard("report-none", "") as w:
    before = report_files(w)
    w.ui.click(w.main, EXIT)
    box, _, _ = w.box()
    w.ui.click(box, MSG_YES)
    check(w.ui.call("exit", 10000)[0] == "0", "without checks the wizard ends at once, asking no number")
    check(report_files(w) == before, "without checks no report file")
finish()
