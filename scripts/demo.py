#!/usr/bin/env python3
"""Starts the viewer under Wine on a sample "Internal" folder made with tqdb.

With a display (DISPLAY set) the viewer opens in a real window and this
returns when the engineer closes it; it fails, with a message, when the
viewer cannot open its window there. Without one it runs under Xvfb: the
viewer lists the goods database, a screenshot is saved and its path printed,
and the program is closed.
"""
import os
import shutil
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
source = os.path.dirname(here)
sys.path[:0] = [os.path.join(source, "tools", "wine"), os.path.join(source, "tools", "uidriver")]

from winharness import Harness, display_reachable  # noqa: E402
from uidriver import UiDriver, UiError  # noqa: E402

WINDOW_WAIT = 60


def make_sample(build, folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    tqdb = os.path.join(build, "viewer", "tqdb", "tqdb")
    subprocess.run([tqdb, "-C", folder, "sample"], check=True)


def show_window(harness, viewer, folder):
    """The viewer in a real window on the user's display, until it is closed."""
    display = os.environ["DISPLAY"]
    if not display_reachable(display):
        print(f"demo: cannot open the X display DISPLAY={display}: no X server answers there", file=sys.stderr)
        return 1
    with harness.session():
        viewer_proc = harness.popen(viewer, cwd=folder)
        try:
            with UiDriver(harness) as ui:
                opened = wait_for_window(ui, viewer_proc, "TQScaleDBViewer v.*", WINDOW_WAIT)
            if not opened:
                print(f"demo: the viewer did not open its window on {display} within {WINDOW_WAIT} s; "
                      "Wine's messages above tell why", file=sys.stderr)
                return 1
            print(f"demo: the viewer is open on {display}; the demo ends when it is closed", flush=True)
            return viewer_proc.wait()
        finally:
            if viewer_proc.poll() is None:
                viewer_proc.kill()
                viewer_proc.wait()


def wait_for_window(ui, proc, title, seconds):
    """True once a window with that title shows; False when the program ends first or never shows it."""
    deadline = time.monotonic() + seconds
    while proc.poll() is None and time.monotonic() < deadline:
        try:
            ui.window(title, 500)
            return True
        except UiError:
            pass
    return False


def list_headless(harness, build, viewer, folder):
    """Under Xvfb: list the goods, keep a screenshot, close the viewer."""
    sys.path.insert(0, os.path.join(build, "python"))
    from ids import viewer as ids  # written by the build from the viewer's resource.h
    with harness.session(), UiDriver(harness) as ui:
        ui.start(viewer, cwd=harness.winpath(folder))
        main_window = ui.window("TQScaleDBViewer v.*", 20000)
        ui.call("combo-select", main_window, ids.IDC_DB_CHOOSER, 0)
        ui.click(main_window, ids.IDC_SELECT_DB)
        ui.call("sleep", 1500)
        shot = os.path.join(build, "screenshots", "demo-viewer.png")
        harness.screenshot(shot)
        count = ui.call("text", main_window, ids.IDC_RECORD_COUNT)[0]
        print(f"the viewer listed {count} goods records; screenshot: {shot}")
        ui.call("close", main_window)
        ui.call("exit", 10000)
    return 0


def main():
    build = os.environ.get("TQ_BUILD_DIR") or os.path.join(source, "build")
    folder = os.path.join(build, "demo")
    make_sample(build, folder)
    viewer = os.path.join(build, "win", "bin", "TQScaleDBViewer.exe")
    harness = Harness(build)
    print(f"sample databases: {os.path.join(folder, 'Internal')}")
    try:
        if os.environ.get("DISPLAY"):
            return show_window(harness, viewer, folder)
        return list_headless(harness, build, viewer, folder)
    except KeyboardInterrupt:
        print("demo: interrupted", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
