#!/usr/bin/env python3
"""Writes a large program that needs three ordinary passes before the final
one, twice with the same instruction stream: in the syntax of qorb12/qorb11
and in the syntax GNU as (m68hc11-as -m68hc12 / -m68hc11) accepts.

Routines of about 22 lines: a global label every few lines, local labels with
backward and forward branches, equates, a data table per routine, and `jsr`s
to routines further down. A forward `jsr` meets an unknown name in the first
pass and is assembled direct (two bytes); in the second pass the name is
known to lie above the direct page, the `jsr` grows to extended (three
bytes) and every later label moves, so a third pass must confirm the new
values before the final pass writes the object.

usage: gen_passes.py <lines> <output dir> [--cpu hc12|hc11]
  writes <dir>/qorb/main.asm (+ defs.inc) and <dir>/gnu/main.s (+ defs.inc)
"""

import os
import random
import sys

from gen_program import Writer, write

VARS = 32   # RAM variables at $0800.. (above the direct page)
CONSTS = 16
SEGMENT = 700  # routines of about 50 bytes: $4000 + 35 KB


def defs(gnu):
    w = Writer(gnu)
    w.comment("Variables and constants")
    for i in range(VARS):
        v = w.hex(0x0800 + 2 * i)
        w.lines.append(f"VAR{i} = {v}" if gnu else f"VAR{i}\tequ\t{v}")
    for i in range(CONSTS):
        v = w.hex((i * 0x1357 + 0x21) & 0xFFFF)
        w.lines.append(f"K{i} = {v}" if gnu else f"K{i}\tequ\t{v}")
    return w.lines


def block(w, n, rnd, total, hc12):
    v = lambda: f"VAR{rnd.randrange(VARS)}"
    k = lambda: f"K{rnd.randrange(CONSTS)}"
    h = w.hex
    w.label(f"rt{n}")
    w.op(f"ldaa #{h(rnd.randrange(256))}", "set up")
    w.op(f"staa {v()}")
    ahead = n + rnd.randrange(1, 6)
    w.op(f"jsr rt{ahead if ahead < total else n}", "forward call")
    w.op(f"ldx #tb{n}")
    w.local(1)
    w.op("ldab 0,x")
    w.op("inx")
    w.op("decb", "count down")
    w.op(f"bne {w.ref_back(1)}")
    w.op(f"beq {w.ref_fwd(2)}")
    w.op(f"ldd {k()}")
    w.op(f"addd #{k()}")
    w.op(f"std {rnd.randrange(16)},x")
    if hc12:
        w.op(f"movb #{h(rnd.randrange(256))},{v()}")
    else:
        w.op(f"ldaa {v()}")
    if n >= 3:
        w.op(f"jsr rt{n - rnd.randrange(1, 3)}", "back call")
    else:
        w.op("nop")
    w.local(2)
    w.op(f"oraa #{h(1 << rnd.randrange(8))}")
    w.lines.append(f"sz{n} = {rnd.randrange(4, 40)}" if w.gnu else f"sz{n}\tequ\t{rnd.randrange(4, 40)}")
    w.op(f"ldab #sz{n}")
    if n + 1 < total:
        # Across a segment start the next routine is out of branch range.
        w.op(f"{'jmp' if (n + 1) % SEGMENT == 0 else 'bra'} rt{n + 1}", "next routine")
    else:
        w.op("rts", "last routine")
    w.label(f"tb{n}")
    w.data_bytes([rnd.randrange(256) for _ in range(6)], text="tab")
    w.data_words([v(), h(rnd.randrange(65536)), f"rt{n}"])
    w.lines.append("")


def program(lines, gnu, hc12):
    rnd = random.Random(28)  # the same stream for both syntaxes
    w = Writer(gnu)
    w.comment(f"Generated benchmark program with forward calls, about {lines} lines")
    w.include("defs.inc")
    if not gnu:
        w.op("org $4000")
    blocks = max(1, lines // 24)
    for n in range(blocks):
        # 16-bit addresses: qorb starts again at $4000 every SEGMENT routines
        # (the object then holds overlapping segments, which is no error);
        # GNU as leaves the addresses to the linker.
        if n and n % SEGMENT == 0 and not gnu:
            w.op("org $4000")
        block(w, n, rnd, blocks, hc12)
    return w.lines


def main():
    args = sys.argv[1:]
    cpu = "hc12"
    if "--cpu" in args:
        i = args.index("--cpu")
        cpu = args[i + 1]
        del args[i:i + 2]
    if len(args) != 2 or cpu not in ("hc11", "hc12"):
        sys.exit(__doc__)
    lines, out = int(args[0]), args[1]
    for gnu, sub, name in ((False, "qorb", "main.asm"), (True, "gnu", "main.s")):
        d = os.path.join(out, sub)
        os.makedirs(d, exist_ok=True)
        write(os.path.join(d, name), program(lines, gnu, cpu == "hc12"))
        write(os.path.join(d, "defs.inc"), defs(gnu))


if __name__ == "__main__":
    main()
