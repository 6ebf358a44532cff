#!/usr/bin/env python3
"""Times qorb12 against GNU as (m68hc11-as -m68hc12) on the same generated
program, in the same run, alternating, several runs each; prints the median
wall times, their ratio and both peak memories (maximum resident set size).

usage: run_bench.py --qorb12 PATH [--lines 200000] [--runs 5] [--listing] [--keep DIR]
       run_bench.py --qorb12 PATH --growth 200000,1000000   (qorb12 alone: time growth)
       run_bench.py --qorb12 PATH --program passes          (forward calls: three passes + final)
       run_bench.py --qorb11 PATH --program passes          (the same against m68hc11-as -m68hc11)
       run_bench.py --qorb12 PATH --program tiny            (a 10-line file: start-up cost)

--listing adds -l -lc -ls to qorb's command line and -al to GNU as's.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run(cmd, cwd):
    """Runs cmd; returns (wall seconds, peak RSS in KiB, CPU seconds).

    The program runs under GNU time: a process forked from this Python
    interpreter would report the interpreter's own memory as its peak (the
    high-water mark survives exec), while GNU time is small."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as tf:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        p = subprocess.run(["/usr/bin/time", "-q", "-f", "%M", "-o", tf.name, *cmd], cwd=cwd,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if p.returncode != 0:
            sys.exit(f"{' '.join(cmd)} failed with status {p.returncode}\n{p.stderr.decode('latin-1')}")
        peak = tf.read().split()[-1]
    # CPU time in microseconds from the kernel (GNU time rounds to 10 ms).
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return elapsed, int(peak), cpu


TINY = ["* a small program: start-up cost", "\torg $4000", "start:", "\tldaa #$12", "\tstaa $0800",
        "\tjsr sub", "\tbra start", "sub:", "\tinca", "\trts"]


def generate(lines, where, args):
    if args.program == "tiny":
        for sub, name, text in (("qorb", "main.asm", TINY),
                                ("gnu", "main.s", [l.replace("* ", "; ").replace("$", "0x") for l in TINY
                                                   if "org" not in l])):
            os.makedirs(os.path.join(where, sub), exist_ok=True)
            with open(os.path.join(where, sub, name), "w") as f:
                f.write("\n".join(text) + "\n")
        return len(TINY)
    if args.program == "passes":
        gen = [os.path.join(HERE, "gen_passes.py"), str(lines), where, "--cpu", args.cpu]
    else:
        gen = [os.path.join(HERE, "gen_program.py"), str(lines), where]
    subprocess.run([sys.executable, *gen], check=True)
    n = 0
    for inc in os.listdir(os.path.join(where, "qorb")):
        with open(os.path.join(where, "qorb", inc)) as f:
            n += sum(1 for _ in f)
    return n


def qorb_cmd(args):
    cmd = [args.qorb, "-nologo"]
    if args.listing:
        cmd += ["-l", "-lc", "-ls"]
    return cmd + ["main.asm"]


def gnu_cmd(args):
    cmd = [args.gnu_as, "-m68" + args.cpu, "-o", "main.o"]
    if args.listing:
        cmd.append("-al=main.lst")
    return cmd + ["main.s"]


def compare(args, work):
    lines = generate(args.lines, work, args)
    q = os.path.join(work, "qorb")
    g = os.path.join(work, "gnu")
    gnu = gnu_cmd(args)
    qt, qm, gt, gm, qc, gc = [], [], [], [], [], []
    for i in range(args.runs):
        # Alternate which program goes first so neither always meets a warm
        # or a cold cache.
        order = [("q", qorb_cmd(args), q), ("g", gnu, g)]
        if i % 2:
            order.reverse()
        for who, cmd, cwd in order:
            t, m, c = run(cmd, cwd)
            (qt if who == "q" else gt).append(t)
            (qm if who == "q" else gm).append(m)
            (qc if who == "q" else gc).append(c)
    qmed, gmed = statistics.median(qt), statistics.median(gt)
    print(f"program {args.program}: {args.lines} requested, {lines} source lines (main file + includes); "
          f"load average {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    print(f"{args.name} {' '.join(qorb_cmd(args)[1:])}: median {qmed:.3f} s  "
          f"(runs {', '.join(f'{t:.3f}' for t in qt)}), peak {max(qm) / 1024:.1f} MiB")
    print(f"{' '.join(gnu[:2])}{' -al' if args.listing else ''}: median {gmed:.3f} s  "
          f"(runs {', '.join(f'{t:.3f}' for t in gt)}), peak {max(gm) / 1024:.1f} MiB")
    print(f"time ratio {args.name} / GNU as: {qmed / gmed:.2f}")
    print(f"memory ratio {args.name} / GNU as: {max(qm) / max(gm):.2f}")
    # On a busy machine the wall time mostly measures waiting for a CPU; the
    # CPU time each program used is the steadier comparison.
    print(f"CPU time (user+sys) median: {args.name} {statistics.median(qc):.3f} s, GNU as {statistics.median(gc):.3f} s, "
          f"ratio {statistics.median(qc) / statistics.median(gc):.2f}")


def growth(args, work):
    sizes = [int(s) for s in args.growth.split(",")]
    medians, cpus = [], []
    for n in sizes:
        d = os.path.join(work, str(n))
        generate(n, d, args)
        runs = [run(qorb_cmd(args), os.path.join(d, "qorb")) for _ in range(args.runs)]
        times = [r[0] for r in runs]
        medians.append(statistics.median(times))
        cpus.append(statistics.median(r[2] for r in runs))
        print(f"{n} lines: median {medians[-1]:.3f} s (runs {', '.join(f'{t:.3f}' for t in times)}), "
              f"CPU {cpus[-1]:.3f} s, peak {max(r[1] for r in runs) / 1024:.1f} MiB")
    for n, t, c in zip(sizes[1:], medians[1:], cpus[1:]):
        print(f"time {n} / {sizes[0]} lines: {t / medians[0]:.2f}, CPU time {c / cpus[0]:.2f} "
              f"(size ratio {n / sizes[0]:.1f})")


def main():
    ap = argparse.ArgumentParser()
    who = ap.add_mutually_exclusive_group(required=True)
    who.add_argument("--qorb12")
    who.add_argument("--qorb11")
    ap.add_argument("--program", choices=("routines", "passes", "tiny"), default="routines",
                    help="routines: gen_program.py (two passes + final); passes: gen_passes.py "
                         "(forward calls, three passes + final); tiny: a 10-line file")
    ap.add_argument("--gnu-as", default="m68hc11-as")
    ap.add_argument("--lines", type=int, default=200000)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--listing", action="store_true")
    ap.add_argument("--growth")
    ap.add_argument("--keep", help="generate into this directory and keep it")
    args = ap.parse_args()
    args.cpu = "hc12" if args.qorb12 else "hc11"
    args.name = "qorb12" if args.qorb12 else "qorb11"
    args.qorb = os.path.abspath(args.qorb12 or args.qorb11)
    if args.cpu == "hc11" and args.program == "routines":
        ap.error("the routines program is 68HC12 code; use --program passes or tiny with --qorb11")
    work = args.keep or tempfile.mkdtemp(prefix="qorb-bench-")
    try:
        if args.growth:
            growth(args, work)
        else:
            compare(args, work)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
