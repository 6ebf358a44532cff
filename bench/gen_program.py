#!/usr/bin/env python3
"""Writes a large, realistic 68HC12 program twice: once in qorb12's syntax and
once in the syntax GNU as (m68hc11-as -m68hc12) accepts, with the same
instruction stream.

The program is made of blocks of about 25 lines: a global label, local labels
with backward and forward branches, branches to neighbouring global labels,
long branches further back, macro calls, data directives and comments. A
definitions file (register names, macros) is included at the top and a small
data file is included every few hundred lines.

usage: gen_program.py <lines> <output dir>
  writes <dir>/qorb/main.asm (+ defs.inc, table.inc) and <dir>/gnu/main.s (+ defs.inc, table.inc)
"""

import os
import random
import sys

VARS = 24  # RAM variables at $0800.. (above the direct page on both assemblers)


class Writer:
    def __init__(self, gnu):
        self.gnu = gnu
        self.lines = []

    def hex(self, v):
        return f"0x{v:x}" if self.gnu else f"${v:X}"

    def label(self, name):
        self.lines.append(f"{name}:")

    def local(self, n):
        # qorb12 scopes N$ labels between global labels; GNU as has N: with Nb/Nf.
        self.lines.append(f"{n}:" if self.gnu else f"{n}$")

    def ref_back(self, n):
        return f"{n}b" if self.gnu else f"{n}$"

    def ref_fwd(self, n):
        return f"{n}f" if self.gnu else f"{n}$"

    def op(self, text, comment=None):
        line = "\t" + text
        if comment:
            line += "\t; " + comment
        self.lines.append(line)

    def data_bytes(self, values, text=None):
        items = ",".join(self.hex(v) for v in values)
        if self.gnu:
            self.op(f".byte {items}")
            if text:
                self.op(f'.ascii "{text}"')
        else:
            self.op(f'dc.b {items},"{text}"' if text else f"dc.b {items}")

    def data_words(self, values):
        items = ",".join(values)
        self.op(f".word {items}" if self.gnu else f"dc.w {items}")

    def include(self, name):
        self.op(f'.include "{name}"' if self.gnu else f'include "{name}"')

    def comment(self, text):
        self.lines.append(("; " if self.gnu else "* ") + text)


def defs(gnu):
    w = Writer(gnu)
    w.comment("Register and variable names, macros")
    for i in range(VARS):
        v = w.hex(0x0800 + 2 * i)
        w.lines.append(f"VAR{i} = {v}" if gnu else f"VAR{i}\tequ\t{v}")
    w.lines.append(f"PORTA = {w.hex(0x0000 + 0x100)}" if gnu else "PORTA\tequ\t$0100")
    # Two macros: a copy of one variable to another, and a counted wait loop
    # with a label unique to each expansion.
    if gnu:
        w.lines += ["\t.macro copyvar from,to", "\tldaa \\from", "\tstaa \\to", "\t.endm",
                    "\t.macro waitloop count", "\tldab #\\count", "1:\tdecb", "\tbne 1b", "\t.endm"]
    else:
        w.lines += ["copyvar\tmacro", "\tldaa \\1", "\tstaa \\2", "\tendm",
                    "waitloop\tmacro", "\tldab #\\1", "w\\@\tdecb", "\tbne w\\@", "\tendm"]
    return w.lines


def table(gnu):
    w = Writer(gnu)
    w.comment("Segment patterns")
    for i in range(6):
        w.data_bytes([(i * 37 + k * 11) & 0xFF for k in range(8)])
    w.data_words([w.hex(0x1000 + i * 0x111) for i in range(4)])
    return w.lines


def block(w, n, rnd, total_blocks):
    """One routine of about 25 lines."""
    v = lambda: f"VAR{rnd.randrange(VARS)}"
    h = w.hex
    w.label(f"rt{n}")
    w.op(f"ldaa #{h(rnd.randrange(256))}", "set up")
    w.op(f"staa {v()}")
    w.op(f"ldx #{h(0x0800 + rnd.randrange(64))}")
    w.local(1)
    w.op("ldab 0,x")
    w.op("inx")
    w.op("decb", "count down")
    w.op(f"bne {w.ref_back(1)}")
    w.op(f"beq {w.ref_fwd(2)}")
    w.op(f"ldd {rnd.randrange(16)},x")
    w.op(f"std {rnd.randrange(16)},y")
    w.op(f"movb #{h(rnd.randrange(256))},{v()}")
    w.op(f"copyvar {v()},{v()}")
    w.op("leax 2,x")
    w.op(f"brset {v()},#{h(1 << rnd.randrange(8))},{w.ref_back(1)}")
    w.local(2)
    w.op(f"bset {v()},#{h(1 << rnd.randrange(8))}")
    w.op(f"addd #{h(rnd.randrange(65536))}")
    if n + 1 < total_blocks:
        w.op(f"bra rt{n + 1}", "next routine")
    else:
        w.op("nop", "last routine")
    w.op(f"waitloop {rnd.randrange(1, 200)}")
    if n >= 8:
        w.op(f"lbne rt{n - rnd.randrange(2, 8)}", "far back")
    else:
        w.op("nop")
    w.op("rts")
    w.data_bytes([rnd.randrange(256) for _ in range(4)], text="msg")
    w.data_words([v(), h(rnd.randrange(65536))])
    w.lines.append("")


def program(lines, gnu):
    rnd = random.Random(12)  # the same stream for both syntaxes
    w = Writer(gnu)
    w.comment(f"Generated benchmark program, about {lines} lines")
    w.include("defs.inc")
    if not gnu:
        w.op("org $4000")
    blocks = max(1, lines // 26)
    for n in range(blocks):
        block(w, n, rnd, blocks)
        if n % 20 == 19:
            w.include("table.inc")
    return w.lines


def write(path, lines):
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    lines, out = int(sys.argv[1]), sys.argv[2]
    for gnu, sub, name in ((False, "qorb", "main.asm"), (True, "gnu", "main.s")):
        d = os.path.join(out, sub)
        os.makedirs(d, exist_ok=True)
        write(os.path.join(d, name), program(lines, gnu))
        write(os.path.join(d, "defs.inc"), defs(gnu))
        write(os.path.join(d, "table.inc"), table(gnu))


if __name__ == "__main__":
    main()
