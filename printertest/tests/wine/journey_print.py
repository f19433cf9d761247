"""Steps 9 and 10: a test print, short stability runs (the label written in
its order, a code-4 retry, link recovery, overheating, a status that ends the
run, the engineer's Esc) and the label sensor toggle."""
from ids import wizard as ids
from wizard_journey import Wizard, check, finish, register_simulator, MSG_CONTINUE

TESTPRINT, STABILITY, FEED_STEP = 8, 9, 6
START, COUNT, FEED, SENSOR, RESULT = ids.IDC_START, ids.IDC_COUNT, ids.IDC_FEED, ids.IDC_LABEL_SENSOR, ids.IDC_RESULT
STOP_HINT = ids.IDC_STOP_HINT

w = Wizard("print", "PrintLabel = 0\n")
register_simulator(w.h)
with w:
    w.select(TESTPRINT)
    check(w.text(TESTPRINT, COUNT) == "1", "test print count starts at 1")
    w.ui.call("settext", w.page(TESTPRINT), COUNT, "3")
    w.press(TESTPRINT, START)
    w.wait_text(TESTPRINT, RESULT, "Ошибок нет")
    check(w.count("PrintLabel") == 3, f"three test prints ({w.count('PrintLabel')})")
    check(w.count("LoadLabel") == 0, "the test print loads no label")

    w.select(STABILITY)
    check(w.text(STABILITY, COUNT) == "10", "stability count starts at 10")
    w.ui.call("settext", w.page(STABILITY), COUNT, "3")
    w.set_scenario("PrintLabel = 0 4 0 -1 0\nRequestStatus = -1 0\n")
    before = len(w.calls())
    w.press(STABILITY, START)
    w.wait(lambda: w.text(STABILITY, RESULT) ==
           "Восстановление связи с принтером\r\nпосле ошибки\r\nПодождите...", "recovery text")
    w.screenshot("stability_recovering")  # drawn while the run holds the thread
    w.wait_text(STABILITY, RESULT, "Напечатано этикеток: 2 из 3\r\nОшибок: 1", timeout=20)
    run = w.calls()[before:]
    expected = ["LoadLabel C:\\TQ-850\\Shared\\Labels\\60X60.lpr -> 0", "put LabelBarcode 123456789012",
                "put LabelValue10 1200", "put LabelValue8 10", "put LabelValue9 120",
                "put LabelInteger20 5", "put LabelName Икра черная.", "PrepareLabel -> 0"]
    check(run[:8] == expected, "test label written in its order: " + repr(run[:8]))
    prints = [c for c in run if c.startswith("PrintLabel")]
    check(prints == ["PrintLabel -> 0", "PrintLabel -> 4", "PrintLabel -> 0", "PrintLabel -> -1"],
          "code 4 retried, -1 counted: " + repr(prints))
    check(sum(c.startswith("RequestStatus") for c in run) == 2, "link recovered on the second attempt")
    w.screenshot("stability_done")

    w.ui.call("settext", w.page(STABILITY), COUNT, "1")
    w.set_scenario("PrintLabel = 0\nStatus = 5 5 0\nHeadTemperature = 70 70 55\n")
    w.press(STABILITY, START)
    w.wait(lambda: w.text(STABILITY, RESULT) ==
           "Перегрев печатной головки (70 C)\r\nИдет охлаждение...", "cooling text")
    w.wait_text(STABILITY, RESULT, "Напечатано этикеток: 1 из 1\r\nОшибок: 0", timeout=20)

    w.ui.call("settext", w.page(STABILITY), COUNT, "2")
    w.set_scenario("PrintLabel = 0\nStatus = 4\n")
    w.press(STABILITY, START)
    box, header, message = w.box()
    check(header == "Внимание!", "status ends the run: " + header)
    check(message == "Не снята отпечатанная этикетка\r\nВыключите датчик этикетки\r\nПовторите тест!!!",
          "status 4 message: " + repr(message))
    w.answer(box, MSG_CONTINUE)
    w.wait_text(STABILITY, RESULT, "Напечатано этикеток: 1 из 2\r\nОшибок: 0")

    w.ui.call("settext", w.page(STABILITY), COUNT, "99999")
    w.set_scenario("PrintLabel = 0\n")
    w.press(STABILITY, START)
    w.wait(lambda: w.text(STABILITY, RESULT).startswith("Идет тестовая печать. Напечатано 2."), "long run going")
    check(w.text(STABILITY, STOP_HINT) == "Esc — остановить", "the page says how to stop the run")
    w.screenshot("stability_running")
    w.escape(STABILITY)
    w.wait(lambda: w.text(STABILITY, RESULT).startswith("Напечатано этикеток: "), "Esc ends the run")
    summary = w.text(STABILITY, RESULT)
    check(" из 99999, остановлено\r\nОшибок: 0" in summary, "stopped run summary: " + repr(summary))
    check(w.text(STABILITY, STOP_HINT) == "", "no stop hint after the run")

    w.set_scenario("SensorFlags = 64\n")
    w.select(FEED_STEP)
    w.select(STABILITY)
    w.wait(lambda: w.ui.call("checked", w.page(STABILITY), SENSOR)[0] == "1", "toggle loaded from the flags")
    check(w.text(STABILITY, COUNT) == "99999", "showing step 10 writes the count back")
    w.press(STABILITY, SENSOR)
    w.wait(lambda: w.count("EnableLabelSensor 0") == 1, "toggle sends off")
    check(w.ui.call("checked", w.page(STABILITY), SENSOR)[0] == "0", "toggle is off")
    w.select(FEED_STEP)
    w.select(STABILITY)
    w.wait(lambda: w.ui.call("checked", w.page(STABILITY), SENSOR)[0] == "1", "showing step 10 reloading the toggle")

    w.set_scenario("Status = 1\n")
    w.press(STABILITY, FEED)
    w.wait_text(STABILITY, RESULT, "Нет бумаги")
finish()
