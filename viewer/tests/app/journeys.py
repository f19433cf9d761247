#!/usr/bin/env python3
"""Journeys through the real TQScaleDBViewer.exe under Wine, driven by uidriver.

    journeys.py [--jet] VERSION [JOURNEY...]     all journeys when none is named

Each journey prepares a scale folder with tqdb, starts the viewer in it and
goes through the windows as an engineer would. Screenshots land in
$TQ_BUILD_DIR/screenshots/. With --jet the folder holds Access (Jet) files,
made and read back by tqdb.exe through the DAO engine of the prefix.
"""
import contextlib
import atexit
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.environ["TQ_SOURCE_DIR"], "tools", "uidriver"))
from uidriver import UiDriver, UiError  # noqa: E402
from winharness import Harness  # noqa: E402
from ids import viewer as ids  # noqa: E402

BUILD = os.environ["TQ_BUILD_DIR"]
WIN = os.environ["TQ_WIN_DIR"]
VIEWER = os.path.join(WIN, "bin", "TQScaleDBViewer.exe")
TQDB = os.path.join(BUILD, "viewer", "tqdb", "tqdb")
SHOTS = os.path.join(BUILD, "screenshots")

IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
LIST, CHOOSER, DB_NAME, COUNTER = ids.IDC_RECORD_LIST, ids.IDC_DB_CHOOSER, ids.IDC_DB_NAME, ids.IDC_RECORD_COUNT
SELECT, CLEAR, CREATE_TEST, COUNTER_LABEL = (ids.IDC_SELECT_DB, ids.IDC_CLEAR_DB, ids.IDC_CREATE_TEST_DB,
                                            ids.IDC_RECORD_COUNT_LABEL)
EDIT0, DELETE = ids.IDC_FIELD_EDIT_0, ids.IDC_DELETE_RECORD
TEST_COUNT, CREATE_DB, CANCEL_CREATE = ids.IDC_TEST_RECORD_COUNT, ids.IDC_CREATE_DB, ids.IDC_CANCEL_CREATE
FIND_TEXT = ids.IDC_FIND_TEXT
GOODS, USERS, LABELS, HELP, SELLS, REPORTS, RESOURCES = range(7)
FILES = ["TQScale", "Users", "Labels", "Help", "Sells", "Reports", "Resources"]
EDITOR = "Редактирование записи"
BOX = "TQScaleDBViewer"


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def equal(got, want, what):
    check(got == want, f"{what}: got {got!r}, want {want!r}")


def until(fn, what, timeout=10.0):
    """Polls fn until it returns a true value; the viewer works in its own time."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = fn()
        except UiError:  # a row read while the list is being refilled
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


JET = False  # set by --jet
HARNESS = None


def tqdb(folder, *args):
    if JET:
        rc, out, err = HARNESS.run(os.path.join(WIN, "tools", "tqdb.exe"), ["-C", HARNESS.winpath(folder), *args])
        check(rc == 0, f"tqdb.exe {' '.join(args)}: {err}")
        return out.replace("\r\n", "\n")
    r = subprocess.run([TQDB, "-C", folder, *args], capture_output=True, text=True, timeout=60)
    check(r.returncode == 0, f"tqdb {' '.join(args)}: {r.stderr}")
    return r.stdout


def codes(folder, db):
    lines = tqdb(folder, "list", str(db)).splitlines()[1:]
    return [line.split("\t")[0] for line in lines]


def stored(folder, db, code):
    return tqdb(folder, "find", str(db), str(code)).rstrip("\n").split("\t")


class Viewer:
    """One run of the viewer in a folder, with the driver that works it."""

    def __init__(self, harness, folder, version, *args, keep_settings=False):
        """keep_settings: what the viewer remembers (its registry key) stays
        after it closes, for the next start; else the key goes, so that no
        journey sees what another left."""
        self.h = harness
        self.folder = folder
        self.version = version
        self.keep_settings = keep_settings
        self.ui = UiDriver(harness)
        self.ui.start(harness.winpath(VIEWER), harness.winpath(folder), args)

    def main(self):
        """The main window, whose title names the version and the folder in use."""
        self.hwnd = self.ui.window(f"TQScaleDBViewer v.{self.version}. — *", 20000)
        return self.hwnd

    def title(self):
        return self.ui.text(self.hwnd)

    def cleared(self):
        """The notice after a clear, which names the backup it made; its path."""
        hwnd, text = self.ui.box(BOX)
        prefix = "Все записи удалены. Резервная копия: Internal\\Backup\\"
        check(text.startswith(prefix), f"the clear's result: {text!r}")
        self.ui.click(hwnd, IDOK)
        self.ui.gone(hwnd)
        return text[len(prefix) - len("Internal\\Backup\\"):]

    def box(self, text, answer, title=BOX):
        hwnd, shown = self.ui.box(title)
        equal(shown, text, "message box text")
        self.ui.click(hwnd, answer)
        self.ui.gone(hwnd)

    def choose(self, db):
        self.ui.call("combo-select", self.hwnd, CHOOSER, db)

    def counter(self):
        return self.ui.text(self.hwnd, COUNTER)

    def rows(self):
        return self.ui.list_count(self.hwnd, LIST)[0]

    def listing(self, db, expected_rows):
        """Chooses and lists a database; waits until its rows are in."""
        self.choose(db)
        self.ui.click(self.hwnd, SELECT)
        until(lambda: len(self.ui.list_columns(self.hwnd, LIST)) == 41 and self.rows() == expected_rows,
              f"{expected_rows} rows of database {db}")

    def row(self, index):
        return self.ui.list_row(self.hwnd, LIST, index)

    def shown(self, control):
        return self.ui.state(self.hwnd, control)[0]

    def open_editor(self, row):
        self.ui.call("lv-click", self.hwnd, LIST, row)
        return self.ui.box(EDITOR)[0]

    def screenshot(self, name):
        time.sleep(0.3)  # let the last paint land
        path = os.path.join(SHOTS, name)
        if self.h.screenshot(path):
            print(f"screenshot: {path}")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self.ui.proc.poll() is None:
            try:
                self.ui.call("close", self.hwnd)
                equal(self.ui.call("exit", 10000), ["0"], "exit code")
            except Exception:
                self.ui.call("kill")
                raise
            finally:
                self.ui.close_driver()
                if not self.keep_settings:
                    forget_settings(self.h)


@contextlib.contextmanager
def main_window(h, folder, version, listed=None):
    """The viewer started on folder and come to its main window, with the
    database `listed` listed if one is named; closed at the end, whatever
    happened."""
    with Viewer(h, folder, version) as v:
        v.main()
        if listed is not None:
            v.listing(listed, len(codes(folder, listed)))
        yield v


def temp_folder(prefix):
    """A folder of the journey's own, removed with everything in it when the
    journey's process ends."""
    folder = tempfile.mkdtemp(prefix=prefix)
    atexit.register(shutil.rmtree, folder, True)
    return folder


def sample_folder():
    folder = temp_folder("tqviewer-")
    tqdb(folder, "sample", *(["--jet"] if JET else []))
    return folder


def insert_raw(folder, db, values):
    path = os.path.join(folder, "Internal", FILES[db] + ".mdb")
    with sqlite3.connect(path) as con:
        con.execute("INSERT INTO FieldsTable VALUES(" + ",".join("?" * 41) + ")",
                    values + [""] * (41 - len(values)))


# --- journeys -------------------------------------------------------------

def cancel_folder_choice(v):
    """The folder browser the viewer offers where it finds no Internal: cancelled."""
    browser = v.ui.box("*", 20000)[0]
    v.ui.click(browser, IDCANCEL)
    v.ui.gone(browser)


def startup_without_internal(h, version):
    folder = temp_folder("tqviewer-empty-")
    with Viewer(h, folder, version) as v:
        cancel_folder_choice(v)  # then the start-up as it always was
        for name in ["ТОВАРОВ", "ПОЛЬЗОВАТЕЛЕЙ", "ЭТИКЕТОК", "ПОМОЩИ", "ПРОДАЖ", "ОТЧЕТОВ", "РЕСУРСОВ"]:
            v.box(f"БД {name} не открыта!", IDOK)
        v.main()
        check(v.title().endswith(h.winpath(folder)), f"the title names the folder: {v.title()!r}")
        equal(v.ui.list_columns(v.hwnd, LIST), [], "columns before any listing")
        for control in (CLEAR, COUNTER, COUNTER_LABEL, CREATE_TEST):
            check(not v.shown(control), f"control {control} hidden")
        equal(v.ui.call("combo", v.hwnd, CHOOSER),
              ["0", "Товары", "Пользователи", "Этикетки", "Помощь", "Продажи", "Отчеты", "Ресурсы"], "chooser")
        v.choose(GOODS)
        v.ui.click(v.hwnd, SELECT)
        v.box("БД ТОВАРОВ не открыта!", IDOK)  # said, not shown as an empty table
        equal(v.ui.list_columns(v.hwnd, LIST), [], "no table for a database that did not open")
        check(not v.shown(COUNTER), "counter hidden")
        check(not v.shown(CREATE_TEST), "nothing to fill")


REG_KEY = r"HKCU\Software\Norvell\TQScaleDBViewer"
REG = r"C:\windows\system32\reg.exe"


def forget_settings(h):
    h.run(REG, ["delete", REG_KEY, "/f"])


def reaching_the_data(h, version):
    """Started where there is no Internal (a shortcut's install folder): the
    folder on the command line, else the one remembered from the last
    choice, is the one the viewer works in."""
    scale = sample_folder()
    elsewhere = temp_folder("tqviewer-install-")
    goods = codes(scale, GOODS)
    with Viewer(h, elsewhere, version, h.winpath(scale)) as v:
        v.main()
        check(v.title().endswith(h.winpath(scale)), f"the title names the folder given: {v.title()!r}")
        v.listing(GOODS, len(goods))
    rc, _, err = h.run(REG, ["add", REG_KEY, "/v", "ScaleFolder", "/d", h.winpath(scale), "/f"])
    check(rc == 0, f"reg add: {err}")
    try:
        with Viewer(h, elsewhere, version, keep_settings=True) as v:
            v.main()
            check(v.title().endswith(h.winpath(scale)), f"the remembered folder: {v.title()!r}")
            v.listing(GOODS, len(goods))
        with Viewer(h, elsewhere, version, h.winpath(os.path.join(elsewhere, "нет такой")), keep_settings=True) as v:
            v.box(f"Папка «{h.winpath(os.path.join(elsewhere, 'нет такой'))}» не найдена", IDOK)
            v.main()
            check(v.title().endswith(h.winpath(scale)), f"a folder not found, then the remembered one: {v.title()!r}")
    finally:
        forget_settings(h)


def window(h, version):
    """The window grows, the list with it; size and column widths come back."""
    folder = sample_folder()
    goods = codes(folder, GOODS)
    with Viewer(h, folder, version, keep_settings=True) as v:
        v.main()
        v.listing(GOODS, len(goods))
        width, height = (int(n) for n in v.ui.call("size", v.hwnd, LIST))
        v.ui.call("post", v.hwnd, 0x0112, 0xF030, 0)  # WM_SYSCOMMAND SC_MAXIMIZE
        until(lambda: int(v.ui.call("size", v.hwnd, LIST)[0]) > width, "the list grows with the window")
        maximized = [int(n) for n in v.ui.call("size", v.hwnd, LIST)]
        check(maximized[1] > height, f"taller too: {maximized} from {width}x{height}")
        list_hwnd = v.ui.call("child", v.hwnd, LIST)[0]
        v.ui.call("post", list_hwnd, 0x101E, 2, 321)  # LVM_SETCOLUMNWIDTH: the name's column, as dragged
        until(lambda: v.ui.list_columns(v.hwnd, LIST)[2][0] == 321, "the column's new width")
    try:
        with Viewer(h, folder, version) as v:
            v.main()
            until(lambda: [int(n) for n in v.ui.call("size", v.hwnd, LIST)] == maximized, "maximized again")
            v.listing(GOODS, len(goods))
            equal(v.ui.list_columns(v.hwnd, LIST)[2], (321, "Наименование"), "the name's width kept")
            equal(v.ui.list_columns(v.hwnd, LIST)[9][0], 0, "a hidden column stays hidden")
    finally:
        forget_settings(h)


def listing(h, version):
    folder = sample_folder()
    insert_raw(folder, GOODS, ["99", "", "Д" * 300])
    insert_raw(folder, GOODS, ["без кода", "", "скрыто"])
    goods = codes(folder, GOODS)  # up to the row without a code
    equal(tqdb(folder, "count", "goods").strip(), str(len(goods) + 1), "the listing counts every row")
    with main_window(h, folder, version) as v:
        v.listing(GOODS, len(goods) + 1)
        equal(v.counter(), str(len(goods)), "counter stops at the row without a code")
        equal(v.row(len(goods) - 1)[2], "Д" * 254, "a long value is cut to 254 characters")
        # The mouse over a cell its column cuts: the whole text in a tooltip.
        def tips():
            f = v.ui.call("windows")
            return [f[i + 1] for i in range(0, len(f) - 2, 3) if f[i + 2] == "tooltips_class32"]
        v.ui.call("lv-hover", v.hwnd, LIST, len(goods) - 1, 2)
        until(lambda: "Д" * 254 in tips(), "the long value whole in a tooltip", timeout=10)
        v.ui.call("lv-hover", v.hwnd, LIST, len(goods) - 1, 0)
        until(lambda: "Д" * 254 not in tips(), "no tip over a code that shows whole", timeout=10)
        equal(v.row(len(goods)), [""] * 41, "the row without a code stays empty")
        equal(v.row(0)[:3], stored(folder, GOODS, goods[0])[:3], "first goods row")
        equal(v.ui.text(v.hwnd, DB_NAME), "Товары", "database label")
        v.screenshot("viewer_main_goods.png")

        labels = codes(folder, LABELS)
        v.listing(LABELS, len(labels))
        columns = v.ui.list_columns(v.hwnd, LIST)
        equal(len(columns), 41, "column count")
        visible = [(i, caption) for i, (width, caption) in enumerate(columns) if width > 0]
        equal(visible, [(0, "Код"), (1, "Название(*)"), (2, "Двумерный ШК"), (21, "Файл проекта")],
              "visible label columns")
        check(all(width in (0, 150) for width, _ in columns), "widths are 150 or 0")
        equal(v.row(1), stored(folder, LABELS, labels[1]), "second label row, all 41 cells")
        equal(v.counter(), str(len(labels)), "counter")
        for control in (CLEAR, COUNTER, COUNTER_LABEL, CREATE_TEST):
            check(v.shown(control), f"control {control} shown")


def clearing(h, version):
    folder = sample_folder()
    before = codes(folder, REPORTS)
    check(before, "sample reports")
    with main_window(h, folder, version, listed=REPORTS) as v:
        v.ui.click(v.hwnd, CLEAR)
        v.box("Удалить ВСЕ записи?", IDNO)
        equal(codes(folder, REPORTS), before, "No keeps the records")
        v.ui.click(v.hwnd, CLEAR)
        v.box("Удалить ВСЕ записи?", IDYES)
        named = v.cleared()
        until(lambda: v.rows() == 0, "the emptied list")
        equal(codes(folder, REPORTS), [], "Yes empties the database")
        check(os.path.exists(os.path.join(folder, *named.split("\\"))), f"the named copy is there: {named}")
        check(codes(folder, LABELS), "other databases keep their records")
        check(not v.shown(CLEAR), "Очистить hidden on an empty list")
        v.ui.call("lv-click", v.hwnd, LIST, -1)
        v.box("БД пуста!", IDOK)


def editing(h, version):
    folder = sample_folder()
    goods = codes(folder, GOODS)
    with main_window(h, folder, version, listed=GOODS) as v:
        editor = v.open_editor(1)
        code = goods[1]
        equal(v.ui.text(editor, EDIT0), code, "the editor shows the clicked record")
        check(not v.ui.state(editor, EDIT0)[1], "the code edit is disabled")
        check(not v.ui.state(editor, EDIT0 + 9)[1], "an unused column is disabled")
        v.ui.call("settext", editor, EDIT0 + 2, "Груши Конференс")
        v.screenshot("viewer_editor.png")
        v.ui.call("close", editor)
        v.box("Сохранить изменения?", IDYES)
        v.ui.gone(editor)
        equal(stored(folder, GOODS, code)[2], "Груши Конференс", "the saved name in the file")
        until(lambda: v.row(1)[2] == "Груши Конференс", "the refreshed list")

        for key in ("ESCAPE", "RETURN"):  # after a change Esc and Enter ask; without one they close
            editor = v.open_editor(0)
            v.ui.call("settext", editor, EDIT0 + 2, "не сохранять")
            v.ui.call("keys", editor, key)
            v.box("Сохранить изменения?", IDNO)
            v.ui.gone(editor)
            check(stored(folder, GOODS, goods[0])[2] != "не сохранять", "nothing saved")
            editor = v.open_editor(0)
            v.ui.call("keys", editor, key)
            v.ui.gone(editor)

        # "Новая запись...": the editor on an empty record, its code typed in.
        v.ui.call("command", v.hwnd, ids.IDM_NEW_RECORD)
        editor = v.ui.box(EDITOR)[0]
        check(v.ui.state(editor, EDIT0)[1], "the code edit is enabled for a new record")
        v.ui.call("settext", editor, EDIT0, goods[0])
        v.ui.call("settext", editor, EDIT0 + 2, "Новый товар")
        v.ui.call("close", editor)
        v.box("Сохранить изменения?", IDYES)
        v.box(f"Запись с кодом «{goods[0]}» уже есть: новая запись её не заменит", IDOK)
        v.ui.call("settext", editor, EDIT0, "777")
        v.ui.call("close", editor)
        v.box("Сохранить изменения?", IDYES)
        v.ui.gone(editor)
        equal(stored(folder, GOODS, "777")[2], "Новый товар", "the new record in the file")
        until(lambda: v.rows() == len(goods) + 1, "the new record listed")

        users = codes(folder, USERS)
        v.listing(USERS, len(users))
        editor = v.open_editor(0)
        v.ui.call("settext", editor, EDIT0 + 1, "   ")  # a user needs a name
        v.ui.call("close", editor)
        v.box("Сохранить изменения?", IDYES)
        v.box("Ошибка при сохранении записи!", IDOK)
        equal(v.ui.text(editor, EDIT0 + 1), "   ", "the editor stays open with the edits")
        v.ui.call("close", editor)
        v.box("Сохранить изменения?", IDNO)
        v.ui.gone(editor)
        equal(codes(folder, USERS), users, "users unchanged")


def deleting(h, version):
    folder = sample_folder()
    for code in ("7", "8", "9"):
        tqdb(folder, "save", "help", f"s00={code}", f"s01=Справка {code}")
    helps = codes(folder, HELP)
    with main_window(h, folder, version, listed=HELP) as v:
        editor = v.open_editor(0)
        v.ui.click(editor, DELETE)
        v.box("Удалить запись?", IDNO)
        v.ui.click(editor, DELETE)
        v.box("Удалить запись?", IDYES)
        v.ui.gone(editor)
        equal(codes(folder, HELP), helps[1:], "the record is gone from the file")
        until(lambda: v.rows() == len(helps) - 1, "the refreshed list")
        equal(v.row(0)[0], helps[1], "the list no longer shows the row")

        editor = v.open_editor(-1)  # nothing selected: code 0
        equal(v.ui.text(editor, EDIT0), "", "no record for code 0")
        v.ui.click(editor, DELETE)
        v.box("Удалить запись?", IDYES)
        v.box("Ошибка при удалении записи!", IDOK)
        v.ui.gone(editor)
        equal(codes(folder, HELP), helps[1:], "nothing else deleted")

        # The keyboard in the list: Enter opens the selected record, Esc
        # closes it, Del asks and deletes, F5 lists again.
        check(len(helps) >= 4, f"sample help records: {helps}")
        editor = v.open_editor(0)
        v.ui.call("keys", editor, "ESCAPE")
        v.ui.gone(editor)
        v.ui.call("keys", v.hwnd, "RETURN")  # the list ends on its last row selected
        editor = v.ui.box(EDITOR)[0]
        equal(v.ui.text(editor, EDIT0), helps[-1], "Enter opens the selected record")
        v.ui.call("keys", editor, "ESCAPE")
        v.ui.gone(editor)
        v.ui.call("keys", v.hwnd, "DELETE")
        v.box("Удалить запись?", IDNO)
        equal(codes(folder, HELP), helps[1:], "No deletes nothing")
        v.ui.call("keys", v.hwnd, "DELETE")
        v.box("Удалить запись?", IDYES)
        equal(codes(folder, HELP), helps[1:-1], "Del deletes the selected record")
        until(lambda: v.rows() == len(helps) - 2, "the list without it")
        tqdb(folder, "delete", "help", helps[1])
        v.ui.call("keys", v.hwnd, "F5")
        until(lambda: v.rows() == len(helps) - 3, "F5 lists the database again")

        # Esc with the chooser's drop-down open closes the drop-down, not the program.
        chooser = v.ui.call("child", v.hwnd, CHOOSER)[0]
        v.ui.call("post", chooser, 0x014F, 1, 0)  # CB_SHOWDROPDOWN
        time.sleep(0.3)
        v.ui.call("keys", v.hwnd, "ESCAPE")
        time.sleep(0.3)
        try:
            v.ui.call("exit", 300)
            check(False, "Esc with the drop-down open ended the program")
        except UiError:
            pass


def generating(h, version):
    folder = sample_folder()
    users = codes(folder, USERS)
    with main_window(h, folder, version) as v:

        def generate(db, count, answer=IDYES):
            v.choose(db)
            v.ui.click(v.hwnd, CREATE_TEST)
            dialog = v.ui.box("Создание тестовой БД")[0]
            equal(v.ui.text(dialog, TEST_COUNT), "0", "initial count")
            v.ui.call("settext", dialog, TEST_COUNT, str(count))
            v.ui.click(dialog, CREATE_DB)
            v.box("Создать тестовую БД?", answer)
            v.ui.gone(dialog)

        v.listing(LABELS, len(codes(folder, LABELS)))
        generate(LABELS, 3)
        until(lambda: v.rows() == 3 and v.counter() == "3", "three test labels listed")
        equal(codes(folder, LABELS), ["1", "2", "3"], "label codes")
        equal(stored(folder, LABELS, 2)[1:], [""] * 40, "test records are empty")

        generate(SELLS, 25)
        until(lambda: v.rows() == 25 and v.counter() == "25", "25 test sales listed")
        equal(codes(folder, SELLS), [f"{n:08d}" for n in range(1, 26)], "sales codes keep eight digits")
        equal(v.ui.text(v.hwnd, DB_NAME), "Этикетки", "the label keeps the database listed with Выбрать")

        generate(HELP, 5, IDNO)
        check(codes(folder, HELP), "No leaves the database as it was")

        generate(USERS, 3)
        v.box("Ошибка при сохранении записи!", IDOK)
        equal(codes(folder, USERS), users, "the users are kept")


def backups(h, version):
    folder = sample_folder()
    goods = codes(folder, GOODS)
    internal = os.path.join(folder, "Internal")
    backup_folder = os.path.join(internal, "Backup")
    v = Viewer(h, folder, version)
    try:
        v.main()
        v.listing(GOODS, len(goods))
        v.ui.click(v.hwnd, CLEAR)
        v.box("Удалить ВСЕ записи?", IDYES)
        named = v.cleared()
        until(lambda: v.rows() == 0, "the emptied list")
        equal(codes(folder, GOODS), [], "Yes empties the database")
        made = os.listdir(backup_folder)
        equal(named, "Internal\\Backup\\" + made[0], "the clear names its copy")
        equal(len(made), 1, "one backup made by the clear")
        check(made[0].startswith("TQScale.mdb.") and made[0].endswith(".bak"), f"the backup's name: {made[0]}")
        listed = tqdb(folder, "backups", "goods").splitlines()
        equal([line.split("\t")[-1] for line in listed], [str(len(goods))], "tqdb lists it with its rows")

        if JET:
            # A copy of an Access file is whole only while no other program
            # can write it: while the viewer has it open, tqdb refuses.
            rc, _, err = HARNESS.run(os.path.join(WIN, "tools", "tqdb.exe"),
                                     ["-C", HARNESS.winpath(folder), "restore", "goods", made[0]])
            check(rc != 0 and "файл открыт другой программой" in err, f"the refusal: {rc} {err!r}")
            equal(codes(folder, GOODS), [], "the refused restore changed nothing")
            equal(len(os.listdir(backup_folder)), 1, "the refused restore made no copy")
            v.close()
            tqdb(folder, "restore", "goods", made[0])
            v = Viewer(h, folder, version)
            v.main()
            v.listing(GOODS, len(goods))
        else:
            tqdb(folder, "restore", "goods", made[0])
            v.ui.click(v.hwnd, SELECT)
            until(lambda: v.rows() == len(goods), "the restored rows listed")
        equal(codes(folder, GOODS), goods, "tqdb restore brings the rows back")
        equal(len(os.listdir(backup_folder)), 2, "the emptied file was backed up before the restore")

        # The list's "Восстановить из резервной копии...": the copies newest
        # first; the chosen one back after a question naming it.
        def restore_from_viewer(expected_first_rows):
            v.ui.call("command", v.hwnd, ids.IDM_RESTORE_BACKUP)
            box = v.ui.box("Восстановить из резервной копии")[0]
            lines = v.ui.call("listbox", box, ids.IDC_BACKUP_LIST)[1:]
            check(lines[0].endswith(f"записей: {expected_first_rows}"), f"the newest copy first: {lines}")
            v.ui.click(box, IDOK)
            hwnd, text = v.ui.box(BOX)
            check(text.startswith("Восстановить БД из копии TQScale.mdb."), f"the question names the copy: {text!r}")
            v.ui.click(hwnd, IDYES)
            v.ui.gone(hwnd)
            hwnd, text = v.ui.box(BOX)
            check(text.startswith("БД восстановлена из копии TQScale.mdb."), f"the result: {text!r}")
            v.ui.click(hwnd, IDOK)
            v.ui.gone(hwnd)

        restore_from_viewer(0)  # the copy the restore above made of the emptied file
        until(lambda: v.rows() == 0, "the emptied file's rows, restored")
        equal(codes(folder, GOODS), [], "the restored copy held no rows")
        restore_from_viewer(len(goods))  # the copy this restore made
        until(lambda: v.rows() == len(goods), "the goods back")
        equal(codes(folder, GOODS), goods, "restored from the viewer")

        # A file where the Backup folder should be: no backup, no clear.
        os.rename(backup_folder, backup_folder + ".old")
        with open(backup_folder, "w") as f:
            f.write("not a folder")
        path = os.path.join(internal, "TQScale.mdb")
        written = os.stat(path).st_mtime_ns
        v.ui.click(v.hwnd, CLEAR)
        v.box("Удалить ВСЕ записи?", IDYES)
        hwnd, text = v.ui.box(BOX)
        check(text.startswith("Не удалось сохранить резервную копию БД: "), f"the refusal: {text!r}")
        v.ui.click(hwnd, IDOK)
        v.ui.gone(hwnd)
        equal(codes(folder, GOODS), goods, "the rows stay")
        equal(os.stat(path).st_mtime_ns, written, "the database file was not even touched")
        equal(v.rows(), len(goods), "the list keeps its rows")
    finally:
        v.close()


def raw_column(folder, db, code, column):
    path = os.path.join(folder, "Internal", FILES[db] + ".mdb")
    with sqlite3.connect(path) as con:
        return con.execute(f"SELECT s{column:02d} FROM FieldsTable WHERE s00=?", (code,)).fetchone()[0]


def data_safety(h, version):
    folder = sample_folder()
    insert_raw(folder, GOODS, ["12", "", "двенадцать"])
    insert_raw(folder, GOODS, ["12abc", "", "не число"])
    insert_raw(folder, GOODS, ["13", "", "Чай 龙井", "", "100"])
    goods = codes(folder, GOODS)
    reports = codes(folder, REPORTS)
    with main_window(h, folder, version, listed=GOODS) as v:
        row = goods.index("12abc")
        v.ui.call("lv-click", v.hwnd, LIST, row)
        v.box("Запись с кодом «12abc» нельзя открыть: код не число", IDOK)
        equal(codes(folder, GOODS), goods, "no other record opened or deleted")

        editor = v.open_editor(goods.index("13"))
        equal(v.ui.text(editor, EDIT0 + 2), "Чай ??", "the editor shows what the code page can")
        v.ui.call("settext", editor, EDIT0 + 4, "120")
        v.ui.call("close", editor)
        v.box("Сохранить изменения?", IDYES)
        v.ui.gone(editor)
        equal(raw_column(folder, GOODS, "13", 2), "Чай 龙井", "the untouched name keeps its characters")
        equal(raw_column(folder, GOODS, "13", 4), "120", "the edited price")

        # Another program holds a write transaction: the clear cannot delete.
        v.listing(REPORTS, len(reports))
        other = sqlite3.connect(os.path.join(folder, "Internal", "Reports.mdb"), isolation_level=None)
        try:
            other.execute("BEGIN IMMEDIATE")
            v.ui.click(v.hwnd, CLEAR)
            v.box("Удалить ВСЕ записи?", IDYES)
            v.box("Не удалось очистить БД", IDOK)
        finally:
            other.execute("ROLLBACK")
            other.close()
        until(lambda: v.rows() == len(reports), "the rows that remain, listed")
        equal(codes(folder, REPORTS), reports, "the reports are all there")

        # The goods file is removed while the viewer runs.
        v.listing(GOODS, len(goods))
        editor = v.open_editor(0)
        internal = os.path.join(folder, "Internal")
        for name in os.listdir(internal):
            if name.startswith("TQScale.mdb"):
                os.remove(os.path.join(internal, name))
        v.ui.call("settext", editor, EDIT0 + 2, "в никуда")
        v.ui.call("close", editor)
        v.box("Сохранить изменения?", IDYES)
        v.box("Ошибка при сохранении записи!", IDOK)
        v.ui.call("close", editor)
        v.box("Сохранить изменения?", IDNO)
        v.ui.gone(editor)
        v.box("БД ТОВАРОВ не открыта!", IDOK)  # the list is refreshed after the editor
        check(not os.path.exists(os.path.join(internal, "TQScale.mdb")), "no file made at the path")
        v.ui.click(v.hwnd, SELECT)
        v.box("БД ТОВАРОВ не открыта!", IDOK)
        equal(v.rows(), 0, "the removed database's rows are not shown")


def finding(h, version):
    folder = sample_folder()
    count = 100000
    path = os.path.join(folder, "Internal", "TQScale.mdb")
    with sqlite3.connect(path) as con:
        con.execute("DELETE FROM FieldsTable")
        rows = ([str(n), f"46{n:011d}", "Икра черная." if n in (61234, 98765) else f"Товар весовой {n}"]
                + [""] * 38 for n in range(1, count + 1))
        con.executemany("INSERT INTO FieldsTable VALUES(" + ",".join("?" * 41) + ")", rows)
    goods = codes(folder, GOODS)
    first, second = goods.index("61234"), goods.index("98765")
    with main_window(h, folder, version) as v:
        v.listing(GOODS, count)
        equal(v.ui.list_count(v.hwnd, LIST)[1], count - 1, "the listing ends on its last row")
        list_hwnd = v.ui.call("child", v.hwnd, LIST)[0]

        v.ui.call("keys", v.hwnd, "ctrl+F")
        box = v.ui.box("Найти")[0]
        v.ui.call("settext", box, FIND_TEXT, "икра")
        v.ui.click(box, IDOK)
        v.ui.gone(box)
        until(lambda: v.ui.list_count(v.hwnd, LIST)[1] == first, "the first row with the text selected")
        equal(v.row(first)[2], "Икра черная.", "the found row")
        v.screenshot("viewer_found_row.png")

        v.ui.call("keys", v.hwnd, "F3")
        until(lambda: v.ui.list_count(v.hwnd, LIST)[1] == second, "F3 finds the next one")


        # The list's context menu, opened with the menu key's message.
        v.ui.call("post", v.hwnd, 0x007B, int(list_hwnd, 16), -1)  # WM_CONTEXTMENU
        time.sleep(0.5)
        v.ui.call("keys", v.hwnd, "DOWN", "RETURN")
        box = v.ui.box("Найти")[0]
        equal(v.ui.text(box, FIND_TEXT), "икра", "the box offers the last text")
        v.ui.call("settext", box, FIND_TEXT, "нет такого товара")
        v.ui.click(box, IDOK)
        v.box("Не найдено", IDOK)
        equal(v.ui.list_count(v.hwnd, LIST)[1], second, "the selection stays")
        equal(v.rows(), count, "the list keeps its rows")

        # A header click sorts, the found row staying selected; a second reverses.
        v.ui.call("lv-header-click", v.hwnd, LIST, 0)
        until(lambda: v.row(0)[0] == "1" and v.row(1)[0] == "2", "codes sorted as numbers")
        until(lambda: v.ui.list_count(v.hwnd, LIST)[1] == 98764, "the found row selected where it went")
        check(v.ui.list_columns(v.hwnd, LIST)[0][1].endswith("\u25B2"), "the arrow in the sorted column's header")
        v.ui.call("lv-header-click", v.hwnd, LIST, 0)
        until(lambda: v.row(0)[0] == str(count), "a second click reverses")
        v.ui.click(v.hwnd, SELECT)
        until(lambda: v.row(1)[0] == goods[1] and not v.ui.list_columns(v.hwnd, LIST)[0][1].endswith("\u25BC"),
              "Выбрать lists in the database's own order")


EXPORT_CSV, IMPORT_CSV = ids.IDM_EXPORT_CSV, ids.IDM_IMPORT_CSV  # the list's context menu
FILE_NAME_COMBO, FILE_NAME_EDIT = 1148, 1152  # cmb13, edt1 of the common file dialogs


def file_dialog(v):
    """Waits for the common file dialog the viewer opened: a dialog of the
    viewer's process that is not one of its own boxes."""
    def find():
        fields = v.ui.call("windows")
        for hwnd, title, cls in zip(fields[0::3], fields[1::3], fields[2::3]):
            if cls == "#32770" and not title.startswith("TQScaleDBViewer"):
                return hwnd
        return None
    return until(find, "the file dialog")


def answer_file_dialog(v, path):
    dialog = file_dialog(v)
    try:
        v.ui.call("settext", dialog, FILE_NAME_COMBO, path)
    except UiError:
        v.ui.call("settext", dialog, FILE_NAME_EDIT, path)
    v.ui.click(dialog, IDOK)
    v.ui.gone(dialog)


def csv_round_trip(h, version):
    folder = sample_folder()
    tqdb(folder, "save", "goods", "s00=20", 's02=Икра "Царская"; черная', "s21=две\r\nстроки", "s40=a,b")
    reference = os.path.join(folder, "reference.csv")
    tqdb(folder, "export", "goods", "reference.csv")
    with open(reference, "rb") as f:
        exported_by_tqdb = f.read()
    v = Viewer(h, folder, version)
    try:
        v.main()
        v.listing(GOODS, 6)
        v.ui.call("command", v.hwnd, EXPORT_CSV)
        dialog = file_dialog(v)
        offered = ""
        for control in (FILE_NAME_COMBO, FILE_NAME_EDIT):
            try:
                offered = offered or v.ui.text(dialog, control)
            except UiError:
                pass
        equal(offered, "TQScale.csv", "the save dialog offers the database's name")
        v.screenshot("viewer_export_dialog.png")
        # A name beyond code page 1251 is kept, from the dialog to the file.
        out = os.path.join(folder, "out 日本.csv")
        answer_file_dialog(v, h.winpath(out))
        # The result names the file; the message box shows letters beyond code page 1251 as "?".
        v.box("Экспортировано записей: 6\nФайл: " + h.winpath(out).replace("日本", "??"), IDOK)
        with open(out, "rb") as f:
            equal(f.read(), exported_by_tqdb, "the viewer's export")

        v.ui.click(v.hwnd, CLEAR)
        v.box("Удалить ВСЕ записи?", IDYES)
        v.cleared()
        until(lambda: v.rows() == 0, "the emptied list")
        v.ui.call("command", v.hwnd, IMPORT_CSV)
        answer_file_dialog(v, h.winpath(out))
        v.box("Импортировано записей: 6", IDOK)
        until(lambda: v.rows() == 6, "the imported rows listed")
        tqdb(folder, "export", "goods", "reference.csv")
        with open(reference, "rb") as f:
            equal(f.read(), exported_by_tqdb, "the database after the import, exported again")

        with open(os.path.join(folder, "bad.csv"), "wb") as f:
            f.write("s00;s02\r\n5;ok\r\n6;ж\0\r\n".encode("utf-8"))
        v.ui.call("command", v.hwnd, IMPORT_CSV)
        answer_file_dialog(v, h.winpath(os.path.join(folder, "bad.csv")))
        v.box("Файл не импортирован, БД не изменена: строка 3: это не текстовый файл (нулевой байт)", IDOK)
        equal(tqdb(folder, "count", "goods").strip(), "6", "nothing written")
    finally:
        v.close()


JOURNEYS = {f.__name__: f for f in (startup_without_internal, reaching_the_data, window, listing, clearing, editing, deleting, generating,
                                    data_safety, finding, backups,
                                    csv_round_trip)}


# Those that put rows into the files behind the data core's back, with SQLite.
RAW_SQLITE = {"listing", "data_safety", "finding"}


def main():
    global JET, HARNESS
    args = sys.argv[1:]
    JET = args[0] == "--jet"
    if JET:
        args = args[1:]
    version = args[0]
    names = args[1:] or [name for name in JOURNEYS if not (JET and name in RAW_SQLITE)]
    h = Harness()
    h.ensure_started()
    HARNESS = h
    for name in names:
        start = time.monotonic()
        JOURNEYS[name](h, version)
        print(f"{name}: ok ({time.monotonic() - start:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
