#!/usr/bin/env python3
"""Benchmarks of TQ850KB.dll under Wine, with the keyboard simulator on a pty
and the test host loading the library. Prints its figures; not a test.

    kb_bench.py [latency] [soak] [silent] [noise] [resync]
                [--frames N] [--soak-minutes M] [--silent-seconds S] [--noise-mb MB]
                [--resync-mb MB] [--resync-frames N] [--resync-rate full|line|both]

latency  from the simulator writing a frame's last byte (paced at 4800 bit/s)
         to the host's callback: median, 99th percentile, maximum
soak     frames back to back at the line's full rate (one every 25 ms), the
         five keys in a known sequence: lost, duplicated, out of order
silent   CPU time of the host process per minute on a silent line
noise    random bytes, then valid frames: false keys, and the valid keys
resync   random bytes with valid frames dropped in at random places, written
         at full speed and paced at the line's rate: keys delivered out of
         the frames sent, and false keys (1 MB takes 36 minutes at line rate)
"""
import argparse
import os
import random
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
os.environ.setdefault("TQ_BUILD_DIR", os.path.join(SOURCE, "build"))
os.environ.setdefault("TQ_WIN_DIR", os.path.join(os.environ["TQ_BUILD_DIR"], "win"))
for sub in ("tools/wine", "tools/kbsim", "tools/kbhost"):
    sys.path.insert(0, os.path.join(SOURCE, sub))
from winharness import Harness  # noqa: E402
from kbsim import BYTE_TIME, KEY_CODES, KeyboardSim, key_frame  # noqa: E402
from hostrun import HostRun  # noqa: E402

h = Harness()


def key_sequence(n):
    return [i % 5 + 1 for i in range(n)]


def start_host(port, *commands):
    run = HostRun(h, ["load", "callback", f"start:{port}", *commands, "stop", "unload"])
    m = run.wait_for(r"^start \S+ = (-?\d+)", timeout=30)
    if m.group(1) != str(port):
        raise SystemExit(f"kb_bench: the driver did not connect on COM{port}: {m.string}")
    return run


def finish(run, timeout):
    rc, lines = run.finish(timeout=timeout)
    if rc != 0:
        raise SystemExit(f"kb_bench: kbhost ended with {rc}:\n" + "\n".join(lines[-20:]))


def compare(expected, got):
    """Counts of lost, extra and out-of-order keys between two sequences."""
    import difflib
    lost = extra = 0
    for op, i1, i2, j1, j2 in difflib.SequenceMatcher(None, expected, got, autojunk=False).get_opcodes():
        if op in ("delete", "replace"):
            lost += i2 - i1
        if op in ("insert", "replace"):
            extra += j2 - j1
    return lost, extra


def latency(frames):
    with KeyboardSim(h.prefix, 61) as sim:
        run = start_host(61, f"keys:{frames}:{frames * 200 + 10000}")
        sent = []
        rng = random.Random(1)
        for key in key_sequence(frames):
            sent.append(sim.send(key_frame(KEY_CODES[key]), paced=True))
            time.sleep(rng.uniform(0.02, 0.06))
        finish(run, timeout=60)
    got = run.keys()
    if [k for k, _, _ in got] != key_sequence(frames):
        print(f"latency: keys differ from those sent ({len(got)} of {frames})")
    delays = sorted((cb - s) / 1e6 for s, (_, _, cb) in zip(sent, got))
    p99 = delays[min(len(delays) - 1, int(len(delays) * 0.99))]
    print(f"latency: {len(delays)} paced frames; last byte written -> callback: "
          f"median {statistics.median(delays):.2f} ms, 99th percentile {p99:.2f} ms, "
          f"max {delays[-1]:.2f} ms, min {delays[0]:.2f} ms")


def soak(minutes):
    frames = int(minutes * 60 / (12 * BYTE_TIME))
    expected = key_sequence(frames)
    stream = b"".join(key_frame(KEY_CODES[k]) for k in expected)
    with KeyboardSim(h.prefix, 62) as sim:
        run = start_host(62, f"keys:{frames}:{int(minutes * 60000) + 30000}")
        began = time.monotonic()
        sim.send(stream, paced=True)
        took = time.monotonic() - began
        finish(run, timeout=90)
    got = [k for k, _, _ in run.keys()]
    lost, extra = compare(expected, got)
    print(f"soak: {frames} frames in {took:.1f} s ({frames / took:.1f} frames/s, line limit 40); "
          f"{len(got)} keys: {lost} lost, {extra} duplicated or out of order, "
          f"{'same sequence' if got == expected else 'SEQUENCE DIFFERS'}")


def linux_cpu_ms(pid):
    """User and system time of a Linux process, all its threads, in ms."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) * 1000 / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return float("nan")


def our_wineserver():
    """The pid of the wineserver of this build's prefix, or None."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={h.prefix}".encode() in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            continue
    return None


def silent(seconds):
    server = our_wineserver()
    with KeyboardSim(h.prefix, 63):
        run = start_host(63, "pump:1000", "cpu", f"pump:{seconds * 1000}", "cpu")
        before = float(run.wait_for(r"^cpu ([\d.]+)").group(1))
        linux_before, server_before = linux_cpu_ms(run.proc.pid), linux_cpu_ms(server)
        after = float(run.wait_for(r"^cpu ([\d.]+)", timeout=seconds + 30).group(1))
        linux_after, server_after = linux_cpu_ms(run.proc.pid), linux_cpu_ms(server)
        finish(run, timeout=30)
    per_minute = 60 / seconds
    print(f"silent: {seconds} s of silence; host process CPU {(after - before) * per_minute:.0f} ms per minute "
          f"(GetProcessTimes), {(linux_after - linux_before) * per_minute:.0f} ms per minute (Linux); "
          f"wineserver {(server_after - server_before) * per_minute:.0f} ms per minute")


def noise(megabytes):
    size = int(megabytes * 1024 * 1024)
    rng = random.Random(850)
    junk = bytes(rng.getrandbits(8) for _ in range(size))
    valid = key_sequence(50)
    with KeyboardSim(h.prefix, 64) as sim:
        run = start_host(64, f"keys:100000:{600 * 1000}")
        began = time.monotonic()
        for i in range(0, size, 4096):
            sim.send(junk[i:i + 4096])
        while sim.unread() > 0:
            time.sleep(0.05)
        took = time.monotonic() - began
        false_keys = len(run.keys())
        time.sleep(0.7)  # a ':' near the end of the noise may hold a partial frame
        for k in valid:
            sim.send(key_frame(KEY_CODES[k]), paced=True)
        time.sleep(1.0)
        alive = run.proc.poll() is None
        run.proc.kill()
        run.proc.wait()
    got = [k for k, _, _ in run.keys()]
    tail = got[false_keys:]
    print(f"noise: {size} random bytes read in {took:.1f} s ({size / took / 1024:.0f} KB/s); "
          f"{false_keys} false keys from the noise; "
          f"{len(tail)} of {len(valid)} valid keys after it, {'in order' if tail == valid else 'DIFFERENT'}; "
          f"host {'still running' if alive else 'ENDED'}")


def noise_with_frames(megabytes, frames, seed):
    """Random bytes with `frames` key frames at random places; the line and
    the key numbers in the order sent."""
    rng = random.Random(seed)
    size = int(megabytes * 1024 * 1024)
    junk = bytes(rng.getrandbits(8) for _ in range(size))
    places = sorted(rng.randrange(size + 1) for _ in range(frames))
    keys = [rng.randint(1, 5) for _ in range(frames)]
    parts, last = [], 0
    for at, key in zip(places, keys):
        parts += [junk[last:at], key_frame(KEY_CODES[key])]
        last = at
    parts.append(junk[last:])
    return b"".join(parts), keys


def resync(megabytes, frames, rate):
    line, expected = noise_with_frames(megabytes, frames, seed=520)
    paced = rate == "line"
    port = 65
    with KeyboardSim(h.prefix, port) as sim:
        limit_ms = int((len(line) * BYTE_TIME if paced else 600) * 1000) + 60000
        # More keys than sent: the host reads to the end of the line, a false
        # key included, and is ended once the line is read.
        run = start_host(port, f"keys:{frames * 2}:{limit_ms}")
        began = time.monotonic()
        if paced:
            sim.send(line, paced=True)
        else:
            for i in range(0, len(line), 4096):
                sim.send(line[i:i + 4096])
        while sim.unread() > 0:
            time.sleep(0.05)
        took = time.monotonic() - began
        time.sleep(1.0)
        run.proc.kill()
        run.proc.wait()
    got = [k for k, _, _ in run.keys()]
    lost, extra = compare(expected, got)
    print(f"resync ({rate} speed): {len(line)} bytes with {frames} frames in {took:.1f} s "
          f"({len(line) / took / 1024:.1f} KB/s); keys delivered {frames - lost} of {frames}, "
          f"false keys {extra}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("which", nargs="*", default=["latency", "soak", "silent", "noise"])
    ap.add_argument("--frames", type=int, default=1000)
    ap.add_argument("--soak-minutes", type=float, default=10)
    ap.add_argument("--silent-seconds", type=int, default=60)
    ap.add_argument("--noise-mb", type=float, default=1)
    ap.add_argument("--resync-mb", type=float, default=1)
    ap.add_argument("--resync-frames", type=int, default=1000)
    ap.add_argument("--resync-rate", choices=["full", "line", "both"], default="both")
    a = ap.parse_args()
    with h.session():
        for name in a.which:
            if name == "latency":
                latency(a.frames)
            elif name == "soak":
                soak(a.soak_minutes)
            elif name == "silent":
                silent(a.silent_seconds)
            elif name == "noise":
                noise(a.noise_mb)
            elif name == "resync":
                for rate in (["full", "line"] if a.resync_rate == "both" else [a.resync_rate]):
                    resync(a.resync_mb, a.resync_frames, rate)
                    sys.stdout.flush()
            else:
                raise SystemExit(f"kb_bench: unknown benchmark {name}")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
