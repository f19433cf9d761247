"""ok()-style checks for the release tests: every check prints a line, and
the test fails at the end with the count of failed ones."""
import sys

failures = []


def ok(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def finish():
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)
    print("all checks passed")
