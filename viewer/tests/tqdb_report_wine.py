#!/usr/bin/env python3
"""tqdb.exe inspect on Access files through the DAO stand-in: a folder made
with create --jet shows Jet 4.0, the Cyrillic collating order and the 41 text
fields with their primary key, for one database and for all seven; the files
are left as they were, with no lock file; a missing file is said and the
other databases still shown."""
import os
import shutil
import sys
import tempfile

from winharness import Harness

FIELDS_HEADER = "Поля FieldsTable (имя, тип, размер, обязательное):"
INDEXES_HEADER = "Индексы FieldsTable (имя, первичный, уникальный, обязательный, поля):"


def expected_goods():
    lines = ["goods: Internal\\TQScale.mdb", "вид: Access (Jet)", "открыт: совместно, только чтение", "версия: 4.0",
             "порядок сортировки: 1049 Cyrillic", FIELDS_HEADER]
    # The key's field is required as the stand-in makes it, the others not.
    lines += [f"s{i:02d}\t10 Text\t255\t{'да' if i == 0 else 'нет'}" for i in range(41)]
    lines += [INDEXES_HEADER, "PrimaryKey\tда\tда\tда\ts00", "Другие таблицы: нет"]
    return lines


def state(folder):
    """Each file's bytes and modification time, by name."""
    files = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                files[name] = (f.read(), os.stat(path).st_mtime_ns)
    return files


def check(work):
    h = Harness()
    h.ensure_started()
    tqdb = os.path.join(os.environ["TQ_WIN_DIR"], "tools", "tqdb.exe")
    failures = []

    def tq(*args, expect=0):
        rc, out, err = h.run(tqdb, ["-C", h.winpath(work)] + list(args))
        if rc != expect:
            failures.append(f"tqdb {' '.join(args)}: expected exit {expect}, got {rc}: {out}{err}")
        return out.replace("\r\n", "\n"), err.replace("\r\n", "\n")

    tq("create", "--jet")
    internal = os.path.join(work, "Internal")
    before = state(internal)
    out, _ = tq("inspect", "goods")
    if out.splitlines() != expected_goods():
        failures.append("inspect goods: expected\n" + "\n".join(expected_goods()) + "\ngot\n" + out)
    out, _ = tq("inspect")
    shown = [line for line in out.splitlines() if line.endswith(".mdb") and ": Internal\\" in line]
    if len(shown) != 7 or out.count("версия: 4.0\n") != 7:
        failures.append(f"inspect: expected the seven databases, got {shown}")
    if state(internal) != before:
        failures.append(f"inspect changed the folder: {sorted(before)} became {sorted(state(internal))}")

    os.remove(os.path.join(internal, "Labels.mdb"))
    out, err = tq("inspect", expect=1)
    if err.strip() != "labels: Internal\\Labels.mdb не читается: файла нет":
        failures.append(f"missing file: expected its line, got {err!r}")
    if out.count("версия: 4.0\n") != 6:
        failures.append(f"missing file: expected the other six shown, got\n{out}")

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("tqdb inspect on Access files passed")
    return 1 if failures else 0


def main():
    work = tempfile.mkdtemp(prefix="tqdb-inspect-")
    try:
        return check(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
