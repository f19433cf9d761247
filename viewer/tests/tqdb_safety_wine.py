#!/usr/bin/env python3
"""tqdb.exe as an engineer may misuse it: an export never replaces a database
nor writes into Internal, however the path is spelt; a CSV file keeps a name
that code page 1251 lacks; a value's CR LF comes out as stored, each line
ending in CR LF; errors are said in Russian, and -C makes a missing folder
only for create and sample."""
import os
import shutil
import sys
import tempfile

from winharness import Harness


def main():
    h = Harness()
    h.ensure_started()
    tqdb = os.path.join(os.environ["TQ_WIN_DIR"], "tools", "tqdb.exe")
    work = tempfile.mkdtemp(prefix="tqdb-safety-")
    scale = os.path.join(work, "shop", "scale")
    failures = []

    def tq(*args, expect=0, folder=scale):
        rc, out, err = h.run(tqdb, ["-C", h.winpath(folder)] + list(args))
        if rc != expect:
            failures.append(f"tqdb {' '.join(args)}: expected exit {expect}, got {rc}: {out}{err}")
        return out, err

    def check(ok, what):
        if not ok:
            failures.append(what)

    try:
        missing = os.path.join(work, "missing")
        _, err = tq("count", "goods", expect=1, folder=missing)
        check(err == f"Папка {h.winpath(missing)} не существует\r\n", f"-C of a missing folder: {err!r}")
        check(not os.path.exists(missing), "count made the missing folder")
        tq("sample")  # makes shop\scale

        goods = os.path.join(scale, "Internal", "TQScale.mdb")
        with open(goods, "rb") as f:
            before = f.read()
        internal = sorted(os.listdir(os.path.join(scale, "Internal")))
        for target in ("Internal\\TQScale.mdb", ".\\internal\\..\\INTERNAL\\goods.csv",
                       h.winpath(os.path.join(scale, "Internal", "goods.csv"))):
            _, err = tq("export", "goods", target, expect=1)
            check(err.startswith(f"Экспорт отменён: файл {target} — ") and err.endswith("\r\n"),
                  f"export to {target}: {err!r}")
        with open(goods, "rb") as f:
            check(f.read() == before, "the goods database changed")
        check(sorted(os.listdir(os.path.join(scale, "Internal"))) == internal, "a file was written into Internal")

        name = "Товары 日本.csv"
        tq("export", "goods", name)
        check(os.path.isfile(os.path.join(scale, name)), f"no {name} in {sorted(os.listdir(scale))}")
        tq("clear", "goods")
        out, _ = tq("import", "goods", name)
        check(out.endswith("\r\nИмпортировано записей: 5\r\n"), f"import of {name}: {out!r}")

        tq("save", "goods", "s00=7", "s02=две\r\nстроки")
        out, _ = tq("list", "goods")
        check("\tдве\r\nстроки\t" in out and "\r\r" not in out, f"the value's CR LF: {out!r}")
        check(out.count("\n") == out.count("\r\n") and out.endswith("\r\n"), f"line ends: {out!r}")

        _, err = tq("list", "nosuch", expect=2)
        check(err == "неизвестная БД: nosuch\r\n", f"unknown database: {err!r}")
        _, err = tq("find", "goods", "99", expect=1)
        check(err == "запись не найдена\r\n", f"find: {err!r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("tqdb safety passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
