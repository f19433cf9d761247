"""Runs LMT520EU.exe under Wine on the printer simulator control and drives
it through uidriver: steps, page buttons, page fields, the message box."""
import os
import sys
import time

from winharness import Harness

sys.path.insert(0, os.path.join(os.environ.get("TQ_SOURCE_DIR", ""), "tools", "uidriver"))
from uidriver import UiDriver  # noqa: E402
from ids import wizard as ids  # noqa: E402

CLSID = "{03CA02ED-6A7E-4FD9-90B6-D8480B61E13A}"
CLSID_KEY = r"HKLM\Software\Classes\CLSID" + "\\" + CLSID
# Page ids: each page window carries its resource id.
FIRST_PAGE = ids.IDD_LINK_PAGE
# Main dialog and message box items.
STEP_LIST, BACK, NEXT, EXIT = ids.IDC_STEP_LIST, ids.IDC_BACK, ids.IDC_NEXT, ids.IDC_EXIT
MSG_HEADER, MSG_TEXT, MSG_YES, MSG_CONTINUE, MSG_NO = (ids.IDC_MSG_HEADER, ids.IDC_MSG_TEXT, ids.IDC_MSG_YES,
                                                      ids.IDC_MSG_CONTINUE, ids.IDC_MSG_NO)
SCALE_NUMBER = ids.IDC_SCALE_NUMBER
# Where the wizard keeps the scale's number between runs.
SETTINGS_PARENT = r"HKCU\Software\Norvell"
SETTINGS_KEY = SETTINGS_PARENT + r"\LMT520EU"
IDOK = 1
LB_SETCURSEL, WM_COMMAND, WM_KEYDOWN, VK_ESCAPE, LBN_SELCHANGE = 0x186, 0x111, 0x100, 0x1B, 1

failures = []


def check(condition, what):
    """Wine-test style: note a failure and go on."""
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def finish():
    if failures:
        print(f"{len(failures)} check(s) failed", flush=True)
        sys.exit(1)
    print("all checks passed", flush=True)


def register_simulator(h):
    win_dir = os.environ.get("TQ_WIN_DIR") or os.path.join(h.build_dir, "win")
    dll = h.winpath(os.path.join(win_dir, "tools", "printersim.dll"))
    h.reg_add(CLSID_KEY + r"\InprocServer32", "", "REG_SZ", dll)
    h.reg_add(CLSID_KEY + r"\InprocServer32", "ThreadingModel", "REG_SZ", "Apartment")


def reg_exists(h, key):
    import subprocess
    return subprocess.run(["wine", "reg", "query", key], env=h.env(), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def reg_delete(h, key):
    import subprocess
    subprocess.run(["wine", "reg", "delete", key, "/f"], env=h.env(),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class KeptNumber:
    """Starts with no scale number kept and removes afterwards what the wizard
    kept: its key, and the maker's key when the wizard made it."""

    def __init__(self, h):
        self.h = h
        self.had_parent = False

    def __enter__(self):
        self.had_parent = reg_exists(self.h, SETTINGS_PARENT)
        reg_delete(self.h, SETTINGS_KEY)
        return self

    def value(self):
        import subprocess
        out = subprocess.run(["wine", "reg", "query", SETTINGS_KEY, "/v", "ScaleNumber"], env=self.h.env(),
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        for line in out.decode("utf-8", "replace").splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == "ScaleNumber":
                return parts[2].strip()
        return None

    def __exit__(self, *exc):
        reg_delete(self.h, SETTINGS_KEY)
        if not self.had_parent:
            reg_delete(self.h, SETTINGS_PARENT)


def unregister_simulator(h):
    import subprocess
    subprocess.run(["wine", "reg", "delete", CLSID_KEY, "/f"], env=h.env(),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Wizard:
    """One run of the wizard with its own scenario and call log."""

    def __init__(self, name, scenario):
        self.h = Harness()
        self.h.ensure_started()
        self.name = name
        self.dir = os.path.join(self.h.build_dir, "printertest-journeys", name)
        os.makedirs(self.dir, exist_ok=True)
        self.scenario_path = os.path.join(self.dir, "scenario.txt")
        self.log_path = os.path.join(self.dir, "calls.log")
        if os.path.exists(self.log_path):
            os.remove(self.log_path)
        self._stamp = time.time() - 100
        self.set_scenario(scenario)
        os.environ["TQ_PRINTERSIM_SCENARIO"] = self.h.winpath(self.scenario_path)
        os.environ["TQ_PRINTERSIM_LOG"] = self.h.winpath(self.log_path)
        self.ui = None
        self.main = None

    def __enter__(self):
        self.ui = UiDriver(self.h)
        win_dir = os.environ.get("TQ_WIN_DIR") or os.path.join(self.h.build_dir, "win")
        self.ui.start(self.h.winpath(os.path.join(win_dir, "bin", "LMT520EU.exe")))
        self.main = self.ui.window("LMT520EU")
        return self

    def __exit__(self, *exc):
        try:
            if self.running():
                self.ui.call("kill")
        finally:
            self.ui.close_driver()

    def running(self):
        try:
            self.ui.call("state", self.main, STEP_LIST)
            return True
        except Exception:
            return False

    # --- the simulator ------------------------------------------------------
    def set_scenario(self, text):
        """Replaces the scenario; the control reads it again at its next call."""
        with open(self.scenario_path, "w") as f:
            f.write(text)
        self._stamp += 1  # a new modification time, whatever the clock's grain
        os.utime(self.scenario_path, (self._stamp, self._stamp))

    def calls(self):
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8") as f:
            return [line.rstrip("\n") for line in f]

    def count(self, prefix):
        return sum(1 for c in self.calls() if c.startswith(prefix))

    # --- the wizard ---------------------------------------------------------
    def page(self, step):
        return self.ui.call("child", self.main, FIRST_PAGE + step)[0]

    def select(self, step):
        """Chooses a step in the list, as a click on it would."""
        step_list = self.ui.call("child", self.main, STEP_LIST)[0]
        self.ui.call("post", step_list, LB_SETCURSEL, step, 0)
        self.ui.call("post", self.main, WM_COMMAND, (LBN_SELCHANGE << 16) | STEP_LIST,
                     int(step_list, 16))
        self.wait(lambda: self.visible(step), f"step {step} shown")

    def visible(self, step):
        return self.ui.call("state", self.main, FIRST_PAGE + step)[0] == "1"

    def press(self, step, item):
        self.ui.click(self.page(step), item)

    def item_text(self, hwnd, item):
        fields = self.ui.call("text", hwnd, item)
        return fields[0] if fields else ""  # an empty text comes back as a bare "ok"

    def text(self, step, item):
        return self.item_text(self.page(step), item)

    def wait(self, condition, what, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            try:
                if condition():
                    return True
            except Exception:
                pass
            if time.monotonic() > deadline:
                check(False, "timed out waiting for " + what)
                return False
            time.sleep(0.05)

    def wait_text(self, step, item, expected, timeout=10.0):
        self.wait(lambda: self.text(step, item) == expected, f"{expected!r} in item {item}", timeout)
        return self.text(step, item)

    def box(self, timeout_ms=10000):
        """The program's own message box: (hwnd, header, message)."""
        hwnd, _ = self.ui.box("", timeout_ms)
        return hwnd, self.item_text(hwnd, MSG_HEADER), self.item_text(hwnd, MSG_TEXT)

    def notice(self, timeout=10.0):
        """A system message box of the wizard: (hwnd, text). It bears the main
        window's title, so the main window itself is passed over."""
        deadline = time.monotonic() + timeout
        while True:
            hwnd, text = self.ui.box("LMT520EU", int(timeout * 1000))
            if hwnd != self.main or time.monotonic() > deadline:
                return hwnd, text
            time.sleep(0.05)

    def number_prompt(self):
        """The scale's number asked before the report is saved: (hwnd, number offered)."""
        hwnd, _ = self.ui.box("", 10000)
        return hwnd, self.item_text(hwnd, SCALE_NUMBER)

    def save_report(self, number=None):
        """Answers the number prompt ("Сохранить", with the number typed when
        given) and returns the notice that names the report: (hwnd, text)."""
        prompt, _ = self.number_prompt()
        if number is not None:
            self.ui.call("settext", prompt, SCALE_NUMBER, number)
        self.ui.click(prompt, IDOK)
        self.ui.gone(prompt)
        return self.notice()

    def answer(self, box_hwnd, button):
        self.ui.click(box_hwnd, button)
        self.ui.gone(box_hwnd)

    def escape(self, step):
        """Esc during a long run."""
        self.ui.call("post", self.page(step), WM_KEYDOWN, VK_ESCAPE, 0)

    def screenshot(self, label):
        path = os.path.join(self.h.build_dir, "screenshots", f"printertest_{label}.png")
        check(self.h.screenshot(path), "screenshot " + path)
