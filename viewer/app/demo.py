#!/usr/bin/env python3
"""Shows TQScaleDBViewer.exe under Wine on a sample scale folder.

    demo.py [--build DIR]        (default: $TQ_BUILD_DIR, else build/)

Makes a fresh "Internal" folder with tqdb (a few Russian records in each of
the seven databases), starts the viewer in it and lists the goods database.
With DISPLAY set, the window stays up until the engineer closes it; without,
the viewer runs under Xvfb, a screenshot is saved, its path printed, and the
viewer is closed. Needs the host and Windows builds (scripts/build.sh).
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path[:0] = [os.path.join(SOURCE, "tools", "wine"), os.path.join(SOURCE, "tools", "uidriver")]
from uidriver import UiDriver, UiError  # noqa: E402
from winharness import Harness  # noqa: E402

SELECT, LIST, COUNTER = 1007, 1000, 1003


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.environ.get("TQ_BUILD_DIR") or os.path.join(SOURCE, "build"))
    build = os.path.abspath(ap.parse_args().build)
    os.environ["TQ_BUILD_DIR"] = build
    os.environ.setdefault("TQ_WIN_DIR", os.path.join(build, "win"))
    viewer = os.path.join(build, "win", "bin", "TQScaleDBViewer.exe")
    tqdb = os.path.join(build, "viewer", "tqdb", "tqdb")

    folder = os.path.join(build, "demo", "scale")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.run([tqdb, "-C", folder, "sample"], check=True, stdout=subprocess.DEVNULL)

    interactive = bool(os.environ.get("DISPLAY"))
    h = Harness(build)
    ours = not os.path.exists(h.state_file)  # the X server and wineserver are ours to stop
    h.ensure_started()
    try:
        with UiDriver(h) as ui:
            ui.start(h.winpath(viewer), h.winpath(folder))
            main_window = ui.window("TQScaleDBViewer v.*", 30000)
            ui.click(main_window, SELECT)
            deadline = time.monotonic() + 20
            while ui.list_count(main_window, LIST)[0] == 0 or ui.text(main_window, COUNTER) == "0":
                if time.monotonic() > deadline:
                    raise UiError("the goods database was not listed")
                time.sleep(0.1)
            time.sleep(0.5)  # the last paint
            shot = os.path.join(build, "screenshots", "viewer_demo.png")
            if h.screenshot(shot):
                print(f"screenshot: {shot}")
            print(f"viewer: {ui.text(main_window)} on {folder}, goods listed")
            if interactive:
                print("close the viewer's window to end the demo")
                while True:
                    try:
                        ui.call("exit", 30000, timeout=60)
                        break
                    except UiError:
                        continue
            else:
                ui.call("close", main_window)
                ui.call("exit", 10000)
    finally:
        if ours and not interactive:
            h.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
