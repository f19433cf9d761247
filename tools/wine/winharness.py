#!/usr/bin/env python3
"""Runs Windows programs under Wine for the tests and the demo.

One private WINEPREFIX under the build folder, created once and reused; an X
server (Xvfb on a free display) when none is set; a persistent wineserver for
the length of a test run.

    winharness.py --build DIR start     prepare the prefix, start Xvfb and wineserver
    winharness.py --build DIR stop      stop what start started
    winharness.py --build DIR [--screenshot PNG] [--timeout S] run -- EXE ARGS...
    winharness.py --build DIR daosim-register | daosim-unregister
                                        the DAO stand-in in the prefix (regsvr32)

As a module: Harness(build_dir) with run(), screenshot(), env(), winpath().
"""
import argparse
import contextlib
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time


class Harness:
    def __init__(self, build_dir=None):
        build_dir = build_dir or os.environ.get("TQ_BUILD_DIR")
        if not build_dir:
            raise SystemExit("winharness: no build folder (--build or TQ_BUILD_DIR)")
        self.build_dir = os.path.abspath(build_dir)
        self.wine_dir = os.path.join(self.build_dir, "wine")
        self.prefix = os.path.join(self.wine_dir, "prefix")
        self.state_file = os.path.join(self.wine_dir, "state.json")
        os.makedirs(self.wine_dir, exist_ok=True)

    # --- environment -----------------------------------------------------
    def _state(self):
        try:
            with open(self.state_file) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def display(self):
        return self._state().get("display") or os.environ.get("DISPLAY")

    def env(self, extra=None):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEARCH": "win32",
            "WINEDEBUG": env.get("TQ_WINEDEBUG", "-all"),
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        display = self.display()
        if display:
            env["DISPLAY"] = display
        if extra:
            env.update(extra)
        return env

    def winpath(self, path):
        """The Windows name of a Unix path, through Wine's Z: drive."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    # --- prefix ----------------------------------------------------------
    @contextlib.contextmanager
    def _lock(self):
        with open(os.path.join(self.wine_dir, "lock"), "w") as f:
            fcntl.flock(f, fcntl.LOCK_EX)
            try:
                yield
            finally:
                fcntl.flock(f, fcntl.LOCK_UN)

    def ensure_prefix(self):
        with self._lock():
            marker = os.path.join(self.prefix, ".tq-ready")
            if os.path.exists(marker):
                return
            shutil.rmtree(self.prefix, ignore_errors=True)
            env = self.env()
            subprocess.run(["wineboot", "-i"], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # Unmanaged windows: without a window manager Wine otherwise waits
            # about two seconds whenever a window is hidden or closed.
            self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N")
            self.reg_add(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0")
            subprocess.run(["wineserver", "-w"], env=env)
            open(marker, "w").close()

    def reg_add(self, key, name, kind, data):
        subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                       env=self.env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def register_daosim(self, register=True):
        """Registers the DAO stand-in (DAO.DBEngine.36) in this prefix only, or
        removes it; True when regsvr32 succeeded."""
        dll = os.path.join(self.build_dir, "win", "tools", "daosim.dll")
        if not os.path.exists(dll):
            return False
        args = ["regsvr32", "/s"] + ([] if register else ["/u"]) + [self.winpath(dll)]
        r = subprocess.run(["wine", *args], env=self.env(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return r.returncode == 0

    # --- X server and wineserver ----------------------------------------
    @staticmethod
    def _free_display():
        for n in range(90, 200):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                return n
        raise SystemExit("winharness: no free X display")

    def start(self):
        self.stop()
        state = {}
        if not os.environ.get("DISPLAY"):
            n = self._free_display()
            proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    start_new_session=True)
            for _ in range(100):
                if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                    break
                if proc.poll() is not None:
                    raise SystemExit("winharness: Xvfb did not start")
                time.sleep(0.05)
            state = {"display": f":{n}", "xvfb_pid": proc.pid}
        with open(self.state_file, "w") as f:
            json.dump(state, f)
        self.ensure_prefix()
        # The server outlives this process: it must not hold the caller's output
        # pipes, or ctest would wait for it.
        subprocess.run(["wineserver", "-p"], env=self.env(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        state = self._state()
        subprocess.run(["wineserver", "-k"], env=self.env(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pid = state.get("xvfb_pid")
        if pid:
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGTERM)
        with contextlib.suppress(OSError):
            os.remove(self.state_file)

    def ensure_started(self):
        """For a test run outside ctest's fixture: start what is missing."""
        state = self._state()
        pid = state.get("xvfb_pid")
        alive = pid is None and bool(os.environ.get("DISPLAY")) and os.path.exists(self.state_file)
        if pid:
            try:
                os.kill(pid, 0)
                alive = True
            except OSError:
                alive = False
        if not alive:
            self.start()
        else:
            self.ensure_prefix()

    # --- running programs ------------------------------------------------
    def popen(self, exe, args=(), cwd=None, extra_env=None, **kw):
        return subprocess.Popen(["wine", exe, *args], cwd=cwd, env=self.env(extra_env), **kw)

    def run(self, exe, args=(), timeout=120, cwd=None, extra_env=None, input=None):
        """Runs a Windows program to its end; returns (exit code, stdout, stderr).

        Output goes through files, not pipes: the helper processes that Wine
        starts for a session (services, explorer) inherit the first program's
        handles and would hold a pipe open long after the program ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
                tempfile.TemporaryFile() as inp:
            if input:
                inp.write(input)
                inp.seek(0)
            proc = self.popen(exe, args, cwd=cwd, extra_env=extra_env, stdin=inp, stdout=out, stderr=err)
            timed_out = False
            try:
                proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                timed_out = True
            out.seek(0)
            err.seek(0)
            text_out = out.read().decode(errors="replace")
            text_err = err.read().decode(errors="replace")
        if timed_out:
            return -1, text_out, text_err + "\n[timed out]"
        return proc.returncode, text_out, text_err

    def screenshot(self, path):
        """Saves the whole X screen as PNG; returns True when it was written."""
        display = self.display()
        if not display:
            return False
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        r = subprocess.run(["import", "-window", "root", "-display", display, path],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return r.returncode == 0 and os.path.exists(path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build")
    ap.add_argument("--screenshot")
    ap.add_argument("--timeout", type=float, default=240)
    ap.add_argument("command", choices=["start", "stop", "run", "daosim-register", "daosim-unregister"])
    ap.add_argument("program", nargs=argparse.REMAINDER)
    a = ap.parse_args()
    h = Harness(a.build)
    if a.command == "start":
        h.start()
        print(f"winharness: prefix {h.prefix}, display {h.display()}")
        return 0
    if a.command == "stop":
        h.stop()
        return 0
    if a.command.startswith("daosim-"):
        h.ensure_started()
        return 0 if h.register_daosim(a.command == "daosim-register") else 1
    prog = [p for p in a.program if p != "--"]
    if not prog:
        ap.error("run needs a program")
    h.ensure_started()
    rc, out, err = h.run(prog[0], prog[1:], timeout=a.timeout)
    sys.stdout.write(out)
    sys.stderr.write(err)
    if a.screenshot:
        h.screenshot(a.screenshot)
    return rc


if __name__ == "__main__":
    sys.exit(main())
