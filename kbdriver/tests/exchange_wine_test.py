#!/usr/bin/env python3
"""Runs kb_exchange_test.exe under Wine against the keyboard simulator."""
import os
import sys

sys.path.insert(0, os.path.join(os.environ["TQ_SOURCE_DIR"], "tools", "kbsim"))
from winharness import Harness  # noqa: E402
from kbsim import KeyboardSim, map_held_port  # noqa: E402

PORT, HELD_PORT = 31, 32


def main():
    h = Harness()
    h.ensure_started()
    exe = os.path.join(os.environ["TQ_WIN_DIR"], "tests", "kb_exchange_test.exe")
    held = map_held_port(h.prefix, HELD_PORT)
    try:
        with KeyboardSim(h.prefix, PORT):
            rc, out, err = h.run(exe, [], timeout=120,
                                 extra_env={"TQ_KB_PORT": str(PORT), "TQ_KB_HELD_PORT": str(HELD_PORT)})
    finally:
        os.remove(held)
    sys.stdout.write(out)
    sys.stderr.write(err)
    return rc


if __name__ == "__main__":
    sys.exit(main())
