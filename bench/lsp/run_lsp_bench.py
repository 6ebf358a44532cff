#!/usr/bin/env python3
"""The language server's speed and size:

- latency: a 10,000-line program (bench/gen_program.py) is open; each edit
  (one that adds an error, then one that removes it) is timed from the
  change to the diagnostics it brings, and the debounce interval (150 ms)
  is taken off: what remains is the assembly and the answer;
- memory: a workspace of 100,000 lines (ten such programs) is opened and
  indexed (workspace symbols assemble every program), then the server's
  peak resident memory (VmHWM) is read.

The peer, run in the same invocation on the same program: the command-line
assembler (qorb12 beside qorbls), whose wall time per run is the least the
server can take.

usage: run_lsp_bench.py --qorbls build/lsp/qorbls [--qorb12 build/asm/qorb12] [--runs 21]"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "lsp"))
from lspclient import Client  # noqa: E402

DEBOUNCE = 0.150


def generate(lines, into):
    subprocess.run([sys.executable, os.path.join(HERE, "..", "gen_program.py"), str(lines), into],
                   check=True, capture_output=True)
    return os.path.join(into, "qorb", "main.asm")


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peer(qorb12, main, runs):
    times = []
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run([qorb12, os.path.basename(main)], cwd=os.path.dirname(main), capture_output=True)
        times.append(time.monotonic() - start)
    return statistics.median(times)


def latency(server, runs, qorb12):
    root = tempfile.mkdtemp(prefix="qorbls-bench-")
    try:
        main = generate(10000, root)
        text = open(main).read()
        lines = text.split("\n")
        broken = list(lines)
        broken[5000] = broken[5000] + " nosuchsymbol+"
        broken = "\n".join(broken)
        c = Client(server, root, timeout=60)
        c.initialize()
        before = c.open(main, text)
        first = c.wait_diagnostics(main, before)
        times, cpu, version = [], [], 1
        for i in range(runs):
            version += 1
            new = broken if i % 2 == 0 else text
            start, used = time.monotonic(), cpu_seconds(c.proc.pid)
            before = c.change(main, new, version)
            d = c.wait_diagnostics(main, before)
            times.append(time.monotonic() - start - DEBOUNCE)
            cpu.append(cpu_seconds(c.proc.pid) - used)
            assert (len(d) > 0) == (i % 2 == 0), d
        c.shutdown()
        c.close()
        with open(main, "w") as f:
            f.write(text)
        return len(lines), len(first), times, cpu, peer(qorb12, main, runs)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def memory(server):
    root = tempfile.mkdtemp(prefix="qorbls-bench-ws-")
    try:
        total = 0
        mains = []
        for i in range(10):
            mains.append(generate(10000, os.path.join(root, "prog%d" % i)))
            shutil.rmtree(os.path.join(root, "prog%d" % i, "gnu"))
        for dirpath, _, files in os.walk(root):
            for f in files:
                total += sum(1 for _ in open(os.path.join(dirpath, f)))
        c = Client(server, root, timeout=300)
        c.initialize()
        before = c.open(mains[0])
        c.wait_diagnostics(mains[0], before)
        start = time.monotonic()
        symbols = c.request("workspace/symbol", {"query": "r"})
        index_time = time.monotonic() - start
        peak = peak_kib(c.proc.pid)
        c.shutdown()
        c.close()
        return total, len(symbols), index_time, peak
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qorbls", required=True)
    ap.add_argument("--qorb12")
    ap.add_argument("--runs", type=int, default=21)
    a = ap.parse_args()
    server = os.path.abspath(a.qorbls)
    qorb12 = os.path.abspath(a.qorb12 or os.path.join(os.path.dirname(server), "..", "asm", "qorb12"))
    n, first, times, cpu, peer_time = latency(server, a.runs, qorb12)
    print("latency: %d-line file, %d edits: median %.1f ms, max %.1f ms after the %d ms debounce (goal 50 ms); "
          "server CPU time per edit: median %.1f ms (load average %.1f)"
          % (n, len(times), statistics.median(times) * 1000, max(times) * 1000, DEBOUNCE * 1000,
             statistics.median(cpu) * 1000, os.getloadavg()[0]))
    print("peer: qorb12 on the same file, median wall time %.1f ms; server latency / qorb12 = %.2f"
          % (peer_time * 1000, statistics.median(times) / peer_time))
    total, nsym, index_time, peak = memory(server)
    print("memory: workspace of %d lines (10 programs), indexed in %.2f s, %d symbols found; "
          "peak resident %.1f MiB (goal 100 MB)" % (total, index_time, nsym, peak / 1024))


if __name__ == "__main__":
    main()
