"""Runs kbhost.exe (or another console program) under Wine and follows its
output file while it runs, so that a test can act (make the simulator send) when the
host has reached a step. Used by the driver's Wine tests and benchmarks."""
import os
import re
import subprocess
import tempfile
import time
import weakref


def _discard(proc, out, err):
    """What a run made, gone however the run ended: a test that failed while
    waiting never reaches finish()."""
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    out.close()
    err.close()
    if os.path.exists(out.name):
        os.unlink(out.name)


class FollowedRun:
    """A Windows console program under Wine whose output file is followed
    while it runs; `encoding` is that of its output."""

    def __init__(self, harness, exe, args, cwd, encoding="utf-8"):
        name = os.path.splitext(os.path.basename(exe))[0]
        self._out = tempfile.NamedTemporaryFile(prefix=f"{name}-", suffix=".out", delete=False)
        self._err = tempfile.TemporaryFile()
        self._encoding = encoding
        self._name = name
        self.proc = harness.popen(exe, list(args), cwd=cwd, stdin=subprocess.DEVNULL,
                                  stdout=self._out, stderr=self._err)
        self._seen = 0
        self._final = None
        self._discard = weakref.finalize(self, _discard, self.proc, self._out, self._err)

    def lines(self):
        if self._final is not None:
            return self._final
        with open(self._out.name, "rb") as f:
            text = f.read().decode(self._encoding, errors="replace").replace("\r\n", "\n")
        # A line still being written is not a line yet.
        return text[:text.rfind("\n") + 1].splitlines()

    def wait_for(self, pattern, timeout=15):
        """The match (m.string is the whole line) of the first line after the
        last one waited for that matches pattern; raises AssertionError on
        time-out or exit."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while True:
            # Whether it ended is asked before the look, so that the last
            # look of an ended run sees all it wrote.
            ended = time.monotonic() > deadline or self.proc.poll() is not None
            m = self._next_match(regex)
            if m:
                return m
            if ended:
                raise AssertionError(f"{self._name}: no line like {pattern!r}; output:\n" + "\n".join(self.lines()))
            time.sleep(0.005)

    def _next_match(self, regex):
        lines = self.lines()
        for i in range(self._seen, len(lines)):
            m = regex.search(lines[i])
            if m:
                self._seen = i + 1
                return m
        return None

    def finish(self, timeout=30):
        """Waits for the end; returns (exit code, output lines)."""
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            rc = "timed out"
        self._final = self.lines()
        self._discard()
        return rc, self._final



class HostRun(FollowedRun):
    """kbhost.exe with a list of commands."""

    def __init__(self, harness, commands, dll_dir=None):
        win_dir = os.environ.get("TQ_WIN_DIR") or os.path.join(harness.build_dir, "win")
        # The library is found by name in the current folder, as the scale's
        # application finds it beside itself.
        super().__init__(harness, os.path.join(win_dir, "tools", "kbhost.exe"), commands,
                         cwd=dll_dir or os.path.join(win_dir, "bin"))

    def keys(self):
        """(key number, thread, unix ns) of every key line so far."""
        out = []
        for line in self.lines():
            m = re.match(r"key (\d+) (\w+) (\d+)$", line)
            if m:
                out.append((int(m.group(1)), m.group(2), int(m.group(3))))
        return out
