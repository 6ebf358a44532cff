#!/usr/bin/env python3
"""Times qorb12 on the 72-byte runaway source: a circular equ keeps every pass
unresolved while a rept 3000 nested in a rept 3000 runs nine million lines per
pass. Prints the median wall and CPU time, the exit status and the last
message line, with the default pass limit and with -Amax:100.

usage: run_runaway.py --qorb12 PATH [--runs 3]
"""

import argparse
import os
import resource
import statistics
import subprocess
import tempfile
import time

SOURCE = "top equ bot\nbot equ top\n rept 3000\n rept 3000\n nop\n endr\n endr\n jmp top\n"


def run(cmd, cwd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    p = subprocess.run(cmd, cwd=cwd, capture_output=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    lines = [l for l in p.stdout.decode("latin-1").splitlines() if "rror" in l]
    return wall, cpu, p.returncode, lines[-1] if lines else ""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qorb12", required=True)
    ap.add_argument("--runs", type=int, default=3)
    a = ap.parse_args()
    assert len(SOURCE) == 72
    qorb12 = os.path.abspath(a.qorb12)
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "run.asm"), "w") as f:
            f.write(SOURCE)
        for extra in ([], ["-Amax:100"]):
            walls, cpus = [], []
            for _ in range(a.runs):
                wall, cpu, status, last = run([qorb12, "-nologo", *extra, "run.asm"], d)
                walls.append(wall)
                cpus.append(cpu)
            print(f"qorb12 {' '.join(extra + ['run.asm']):22} wall {statistics.median(walls):7.2f} s  "
                  f"CPU {statistics.median(cpus):7.2f} s  exit {status}  {last}")


if __name__ == "__main__":
    main()
