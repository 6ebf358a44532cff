#!/usr/bin/env python3
"""Compares the 68HC11 encodings of qorb11 with GNU as (m68hc11-as -m68hc11).

Every mnemonic is written in every addressing mode GNU as accepts, with
boundary values, indexing on X and Y and the page-prefix exceptions. The lines
are rendered twice, once in each assembler's syntax (GNU as writes a direct
address as `*addr`, a branch target relative to `.`; qorb11 takes a short
address as direct and `*` for the location), assembled by both, and the bytes
compared line by line.

Some lines cannot be compared because the two assemblers deliberately differ;
those are checked against fixed bytes and messages instead, each with its
reason, in KNOWN_DIFFERENCES below. One more difference is left to
listing.case: GNU as turns a branch that is out of range into a jump, while
qorb11 reports error A2070 and keeps the two-byte branch.
"""

import argparse
import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "asm"))
from crosscheck import gnu_as, gnu_binary, ours, tool  # noqa: E402

INHERENT = {
    "aba": "1B", "abx": "3A", "aby": "18 3A", "asla": "48", "aslb": "58", "asld": "05",
    "asra": "47", "asrb": "57", "cba": "11", "clc": "0C", "cli": "0E", "clra": "4F",
    "clrb": "5F", "clv": "0A", "coma": "43", "comb": "53", "daa": "19", "deca": "4A",
    "decb": "5A", "des": "34", "dex": "09", "dey": "18 09", "fdiv": "03", "idiv": "02",
    "inca": "4C", "incb": "5C", "ins": "31", "inx": "08", "iny": "18 08", "lsla": "48",
    "lslb": "58", "lsld": "05", "lsra": "44", "lsrb": "54", "lsrd": "04", "mul": "3D",
    "nega": "40", "negb": "50", "nop": "01", "psha": "36", "pshb": "37", "pshx": "3C",
    "pshy": "18 3C", "pula": "32", "pulb": "33", "pulx": "38", "puly": "18 38", "rola": "49",
    "rolb": "59", "rora": "46", "rorb": "56", "rti": "3B", "rts": "39", "sba": "10",
    "sec": "0D", "sei": "0F", "sev": "0B", "stop": "CF", "swi": "3F", "tab": "16",
    "tap": "06", "tba": "17", "test": "00", "tpa": "07", "tsta": "4D", "tstb": "5D",
    "tsx": "30", "tsy": "18 30", "txs": "35", "tys": "18 35", "wai": "3E", "xgdx": "8F",
    "xgdy": "18 8F",
}
BRANCHES = ["bcc", "bcs", "beq", "bge", "bgt", "bhi", "bhs", "ble", "blo", "bls", "blt",
            "bmi", "bne", "bpl", "bra", "brn", "bsr", "bvc", "bvs"]
GENERAL8 = ["adca", "adcb", "adda", "addb", "anda", "andb", "bita", "bitb", "cmpa", "cmpb",
            "eora", "eorb", "ldaa", "ldab", "oraa", "orab", "sbca", "sbcb", "suba", "subb"]
GENERAL16 = ["addd", "cpd", "cpx", "cpy", "ldd", "lds", "ldx", "ldy", "subd"]
MODIFY = ["asl", "asr", "clr", "com", "dec", "inc", "lsl", "lsr", "neg", "rol", "ror", "tst"]
STORE = ["staa", "stab", "std", "sts", "stx", "sty"]
# Non-standard names of qorb11 that GNU as does not know: compared against
# the standard instruction they stand for.
ALIASES = {"lda": "ldaa", "ldb": "ldab", "sta": "staa", "stb": "stab", "cmpd": "cpd"}

IMM8 = [0, 1, 0x0F, 0x10, 0x7F, 0x80, 0xFE, 0xFF]
IMM16 = [0, 1, 0xFF, 0x100, 0x1234, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF]
DIRECT = [0, 1, 0x10, 0x7F, 0x80, 0xFE, 0xFF]
EXTENDED = [0x100, 0x101, 0x1234, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF]
OFFSETS = [0, 1, 0x0F, 0x10, 0x7F, 0x80, 0xFE, 0xFF]
DISTANCES = [-128, -127, -100, -2, -1, 0, 1, 2, 64, 126, 127]
MASKS = [0, 1, 0x55, 0x80, 0xFF]


def ours_number(v, style):
    # Exercise the number forms of the expression reader on the qorb11 side.
    return [f"${v:X}", f"0x{v:x}", f"{v}", f"0{v:X}h", f"%{v:b}"][style % 5]


class Lines:
    def __init__(self):
        self.items = []  # (ours, gnu)
        self.style = 0
        self.labels = 0

    def num(self, v):
        self.style += 1
        return ours_number(v, self.style)

    def gnu_branch(self, head, distance):
        # GNU as evaluates `.` inside a branch operand inconsistently; a label
        # on the line gives the instruction's own address.
        self.labels += 1
        return f"L{self.labels}: {head}L{self.labels}{distance:+d}"

    def add(self, ours, gnu):
        self.items.append((ours, gnu))


def operand_forms(lines, mnem, gnu_mnem, immediate, direct=True, extended=True):
    """Adds the operand forms of one general instruction."""
    if immediate == 8:
        for v in IMM8:
            lines.add(f"{mnem} #{lines.num(v)}", f"{gnu_mnem} #0x{v:x}")
    elif immediate == 16:
        for v in IMM16:
            lines.add(f"{mnem} #{lines.num(v)}", f"{gnu_mnem} #0x{v:x}")
    if direct:
        for v in DIRECT:
            lines.add(f"{mnem} {lines.num(v)}", f"{gnu_mnem} *0x{v:x}")
            lines.add(f"{mnem} <{lines.num(v)}", f"{gnu_mnem} *0x{v:x}")
    if extended:
        for v in EXTENDED:
            lines.add(f"{mnem} {lines.num(v)}", f"{gnu_mnem} 0x{v:x}")
        for v in (0, 0x12, 0xFF):
            # A short address forced to the long form.
            lines.add(f"{mnem} >{lines.num(v)}", f"{gnu_mnem} 0x{v:x}")
    for reg in ("x", "y"):
        for v in OFFSETS:
            lines.add(f"{mnem} {lines.num(v)},{reg}", f"{gnu_mnem} 0x{v:x},{reg}")
        lines.add(f"{mnem} ,{reg}", f"{gnu_mnem} ,{reg}")
        lines.add(f"{mnem.upper()} 3,{reg.upper()}", f"{gnu_mnem} 3,{reg}")
        lines.add(f"{mnem} 4 , {reg}", f"{gnu_mnem} 4,{reg}")


def generate():
    lines = Lines()
    for mnem in INHERENT:
        lines.add(mnem, mnem)
        lines.add(mnem.upper(), mnem)
    for mnem in BRANCHES:
        for d in DISTANCES:
            lines.add(f"{mnem} *{2 + d:+d}", lines.gnu_branch(f"{mnem} ", 2 + d))
    for mnem in GENERAL8:
        operand_forms(lines, mnem, mnem, 8)
    for mnem in GENERAL16:
        operand_forms(lines, mnem, mnem, 16)
    for mnem in MODIFY:
        # No direct form: a short plain address is taken as extended, as GNU
        # as writes it.
        operand_forms(lines, mnem, mnem, 0, direct=False)
        for v in DIRECT:
            lines.add(f"{mnem} {lines.num(v)}", f"{mnem} 0x{v:x}")
    for mnem in STORE:
        operand_forms(lines, mnem, mnem, 0)
    operand_forms(lines, "jmp", "jmp", 0, direct=False)
    for v in DIRECT:
        lines.add(f"jmp {lines.num(v)}", f"jmp 0x{v:x}")
    operand_forms(lines, "jsr", "jsr", 0)
    for alias, standard in ALIASES.items():
        immediate = {"cmpd": 16, "lda": 8, "ldb": 8}.get(alias, 0)
        operand_forms(lines, alias, standard, immediate)
    for mnem in ("bset", "bclr"):
        for m in MASKS:
            for v in DIRECT:
                lines.add(f"{mnem} {lines.num(v)},#{lines.num(m)}", f"{mnem} *0x{v:x},#0x{m:x}")
            for reg in ("x", "y"):
                for v in OFFSETS:
                    lines.add(f"{mnem} {lines.num(v)},{reg},#{lines.num(m)}",
                              f"{mnem} 0x{v:x},{reg},#0x{m:x}")
        # The separators before the mask may be left out.
        lines.add(f"{mnem} $40 #1", f"{mnem} *0x40,#1")
        lines.add(f"{mnem} $40,1", f"{mnem} *0x40,#1")
        lines.add(f"{mnem} 5,x 2", f"{mnem} 5,x,#2")
        lines.add(f"{mnem} x,#3", f"{mnem} 0,x,#3")
        lines.add(f"{mnem} ,y,#4", f"{mnem} 0,y,#4")
    for mnem in ("brset", "brclr"):
        for m in (0, 0x81, 0xFF):
            for d in DISTANCES:
                v = (d * 7) & 0xFF
                lines.add(f"{mnem} {lines.num(v)},#{lines.num(m)},*{4 + d:+d}",
                          lines.gnu_branch(f"{mnem} *0x{v:x},#0x{m:x},", 4 + d))
                lines.add(f"{mnem} {lines.num(v)},x,#{lines.num(m)},*{4 + d:+d}",
                          lines.gnu_branch(f"{mnem} 0x{v:x},x,#0x{m:x},", 4 + d))
                lines.add(f"{mnem} {lines.num(v)},y,#{lines.num(m)},*{5 + d:+d}",
                          lines.gnu_branch(f"{mnem} 0x{v:x},y,#0x{m:x},", 5 + d))
    return lines.items


# Lines where qorb11 deliberately differs from GNU as, with the bytes qorb11
# must produce and why.
KNOWN_DIFFERENCES = [
    ("ldaa x", "A6 00", None, "a lone index register means offset 0; GNU as wants ,x"),
    ("ldaa y", "18 A6 00", None, "a lone index register means offset 0; GNU as wants ,y"),
    ("ldaa -1,x", "A6 FF", "A4104",
     "offsets are truncated to a byte with a warning; GNU as refuses them"),
    ("ldaa 256,y", "18 A6 00", "A4104",
     "offsets are truncated to a byte with a warning; GNU as refuses them"),
    ("ldaa <$1234", "96 34", "A4104", "`<` forces the direct form and truncates; GNU as has no `<`"),
    ("ldaa $12", "96 12", None, "a known short address is direct; GNU as takes it as extended"),
    ("bset $1234,#1", "14 34 01", "A4104",
     "bit instructions have no extended form, the address is cut; GNU as refuses it"),
    ("brset $1234,#1,*", "12 34 01 FC", "A4104", "as above, for the branching bit instructions"),
    ("lda #1", "86 01", "A4303", "non-standard name (with a warning) that GNU as does not know"),
    ("ldaa #-1", "86 FF", None, "a negative immediate byte is accepted silently"),
    ("ldd #-1", "CC FF FF", None, "a negative immediate word is accepted silently"),
    ("ldaa #$1FF", "86 FF", "A4102", "immediate bytes are truncated with a warning; GNU as refuses them"),
]


def gnu_assemble(gnu_as_path, objcopy, work, items):
    src = os.path.join(work, "gnu.s")
    with open(src, "w") as f:
        for _, gnu in items:
            f.write(f"{gnu}\n" if gnu.startswith("L") else f" {gnu}\n")
    obj = os.path.join(work, "gnu.o")
    lst = os.path.join(work, "gnu.lst")
    r = gnu_as(gnu_as_path, "-m68hc11", src, obj, [f"-al={lst}"])
    if r.returncode != 0:
        sys.exit(f"GNU as failed:\n{r.stdout}")
    image = gnu_binary(objcopy, obj, os.path.join(work, "gnu.bin"), ".text")
    # The listing gives each source line's byte count (continuation lines
    # carry the bytes that do not fit on the first).
    sizes = [0] * len(items)
    current = None
    with open(lst) as f:
        for text in f:
            m = re.match(r"^\s*(\d+) (?:\?\?\?\?|[0-9A-Fa-f]{4}) ((?:[0-9A-F]{2} ?)+)", text)
            if m:
                current = int(m.group(1)) - 1
                sizes[current] += len(m.group(2).split())
                continue
            m = re.match(r"^\s*(\d+)\s{6}((?:[0-9A-F]{2} ?)+)\s*$", text)
            if m and current is not None and int(m.group(1)) - 1 == current:
                sizes[current] += len(m.group(2).split())
    if sum(sizes) != len(image):
        sys.exit(f"GNU listing accounts for {sum(sizes)} bytes, object has {len(image)}")
    out = []
    pos = 0
    for n in sizes:
        out.append(image[pos:pos + n])
        pos += n
    return out


def ours_assemble(qorb11, work, name, lines, options=()):
    r, image = ours(qorb11, work, name, "".join(f" {text}\n" for text in lines), options)
    if not os.path.exists(os.path.join(work, name + ".s19")):
        sys.exit(f"qorb11 wrote no object file (exit {r.returncode}):\n{r.stdout}")
    return r, image


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qorb11", required=True)
    ap.add_argument("--gnu-as", default="m68hc11-as")
    ap.add_argument("--objcopy", default="m68hc11-objcopy")
    ap.add_argument("--show", action="store_true", help="print the generated lines")
    args = ap.parse_args()
    qorb11 = os.path.abspath(args.qorb11)
    args.gnu_as, args.objcopy = tool(args.gnu_as), tool(args.objcopy)

    items = generate()
    distinct = len(set(ours for ours, _ in items))
    if args.show:
        for ours, gnu in items:
            print(f"{ours:32} | {gnu}")
    if distinct < 2000:
        sys.exit(f"only {distinct} distinct lines generated")

    failures = []
    with tempfile.TemporaryDirectory() as work:
        expected = gnu_assemble(args.gnu_as, args.objcopy, work, items)
        r, image = ours_assemble(qorb11, work, "ours", [ours for ours, _ in items])
        # Every compared line is well-formed and in range: not even a warning.
        if r.returncode != 0 or "ours.asm: 0 warning(s), 0 error(s)" not in r.stdout:
            failures.append(f"qorb11 exit status {r.returncode}:\n{r.stdout}")
        addr = 0
        for (ours, gnu), want in zip(items, expected):
            got = bytes(image.get(addr + i, 0) for i in range(len(want)))
            missing = any((addr + i) not in image for i in range(len(want)))
            if missing or got != want:
                failures.append(f"{ours!r} (GNU: {gnu!r}): qorb11 {got.hex(' ').upper()}, "
                                f"GNU {want.hex(' ').upper()} at ${addr:04X}")
                if len(failures) > 40:
                    break
            addr += len(want)
        if len(image) != addr and len(failures) <= 40:
            failures.append(f"qorb11 produced {len(image)} bytes, GNU as {addr}")

        # The deliberate differences: bytes and the one message each may give.
        r, image = ours_assemble(qorb11, work, "diff", [d[0] for d in KNOWN_DIFFERENCES], ["-W4"])
        messages = {}
        for text in r.stdout.splitlines():
            m = re.match(r"^diff\.asm\((\d+)\): \w+ (A\d{4}):", text)
            if m:
                messages.setdefault(int(m.group(1)), []).append(m.group(2))
        addr = 0
        for n, (ours, want_hex, message, why) in enumerate(KNOWN_DIFFERENCES, 1):
            want = bytes.fromhex(want_hex)
            got = bytes(image.get(addr + i, 0) for i in range(len(want)))
            if got != want:
                failures.append(f"{ours!r}: qorb11 {got.hex(' ').upper()}, expected {want_hex} ({why})")
            if messages.get(n, []) != ([message] if message else []):
                failures.append(f"{ours!r}: messages {messages.get(n, [])}, expected {message or 'none'}")
            addr += len(want)

    if failures:
        print("\n".join(failures))
        return 1
    print(f"{distinct} distinct lines agree with GNU as; "
          f"{len(KNOWN_DIFFERENCES)} deliberate differences hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
