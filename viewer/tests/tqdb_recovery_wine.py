#!/usr/bin/env python3
"""tqdb.exe keeps the copies it restores from: with ten backups of the goods,
restoring the oldest brings its rows back and leaves it in the Backup folder;
a restore from a copy of another table shape changes nothing and adds no copy.
With --jet the databases are Access files through the DAO stand-in."""
import os
import shutil
import sys
import tempfile

from winharness import Harness


def main():
    jet = "--jet" in sys.argv
    h = Harness()
    h.ensure_started()
    tqdb = os.path.join(os.environ["TQ_WIN_DIR"], "tools", "tqdb.exe")
    work = tempfile.mkdtemp(prefix="tqdb-recovery-")
    failures = []

    def tq(*args, expect=0):
        rc, out, err = h.run(tqdb, ["-C", h.winpath(work)] + list(args))
        if rc != expect:
            failures.append(f"tqdb {' '.join(args)}: expected exit {expect}, got {rc}: {out}{err}")
        return out, err

    def backups():
        out, _ = tq("backups", "goods")
        return [line.split("\t") for line in out.splitlines() if line]

    try:
        tq("sample", *(["--jet"] if jet else []))
        for n in range(10):
            if n:  # each clear has something of its own to keep
                tq("save", "goods", f"s00={100 + n}")
            tq("clear", "goods")
        listed = backups()
        if len(listed) != 10 or listed[0][3] != "5":
            failures.append(f"expected ten backups, the oldest with the 5 sample records, got {listed!r}")
        oldest = listed[0][1].split("\\")[-1]

        out, _ = tq("restore", "goods", oldest)
        count, _ = tq("count", "goods")
        if count.strip() != "5":
            failures.append(f"after restoring the oldest: expected 5 records, got {count!r} ({out!r})")
        names = [row[1].split("\\")[-1] for row in backups()]
        if oldest not in names or len(names) != 10:
            failures.append(f"the restored copy {oldest} must stay among ten, got {names!r}")

        # A copy that is no database of the goods' kind: refused, nothing added.
        bad = os.path.join(work, "Internal", "Backup", "TQScale.mdb.20200101-000000.bak")
        with open(bad, "wb") as f:
            signature = b"\0\1\0\0Standard Jet DB\0" if jet else b"SQLite format 3\0"
            f.write(signature + b" but nothing of a database after it" * 64)
        before = sorted(os.listdir(os.path.dirname(bad)))
        _, err = tq("restore", "goods", os.path.basename(bad), expect=1)
        if "не восстановлена" not in err and "не читается" not in err:
            failures.append(f"a broken copy: expected the reason, got {err!r}")
        if sorted(os.listdir(os.path.dirname(bad))) != before:
            failures.append("a refused restore changed the Backup folder")
        count, _ = tq("count", "goods")
        if count.strip() != "5":
            failures.append(f"a refused restore changed the goods: {count!r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("tqdb recovery passed" + (" on Access files" if jet else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
