"""Steps 5 to 8 and the frame: the live voltages, polling only on steps 5, 6
and 8, the feeds, the "Далее >>" and "<< Назад" buttons and the exit question."""
import time

from ids import wizard as ids
from wizard_journey import Wizard, check, finish, register_simulator, MSG_CONTINUE, MSG_NO, MSG_YES, \
    MSG_HEADER, BACK, NEXT, EXIT

LINK, RUL, PE, FEED, LAB, STABILITY = 0, 4, 5, 6, 7, 9
START, FIELD = ids.IDC_START, ids.IDC_FIELD

scenario = "RulVoltage = 12\nPeVoltage = 5\nLabVoltage = 0\nStatus = 2\n"

w = Wizard("sensors", scenario)
register_simulator(w.h)
with w:
    check(not w.ui.state(w.main, BACK)[1], "step 1: back disabled")
    time.sleep(0.5)
    check(w.count("RequestStatus") == 0, "step 1 does not poll")

    w.select(RUL)
    w.wait_text(RUL, FIELD, "1.2 В")
    w.set_scenario("RulVoltage = 35 36 37 38 39 40 41 42 43 44 45 46 47 48 49 50\n")
    w.wait_text(RUL, FIELD, "5.0 В")  # live: the value walks up tick by tick
    w.screenshot("rul")

    w.ui.click(w.main, NEXT)
    w.wait(lambda: w.visible(PE), "next shows PE")
    w.wait_text(PE, FIELD, "0.0 В")
    w.set_scenario("RequestStatus = -1\n")
    w.wait_text(PE, FIELD, "Нет связи")
    check(w.text(RUL, FIELD) == "5.0 В", "a left step keeps its last voltage")

    w.set_scenario("Status = 2\nLabVoltage = 45\n")
    w.ui.click(w.main, NEXT)
    w.wait(lambda: w.visible(FEED), "next shows the feed step")
    time.sleep(0.3)
    polls = w.count("RequestStatus")
    time.sleep(0.5)
    check(w.count("RequestStatus") == polls, "the feed step does not poll")
    w.press(FEED, START)
    w.wait_text(FEED, FIELD, "Этикетка не спозиционирована")
    w.set_scenario("Status = 8\n")
    w.press(FEED, START)
    w.wait_text(FEED, FIELD, "")

    w.select(LAB)
    w.set_scenario("LabVoltage = 45\nFeed = -1\n")
    w.wait_text(LAB, FIELD, "4.5 В")
    w.press(LAB, START)
    box, header, message = w.box()
    check((header, message) == ("ОШИБКА!", "Нет связи"), f"LAB feed without link: {header} / {message}")
    check(not w.ui.state(box, MSG_YES)[0] and w.ui.state(box, MSG_CONTINUE)[0], "notice shows only Продолжить")
    # The timer goes on behind the box.
    w.set_scenario("LabVoltage = 33\n")
    w.wait_text(LAB, FIELD, "3.3 В")
    w.answer(box, MSG_CONTINUE)
    w.set_scenario("RequestStatus = -1\n")
    w.wait_text(LAB, FIELD, "нет связи")

    w.select(STABILITY)
    check(not w.ui.state(w.main, NEXT)[1], "step 10: next disabled")
    w.ui.click(w.main, BACK)
    w.wait(lambda: w.visible(8), "back shows step 9")

    w.ui.click(w.main, EXIT)
    box, header, message = w.box()
    check((header, message) == ("Подтверждение выхода", "Уверены, что хотите выйти?"), "exit question")
    check(w.ui.state(box, MSG_YES)[0] and w.ui.state(box, MSG_NO)[0] and not w.ui.state(box, MSG_CONTINUE)[0],
          "question shows Да and Нет only")
    w.screenshot("exit_question")
    w.answer(box, MSG_NO)
    check(w.running() and w.visible(8), "Нет keeps the wizard and its step")
    check(w.text(FEED, FIELD) == "" and w.text(RUL, FIELD) == "5.0 В", "Нет keeps the page results")
    w.ui.click(w.main, EXIT)
    box, _, _ = w.box()
    w.answer(box, MSG_YES)
    notice, text = w.save_report()  # the feeds made a service report
    check(text.startswith("Отчёт сохранён: "), "report notice " + text)
    w.ui.click(notice, 1)
    check(w.ui.call("exit", 10000)[0] == "0", "Да ends the wizard")
finish()
