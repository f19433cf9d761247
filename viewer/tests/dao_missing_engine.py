#!/usr/bin/env python3
"""With no DAO engine registered, an Access file is refused and tqdb says in
one line what the PC needs; with the engine back, the same file works."""
import atexit
import os
import shutil
import sys
import tempfile

from winharness import Harness


def main():
    h = Harness()
    h.ensure_started()
    tqdb = os.path.join(os.environ["TQ_WIN_DIR"], "tools", "tqdb.exe")
    work = tempfile.mkdtemp(prefix="tqdb-jet-")
    atexit.register(shutil.rmtree, work, True)
    folder = h.winpath(work)
    failures = []
    rc, out, err = h.run(tqdb, ["-C", folder, "create", "--jet"])
    if rc != 0:
        failures.append(f"create --jet: exit {rc}: {err}")
    try:
        if not h.register_daosim(False):
            failures.append("regsvr32 /u daosim.dll failed")
        rc, out, err = h.run(tqdb, ["-C", folder, "count", "goods"])
        lines = [line for line in err.splitlines() if line.startswith("goods:")]
        if rc != 1 or len(lines) != 1 or "нет DAO" not in lines[0] or ".accdb" not in lines[0]:
            failures.append(f"count without DAO: expected exit 1 and one line naming what to install, "
                            f"got exit {rc}:\n{err}")
    finally:
        if not h.register_daosim(True):
            failures.append("regsvr32 daosim.dll failed")
    rc, out, err = h.run(tqdb, ["-C", folder, "count", "goods"])
    if rc != 0 or out.strip() != "0":
        failures.append(f"count with DAO back: expected 0, got exit {rc}: {out}{err}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
