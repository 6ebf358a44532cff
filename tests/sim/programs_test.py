"""Five small programs per CPU (tests/sim/programs), assembled with the real
assemblers and run by qorbsim; the results were worked out by hand:

  bcd       54321, 65535, 0 as five digits each: 05 04 03 02 01 | 06 05 05 03 05 |
            00 00 00 00 00, then packed: 05 43 21 | 06 55 35 | 00 00 00
  mul       $1234 * $5678 = 4660 * 22136 = 103153760 = $06260060;
            $FFFF * $FFFF = $FFFE0001 (CPU12: again with EMUL)
  sort      16 bytes ascending: 00 01 05 0A 10 20 35 35 42 66 7F 80 99 C3 F0 FF
  checksum  1 + ... + 32 = 528 = $0210; 1 ^ ... ^ 31 = 0, ^ 32 = $20;
            the 8-bit sum $10, complemented $EF. Cycles: CPU12 8 + 32 * 17
            + 13 + 5 = 570; 68HC11 18 + 32 * 24 + 20 + 14 = 820
  isqrt     65535 -> 255 (255^2 = 65025, 256^2 = 65536), 10000 -> 100, 2 -> 1,
            0 -> 0, 50000 -> 223 (223^2 = 49729, 224^2 = 50176)

usage: programs_test.py --asm DIR_WITH_QORB12_QORB11 --qorbsim QORBSIM
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

BCD = "05 04 03 02 01 06 05 05 03 05 00 00 00 00 00 05 43 21 06 55 35 00 00 00"
EXPECTED = {
    "bcd": {12: BCD, 11: BCD},
    "mul": {12: "06 26 00 60 06 26 00 60 FF FE 00 01 FF FE 00 01", 11: "06 26 00 60 FF FE 00 01"},
    "sort": {12: "00 01 05 0A 10 20 35 35 42 66 7F 80 99 C3 F0 FF",
             11: "00 01 05 0A 10 20 35 35 42 66 7F 80 99 C3 F0 FF"},
    "checksum": {12: "02 10 20 EF", 11: "02 10 20 EF"},
    "isqrt": {12: "00 FF 00 64 00 01 00 00 00 DF", 11: "00 FF 00 64 00 01 00 00 00 DF"},
}
CYCLES = {("checksum", 12): 570, ("checksum", 11): 820}
# CPU12 programs end with BGND (6), the 68HC11 ones with WAI while I and X
# are set (5).
STATUS = {12: 6, 11: 5}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--asm", required=True)
    ap.add_argument("--qorbsim", required=True)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="qorbsim-programs-")
    failures = []
    for name, per_cpu in EXPECTED.items():
        for cpu, expected in per_cpu.items():
            src = os.path.join(work, "%s%d.s" % (name, cpu))
            shutil.copy(os.path.join(HERE, "programs", "%s%d.s" % (name, cpu)), src)
            asm = os.path.join(os.path.abspath(args.asm), "qorb12" if cpu == 12 else "qorb11")
            p = subprocess.run([asm, src], cwd=work, capture_output=True, text=True, timeout=60)
            if "0 error(s)" not in p.stdout:
                failures.append("%s%d: assembly failed\n%s" % (name, cpu, p.stdout))
                continue
            want = bytes.fromhex(expected.replace(" ", ""))
            p = subprocess.run([os.path.abspath(args.qorbsim), "-m68hc12" if cpu == 12 else "-m68hc11",
                                "--regs", "--max-cycles", "1000000", "--dump", "0x2000:%d" % len(want),
                                src[:-2] + ".s19"], capture_output=True, text=True, timeout=60)
            got = bytearray()
            for line in p.stdout.splitlines()[1:]:
                got += bytes(int(v, 16) for v in line.split()[1:])
            if p.returncode != STATUS[cpu]:
                failures.append("%s%d: exit %d, expected %d\n%s%s" % (name, cpu, p.returncode, STATUS[cpu],
                                                                     p.stdout, p.stderr))
            elif bytes(got) != want:
                failures.append("%s%d: memory %s, expected %s" % (name, cpu, got.hex(" ").upper(), expected))
            cycles = CYCLES.get((name, cpu))
            if cycles and ("CYCLES=%d" % cycles) not in p.stdout:
                failures.append("%s%d: expected %d cycles: %s" % (name, cpu, cycles, p.stdout.splitlines()[0]))
            print("%-8s CPU%-2d %s" % (name, cpu, "ok" if not failures or not failures[-1].startswith(name) else "FAILED"))
    for f in failures:
        print(f)
    shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
