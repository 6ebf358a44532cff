#!/usr/bin/env python3
"""Compares the 68HC12 encodings of qorb12 with GNU as (m68hc11-as -m68hc12).

Every mnemonic is written in every addressing mode it accepts, with boundary
offsets, every index register, auto increment/decrement by 1..8, accumulator
offsets, indirect forms, PC-relative offsets, forced `<`/`>` addresses, all six
move forms, and branches at the limits of their ranges. Each line is rendered in
both assemblers' syntaxes (GNU as writes a direct address as `*addr` and takes
any plain number as extended; the location is `.` instead of `*`; `trap` takes
`#`), placed at its own address (`org`), assembled by both and compared byte
for byte. GNU as is run twice with different fill bytes so that the length of
each of its instructions is known exactly.

Where the two assemblers deliberately differ, the line is checked against fixed
bytes instead, with its reason, in KNOWN_DIFFERENCES below.
"""

import argparse
import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "asm"))
from crosscheck import gnu_as, gnu_binary, hexs, ours, run  # noqa: E402

STRIDE = 8  # no instruction is longer than 8 bytes

INHERENT = """aba abx aby asla aslb asld asra asrb bgnd cba clc cli clra clrb clv coma comb daa
deca decb des dex dey ediv edivs emul emuls fdiv idiv idivs inca incb ins inx iny lsla lslb
lsld lsra lsrb lsrd mem mul nega negb nop psha pshb pshc pshd pshx pshy pula pulb pulc puld
pulx puly rev revw rola rolb rora rorb rtc rti rts sba sec sei sev stop swi tab tap tba tpa
tsta tstb tsx tsy txs tys wai wav xgdx xgdy""".split()
GENERAL8 = """adca adcb adda addb anda andb bita bitb cmpa cmpb eora eorb ldaa ldab oraa orab
sbca sbcb suba subb""".split()
GENERAL16 = "addd cpd cps cpx cpy ldd lds ldx ldy subd".split()
MODIFY = "asl asr com dec inc lsl lsr neg rol ror tst clr".split()
STORE = "staa stab std sts stx sty".split()
INDEXED_ONLY = "emaxd emaxm emind eminm maxa maxm mina minm".split()
BRANCH8 = "bcc bcs beq bge bgt bhi bhs ble blo bls blt bmi bne bpl bra brn bsr bvc bvs".split()
LOOPS = "dbeq dbne ibeq ibne tbeq tbne".split()
# qorb12's non-standard names, compared with the instruction they stand for.
ALIASES = {"lda": "ldaa", "ldb": "ldab", "sta": "staa", "stb": "stab"}

INDEX_REGS = ["x", "y", "sp", "pc"]
OFFSETS = [-32768, -257, -256, -255, -17, -16, -15, -1, 0, 1, 15, 16, 17, 255, 256, 257, 32767, 65535]
IMM8 = [0, 1, 0x7F, 0x80, 0xFF, -1, -128]
IMM16 = [0, 1, 0xFF, 0x100, 0x1234, 0x7FFF, 0x8000, 0xFFFF, -1]
DIRECT = [0, 1, 0x7F, 0x80, 0xFF]
EXTENDED = [0x100, 0x1234, 0x7FFF, 0x8000, 0xFFFF]
INDIRECT = [-32768, -1, 0, 1, 255, 256, 32767]
MASKS = [0, 1, 0x55, 0xFF]
TFR_REGS = ["a", "b", "ccr", "d", "x", "y", "sp"]
LOOP_REGS = ["a", "b", "d", "x", "y", "sp"]

# Lines where qorb12 is right to differ from GNU as: (our line, expected bytes,
# reason). They are assembled by qorb12 only and compared with these bytes.
KNOWN_DIFFERENCES = [
    ("movb 3,pc,0,x", "18 0A C4 00",
     "a PC offset in a move is corrected for the CPU's count (source of an indexed-indexed move: +1)"),
    ("movb 0,x,3,pc", "18 0A 00 C2", "PC offset correction in moves (destination of indexed-indexed: -1)"),
    ("movw #1,3,pc", "18 00 C1 00 01", "PC offset correction in moves (movw immediate to indexed: -2)"),
    ("movb #1,3,pc", "18 08 C2 01", "PC offset correction in moves (movb immediate to indexed: -1)"),
    ("movb $1234,3,pc", "18 09 C1 12 34", "PC offset correction in moves (extended to indexed: -2)"),
    ("movb 3,pc,$1234", "18 0D C5 12 34", "PC offset correction in moves (indexed to extended: +2)"),
    ("movb #1,*+20,pcr", "18 08 CF 01", "GNU as has no PC-relative moves; 20 - 4 - 1"),
    ("movb *-10,pcr,*+10,pcr", "18 0A D3 C5", "GNU as has no PC-relative moves; -10-4+1, 10-4-1"),
    ("bset *+10,pcr,#1", "0C C7 01", "the PC-relative distance of bset/bclr also counts the mask byte"),
    ("bclr *+20,pcr,#1", "0D F8 10 01", "the PC-relative distance of bset/bclr also counts the mask byte"),
    ("brset *+20,pcr,#1,*", "0E F8 0F 01 FB", "the PC distance of brset/brclr counts mask and branch offset"),
    ("ldaa [*+20,pcr]", "A6 FB 00 10", "GNU as takes an indirect PC offset as a constant; qorb12 makes it relative"),
    ("wavr", "3C", "GNU as does not know wavr"),
]


class Gen:
    def __init__(self):
        self.items = []  # (ours, gnu)

    def add(self, ours, gnu=None):
        self.items.append((ours, ours if gnu is None else gnu))


def num(v):
    return f"-0x{-v:x}" if v < 0 else f"0x{v:x}"


def indexed_forms(with_indirect=True, with_pc=True, offsets=OFFSETS, five_bit_only=False):
    """Operand texts for every indexed form, the same in both syntaxes."""
    regs = INDEX_REGS if with_pc else INDEX_REGS[:3]
    out = []
    for r in regs:
        for off in offsets:
            if five_bit_only and not -16 <= off <= 15:
                continue
            out.append(f"{off},{r}")
        out.append(f",{r}")
        for acc in "abd":
            out.append(f"{acc},{r}")
    for r in INDEX_REGS[:3]:
        for n in range(1, 9):
            out += [f"{n},+{r}", f"{n},-{r}", f"{n},{r}+", f"{n},{r}-"]
    if with_indirect:
        for r in INDEX_REGS:
            out.append(f"[d,{r}]")
            for off in INDIRECT:
                out.append(f"[{off},{r}]")
    return out


def upper_some(text, i):
    # Register names do not depend on case.
    return text.upper() if i % 7 == 3 else text


def general(g, mnem, gnu_mnem, imm=None, direct=True):
    if imm:
        for v in imm:
            g.add(f"{mnem} #{num(v)}", f"{gnu_mnem} #{num(v)}")
    if direct:
        for v in DIRECT:
            g.add(f"{mnem} {num(v)}", f"{gnu_mnem} *{num(v)}")
            g.add(f"{mnem} <{num(v + 0x1200)}", f"{gnu_mnem} *{num(v)}")  # forced direct, truncated
    for v in EXTENDED:
        g.add(f"{mnem} {num(v)}", f"{gnu_mnem} {num(v)}")
    for v in DIRECT[:3]:
        g.add(f"{mnem} >{num(v)}", f"{gnu_mnem} {num(v)}")
    for i, op in enumerate(indexed_forms()):
        g.add(f"{mnem} {upper_some(op, i)}", f"{gnu_mnem} {op}")


PC_DISTANCES = (-300, -259, -258, -257, -20, -18, -17, -16, -15, 0, 14, 15, 16, 17, 20, 255, 256, 257, 258, 300)


def pc_relative(g, mnem, tail="", distances=PC_DISTANCES):
    """PC-relative operands at distances around the 5-bit and 9-bit limits."""
    for d in distances:
        g.add(f"t equ *{d:+d}\n {mnem} t,pcr{tail}", f"t = . {d:+d}\n {mnem} t,pc{tail}")


def generate_plain():
    g = Gen()
    for m in INHERENT:
        g.add(m)
    for m in ("andcc", "orcc"):
        for v in IMM8:
            g.add(f"{m} #{num(v)}")
    for m in GENERAL8:
        general(g, m, m, IMM8)
    for a, real in ALIASES.items():
        general(g, a, real, IMM8 if a.startswith("ld") else None)
    for m in GENERAL16:
        general(g, m, m, IMM16)
    for m in MODIFY:
        general(g, m, m, direct=False)
        for v in DIRECT:  # direct becomes extended
            g.add(f"{m} {num(v)}", f"{m} {num(v)}")
    for m in STORE:
        general(g, m, m)
    for m in INDEXED_ONLY:
        for i, op in enumerate(indexed_forms()):
            g.add(f"{m} {upper_some(op, i)}", f"{m} {op}")
    for m in ("tbl", "etbl"):
        for op in indexed_forms(with_indirect=False, five_bit_only=True):
            g.add(f"{m} {op}")
    for m in ("leas", "leax", "leay"):
        for op in indexed_forms(with_indirect=False):
            g.add(f"{m} {op}")
    for m in ("bset", "bclr"):
        for k in MASKS:
            g.add(f"{m} {num(k & 0x7F)},#{num(k)}", f"{m} *{num(k & 0x7F)},#{num(k)}")
            g.add(f"{m} {num(k + 0x1200)},#{num(k)}")
        for i, op in enumerate(indexed_forms(with_indirect=False)):
            g.add(f"{m} {op},#{num(MASKS[i % 4])}")
        g.add(f"{m} 0x12 #1", f"{m} *0x12,#1")
        g.add(f"{m} 0x12,1", f"{m} *0x12,#1")
    for m in ("brset", "brclr"):
        for k in MASKS:
            g.add(f"{m} {num(k & 0x7F)},#{num(k)},*+{k // 3}", f"{m} *{num(k & 0x7F)},#{num(k)},.+{k // 3}")
            g.add(f"{m} {num(k + 0x1200)},#{num(k)},*-{k // 3 + 10}", f"{m} {num(k + 0x1200)},#{num(k)},.-{k // 3 + 10}")
        for i, op in enumerate(indexed_forms(with_indirect=False)):
            d = [0, 4, -100, 50][i % 4]
            g.add(f"{m} {op},#{num(MASKS[i % 4])},*{d:+d}", f"{m} {op},#{num(MASKS[i % 4])},.{d:+d}")
        # branch limits: the distance counts from the end of the instruction
        for length, op, gop in ((4, "0x12", "*0x12"), (5, "0x1234", "0x1234"), (4, "0,x", "0,x"),
                                (5, "100,y", "100,y"), (6, "1000,sp", "1000,sp")):
            for d in (-128, 127):
                g.add(f"{m} {op},#1,*{d + length:+d}", f"{m} {gop},#1,.{d + length:+d}")
    for v in (0x12, 0xFF, 0x1234, 0xFFFF):
        for page in (0, 3, 0xFF):
            g.add(f"call {num(v)},{num(page)}")
    g.add("call 0x1234", "call 0x1234,0")
    for i, op in enumerate(indexed_forms()):
        if op.startswith("["):
            g.add(f"call {op}")
        else:
            g.add(f"call {op},{i % 256}")
    for m in ("jmp", "jsr"):
        for v in DIRECT:
            g.add(f"{m} {num(v)}", f"{m} *{num(v)}" if m == "jsr" else f"{m} {num(v)}")
        for v in EXTENDED:
            g.add(f"{m} {num(v)}")
        for op in indexed_forms():
            g.add(f"{m} {op}")
    for m in BRANCH8:
        for d in (-128, -127, -2, -1, 0, 1, 2, 100, 127):
            g.add(f"{m} *{d + 2:+d}", f"{m} .{d + 2:+d}")
    for m in LOOPS:
        for r in LOOP_REGS:
            for d in (-256, -255, -3, -1, 0, 1, 255):
                g.add(f"{m} {r},*{d + 3:+d}", f"{m} {r},.{d + 3:+d}")
    for m in ("tfr", "exg"):
        for s in TFR_REGS:
            for d in TFR_REGS:
                g.add(f"{m} {s},{d}")
    for s in ("a", "b", "ccr"):
        for d in ("d", "x", "y", "sp"):
            g.add(f"sex {s},{d}")
    for v in (0x30, 0x31, 0x7F, 0x80, 0xFF):
        g.add(f"trap {num(v)}", f"trap #{num(v)}")
    for v in (0, 0x12, 0x1234, 0xFFFF):
        g.add(f"emacs {num(v)}")
    # moves: all six forms
    small = indexed_forms(with_indirect=False, five_bit_only=True)
    small = [op for op in small if not op.endswith("pc") or op.startswith(("a,", "b,", "d,"))]
    for m, imm in (("movb", IMM8), ("movw", IMM16)):
        for i, op in enumerate(small):
            g.add(f"{m} #{num(imm[i % len(imm)])},{op}")
            g.add(f"{m} {num(EXTENDED[i % 5])},{op}")
            g.add(f"{m} {num(DIRECT[i % 5])},{op}")  # direct becomes extended
            g.add(f"{m} {op},{small[(i * 7 + 3) % len(small)]}")
            g.add(f"{m} {op},{num(EXTENDED[i % 5])}")
        for v in imm:
            g.add(f"{m} #{num(v)},0x1234")
        for s in EXTENDED:
            g.add(f"{m} {num(s)},{num(0xFFFF - s)}")
    # PC-relative operands, where GNU as computes the same distance
    for m in ("ldaa", "ldd", "staa", "inc", "clr", "maxa", "leax", "jmp", "jsr", "cpd"):
        pc_relative(g, m)
    pc_relative(g, "tbl", distances=(-13, 0, 15, 18))
    pc_relative(g, "call", ",3")
    return g.items


def generate_long_branches():
    g = Gen()
    for m in [b.replace("b", "lb", 1) for b in BRANCH8 if b != "bsr"]:
        for d in (-300, -129, -2, 0, 1, 128, 1000, 32767):
            g.add(f"{m} *{d + 4:+d}", f"{m} .{d + 4:+d}")
    return g.items


def generate_long_branches_back():
    g = Gen()
    for m in ("lbra", "lbne", "lbrn"):
        for d in (-32768, -32767, -20000):
            g.add(f"{m} *{d + 4:+d}", f"{m} .{d + 4:+d}")
    return g.items


def generate_hcs():
    """Moves with offsets beyond 5 bits: with -hcs the offset bytes follow the postbyte."""
    g = Gen()
    ops = []
    for r in INDEX_REGS[:3]:
        for off in (-257, -256, -17, -16, 15, 16, 255, 256, 32767):
            ops.append(f"{off},{r}")
    for m, imm in (("movb", IMM8), ("movw", IMM16)):
        for i, op in enumerate(ops):
            g.add(f"{m} #{num(imm[i % len(imm)])},{op}")
            g.add(f"{m} {num(EXTENDED[i % 5])},{op}")
            g.add(f"{m} {op},{ops[(i * 5 + 2) % len(ops)]}")
            g.add(f"{m} {op},{num(EXTENDED[i % 5])}")
    return g.items


def split(item, i=0):
    """An item may carry a definition of the symbol `t` before the
    instruction; each item gets a name of its own."""
    item = re.sub(r"\bt\b", f"t{i}", item)
    *pre, last = item.split("\n")
    return pre, last.strip()


def gnu_assemble(gas, objcopy, cpu, work, base, items):
    images = []
    for fill in (0x00, 0xFF):
        src = os.path.join(work, f"gnu{fill}.s")
        lines_of = []  # source line of each item's instruction
        with open(src, "w") as f:
            n = 0
            for i, (_, gnu) in enumerate(items):
                pre, ins = split(gnu, i)
                f.write(f"\t.org {base + i * STRIDE},{fill}\n")
                for p in pre:
                    f.write(p.strip() + "\n")
                # GNU as reads `.` inside an instruction's operand as the
                # address after the opcode; a label on the line is exact.
                if re.search(r"(?<![\w.])\.(?=[+-]|$)", ins):
                    f.write(f"L{i}:\n")
                    n += 1
                    ins = re.sub(r"(?<![\w.])\.(?=[+-]|$)", f"L{i}", ins)
                f.write(f"\t{ins}\n")
                n += 1 + len(pre) + 1
                lines_of.append(n)
            f.write(f"\t.org {base + len(items) * STRIDE},{fill}\n")
        obj = os.path.join(work, "gnu.o")
        binf = os.path.join(work, "gnu.bin")
        r = gnu_as(gas, cpu, src, obj)
        bad = set()
        for line in r.stdout.splitlines():
            m = re.match(r".*?:(\d+): Error", line)
            if m:
                bad.add(int(m.group(1)))
        if bad:
            rejected = [items[i][1] for i, ln in enumerate(lines_of) if ln in bad]
            raise SystemExit("GNU as rejected lines the generator meant to be valid:\n  " +
                             "\n  ".join(rejected[:30]) + "\n" + r.stdout[:3000])
        images.append(gnu_binary(objcopy, obj, binf))
    out = []
    for i in range(len(items)):
        a = base + i * STRIDE
        w0, w1 = images[0][a:a + STRIDE], images[1][a:a + STRIDE]
        n = 0
        while n < STRIDE and not (w0[n] == 0x00 and w1[n] == 0xFF):
            n += 1
        out.append(bytes(w0[:n]))
    return out


def ours_assemble(qorb12, work, base, items, extra):
    text = ""
    for i, (ours_line, _) in enumerate(items):
        pre, ins = split(ours_line, i)
        text += f"\torg ${base + i * STRIDE:X}\n" + "".join(p.strip() + "\n" for p in pre) + f"\t{ins}\n"
    r, mem = ours(qorb12, work, "ours", text, extra)
    errors = [l for l in r.stdout.splitlines() if "Error" in l or "Fatal" in l]
    if errors or not mem:
        raise SystemExit("qorb12 failed:\n" + "\n".join(errors[:30]) + "\n" + r.stdout[-2000:])
    out = []
    for i in range(len(items)):
        a = base + i * STRIDE
        n = 0
        while n < STRIDE and (a + n) in mem:
            n += 1
        out.append(bytes(mem[a + k] for k in range(n)))
    return out


def compare(args, work, name, base, items, cpu, extra):
    gnu = gnu_assemble(args.gas, args.objcopy, cpu, work, base, items)
    ours = ours_assemble(args.qorb12, work, base, items, extra)
    bad = 0
    for (o, gl), a, b in zip(items, ours, gnu):
        if a != b:
            bad += 1
            if bad <= 40:
                print(f"MISMATCH [{name}] {o.replace(chr(10), ' / ')!r}: qorb12 {hexs(a)} | GNU as ({gl.replace(chr(10), ' / ')}) {hexs(b)}")
    return bad


def check_known(args, work):
    """Lines that differ on purpose: qorb12 alone, against fixed bytes."""
    items = [(ours, None) for ours, _, _ in KNOWN_DIFFERENCES]
    got = ours_assemble(args.qorb12, work, 0x1000, items, [])
    bad = 0
    for (ours, expected, reason), b in zip(KNOWN_DIFFERENCES, got):
        if hexs(b) != expected:
            bad += 1
            print(f"KNOWN DIFFERENCE BROKEN {ours!r}: got {hexs(b)}, expected {expected} ({reason})")
    return bad


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qorb12", required=True)
    ap.add_argument("--gas", default="m68hc11-as")
    ap.add_argument("--objcopy", default="m68hc11-objcopy")
    ap.add_argument("--show", action="store_true", help="print the generated lines and stop")
    args = ap.parse_args()
    args.qorb12 = os.path.abspath(args.qorb12)

    plain = generate_plain()
    chunks = [("plain", 0x1000, plain[i:i + 1500], "-m68hc12", []) for i in range(0, len(plain), 1500)]
    chunks.append(("long", 0x1000, generate_long_branches(), "-m68hc12", []))
    chunks.append(("long-back", 0x9000, generate_long_branches_back(), "-m68hc12", []))
    chunks.append(("hcs", 0x1000, generate_hcs(), "-mm9s12x", ["-hcs"]))
    if args.show:
        for c in chunks:
            for o, g in c[2]:
                print(f"{o!r:50} {g!r}")
        return 0
    total = sum(len(c[2]) for c in chunks)
    distinct = len({o for c in chunks for o, _ in c[2]})
    bad = 0
    with tempfile.TemporaryDirectory() as work:
        for name, base, items, cpu, extra in chunks:
            bad += compare(args, work, name, base, items, cpu, extra)
        bad += check_known(args, work)
    print(f"{total} lines ({distinct} distinct) compared with GNU as, {len(KNOWN_DIFFERENCES)} known differences, {bad} mismatches")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
