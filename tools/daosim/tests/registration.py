#!/usr/bin/env python3
"""The DAO stand-in leaves the prefix with regsvr32 /u and comes back with
regsvr32: while it is away, DAO.DBEngine.36 is not registered."""
import os
import sys

from winharness import Harness


def main():
    h = Harness()
    h.ensure_started()
    exe = os.path.join(os.environ["TQ_WIN_DIR"], "tests", "daosim_test.exe")
    failures = []
    try:
        if not h.register_daosim(False):
            failures.append("regsvr32 /u daosim.dll failed")
        rc, out, err = h.run(exe, ["--gtest_filter=Registration.*"],
                             extra_env={"DAOSIM_EXPECT_UNREGISTERED": "1"})
        if rc != 0 or "[  PASSED  ] 1 test." not in out:
            failures.append("with the stand-in unregistered, expected no DAO engine:\n" + out + err)
    finally:
        if not h.register_daosim(True):
            failures.append("regsvr32 daosim.dll failed")
    rc, out, err = h.run(exe, ["--gtest_filter=DaoTest.FollowsTheAutomationConventions"])
    if rc != 0 or "[  PASSED  ] 1 test." not in out:
        failures.append("registered again, expected a working engine:\n" + out + err)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
