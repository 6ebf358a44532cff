#!/usr/bin/env python3
"""A full disk while the object file is written: fatal A1010, exit status 2, and
no partial object file left behind; the listing and the error file report it
the same way. Uses a small tmpfs the test mounts (needs
root, as in CI); elsewhere it says why it cannot run and passes."""

import os
import subprocess
import sys
import tempfile

BIN = os.path.abspath(sys.argv[1])

with tempfile.TemporaryDirectory() as d:
    mnt = os.path.join(d, "full")
    os.mkdir(mnt)
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", mnt], capture_output=True)
    if r.returncode != 0:
        print("skipped: cannot mount a tmpfs here:", r.stderr.decode().strip())
        print("0 passed, 0 failed")
        sys.exit(0)
    try:
        # Fill the file system, leaving a few bytes.
        with open(os.path.join(mnt, "filler"), "wb") as f:
            try:
                f.write(b"\0" * (64 * 1024))
            except OSError:
                pass
        src = os.path.join(d, "big.asm")
        with open(src, "w") as f:
            f.write(" org $1000\n dcb.b 40000,$AA\n")
        obj = os.path.join(mnt, "big.s19")
        p = subprocess.run([os.path.join(BIN, "qorb12"), "-nologo", "-Fo:" + obj, src], capture_output=True)
        out = p.stdout.decode()
        problems = []
        if p.returncode != 2:
            problems.append(f"exit status {p.returncode}")
        if f"Fatal error A1010: I/O error writing file '{obj}': No space left on device" not in out:
            problems.append("no A1010 line: " + out)
        if os.path.exists(obj):
            problems.append("the partial object file is still there")
        # The listing writer reports the same way.
        lst = os.path.join(mnt, "big.lst")
        p = subprocess.run([os.path.join(BIN, "qorb12"), "-nologo", "-Fl:" + lst, "-Fo:" + os.path.join(d, "x.s19"),
                            src], capture_output=True)
        if p.returncode != 2 or "A1010" not in p.stdout.decode():
            problems.append("listing on a full disk: " + p.stdout.decode())
        # The error file: a clean source whose only message is a command-line
        # warning must not end with status 0 when that warning cannot be kept.
        ok = os.path.join(d, "ok.asm")
        with open(ok, "w") as f:
            f.write(" nop\n")
        err = os.path.join(mnt, "err.txt")
        p = subprocess.run([os.path.join(BIN, "qorb12"), "-nologo", "-q", "-Fe:" + err,
                            "-Fo:" + os.path.join(d, "ok.s19"), ok], capture_output=True)
        out = p.stdout.decode()
        if p.returncode != 2:
            problems.append(f"error file on a full disk: exit status {p.returncode}: {out}")
        if f"Fatal error A1010: I/O error writing file '{err}': No space left on device" not in out:
            problems.append("error file on a full disk: no A1010 line: " + out)
        # A clean run with nothing to say empties the error file even there.
        with open(err, "wb"):
            pass
        p = subprocess.run([os.path.join(BIN, "qorb12"), "-nologo", "-Fe:" + err,
                            "-Fo:" + os.path.join(d, "ok.s19"), ok], capture_output=True)
        if p.returncode != 0 or os.path.getsize(err) != 0:
            problems.append(f"clean run, full disk: status {p.returncode}, {p.stdout.decode()}")
    finally:
        subprocess.run(["umount", mnt])
    for pr in problems:
        print("FAIL", pr)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    sys.exit(1 if problems else 0)
