"""Helpers shared by the simulator's Python tests: S-record writing and
running qorbsim with a time limit."""

import os
import subprocess
import tempfile


def record(kind, address, data=b""):
    """One S-record line of type `kind` (1, 2, 3, 7, 8, 9)."""
    width = {0: 2, 1: 2, 2: 3, 3: 4, 5: 2, 7: 4, 8: 3, 9: 2}[kind]
    body = address.to_bytes(width, "big") + bytes(data)
    count = len(body) + 1
    checksum = (~(count + sum(body))) & 0xFF
    return "S%d%02X%s%02X" % (kind, count, body.hex().upper(), checksum)


def srec(chunks, start=None, kind=1):
    """S-record text for {address: bytes}; `start` gives an S9 record."""
    lines = []
    for address, data in sorted(chunks.items()):
        data = bytes(data)
        for i in range(0, len(data), 16):
            lines.append(record(kind, address + i, data[i:i + 16]))
    lines.append(record({1: 9, 2: 8, 3: 7}[kind], start or 0))
    return "\n".join(lines) + "\n"


class Runner:
    """Runs qorbsim in a private folder."""

    def __init__(self, qorbsim):
        self.qorbsim = qorbsim
        self.dir = tempfile.mkdtemp(prefix="qorbsim-test-")

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        mode = "wb" if isinstance(text, (bytes, bytearray)) else "w"
        with open(path, mode) as f:
            f.write(text)
        return path

    def run(self, *args, timeout=20):
        p = subprocess.run([self.qorbsim, *args], cwd=self.dir, capture_output=True, text=True,
                           timeout=timeout)
        return p.returncode, p.stdout, p.stderr

    def program(self, cpu, code, origin=0x1000, extra=(), chunks=None, start=None):
        """Loads `code` at `origin` (plus other chunks) and runs it with --regs."""
        allchunks = {origin: code}
        allchunks.update(chunks or {})
        path = self.write("prog.s19", srec(allchunks, start))
        return self.run("-m68hc12" if cpu == 12 else "-m68hc11", "--regs", *extra, path)


def regs(stdout):
    """The --regs line as a dict of integers."""
    line = stdout.splitlines()[0]
    out = {}
    for field in line.split():
        name, value = field.split("=")
        out[name] = int(value, 10 if name == "CYCLES" else 16)
    return out
