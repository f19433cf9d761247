"""Python side of uidriver.exe: one command out, one answer line back.

    ui = UiDriver(harness)            # starts uidriver.exe in the harness's prefix
    ui.start(exe, cwd=folder)
    main = ui.window("TQScaleDBViewer v.*")
    fields = ui.call("lv-row", main, 1000, 0)
    ui.close_driver()
"""
import os
import select
import subprocess
import time


class UiError(Exception):
    pass


def _quote(word):
    word = str(word)
    return '"' + word.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _unescape(field):
    out, i = [], 0
    while i < len(field):
        c = field[i]
        if c == "\\" and i + 1 < len(field):
            i += 1
            c = {"t": "\t", "n": "\n", "r": "\r"}.get(field[i], field[i])
        out.append(c)
        i += 1
    return "".join(out)


class UiDriver:
    def __init__(self, harness, exe=None, log=None):
        win_dir = os.environ.get("TQ_WIN_DIR") or os.path.join(harness.build_dir, "win")
        self.exe = exe or os.path.join(win_dir, "tools", "uidriver.exe")
        self.log = log
        # Answers are read line by line while the driver runs; its pipes are
        # never waited on for their end, since Wine's helpers may inherit them.
        self.proc = harness.popen(self.exe, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        self._buffer = b""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close_driver()

    def _readline(self, timeout):
        deadline = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise UiError("uidriver did not answer")
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 65536)
                if not chunk:
                    raise UiError("uidriver ended")
                self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode("utf-8", errors="replace").rstrip("\r")

    def call(self, *words, timeout=60):
        line = " ".join(_quote(w) for w in words)
        if self.log:
            self.log(">> " + line)
        self.proc.stdin.write((line + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        answer = self._readline(timeout)
        if self.log:
            self.log("<< " + answer)
        fields = [_unescape(f) for f in answer.split("\t")]
        if fields[0] != "ok":
            raise UiError(f"{words[0]}: {' '.join(fields[1:])}")
        return fields[1:]

    # --- the commands that journeys use most -----------------------------
    def start(self, exe, cwd="-", args=()):
        return int(self.call("start", exe, cwd, *args)[0])

    def window(self, pattern, timeout_ms=15000):
        return self.call("window", pattern, timeout_ms)[0]

    def box(self, pattern, timeout_ms=10000):
        hwnd, text = self.call("box", pattern, timeout_ms)
        return hwnd, text

    def click(self, hwnd, control_id):
        self.call("click", hwnd, control_id)

    def text(self, hwnd, control_id="-"):
        fields = self.call("text", hwnd, control_id)
        return fields[0] if fields else ""

    def state(self, hwnd, control_id):
        visible, enabled = self.call("state", hwnd, control_id)
        return visible == "1", enabled == "1"

    def gone(self, hwnd, timeout_ms=10000):
        self.call("gone", hwnd, timeout_ms)

    def list_columns(self, hwnd, control_id):
        f = self.call("lv-columns", hwnd, control_id)
        return [(int(f[i]), f[i + 1]) for i in range(0, len(f) - 1, 2)] if f and f != [""] else []

    def list_count(self, hwnd, control_id):
        count, selected = self.call("lv-count", hwnd, control_id)
        return int(count), int(selected)

    def list_row(self, hwnd, control_id, row):
        return self.call("lv-row", hwnd, control_id, row)

    def close_driver(self):
        if self.proc.poll() is None:
            try:
                self.call("quit", timeout=5)
            except (UiError, OSError):
                pass
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for f in (self.proc.stdin, self.proc.stdout):
            try:
                f.close()
            except OSError:
                pass
