#!/usr/bin/env python3
"""The installer under Wine, on a prefix of its own: a PC that has never seen
the tools, with no printer control and no DAO registered.

    install_test.py DIST RELEASE_BUILD

DIST holds scale-tools-<version>.msi from package_test.py; RELEASE_BUILD is
the release build it came from, from which a newer installer of the same
binaries is made for the upgrade.

The prefix is not the tests' shared one: an install writes to HKLM and the
Start menu, and the wizard must not find the printer simulator that the
shared prefix registers.
"""
import glob
import atexit
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SOURCE = os.environ["TQ_SOURCE_DIR"]
sys.path.insert(0, os.path.join(SOURCE, "tools", "uidriver"))
from uidriver import UiDriver  # noqa: E402
from winharness import Harness  # noqa: E402
from checks import finish, ok  # noqa: E402

INSTALL_DIR = r"C:\Program Files\Scale service tools"
MENU_FOLDER = "Сервисные программы весов"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
SHOTS = os.path.join(os.environ["TQ_BUILD_DIR"], "screenshots")
IDOK, IDCANCEL, LIST, CHOOSER, SELECT, COUNTER = 1, 2, 1000, 1001, 1007, 1003
MSG_HEADER, MSG_TEXT, MSG_CONTINUE = 1011, 1002, 1008


def until(fn, timeout=15.0):
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = fn()
        except Exception:
            value = None
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.1)


class Pc:
    """The Wine prefix that stands for the engineer's PC."""

    def __init__(self):
        Harness().ensure_started()  # the build's X server
        self.h = Harness(prefix_name="install-prefix")
        self.h.remove_prefix()
        self.h.ensure_prefix()
        self.drive_c = os.path.join(self.h.prefix, "drive_c")

    def unix(self, windows_path):
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def msiexec(self, *args):
        rc, out, err = self.h.run("msiexec", list(args), timeout=300)
        subprocess.run(["wineserver", "-w"], env=self.h.env())  # the install's helpers end too
        return rc

    def uninstall_entries(self):
        """(name, version, publisher) of each uninstall entry of ours."""
        with tempfile.TemporaryDirectory() as tmp:
            exported = os.path.join(tmp, "uninstall.reg")
            self.h.run("reg", ["export", UNINSTALL_KEY, self.h.winpath(exported), "/y"])
            with open(exported, "rb") as f:
                text = f.read().decode("utf-16")
        entries, values = [], {}
        for line in text.splitlines() + ["["]:
            if line.startswith("["):
                if values.get("DisplayName", "").startswith(MENU_FOLDER):
                    entries.append((values["DisplayName"], values.get("DisplayVersion"), values.get("Publisher")))
                values = {}
            elif line.startswith('"') and '"="' in line:
                name, _, value = line[1:].partition('"="')
                values[name] = value.rstrip('"')
        return entries

    def shortcuts(self):
        pattern = os.path.join(self.drive_c, "**", "Start Menu", "Programs", MENU_FOLDER, "*.lnk")
        return {os.path.basename(p)[:-4]: p for p in glob.glob(pattern, recursive=True)}


def link_target(path):
    """The local path a shell link points at (its LinkInfo's base path)."""
    with open(path, "rb") as f:
        data = f.read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    offset = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        offset += 2 + struct.unpack_from("<H", data, offset)[0]
    if not flags & 0x2:  # HasLinkInfo
        return None
    base = offset + struct.unpack_from("<I", data, offset + 16)[0]
    return data[base:data.index(b"\0", base)].decode("cp1252")


def screenshot(pc, name):
    time.sleep(0.3)  # let the last paint land
    path = os.path.join(SHOTS, name)
    ok(pc.h.screenshot(path), "screenshot " + path)


def installed_files(pc):
    folder = pc.unix(INSTALL_DIR)
    return sorted(os.path.relpath(os.path.join(r, n), folder)
                  for r, _, names in os.walk(folder) for n in names)


# --- the steps ------------------------------------------------------------
def install(pc, msi, version):
    ok(pc.msiexec("/i", pc.h.winpath(msi), "/qn") == 0, f"msiexec /i {os.path.basename(msi)} /qn exits 0")
    files = installed_files(pc)
    missing = [name for name in ["TQScaleDBViewer.exe", "LMT520EU.exe", "tqdb.exe", "TQ850KB.dll",
                                 "TQ850KB.txt", "kbmon.exe", "guide-ru.html"] if name not in files]
    ok(missing == [], f"the programs, the note and the guide installed (missing {missing})")
    ok(set(pc.shortcuts()) == {"Просмотр баз данных весов", "Мастер проверки принтера", "Руководство инженера"},
       f"the Start-menu shortcuts (got {sorted(pc.shortcuts())})")
    entries = pc.uninstall_entries()
    ok(entries == [(f"{MENU_FOLDER} {version}", version, "Scale service tools team")],
       f"one uninstall entry with the version and publisher (got {entries})")


def viewer_from_shortcut(pc, version):
    target = link_target(pc.shortcuts()["Просмотр баз данных весов"])
    ok(target and target.lower() == (INSTALL_DIR + r"\TQScaleDBViewer.exe").lower(),
       f"the viewer's shortcut points at the installed viewer (got {target!r})")
    folder = tempfile.mkdtemp(prefix="tq-installed-")
    atexit.register(shutil.rmtree, folder, True)
    rc, out, err = pc.h.run(INSTALL_DIR + r"\tqdb.exe", ["-C", pc.h.winpath(folder), "sample"])
    ok(rc == 0, f"the installed tqdb.exe makes a sample folder ({err.strip()})")
    rc, out, err = pc.h.run(INSTALL_DIR + r"\tqdb.exe", ["-C", pc.h.winpath(folder), "list", "goods"])
    goods = len(out.strip().splitlines()) - 1
    ui = UiDriver(pc.h)
    try:
        # As the shortcut starts it, in the install folder, with the scale's
        # folder on the command line.
        ui.start(target, INSTALL_DIR, [pc.h.winpath(folder)])
        main = ui.window(f"TQScaleDBViewer v.{version}. — {pc.h.winpath(folder)}", 20000)
        ok(True, f"the installed viewer's title names version {version} and the folder given")
        ui.call("combo-select", main, CHOOSER, 0)
        ui.click(main, SELECT)
        listed = until(lambda: ui.list_count(main, LIST)[0] == goods > 0)
        ok(listed, f"the installed viewer lists the {goods} sample goods")
        ok(ui.text(main, COUNTER) == str(goods), "its counter says so")
        screenshot(pc, "release_installed_viewer.png")
        ui.call("lv-click", main, LIST, 0)
        editor, _ = ui.box("Редактирование записи")
        screenshot(pc, "release_installed_editor.png")
        ui.call("command", editor, IDCANCEL)  # Esc: closed without a question
        ui.gone(editor)
        ui.call("close", main)
        ok(ui.call("exit", 10000) == ["0"], "the viewer ends with 0")

        # As the Start menu starts it: in the install folder, which holds no
        # Internal. The folder browser asks for the scale's folder; cancelled,
        # the viewer starts as it always did, each database said not opened.
        ui.start(target, INSTALL_DIR)
        browser, _ = ui.box("*", 20000)
        ok(True, "the installed viewer offers a folder choice where it finds no Internal")
        screenshot(pc, "release_installed_folder_choice.png")
        ui.click(browser, IDCANCEL)
        ui.gone(browser)
        first, text = ui.box("TQScaleDBViewer", 20000)
        ok(text == "БД ТОВАРОВ не открыта!", f"then the start-up as before ({text!r})")
        for _ in range(6):
            ui.click(first, IDOK)
            ui.gone(first)
            first, _ = ui.box("TQScaleDBViewer", 20000)
        ui.click(first, IDOK)
        main = ui.window(f"TQScaleDBViewer v.{version}. — *", 20000)
        ui.call("close", main)
        ok(ui.call("exit", 10000) == ["0"], "and ends with 0")
    finally:
        if ui.proc.poll() is None:
            ui.close_driver()
        pc.h.run(r"C:\windows\system32\reg.exe", ["delete", r"HKCU\Software\Norvell\TQScaleDBViewer", "/f"])


def wizard_without_control(pc):
    target = link_target(pc.shortcuts()["Мастер проверки принтера"])
    ok(target and target.lower() == (INSTALL_DIR + r"\LMT520EU.exe").lower(),
       f"the wizard's shortcut points at the installed wizard (got {target!r})")
    ui = UiDriver(pc.h)
    try:
        ui.start(target)
        ui.window("LMT520EU", 20000)
        box, _ = ui.box("", 20000)
        message = ui.call("text", box, MSG_TEXT)
        ok(message and message[0].startswith("Элемент управления принтера не найден"),
           f"the wizard says the printer's control is missing (got {message})")
        screenshot(pc, "release_wizard_no_control.png")
        ui.click(box, MSG_CONTINUE)
        ui.call("kill")
    finally:
        ui.close_driver()


def uninstall(pc, msi, users_file=None):
    ok(pc.msiexec("/x", pc.h.winpath(msi), "/qn") == 0, f"msiexec /x {os.path.basename(msi)} /qn exits 0")
    ok(pc.uninstall_entries() == [], f"no uninstall entry left (got {pc.uninstall_entries()})")
    ok(pc.shortcuts() == {}, "no shortcut left")
    menu = glob.glob(os.path.join(pc.drive_c, "**", "Start Menu", "Programs", MENU_FOLDER), recursive=True)
    ok(menu == [], f"no Start-menu folder left (got {menu})")
    left = installed_files(pc)
    if users_file:
        ok(left == [users_file], f"only the engineer's own file stays (got {left})")
    else:
        ok(not os.path.exists(pc.unix(INSTALL_DIR)), f"the install folder is gone (left: {left})")


def newer_msi(release_build, version, work, part):
    """An installer of the same binaries whose version is higher in one part."""
    parts = version.split(".")
    parts[part] = str(int(parts[part]) + 1)
    newer = ".".join(parts)
    subprocess.run([sys.executable, os.path.join(SOURCE, "tools", "release", "package.py"),
                    "--build", release_build, "--dist", work, "--version", newer, "--msi-only"],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(work, f"scale-tools-{newer}.msi"), newer


def main():
    dist, release_build = (os.path.abspath(a) for a in sys.argv[1:3])
    (msi,) = glob.glob(os.path.join(dist, "scale-tools-*.msi"))
    version = os.path.basename(msi)[len("scale-tools-"):-len(".msi")]
    pc = Pc()
    try:
        install(pc, msi, version)
        viewer_from_shortcut(pc, version)
        wizard_without_control(pc)
        uninstall(pc, msi)

        with tempfile.TemporaryDirectory() as work:
            # Windows Installer compares three parts of a version: a fourth
            # that grew still replaces, and so would one that shrank.
            newer, newer_version = newer_msi(release_build, version, work, 3)
            newest, newest_version = newer_msi(release_build, version, work, 2)
            install(pc, msi, version)
            install(pc, newer, newer_version)  # one entry, the newer one
            install(pc, newest, newest_version)
            ok(pc.msiexec("/i", pc.h.winpath(msi), "/qn") != 0, "an older installer refuses to go in")
            ok(pc.uninstall_entries() == [(f"{MENU_FOLDER} {newest_version}", newest_version,
                                           "Scale service tools team")],
               f"the newest version stays, alone (got {pc.uninstall_entries()})")
            with open(os.path.join(pc.unix(INSTALL_DIR), "notes.txt"), "w") as f:
                f.write("the engineer's own file\n")
            uninstall(pc, newest, users_file="notes.txt")
    finally:
        pc.h.remove_prefix()
    finish()


if __name__ == "__main__":
    main()
