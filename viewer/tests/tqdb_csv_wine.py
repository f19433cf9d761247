#!/usr/bin/env python3
"""tqdb.exe moves a database through CSV: a file of hostile values (Cyrillic,
quotes, ';', line breaks, a 254-character value, a '*' row) imported, exported
and imported again into an empty database comes back byte for byte; a broken
file writes nothing. With --jet the databases are Access files through the
DAO stand-in."""
import os
import shutil
import sys
import tempfile

from winharness import Harness

BOM = "\ufeff"
HEADER = ";".join(f"s{i:02d}" for i in range(41))


def row(**values):
    cells = [values.get(f"s{i:02d}", "") for i in range(41)]
    return ";".join(cells)


# The rows as the export writes them: all 41 columns, in the listing's order
# (codes as text), quoted by RFC 4180.
EXPECTED_ROWS = [
    row(s00="*", s02='"служебная; запись"'),
    row(s00="1", s01="0460000000048", s02='"Икра ""Царская""; черная"', s04="12000.00"),
    row(s00="10", s02='"две\r\nстроки"', s21='"одна\nLF"', s40="конец,запятая"),
    row(s00="2", s02="ж" * 254, s03=" пробелы "),
]
EXPECTED = BOM + HEADER + "\r\n" + "".join(r + "\r\n" for r in EXPECTED_ROWS)

# The same records as a spreadsheet might save them: ',' between fields, no
# byte-order mark, other column order, fewer columns, leading zeros.
INPUT = ("s02,s00,s01,s04,s21,s40,s03\r\n"
         '"Икра ""Царская""; черная",001,0460000000048,12000.00,,,\r\n'
         '"две\r\nстроки",10,,,"одна\nLF","конец,запятая",\r\n'
         + "ж" * 254 + ",2,,,,, пробелы \r\n"
         '"служебная; запись",*,,,,,\r\n')


def round_trip(work):
    jet = "--jet" in sys.argv
    h = Harness()
    h.ensure_started()
    tqdb = os.path.join(os.environ["TQ_WIN_DIR"], "tools", "tqdb.exe")
    failures = []

    def tq(folder, *args, expect=0):
        rc, out, err = h.run(tqdb, ["-C", h.winpath(os.path.join(work, folder))] + list(args))
        if rc != expect:
            failures.append(f"tqdb {' '.join(args)} in {folder}: expected exit {expect}, got {rc}: {out}{err}")
        return out, err

    for folder in ("a", "b"):
        os.makedirs(os.path.join(work, folder))
        tq(folder, "create", *(["--jet"] if jet else []))
    with open(os.path.join(work, "a", "input.csv"), "w", encoding="utf-8", newline="") as f:
        f.write(INPUT)

    out, _ = tq("a", "import", "goods", "input.csv")
    if out.strip().splitlines()[-1:] != ["Импортировано записей: 4"] or "backup: " not in out:
        failures.append(f"import: expected a backup and 4 records, got {out!r}")
    tq("a", "export", "goods", "out.csv")
    tq("b", "import", "goods", h.winpath(os.path.join(work, "a", "out.csv")))
    tq("b", "export", "goods", "out.csv")
    exported = []
    for folder in ("a", "b"):
        with open(os.path.join(work, folder, "out.csv"), "rb") as f:
            exported.append(f.read())
    if exported[0] != EXPECTED.encode("utf-8"):
        failures.append(f"export: expected\n{EXPECTED.encode('utf-8')!r}\ngot\n{exported[0]!r}")
    if exported[1] != exported[0]:
        failures.append("export of the imported copy differs from the original's")

    with open(os.path.join(work, "b", "bad.csv"), "wb") as f:
        f.write(b"s00;s02\r\n5;ok\r\n6;\"open\r\n")
    _, err = tq("b", "import", "goods", "bad.csv", "--replace", expect=1)
    if "строка 3: кавычка не закрыта" not in err:
        failures.append(f"broken quote: expected its line in the message, got {err!r}")
    out, _ = tq("b", "count", "goods")
    if out.strip() != "3":
        failures.append(f"after the refused import: expected the 3 listed records, got {out!r}")

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("tqdb CSV round trip passed" + (" on Access files" if jet else ""))
    return 1 if failures else 0


def main():
    work = tempfile.mkdtemp(prefix="tqdb-csv-")
    try:
        return round_trip(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
