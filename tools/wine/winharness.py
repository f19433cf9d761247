#!/usr/bin/env python3
"""Runs Windows programs under Wine for the tests and the demo.

One private WINEPREFIX under the build folder, created once and reused; an X
server (Xvfb on a free display) when DISPLAY is not set; a persistent
wineserver while anything of the harness uses the prefix.

    winharness.py --build DIR start     prepare the prefix, start Xvfb and wineserver
    winharness.py --build DIR stop      stop what start started
    winharness.py --build DIR [--screenshot PNG] [--timeout S] run -- EXE ARGS...
    winharness.py --build DIR leftovers list what of this build is still running
    winharness.py --build DIR daosim-register | daosim-unregister
                                        the DAO stand-in in the prefix (regsvr32)

`run` uses the X server and wineserver that `start` (or another harness
program of the same build) left running; what it had to start itself it
stops when the program ends, is interrupted or times out.

As a module: Harness(build_dir) with session(), run(), screenshot(), env(),
winpath().
"""
import argparse
import atexit
import contextlib
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

# Set in the environment of every Xvfb the harness starts, to its build's Wine
# folder: the harness recognises its own X servers by it, never by their name.
XVFB_MARK = "TQ_HARNESS_XVFB"

# The Xvfb servers this process started, kept so that stopping one reaps it.
_xvfb_children = {}


# --- processes, by what their environment says ---------------------------
def process_environ(pid):
    """The environment a process was started with; {} when it is gone or not ours."""
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            data = f.read()
    except OSError:
        return {}
    env = {}
    for item in data.split(b"\0"):
        name, sep, value = item.partition(b"=")
        if sep:
            env[name.decode(errors="surrogateescape")] = value.decode(errors="surrogateescape")
    return env


def process_command(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return "?"


def all_pids():
    return [int(name) for name in os.listdir("/proc") if name.isdigit()]


def _stat_fields(pid):
    """The fields of /proc/PID/stat that follow the command name (which is in
    parentheses and may hold blanks): state, parent, ...; [] when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rpartition(")")[2].split()
    except OSError:
        return []


def is_running(pid):
    """False once the process has ended, even while it waits to be reaped."""
    fields = _stat_fields(pid)
    return bool(fields) and fields[0] != "Z"


def wait_gone(pid, seconds):
    """True when the process ended within the time; reaps it when it is our child."""
    deadline = time.monotonic() + seconds
    while True:
        with contextlib.suppress(ChildProcessError):
            os.waitpid(pid, os.WNOHANG)
        if not is_running(pid):
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)


def display_socket(display):
    """The Unix socket of a local display such as ":90" or ":0.0"; None for a remote one."""
    host, _, number = (display or "").rpartition(":")
    number = number.split(".")[0]
    if host not in ("", "unix") or not number.isdigit():
        return None
    return f"/tmp/.X11-unix/X{number}"


def display_reachable(display):
    """True when an X server answers on that display."""
    return subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


# --- ending on a signal ------------------------------------------------------
ENDING_SIGNALS = (signal.SIGTERM, signal.SIGHUP)


def _exit_on_signal(signum, frame):
    raise SystemExit(128 + signum)


def _in_main_thread():
    return threading.current_thread() is threading.main_thread()


@contextlib.contextmanager
def ending_signals_raise():
    """SIGTERM and SIGHUP end the block as Ctrl+C does, so that its cleanup runs."""
    if not _in_main_thread():
        yield
        return
    old = {s: signal.signal(s, _exit_on_signal) for s in ENDING_SIGNALS}
    try:
        yield
    finally:
        for s, handler in old.items():
            signal.signal(s, handler)


class Harness:
    def __init__(self, build_dir=None, prefix_name="prefix"):
        """prefix_name names another prefix under the build's wine folder, for
        tests that need a PC of their own (an installer's); it shares the X
        server of the build."""
        build_dir = build_dir or os.environ.get("TQ_BUILD_DIR")
        if not build_dir:
            raise SystemExit("winharness: no build folder (--build or TQ_BUILD_DIR)")
        self.build_dir = os.path.abspath(build_dir)
        self.wine_dir = os.path.join(self.build_dir, "wine")
        self.prefix = os.path.join(self.wine_dir, prefix_name)
        self.state_file = os.path.join(self.wine_dir, "state.json")
        self._users = None  # the session that ensure_started() keeps open
        os.makedirs(self.wine_dir, exist_ok=True)

    # --- recorded state ----------------------------------------------------
    # state.json names what a start or a session brought up: "owner" ("start"
    # or "session"), "display", "xvfb_pid" when the harness started that X
    # server, and "wineserver" when it started a persistent wineserver.
    def _state(self):
        try:
            with open(self.state_file) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def _write_state(self, state):
        with open(self.state_file, "w") as f:
            json.dump(state, f)

    def _is_our_xvfb(self, pid):
        return bool(pid) and process_environ(pid).get(XVFB_MARK) == self.wine_dir

    def _is_live(self, state):
        """A state is trusted only while the X server it names still runs."""
        display = state.get("display")
        if not display:
            return False
        pid = state.get("xvfb_pid")
        if pid and not self._is_our_xvfb(pid):
            return False
        socket = display_socket(display)
        return socket is None or os.path.exists(socket)

    def live_state(self):
        state = self._state()
        return state if self._is_live(state) else {}

    # --- environment -----------------------------------------------------
    def display(self):
        """The user's display when one is set, else the harness's own X server."""
        return os.environ.get("DISPLAY") or self.live_state().get("display")

    def env(self, extra=None):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEARCH": "win32",
            "WINEDEBUG": env.get("TQ_WINEDEBUG", "-all"),
            # No menu entries or file associations written outside the prefix.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
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
            self._ensure_prefix_locked()

    def _ensure_prefix_locked(self):
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

    def remove_prefix(self):
        """Ends everything of the prefix and deletes it."""
        self._stop_wineserver()
        shutil.rmtree(self.prefix, ignore_errors=True)

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

    # --- what of this build runs ------------------------------------------
    def prefix_processes(self):
        """Processes started in this build's prefix: wineserver, Wine's helpers, programs."""
        prefix = os.path.realpath(self.prefix)
        found = []
        for pid in all_pids():
            named = process_environ(pid).get("WINEPREFIX")
            if pid != os.getpid() and named and os.path.realpath(named) == prefix and is_running(pid):
                found.append(pid)
        return found

    def harness_xvfbs(self):
        """The X servers that this build's harness started and that still run.

        Their children (the keymap compiler) inherit the mark; only the
        processes whose parent has no mark count."""
        parents = {}
        for pid in all_pids():
            if self._is_our_xvfb(pid):
                fields = _stat_fields(pid)
                if fields and fields[0] != "Z":
                    parents[pid] = int(fields[1])
        return sorted(pid for pid, parent in parents.items() if parent not in parents)

    def leftovers(self):
        return sorted(set(self.prefix_processes()) | set(self.harness_xvfbs()))

    def temp_leftovers(self):
        """What is left in the prefix's temporary folders: every test and
        benchmark removes what it made there."""
        users = os.path.join(self.prefix, "drive_c", "users")
        left = []
        for user in sorted(os.listdir(users)) if os.path.isdir(users) else []:
            for temp in (os.path.join(users, user, "Temp"), os.path.join(users, user, "AppData", "Local", "Temp")):
                if os.path.isdir(temp) and not os.path.islink(temp):
                    left += [os.path.join(temp, name) for name in sorted(os.listdir(temp))]
        return left

    # --- X server and wineserver ----------------------------------------
    @staticmethod
    def _free_displays():
        for n in range(90, 200):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                yield n

    def _start_xvfb(self):
        """Starts Xvfb on a free display; returns (display, pid)."""
        env = dict(os.environ, **{XVFB_MARK: self.wine_dir})
        for n in self._free_displays():
            proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    start_new_session=True)
            try:
                if self._wait_for_socket(proc, n):
                    _xvfb_children[proc.pid] = proc
                    return f":{n}", proc.pid
            except BaseException:
                proc.kill()
                proc.wait()
                raise
            # Another server took the display first: try the next one.
        raise SystemExit("winharness: no free X display")

    @staticmethod
    def _wait_for_socket(proc, n):
        for _ in range(200):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                return True
            if proc.poll() is not None:
                return False
            time.sleep(0.05)
        raise SystemExit("winharness: Xvfb did not open its display")

    def _stop_xvfb(self, pid):
        if not self._is_our_xvfb(pid):
            return
        with contextlib.suppress(OSError):
            os.kill(pid, signal.SIGTERM)
        if not wait_gone(pid, 5):
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGKILL)
            wait_gone(pid, 5)
        child = _xvfb_children.pop(pid, None)
        if child:
            child.wait()

    def _start_wineserver(self):
        # The server outlives this process: it must not hold the caller's
        # output pipes, or ctest would wait for it.
        subprocess.run(["wineserver", "-p"], env=self.env(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _stop_wineserver(self):
        """Ends every process of the prefix and its wineserver, and waits for them."""
        env = self.env()
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _bring_up(self, owner):
        """Starts what the prefix needs; call with the lock held."""
        state = {"owner": owner}
        if os.environ.get("DISPLAY"):
            state["display"] = os.environ["DISPLAY"]
        else:
            state["display"], state["xvfb_pid"] = self._start_xvfb()
        self._write_state(state)
        try:
            self._ensure_prefix_locked()
            # A wineserver that already runs (someone's own wine in this prefix)
            # is used as it is and left to end by itself.
            if owner == "start" or not self.prefix_processes():
                self._start_wineserver()
                state["wineserver"] = True
                self._write_state(state)
        except BaseException:
            self._tear_down(state)
            raise

    def _tear_down(self, state, kill_wineserver=None):
        """Stops what a state names and forgets it; call with the lock held."""
        if kill_wineserver is None:
            kill_wineserver = state.get("wineserver")
        if kill_wineserver:
            self._stop_wineserver()
        if state.get("xvfb_pid"):
            self._stop_xvfb(state["xvfb_pid"])
        with contextlib.suppress(OSError):
            os.remove(self.state_file)

    def start(self):
        """For a test run: a fresh X server and wineserver, until stop()."""
        with self._lock():
            self._tear_down(self._state(), kill_wineserver=True)
            self._bring_up("start")

    def stop(self):
        with self._lock():
            self._tear_down(self._state(), kill_wineserver=True)

    @contextlib.contextmanager
    def session(self):
        """The prefix, an X server and a wineserver for the length of the block.

        What already runs (a test run's start, another session of this build,
        the user's display) is used and left alone; what the session starts is
        stopped when the last session of this build that uses it ends, also
        after Ctrl+C, SIGTERM, SIGHUP or an exception."""
        users = self._join()
        try:
            with ending_signals_raise():
                yield self
        finally:
            self._leave(users)

    def ensure_started(self):
        """A session for the rest of this process, for test and benchmark scripts."""
        if self._users is None:
            self._users = self._join()
            atexit.register(self._leave, self._users)
            if _in_main_thread():
                for s in ENDING_SIGNALS:
                    signal.signal(s, _exit_on_signal)

    # Every session holds a shared lock on wine/users while it runs: the one
    # that can turn it into an exclusive lock when it ends is the last.
    def _join(self):
        users = open(os.path.join(self.wine_dir, "users"), "w")
        try:
            with self._lock():
                fcntl.flock(users, fcntl.LOCK_SH)
                state = self._state()
                if state and not self._is_live(state):
                    self._tear_down(state)
                if self.live_state():
                    self._ensure_prefix_locked()
                else:
                    self._bring_up("session")
        except BaseException:
            users.close()
            raise
        return users

    def _leave(self, users):
        with self._lock():
            try:
                fcntl.flock(users, fcntl.LOCK_EX | fcntl.LOCK_NB)
                last = True
            except BlockingIOError:
                last = False
            # Closed under the lock: a session ending next must not still see
            # this one's shared lock.
            users.close()
            state = self._state()
            if last and state.get("owner") == "session":
                self._tear_down(state)

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
                timed_out = True
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
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


def report_leftovers(h, grace):
    """Waits up to `grace` seconds for this build's Wine and X servers to end;
    returns 1 and lists what still runs or what tests left in the prefix's
    temporary folders, else 0."""
    deadline = time.monotonic() + grace
    while True:
        left = h.leftovers()
        if not left or time.monotonic() > deadline:
            break
        time.sleep(0.2)
    files = h.temp_leftovers()
    if files:
        print(f"winharness: left in the prefix's temporary folders, expected nothing:")
        for path in files:
            print(f"  {path}")
    if not left:
        print(f"winharness: nothing of {h.build_dir} runs any more")
        return 1 if files else 0
    print(f"winharness: still running for {h.build_dir}, expected nothing:")
    for pid in left:
        print(f"  {pid} {process_command(pid)}")
    return 1


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build")
    ap.add_argument("--screenshot")
    ap.add_argument("--timeout", type=float, default=240)
    ap.add_argument("--grace", type=float, default=10, help="leftovers: seconds to wait for processes to end")
    ap.add_argument("command", choices=["start", "stop", "run", "leftovers", "daosim-register", "daosim-unregister"])
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
    if a.command == "leftovers":
        return report_leftovers(h, a.grace)
    if a.command.startswith("daosim-"):
        h.ensure_started()
        return 0 if h.register_daosim(a.command == "daosim-register") else 1
    prog = [p for p in a.program if p != "--"]
    if not prog:
        ap.error("run needs a program")
    try:
        with h.session():
            rc, out, err = h.run(prog[0], prog[1:], timeout=a.timeout)
            sys.stdout.write(out)
            sys.stderr.write(err)
            if a.screenshot:
                h.screenshot(a.screenshot)
    except KeyboardInterrupt:
        print("winharness: interrupted", file=sys.stderr)
        return 130
    return rc


if __name__ == "__main__":
    sys.exit(main())
