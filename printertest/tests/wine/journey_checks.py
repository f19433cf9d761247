"""Steps 1 to 4 against the simulator: link check with and without link, an
SRAM failure report, the TM limits, both head-up checks; then the wizard
without any printer control."""
from ids import wizard as ids
from wizard_journey import (Wizard, check, finish, register_simulator, unregister_simulator,
                            MSG_CONTINUE)

LINK, SRAM, TM, HEADUP = 0, 1, 2, 3
START, START2, FIELD, FIELD2, RESULT, VERSION = (ids.IDC_START, ids.IDC_START2, ids.IDC_FIELD, ids.IDC_FIELD2,
                                                 ids.IDC_RESULT, ids.IDC_VERSION)

scenario = """
VersionMajor = 3
VersionMinor = 14
delay RequestStatus 1   # a real-looking pace, so the progress text shows
"""

w = Wizard("checks", scenario)
register_simulator(w.h)
with w:
    w.press(LINK, START)
    w.wait(lambda: w.text(LINK, RESULT).startswith("Идет проверка... Запросов "), "link progress text")
    w.wait_text(LINK, RESULT, "Ошибок нет", timeout=30)
    check(w.text(LINK, VERSION) == "3.14", "version " + w.text(LINK, VERSION))
    check(w.count("RequestStatus") == 1000, f"1000 requests ({w.count('RequestStatus')})")
    w.screenshot("link")

    w.set_scenario("RequestStatus = -1\n")
    before = w.count("RequestStatus")
    w.press(LINK, START)
    w.wait_text(LINK, RESULT, "Нет связи")
    check(w.count("RequestStatus") - before == 10, "no link: gives up after 10 requests")
    check(w.text(LINK, VERSION) == "", "no link: no version")

    w.set_scenario("Status = 1\nVersionMinor = 0\nVersionMajor = 2\n"
                   "SensorFlags = 64\nPeVoltage = 90\nLabVoltage = 255\ndelay TestSram 300\n")
    w.select(SRAM)
    w.press(SRAM, START)
    w.wait_text(SRAM, FIELD, "Ошибка! Адрес: 0x20040, прочитали 0x5a, ожидали 0xff")

    w.select(TM)
    for t, expected in ((65, "Ошибок нет (65 C)"), (66, "Ошибка! Температура 66 С"),
                        (5, "Ошибок нет (5 C)"), (4, "Ошибка! Температура 4 С")):
        w.set_scenario(f"HeadTemperature = {t}\n")
        w.press(TM, START)
        w.wait_text(TM, FIELD, expected)

    w.select(HEADUP)
    w.set_scenario("SensorFlags = 8\n")  # head open
    w.press(HEADUP, START)
    w.wait_text(HEADUP, FIELD, "ОШИБКА! Головка принтера открыта.")
    w.press(HEADUP, START2)
    w.wait_text(HEADUP, FIELD2, "Ошибок нет (головка принтера открыта)")
    w.set_scenario("SensorFlags = 64\n")
    w.press(HEADUP, START)
    w.wait_text(HEADUP, FIELD, "Ошибок нет (головка принтера закрыта)")
    check(w.text(HEADUP, FIELD2) == "Ошибок нет (головка принтера открыта)", "head-up results independent")

    # A control that raises an error: reported in a box, the program runs on.
    w.set_scenario("fault RequestStatus\n")
    w.press(HEADUP, START2)
    box, header, message = w.box()
    check(header == "Ошибка принтера", "control error header " + header)
    check("Simulated control failure" in message, "control error text " + message)
    w.answer(box, MSG_CONTINUE)
    check(w.text(HEADUP, FIELD2) == "Нет связи", "control error shows as no link")

unregister_simulator(w.h)
try:
    with Wizard("no-control", "") as w:
        box, header, message = w.box()
        check(message.startswith("Элемент управления принтера не найден"), "missing control: " + message)
        w.answer(box, MSG_CONTINUE)
        w.press(LINK, START)
        w.wait_text(LINK, RESULT, "Нет связи")
        check(w.running(), "runs on without the control")
finally:
    register_simulator(w.h)
finish()
