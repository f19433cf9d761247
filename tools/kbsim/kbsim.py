#!/usr/bin/env python3
"""A keyboard of our own on a pseudo-terminal that a Wine prefix sees as COMn.

It answers the driver's handshake request "1" (or stays silent), and sends
key, idle, foreign, broken and noisy frames when told to, either at once or
paced like the real line (4800 bit/s, 10 bits a byte: a 12-byte frame takes
25 ms).

    sim = KeyboardSim(prefix, 21)          # maps $WINEPREFIX/dosdevices/com21
    sim.send(key_frame("3C"))
    sim.close()

Bytes that the driver writes are kept in sim.received. For the serial
exchange's own tests the simulator also obeys two requests: "#n" (n a digit)
answers n bytes "x", and "!" unplugs the port (removes the COM link).

Command line, for trying the driver by hand:
    kbsim.py --prefix P --port 21 [--silent] [--keys 3C,3D,...] [--every 0.5] [--bad-crc 0.1]
"""
import argparse
import fcntl
import os
import pty
import random
import select
import struct
import termios
import threading
import time
import tty

BYTE_TIME = 10 / 4800
HANDSHAKE_REPLY = b":A31000000\r\n"
KEY_CODES = {1: b"3C", 2: b"3D", 3: b"35", 4: b"3A", 5: b"41"}


def crc16_kermit(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def key_frame(code, frame_type=b"K", extra=b"00", tail=b"\r\n", crc=None, lower=False):
    """A 12-byte frame; crc overrides the digits, lower writes them in lower case."""
    code = code.encode() if isinstance(code, str) else code
    head = b":" + frame_type + code + extra
    digits = crc if crc is not None else b"%04X" % crc16_kermit(head)
    if lower:
        digits = digits.lower()
    return head + digits + tail


class KeyboardSim:
    def __init__(self, prefix, port, answer=True, reply=HANDSHAKE_REPLY):
        self.prefix = prefix
        self.port = port
        self.answer = answer
        self.reply = reply
        self.received = bytearray()
        self.handshakes = 0
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        # Keeping the slave open here keeps the line up while the driver
        # closes and re-opens its end.
        self.slave_path = os.ttyname(self.slave)
        self.link = os.path.join(prefix, "dosdevices", f"com{port}")
        self.plug()
        self._lock = threading.Lock()
        self._running = True
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    # --- the COM link ----------------------------------------------------
    def plug(self):
        self._remove_link()
        os.symlink(self.slave_path, self.link)

    def unplug(self):
        self._remove_link()

    def _remove_link(self):
        if os.path.islink(self.link) or os.path.exists(self.link):
            if os.path.isdir(self.link) and not os.path.islink(self.link):
                os.rmdir(self.link)
            else:
                os.remove(self.link)

    # --- the line ----------------------------------------------------------
    def send(self, data, paced=False):
        """Writes data; returns time.time_ns() right after the last byte."""
        with self._lock:
            if not paced:
                os.write(self.master, data)
                return time.time_ns()
            start = time.perf_counter()
            for i in range(len(data)):
                delay = start + (i + 1) * BYTE_TIME - time.perf_counter()
                if delay > 0:
                    time.sleep(delay)
                os.write(self.master, data[i:i + 1])
            return time.time_ns()

    def unread(self):
        """Bytes written to the line that the driver has not read yet."""
        return struct.unpack("i", fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0"))[0]

    def _serve(self):
        pending = b""
        while self._running:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            try:
                data = os.read(self.master, 1024)
            except OSError:
                time.sleep(0.01)
                continue
            self.received += data
            pending += data
            while pending:
                pending = self._request(pending)
                if pending is None:
                    pending = b""
                    break

    def _request(self, data):
        """Acts on the first request in data; returns what is left (or None to wait for more)."""
        first = data[:1]
        if first == b"1":
            self.handshakes += 1
            if self.answer:
                self.send(self.reply)
            return data[1:]
        if first == b"#":
            if len(data) < 2:
                return None
            self.send(b"x" * int(data[1:2]))
            return data[2:]
        if first == b"!":
            self.unplug()
            return data[1:]
        return data[1:]

    def close(self):
        self._running = False
        self._thread.join()
        self._remove_link()
        os.close(self.master)
        os.close(self.slave)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def map_held_port(prefix, port):
    """Makes COMn look held by another program: opening a directory fails with
    access denied, as a port in use does on Windows (Wine itself lets a second
    program open a port)."""
    link = os.path.join(prefix, "dosdevices", f"com{port}")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink("/tmp", link)
    return link


def main():
    ap = argparse.ArgumentParser(description="Keyboard simulator on a pty")
    ap.add_argument("--prefix", required=True, help="the Wine prefix")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--silent", action="store_true", help="do not answer the handshake")
    ap.add_argument("--keys", default="3C,3D,35,3A,41", help="key codes to send in turn")
    ap.add_argument("--every", type=float, default=1.0, help="seconds between keys")
    ap.add_argument("--bad-crc", type=float, default=0.0, help="share of frames sent with wrong CRC digits")
    a = ap.parse_args()
    with KeyboardSim(a.prefix, a.port, answer=not a.silent) as sim:
        print(f"kbsim: COM{a.port} -> {sim.slave_path}; Ctrl-C ends")
        codes = a.keys.split(",")
        try:
            i = 0
            while True:
                time.sleep(a.every)
                bad = random.random() < a.bad_crc
                sim.send(key_frame(codes[i % len(codes)], crc=b"0000" if bad else None), paced=True)
                i += 1
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
