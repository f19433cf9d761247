#!/usr/bin/env python3
"""Starts the viewer under Wine on a sample "Internal" folder made with tqdb.

With a display (DISPLAY set) the viewer opens in a real window and this
returns when the engineer closes it. Without one it runs under Xvfb: the
viewer lists the goods database, a screenshot is saved and its path printed,
and the program is closed.
"""
import os
import shutil
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
source = os.path.dirname(here)
sys.path[:0] = [os.path.join(source, "tools", "wine"), os.path.join(source, "tools", "uidriver")]

from winharness import Harness  # noqa: E402
from uidriver import UiDriver  # noqa: E402


def make_sample(build, folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    tqdb = os.path.join(build, "viewer", "tqdb", "tqdb")
    subprocess.run([tqdb, "-C", folder, "sample"], check=True)


def main():
    build = os.environ.get("TQ_BUILD_DIR") or os.path.join(source, "build")
    folder = os.path.join(build, "demo")
    make_sample(build, folder)
    viewer = os.path.join(build, "win", "bin", "TQScaleDBViewer.exe")
    harness = Harness(build)
    print(f"sample databases: {os.path.join(folder, 'Internal')}")

    if os.environ.get("DISPLAY"):
        harness.ensure_prefix()
        rc = harness.popen(viewer, cwd=folder).wait()
        return rc

    harness.start()
    try:
        with UiDriver(harness) as ui:
            ui.start(viewer, cwd=harness.winpath(folder))
            main_window = ui.window("TQScaleDBViewer v.*", 20000)
            ui.call("combo-select", main_window, 1001, 0)
            ui.click(main_window, 1007)
            ui.call("sleep", 1500)
            shot = os.path.join(build, "screenshots", "demo-viewer.png")
            harness.screenshot(shot)
            count = ui.call("text", main_window, 1003)[0]
            print(f"the viewer listed {count} goods records; screenshot: {shot}")
            ui.call("close", main_window)
            ui.call("exit", 10000)
    finally:
        harness.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
