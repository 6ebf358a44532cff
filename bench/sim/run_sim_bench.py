#!/usr/bin/env python3
"""Simulator speed on a tight ALU loop: simulated instructions per second and
peak memory of qorbsim, for the CPU12 and the 68HC11, with GDB's simulator
(the differential test's reference) run on the same bytes as a peer.

  loop (CPU12):   inner: inca; eora #$5A; adda #3; dbne y,inner   (4 instructions)
                  outer: dbne x,outer-loop, K times 65536 inner rounds
  loop (68HC11):  inner: inca; eora #$5A; adda #3; dey; bne inner (5 instructions)
Both end with the opcode both simulators take as the end ($18 $41 / $41).

usage: run_sim_bench.py --qorbsim PATH [--gdbsim PATH] [--outer K] [--runs N]
Needs GNU time (/usr/bin/time); the peer needs binutils-m68hc1x.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "sim"))
from simtest import srec  # noqa: E402

LINK = """MEMORY { ram (rwx) : ORIGIN = 0x1000, LENGTH = 0xE000 }
SECTIONS { .text 0x4000 : { *(.text) } > ram }
ENTRY(_start)
"""


def program(cpu, outer):
    """(bytes at $4000, GNU as source, instructions executed)."""
    if cpu == 12:
        code = bytes([0xCE, outer >> 8, outer & 0xFF,      # ldx #K
                      0xCD, 0x00, 0x00,                    # outer: ldy #0 (65536 rounds)
                      0x42, 0x88, 0x5A, 0x8B, 0x03,        # inner: inca; eora #$5A; adda #3
                      0x04, 0x36, 0xF8,                    # dbne y,inner
                      0x04, 0x35, 0xF2,                    # dbne x,outer
                      0x18, 0x41])
        count = 1 + outer * (1 + 65536 * 4 + 1)
    else:
        code = bytes([0xCE, outer >> 8, outer & 0xFF,      # ldx #K
                      0x18, 0xCE, 0x00, 0x00,              # outer: ldy #0
                      0x4C, 0x88, 0x5A, 0x8B, 0x03,        # inner: inca; eora #$5A; adda #3
                      0x18, 0x09, 0x26, 0xF7,              # dey; bne inner
                      0x09, 0x26, 0xF0,                    # dex; bne outer
                      0x41])
        count = 1 + outer * (1 + 65536 * 5 + 2)
    source = "\t.text\n\t.globl _start\n_start:\n\t.byte " + ",".join("0x%02x" % b for b in code) + "\n"
    return code, source, count


def timed(cmd, cwd):
    """(wall seconds, peak RSS KiB) under GNU time (a fork of this interpreter
    would report the interpreter's own memory high-water mark)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as tf:
        start = time.perf_counter()
        p = subprocess.run(["/usr/bin/time", "-q", "-f", "%M", "-o", tf.name, *cmd], cwd=cwd,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if p.returncode not in (0, 4, 6):  # the end marker: a trap (4) or the reference's exit
            sys.exit("%s failed with status %d\n%s" % (" ".join(cmd), p.returncode, p.stderr.decode("latin-1")))
        elapsed = time.perf_counter() - start
        return elapsed, int(tf.read().split()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qorbsim", required=True)
    ap.add_argument("--gdbsim", default="/var/cache/qorb-gdbsim/bin/m68hc11-run")
    ap.add_argument("--outer", type=int, default=400)
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    args.qorbsim = os.path.abspath(args.qorbsim)
    work = tempfile.mkdtemp(prefix="qorbsim-bench-")
    peer = os.access(args.gdbsim, os.X_OK) and shutil.which("m68hc11-as")
    print("%-7s %14s %10s %10s %12s %10s %8s" % ("cpu", "instructions", "qorbsim s", "M instr/s", "peak memory",
                                                 "peer s", "ratio"))
    for cpu in (12, 11):
        code, source, count = program(cpu, args.outer)
        s19 = os.path.join(work, "loop%d.s19" % cpu)
        with open(s19, "w") as f:
            f.write(srec({0x4000: code}, start=0x4000))
        march = "-m68hc12" if cpu == 12 else "-m68hc11"
        elf = None
        if peer:
            src, obj, elf, ld = (os.path.join(work, n) for n in ("l.s", "l.o", "l%d.elf" % cpu, "link.ld"))
            with open(src, "w") as f:
                f.write(source)
            with open(ld, "w") as f:
                f.write(LINK)
            subprocess.run(["m68hc11-as", march, "-o", obj, src], check=True)
            subprocess.run(["m68hc11-ld", "-m", "m68hc12elf" if cpu == 12 else "m68hc11elf", "-T", ld, "-o", elf, obj],
                           check=True)
        ours, theirs, peak = [], [], 0
        for _ in range(args.runs):
            t, m = timed([args.qorbsim, march, s19], work)
            ours.append(t)
            peak = max(peak, m)
            if elf:
                theirs.append(timed([args.gdbsim, elf], work)[0])
        t = statistics.median(ours)
        line = "%-7s %14d %10.3f %10.1f %9.1f MiB" % ("CPU12" if cpu == 12 else "68HC11", count, t, count / t / 1e6,
                                                      peak / 1024)
        if theirs:
            p = statistics.median(theirs)
            line += " %10.3f %8.3f" % (p, t / p)
        print(line)
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
