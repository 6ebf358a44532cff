#!/usr/bin/env python3
"""A whole course program written for another assembler's habits (templog.asm:
register equates, `loc` scopes with backquote labels, `fcb`/`rmb`/`fcc`,
tables, `end start`) against GNU as on its line-by-line translation
(templog.s, placed by templog.ld).

Checked: qorb12 takes the program without a message; the object has only S1
records and an S9; its bytes and start address are GNU's (srec_cmp, and our
own reading for a message that names the first differing addresses); every
label and equate of the symbol listing has GNU's value (backquote labels are
named differently in the translation and are covered by the bytes).

Usage: gnu_program_test.py --qorb12 P --gas P --ld P --objcopy P --nm P --srec-cmp P
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(cmd, cwd):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=60)
    except subprocess.TimeoutExpired:
        sys.exit(f"FAIL: {' '.join(cmd)} ran longer than 60 s")


def must(cmd, cwd):
    r = run(cmd, cwd)
    if r.returncode != 0:
        sys.exit(f"FAIL: {' '.join(cmd)} exited with {r.returncode}:\n{r.stdout}")
    return r


def read_srec(path):
    """(kinds of records, address -> byte, start address or None)."""
    kinds, image, start = set(), {}, None
    addr_len = {"1": 2, "2": 3, "3": 4, "7": 4, "8": 3, "9": 2}
    with open(path, "rb") as f:
        for text in f.read().decode("ascii").split():
            kind = text[1]
            kinds.add(kind)
            if kind not in addr_len:
                continue
            n = addr_len[kind]
            count = int(text[2:4], 16)
            addr = int(text[4:4 + 2 * n], 16)
            data = bytes.fromhex(text[4 + 2 * n:2 + 2 * count])
            if kind in "123":
                for i, b in enumerate(data):
                    image[addr + i] = b
            else:
                start = addr
    return kinds, image, start


def our_symbols(listing):
    """name -> value from the symbol table of our listing."""
    with open(listing, encoding="latin-1") as f:
        text = f.read()
    if "\nSymbols:\n" not in text:
        sys.exit("FAIL: the listing has no symbol table")
    table = {}
    for line in text.split("\nSymbols:\n", 1)[1].splitlines():
        m = re.match(r"^(\S+)\s+[*?]?([0-9a-fA-F]{8})$", line.strip())
        if m:
            table[m.group(1)] = int(m.group(2), 16)
    return table


def main():
    ap = argparse.ArgumentParser()
    for tool in ("qorb12", "gas", "ld", "objcopy", "nm", "srec-cmp"):
        ap.add_argument("--" + tool, required=True)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="qorb-templog-")
    try:
        for name in ("templog.asm", "templog.s", "templog.ld"):
            shutil.copy(os.path.join(HERE, name), work)

        r = run([args.qorb12, "-nologo", "-l", "-ls", "templog.asm"], work)
        if r.returncode != 0 or r.stdout.strip() != "templog.asm: 0 warning(s), 0 error(s)":
            sys.exit(f"FAIL: qorb12 on templog.asm (exit {r.returncode}):\n{r.stdout}")

        must([args.gas, "-m68hc12", "-o", "templog.o", "templog.s"], work)
        must([args.ld, "-m", "m68hc12elf", "-T", "templog.ld", "-o", "templog.elf", "templog.o"], work)
        must([args.objcopy, "-O", "srec", "templog.elf", "gnu.s19"], work)

        kinds, ours, our_start = read_srec(os.path.join(work, "templog.s19"))
        if kinds != {"0", "1", "9"}:
            sys.exit(f"FAIL: our object holds records S{', S'.join(sorted(kinds))}; expected S0, S1 and S9")
        _, gnu, gnu_start = read_srec(os.path.join(work, "gnu.s19"))
        if len(gnu) < 1000:
            sys.exit(f"FAIL: GNU's image has only {len(gnu)} bytes: the translation lost code")
        diff = sorted(a for a in set(ours) | set(gnu) if ours.get(a) != gnu.get(a))
        if diff:
            shown = ", ".join(f"${a:04X}: ours {ours.get(a, '--')} GNU {gnu.get(a, '--')}" for a in diff[:8])
            sys.exit(f"FAIL: {len(diff)} bytes differ, first {shown}")
        if our_start != gnu_start:
            sys.exit(f"FAIL: start address ours {our_start} GNU {gnu_start}")
        r = run([args.srec_cmp, "templog.s19", "gnu.s19"], work)
        if r.returncode != 0:
            sys.exit(f"FAIL: srec_cmp finds the objects different:\n{r.stdout}")

        gnu_syms = {}
        for line in must([args.nm, "templog.elf"], work).stdout.splitlines():
            parts = line.split()
            if len(parts) == 3:
                gnu_syms[parts[2].lower()] = int(parts[0], 16)
        mine = our_symbols(os.path.join(work, "templog.lst"))
        plain = {n: v for n, v in mine.items() if "`" not in n}
        scoped = len(mine) - len(plain)
        if scoped < 50:
            sys.exit(f"FAIL: only {scoped} backquote labels in the symbol listing")
        wrong = [f"{n}: ours ${v:04X}, GNU {'$%04X' % gnu_syms[n] if n in gnu_syms else 'none'}"
                 for n, v in sorted(plain.items()) if gnu_syms.get(n) != v]
        if wrong:
            sys.exit("FAIL: symbols differ:\n  " + "\n  ".join(wrong))
        print(f"templog: {len(ours)} bytes, start ${our_start:04X}, {len(plain)} symbols and "
              f"{scoped} backquote labels, the same as GNU as")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
