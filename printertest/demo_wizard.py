#!/usr/bin/env python3
"""Starts LMT520EU.exe under Wine on the printer simulator control.

    python3 printertest/demo_wizard.py [SCENARIO]

Needs a built tree (scripts/build.sh; TQ_BUILD_DIR as there). Registers the
simulator in the build's own Wine prefix only, uses SCENARIO (default:
printertest/demo-scenario.txt; edit it while the wizard runs) and writes the
simulator's call log to <build>/printertest-demo-calls.log."""
import os
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
source = os.path.dirname(here)
sys.path.insert(0, os.path.join(source, "tools", "wine"))
from winharness import Harness, display_reachable  # noqa: E402

CLSID_KEY = r"HKLM\Software\Classes\CLSID\{03CA02ED-6A7E-4FD9-90B6-D8480B61E13A}\InprocServer32"


def main():
    h = Harness(os.environ.get("TQ_BUILD_DIR") or os.path.join(source, "build"))
    display = os.environ.get("DISPLAY")
    if display and not display_reachable(display):
        sys.exit(f"demo_wizard: cannot open the X display DISPLAY={display}: no X server answers there")
    h.ensure_started()
    win = os.path.join(h.build_dir, "win")
    wizard = os.path.join(win, "bin", "LMT520EU.exe")
    dll = os.path.join(win, "tools", "printersim.dll")
    for path in (wizard, dll):
        if not os.path.exists(path):
            sys.exit(f"demo_wizard: {path} is missing; run scripts/build.sh first")
    h.reg_add(CLSID_KEY, "", "REG_SZ", h.winpath(dll))
    h.reg_add(CLSID_KEY, "ThreadingModel", "REG_SZ", "Apartment")
    scenario = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "demo-scenario.txt"))
    log = os.path.join(h.build_dir, "printertest-demo-calls.log")
    print(f"demo_wizard: scenario {scenario}, call log {log}, display {h.display()}")
    env = {"TQ_PRINTERSIM_SCENARIO": h.winpath(scenario), "TQ_PRINTERSIM_LOG": h.winpath(log)}
    if display:
        rc, _, err = h.run(wizard, timeout=24 * 3600, extra_env=env)
        if rc:
            sys.stderr.write(err)
        return rc
    # Headless: show the first page for a moment under Xvfb, keep a picture of
    # it, and close the wizard, so that the command always ends.
    proc = h.popen(wizard, extra_env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(5)
    shot = os.path.join(h.build_dir, "screenshots", "demo-wizard.png")
    h.screenshot(shot)
    print(f"demo_wizard: no display; screenshot {shot}")
    proc.kill()
    proc.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
