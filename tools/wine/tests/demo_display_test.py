#!/usr/bin/env python3
"""scripts/demo.py on a display that the user set: the viewer's window opens
even when the build's recorded state names an X server that is gone, and the
demo fails, with a message, when no window can open.

The demo runs on a build folder of its own whose Wine prefix is a link to the
test run's, with the test run's X server standing in for the user's desktop."""
import json
import os
import select
import shutil
import subprocess
import sys
import time

from winharness import Harness

SOURCE = os.environ["TQ_SOURCE_DIR"]
sys.path.insert(0, os.path.join(SOURCE, "tools", "uidriver"))
from uidriver import UiDriver, UiError  # noqa: E402

failures = []


def ok(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def link(target, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.symlink(target, path)


def demo_build(h, viewer):
    """A build folder with the real viewer, tqdb and prefix, and a stale state."""
    build = os.path.join(h.build_dir, "demo-display-test")
    shutil.rmtree(build, ignore_errors=True)
    link(viewer, os.path.join(build, "win", "bin", "TQScaleDBViewer.exe"))
    link(os.path.join(h.build_dir, "viewer", "tqdb", "tqdb"), os.path.join(build, "viewer", "tqdb", "tqdb"))
    link(h.prefix, os.path.join(build, "wine", "prefix"))
    gone = subprocess.Popen(["true"])
    gone.wait()
    # No "wineserver" here: forgetting this state must not stop the test run's server.
    state = {"owner": "session", "display": f":{next(Harness._free_displays())}", "xvfb_pid": gone.pid}
    with open(os.path.join(build, "wine", "state.json"), "w") as f:
        json.dump(state, f)
    return build


def start_demo(build, display):
    env = dict(os.environ, TQ_BUILD_DIR=build, DISPLAY=display)
    return subprocess.Popen([sys.executable, os.path.join(SOURCE, "scripts", "demo.py")], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def demo_says(demo, text, timeout):
    """Reads the demo's output, unbuffered, until it holds text; False after timeout.
    What was read is kept in demo.seen for finish()."""
    fd = demo.stdout.fileno()
    demo.seen = b""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            chunk = os.read(fd, 4096)
            if not chunk:
                return False
            demo.seen += chunk
            if text.encode() in demo.seen:
                return True
    return False


def finish(demo, timeout):
    try:
        out, err = demo.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        demo.kill()
        out, err = demo.communicate()
    return demo.returncode, getattr(demo, "seen", b"").decode(errors="replace") + out + err


def window_opens_after_a_stale_state(h, build):
    demo = start_demo(build, h.display())
    with UiDriver(h) as ui:
        try:
            viewer = ui.window("TQScaleDBViewer v.*", 60000)
        except UiError:
            viewer = None
        ok(viewer is not None, "the viewer's window opens on the user's display despite the stale state")
        if viewer:
            # Closed only once the demo has seen it too: on a busy machine its
            # own look may come later than ours.
            ok(demo_says(demo, "demo: the viewer is open", 60), "the demo sees the window")
            ok(demo.poll() is None, "the demo waits while the window is open")
            ui.call("close", viewer)
    rc, output = finish(demo, 60)
    ok(rc == 0, f"the demo ends with 0 once the window is closed (got {rc}: {output.strip()[-300:]})")
    ok(not os.path.exists(os.path.join(build, "wine", "state.json")), "the demo leaves no state behind")


def fails_without_a_display(build):
    dead = f":{next(Harness._free_displays())}"
    start = time.monotonic()
    rc, output = finish(start_demo(build, dead), 60)
    ok(rc != 0, f"the demo fails on a display without X server (got {rc})")
    ok(f"cannot open the X display DISPLAY={dead}" in output, f"it says which display ({output.strip()[-300:]})")
    ok(time.monotonic() - start < 30, "it fails at once")


def fails_when_wine_cannot_start_the_viewer(h, build):
    viewer = os.path.join(build, "win", "bin", "TQScaleDBViewer.exe")
    os.remove(viewer)
    with open(viewer, "wb") as f:
        f.write(b"not a program")
    rc, output = finish(start_demo(build, h.display()), 120)
    ok(rc != 0, f"the demo fails when the viewer cannot start (got {rc})")
    ok("the viewer did not open its window" in output, f"it says so ({output.strip()[-300:]})")


def main():
    h = Harness()
    h.ensure_started()
    viewer = os.path.join(os.environ["TQ_WIN_DIR"], "bin", "TQScaleDBViewer.exe")
    build = demo_build(h, viewer)
    window_opens_after_a_stale_state(h, build)
    fails_without_a_display(build)
    fails_when_wine_cannot_start_the_viewer(h, build)
    shutil.rmtree(build, ignore_errors=True)
    # What the viewer remembered (its size, its columns) goes with the test.
    h.run(r"C:\windows\system32\reg.exe", ["delete", r"HKCU\Software\Norvell\TQScaleDBViewer", "/f"])
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
