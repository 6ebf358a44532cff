"""Differential test: random instruction blocks run in qorbsim and in GDB's
68HC11/68HC12 simulator, an independent implementation (built by
build-gdbsim.sh). Both run the same bytes: GNU as and ld make the ELF file
the reference runs, objcopy the S-records qorbsim loads.

Memory during a block:
  $0000-$00FF  page 0 (direct mode), filled from the window at the start
               (68HC11 only: the reference keeps the CPU12's I/O registers
               there, so the CPU12 blocks use no direct mode)
  $2000-$2FFF  the window compared at the end:
     $2000  final registers        $2020  copy of page 0 at the end
     $2200  pointer table (into the data area, never written)
     $2400-$2BFF data              $2C00-$2FFF stack (SP starts at $2F80)
  $4000        the block's code
The reference maps the window from a file, so the program's writes land in
it. A block ends with an opcode both treat as the end: $18 $41 (CPU12) or
$41 (68HC11), a trap with no vector in qorbsim (exit 4), the reference's
exit call.

Along the way the CPU12 blocks push the CCR (and now and then D, X, Y)
after instructions, so a difference in the middle of a block shows in the
stack area even when later instructions would hide it.

usage: diff_test.py --qorbsim Q --gdbsim RUN --cpu 12|11 [--instructions N] [--seed S]
The reference program is found with --gdbsim, or built with
--build-gdbsim SCRIPT; when neither gives one the test is skipped (exit 77).
"""

import argparse
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simtest import srec  # noqa: E402

WINDOW, WINDOW_SIZE = 0x2000, 0x1000
RESULT, PAGE0_COPY, PTRTAB, DATA_LO, DATA_HI, STACK_TOP = 0x2000, 0x2020, 0x2200, 0x2400, 0x2C00, 0x2F80
CODE = 0x4000

# Accepted differences: cases where the reference and the CPU reference
# manual part ways. The generator keeps each case out of the comparison as
# its line says (the instruction itself is still run and compared where the
# manual defines the result).
ACCEPTED = {
    "half-carry": "ADDA/ADDB/ADCA/ADCB/ABA set H from the carry out of bit 3 (both manuals); the reference"
                  " never sets it: H is cleared after them (through the stack) in both",
    "mul-c": "MUL sets C from bit 7 of the result (B), for rounding with ADCA #0 (both manuals); the"
             " reference takes bit 15: C is cleared after MUL in both",
    "ccr-nzv": "ANDCC/ORCC (and CLC, SEC, CLV, SEV, CLI, SEI, their CPU12 forms) change only the bits of"
               " their mask (CPU12RM); the reference also sets N, Z, V from the result: BITA #$FF after"
               " them sets N, Z, V alike in both",
    "aba12": "CPU12 ABA adds B to A (CPU12RM); the reference leaves A and the CCR as they were: not in the"
             " random blocks (tests/sim/cpu12_test.cpp checks it)",
    "daa": "DAA is an illegal instruction in the reference on both CPUs: not in the random blocks (the"
           " unit tests and the BCD programs check it)",
    "etbl": "ETBL is an illegal instruction in the reference: not in the random blocks (unit tests)",
    "mem": "MEM is an illegal instruction in the reference (so are REV, REVW, WAV): not in the random"
           " blocks (unit tests)",
    "div-overflow": "IDIVS/EDIV/EDIVS leave the registers indeterminate on overflow (CPU12RM); the reference"
                    " stores the truncated quotient, qorbsim keeps them: after V is set both clear X, Y, D",
    "fdiv-zero": "FDIV by zero sets C (both manuals); the reference clears it: no divisor of zero for FDIV"
                 " in the random blocks (unit tests)",
    "tbl": "TBL gives A = Y1 + B * (Y2 - Y1) (CPU12RM); the reference gives 0: not in the random blocks"
           " (unit tests)",
    "neg-vc": "NEG sets V when the result is $80 and C when it is not $00 (both manuals); the reference"
              " never sets V and inverts C: V and C are cleared after NEG in both",
    "incdec-v": "INC sets V when the result is $80, DEC when it is $7F (both manuals); the reference never"
                " sets V: V is cleared after them in both",
    "loop8": "DBcc/IBcc on A or B count in 8 bits, so $FF+1 is zero (CPU12RM); the reference counts in 16"
             " bits: the counter gets a value away from the wrap first",
    "adcb11-ext": "68HC11 ADCB extended ($F9) adds with carry (M68HC11RM); the reference's table has EORB"
                  " there: ADCB takes the other modes only",
    "frame-ab": "an interrupt frame holds B below A (both manuals); the reference stores D with A first:"
                "A equals B when SWI runs",
    "emacs-ccr": "EMACS sets N, Z, V, C from the sum (CPU12RM); the reference leaves the CCR alone: they"
                 " are cleared after EMACS in both (the memory result is compared)",
    "x-bit": "once cleared, the X mask cannot be set by TAP, TFR/EXG to CCR, ORCC, PULC (both manuals);"
             " the reference sets it: blocks start with X clear and X is cleared again after those",
}

# Sequences that clear CCR bits in both simulators without touching the
# other flags or registers.
CLEAR12 = "pshc\n\tbclr 0,sp, #%s\n\tpulc"
CLEAR11 = "psha\n\ttpa\n\tanda #%s\n\ttap\n\tpula"
HALF_CARRY = {"adda", "addb", "adca", "adcb", "aba"}

LINK_SCRIPT = """MEMORY { ram (rwx) : ORIGIN = 0x1000, LENGTH = 0xE000
         vec (rw) : ORIGIN = 0xFFF6, LENGTH = 2 }
SECTIONS { .text 0x4000 : { *(.text) } > ram
           .vectors 0xFFF6 : { *(.vectors) } > vec }
ENTRY(_start)
"""


def h(v, digits=2):
    return "0x%0*x" % (digits, v)


class Block:
    """One random block: assembly lines and the state the generator tracks."""

    def __init__(self, rng, cpu):
        self.rng = rng
        self.cpu = cpu
        self.lines = []
        self.count = 0          # random instructions
        self.forms = set()      # forms used, for the coverage check
        self.x = self.y = None  # known index register values (None: unknown)
        self.depth = 0          # bytes pushed since SP was set
        self.labels = 0
        self.marks = []         # line counts after each random instruction

    def emit(self, line):
        self.lines.append("\t" + line)
        for mask in self.masks(line.split()[0] if line.split() else "", line):
            self.lines.append("\t" + mask)

    def masks(self, op, line):
        """What follows an instruction to keep an accepted difference out."""
        clear = (lambda bits: CLEAR12 % h(bits)) if self.cpu == 12 else (lambda bits: CLEAR11 % h(~bits & 0xFF))
        if op in HALF_CARRY:
            return [clear(0x20)]                         # ACCEPTED half-carry
        if op == "mul":
            return [clear(0x01)]                         # ACCEPTED mul-c
        if op in ("neg", "nega", "negb"):
            return [clear(0x03)]                         # ACCEPTED neg-vc
        if op in ("inc", "inca", "incb", "dec", "deca", "decb"):
            return [clear(0x02)]                         # ACCEPTED incdec-v
        if self.cpu == 12:
            out = []
            if op == "emacs":
                out.append("andcc #0xf0")                # ACCEPTED emacs-ccr
                op = "andcc"
            if op in ("andcc", "orcc", "clc", "sec", "clv", "sev", "cli", "sei"):
                out.append("bita #0xff")                 # ACCEPTED ccr-nzv
            if op == "orcc" or op == "pulc" or (op in ("tfr", "exg") and "ccr" in line):
                out.append(clear(0x40))                  # ACCEPTED x-bit
            return out
        if op == "tap":
            return [clear(0x40)]                         # ACCEPTED x-bit
        return []

    def label(self):
        self.labels += 1
        return "L%d" % self.labels

    # --- index registers -------------------------------------------------

    def ensure(self, reg, lo=DATA_LO + 0x200, hi=DATA_HI - 0x200):
        """Makes X or Y point into the data area (with room for any offset)."""
        v = getattr(self, reg)
        if v is None or not lo <= v <= hi:
            v = self.rng.randrange(lo, hi)
            self.emit("ld%s #%s" % (reg, h(v, 4)))
            setattr(self, reg, v)
        return v

    def ensure_stack(self):
        if not -32 <= self.depth <= 600:
            self.emit("lds #%s" % h(STACK_TOP, 4))
            self.depth = 0


class Gen12:
    """CPU12 instruction forms."""

    ALU8 = ["adda", "adca", "suba", "sbca", "anda", "oraa", "eora", "bita", "cmpa", "ldaa",
            "addb", "adcb", "subb", "sbcb", "andb", "orab", "eorb", "bitb", "cmpb", "ldab"]
    ALU16 = ["addd", "subd", "cpd", "cpx", "cpy", "cps", "ldd"]
    RMW = ["neg", "com", "inc", "dec", "lsr", "rol", "ror", "asr", "asl", "clr", "tst"]
    INH = ["nega", "coma", "inca", "deca", "lsra", "rola", "rora", "asra", "asla", "clra", "tsta",
           "negb", "comb", "incb", "decb", "lsrb", "rolb", "rorb", "asrb", "aslb", "clrb", "tstb",
           "lsrd", "asld", "sba", "cba", "tab", "tba", "mul", "emul", "emuls", "nop",
           "clc", "sec", "clv", "sev", "cli", "sei"]
    BRANCHES = ["bra", "brn", "bhi", "bls", "bcc", "bcs", "bne", "beq", "bvc", "bvs", "bpl", "bmi",
                "bge", "blt", "bgt", "ble"]
    MINMAX = ["maxa", "mina", "emaxd", "emind", "maxm", "minm", "emaxm", "eminm"]

    def __init__(self, b):
        self.b = b
        self.r = b.rng

    # An operand for a memory access of `size` bytes. `write`: the access
    # stores; `modify_ok`: the form may change X/Y/SP (not inside branches).
    def operand(self, size, write=False, modify_ok=True, indirect_ok=True, pc_ok=False, indexed_only=False):
        b, r = self.b, self.r
        kinds = ["idx5", "idx5", "idx9", "idx16", "acc"]
        if modify_ok or not write:
            kinds.append("sp5")  # (a subroutine's stores must not reach its return address)
        if not indexed_only:
            kinds += ["ext", "ext"]
        if modify_ok:
            kinds += ["auto", "auto", "accd"]
            if indirect_ok:
                kinds += ["ind16", "indd"]
        kind = r.choice(kinds)
        b.forms.add("opnd-" + kind)
        if kind == "ext":
            return h(r.randrange(DATA_LO, DATA_HI - size), 4)
        if kind == "dir":
            return "*" + h(r.randrange(0, 0x100 - size))
        if kind == "sp5":
            return "%d,sp" % r.randrange(-16, 16)
        reg = r.choice("xy")
        if kind == "idx5":
            b.ensure(reg)
            return "%d,%s" % (r.randrange(-16, 16), reg)
        if kind == "idx9":
            b.ensure(reg)
            return "%d,%s" % (r.choice([r.randrange(-256, -16), r.randrange(16, 256)]), reg)
        if kind == "idx16":
            b.ensure(reg)
            return "%d,%s" % (r.choice([r.randrange(-512, -256), r.randrange(256, 512)]), reg)
        if kind == "acc":
            b.ensure(reg)
            return "%s,%s" % (r.choice("ab"), reg)
        if kind == "accd":
            b.ensure(reg)
            b.emit("ldd #%s" % h(r.randrange(0, 0x200), 4))
            return "d,%s" % reg
        if kind == "auto":
            b.ensure(reg)
            n = r.randrange(1, 9)
            form = r.choice(["%d,+%s", "%d,-%s", "%d,%s+", "%d,%s-"])
            setattr(b, reg, getattr(b, reg) + (n if "+" in form else -n))
            return form % (n, reg)
        # indirect through the pointer table
        i = r.randrange(0, 120)
        base = PTRTAB + 2 * i
        b.emit("ld%s #%s" % (reg, h(base, 4)))
        setattr(b, reg, base)
        if kind == "ind16":
            return "[%d,%s]" % (2 * r.randrange(0, 8), reg)
        b.emit("ldd #%s" % h(2 * r.randrange(0, 8), 4))
        return "[d,%s]" % reg

    def safe(self):
        """An instruction that leaves X, Y and SP alone (for branch regions)."""
        b, r = self.b, self.r
        b.count += 1
        c = r.randrange(4)
        if c == 0:
            b.emit(r.choice(self.INH[:24] + ["sba", "tab", "tba", "clc", "sec", "clv", "sev"]))
        elif c == 1:
            op = r.choice(self.ALU8)
            b.emit("%s %s" % (op, r.choice(["#" + h(r.randrange(256)),
                                              self.operand(1, modify_ok=False)])))
        elif c == 2:
            op = r.choice(["addd", "subd", "cpd", "ldd"])
            b.emit("%s %s" % (op, r.choice(["#" + h(r.randrange(65536), 4),
                                              self.operand(2, modify_ok=False)])))
        else:
            op = r.choice(["staa", "stab", "std"])
            b.emit("%s %s" % (op, self.operand(2, write=True, modify_ok=False)))

    def forward(self, branch_line_fn):
        """A forward branch over 0..3 safe instructions."""
        b = self.b
        b.ensure("x")
        b.ensure("y")
        target = b.label()
        b.emit(branch_line_fn(target))
        for _ in range(self.r.randrange(4)):
            self.safe()
        b.lines.append(target + ":")

    def pcrel_move(self):
        """movb/movw with a PC-relative source (raw bytes: the offset the CPU
        adds is what is tested, not an assembler's reading of it)."""
        b, r = self.b, self.r
        word = r.random() < 0.5
        off = r.randrange(-16, 16)
        xb = 0xC0 | (off & 0x1F)
        dst = r.randrange(DATA_LO, DATA_HI - 2)
        if r.random() < 0.5:   # idx -> ext
            op = 0x05 if word else 0x0D
            code = [0x18, op, xb, dst >> 8, dst & 0xFF]
        else:                  # idx -> idx (destination through Y)
            yv = b.ensure("y")
            op = 0x02 if word else 0x0A
            code = [0x18, op, xb, 0x40 | (r.randrange(0, 16))]
            del yv
        b.forms.add("move-pcrel")
        b.emit(".byte " + ",".join(h(v) for v in code))

    def instruction(self):
        b, r = self.b, self.r
        b.count += 1
        c = r.randrange(100)
        if c < 22:
            op = r.choice(self.ALU8)
            mode = r.choice(["imm", "mem", "mem"])
            b.forms.add(op + "-" + mode)
            b.emit("%s %s" % (op, "#" + h(r.randrange(256)) if mode == "imm" else self.operand(1)))
        elif c < 32:
            op = r.choice(self.ALU16)
            mode = r.choice(["imm", "mem"])
            b.forms.add(op + "-" + mode)
            b.emit("%s %s" % (op, "#" + h(r.randrange(65536), 4) if mode == "imm" else self.operand(2)))
        elif c < 38:
            op = r.choice(["staa", "stab", "std", "stx", "sty"])
            b.forms.add(op)
            b.emit("%s %s" % (op, self.operand(2, write=True)))
        elif c < 46:
            op = r.choice(self.RMW)
            b.forms.add(op)
            b.emit("%s %s" % (op, self.operand(1, write=True)))
        elif c < 58:
            op = r.choice(self.INH)
            b.forms.add(op)
            b.emit(op)
            if op in ("emul", "emuls"):
                b.y = None
        elif c < 66:
            # stack
            b.ensure_stack()
            if b.depth > 40 and r.random() < 0.5:
                op = r.choice(["pula", "pulb", "pulc", "puld", "pulx", "puly"])
                b.depth -= 2 if op in ("puld", "pulx", "puly") else 1
                if op == "pulx":
                    b.x = None
                if op == "puly":
                    b.y = None
            else:
                op = r.choice(["psha", "pshb", "pshc", "pshd", "pshx", "pshy"])
                b.depth += 2 if op in ("pshd", "pshx", "pshy") else 1
            b.forms.add(op)
            b.emit(op)
        elif c < 70:
            op = r.choice(["bset", "bclr", "brset", "brclr"])
            b.forms.add(op)
            if op in ("bset", "bclr"):
                b.emit("%s %s, #%s" % (op, self.operand(1, write=True, indirect_ok=False), h(r.randrange(256))))
            else:
                mask = h(r.randrange(256))
                self.forward(lambda t: "%s %s, #%s, %s" % (
                    op, self.operand(1, modify_ok=False), mask, t))
        elif c < 75:
            op = r.choice(self.BRANCHES + ["lbne", "lbeq", "lbcc", "lbcs", "lbmi", "lbge", "lbgt", "lbhi",
                                           "lbra", "lbrn", "lbvs", "lble"])
            b.forms.add(op)
            self.forward(lambda t: "%s %s" % (op, t))
        elif c < 78:
            kind = r.choice(["dbeq", "dbne", "tbeq", "tbne", "ibeq", "ibne"])
            reg = r.choice(["a", "b", "d", "x", "y"])
            b.forms.add(kind + "-" + reg)
            if reg in "xy":
                # counting on an index register: give it a value near zero first
                b.emit("ld%s #%s" % (reg, h(r.randrange(0, 3) if r.random() < 0.5 else 0xFFFF, 4)))
                setattr(b, reg, None)
            elif reg in "ab" and kind[0] in "di":        # ACCEPTED loop8
                b.emit("ld%s #%s" % ("aa" if reg == "a" else "ab",
                                     h(r.choice([1, 2, 0x7F, 0x80, 0xFE] if kind[0] == "d" else [0, 1, 0x7F, 0x80, 0xFD]))))
            self.forward(lambda t: "%s %s, %s" % (kind, reg, t))
        elif c < 83:
            op = r.choice(self.MINMAX)
            b.forms.add(op)
            b.emit("%s %s" % (op, self.operand(2, write=True, indexed_only=True)))
        elif c < 87:
            # divisions with a random divisor, zero now and then
            op = r.choice(["idiv", "idivs", "fdiv", "ediv", "edivs"])
            b.forms.add(op)
            div = r.choice([0, 1, 0xFFFF, r.randrange(65536), r.randrange(1, 256)])
            if op == "fdiv" and div == 0:
                div = 1                                   # ACCEPTED fdiv-zero
            b.emit("ldx #%s" % h(div, 4))
            if op.startswith("e"):
                b.emit("ldy #%s" % h(r.choice([0, r.randrange(65536), r.randrange(256)]), 4))
            b.emit(op)
            if op in ("idivs", "ediv", "edivs"):           # ACCEPTED div-overflow
                t = b.label()
                b.emit("bvc %s" % t)
                b.emit("ldx #0")
                b.emit("ldy #0")
                b.emit("ldd #0")
                b.lines.append(t + ":")
            b.x = b.y = None
        elif c < 90:
            op = r.choice(["movb", "movw"])
            size = 2 if op == "movw" else 1
            b.forms.add(op)
            if r.random() < 0.15:
                self.pcrel_move()
                return
            src = r.choice(["imm", "ext", "idx"])
            dst = r.choice(["ext", "idx"])
            def mop(kind):
                if kind == "imm":
                    return "#" + h(r.randrange(1 << (8 * size)), 2 * size)
                if kind == "ext":
                    return h(r.randrange(DATA_LO, DATA_HI - 2), 4)
                return self.move_idx()
            b.forms.add("%s-%s-%s" % (op, src, dst))
            s = mop(src)
            b.emit("%s %s, %s" % (op, s, mop(dst)))
        elif c < 93:
            # transfers, exchanges, sign extension
            regs8, regs16 = ["a", "b", "ccr"], ["d", "x", "y"]
            op = r.choice(["tfr", "exg", "sex"])
            if op == "sex":
                s, d = r.choice(["a", "b"]), r.choice(regs16)
            else:
                s, d = r.choice(regs8 + regs16), r.choice(regs8 + regs16)
            b.forms.add("%s-%s-%s" % (op, s, d))
            b.emit("%s %s,%s" % (op, s, d))
            if d in "xy" or (op == "exg" and s in "xy"):
                b.x = b.y = None if True else None
        elif c < 95:
            op = r.choice(["leax", "leay", "leas"])
            b.forms.add(op)
            if op == "leas":
                n = r.randrange(-16, 16)
                b.emit("leas %d,sp" % n)
                b.depth -= n
            else:
                reg = r.choice("xy")
                b.ensure(reg)
                n = r.choice([r.randrange(-16, 16), r.randrange(-200, 200)])
                b.emit("%s %d,%s" % (op, n, reg))
                setattr(b, op[3], getattr(b, reg) + n)
        elif c < 97:
            # ACCEPTED tbl, etbl, mem: no table lookups or fuzzy logic; more multiplies instead
            op = r.choice(["emul", "emuls", "mul"])
            b.forms.add(op)
            b.emit("ldy #%s" % h(r.randrange(65536), 4))
            b.emit(op)
            b.y = None
        elif c < 98:
            b.forms.add("emacs")
            b.ensure("x")
            b.ensure("y")
            b.emit("emacs %s" % h(r.randrange(DATA_LO, DATA_HI - 4), 4))
        elif c < 99:
            op = r.choice(["andcc", "orcc"])
            b.forms.add(op)
            b.emit("%s #%s" % (op, h(r.randrange(256))))
        else:
            subroutine(self, r.choice(["bsr", "jsr", "jsr-idx", "call", "swi"]))

    def move_idx(self):
        """A move operand: only the one-byte postbyte forms."""
        b, r = self.b, self.r
        reg = r.choice("xy")
        b.ensure(reg)
        k = r.randrange(3)
        if k == 0:
            return "%d,%s" % (r.randrange(-16, 16), reg)
        if k == 1:
            return "%s,%s" % (r.choice("ab"), reg)
        n = r.randrange(1, 9)
        form = r.choice(["%d,+%s", "%d,-%s", "%d,%s+", "%d,%s-"])
        setattr(b, reg, getattr(b, reg) + (n if "+" in form else -n))
        return form % (n, reg)

    def prologue(self, regs):
        b = self.b
        b.lines += ["\t.text", "\t.globl _start", "_start:"]
        b.emit("lds #%s" % h(STACK_TOP, 4))
        a_, b_, x, y, cc = regs
        b.emit("ldd #%s" % h(a_ << 8 | b_, 4))
        b.emit("ldx #%s" % h(x, 4))
        b.emit("ldy #%s" % h(y, 4))
        b.emit("ldaa #%s" % h(cc & ~0x40 & 0xFF))
        b.lines.append("\ttfr a,ccr")
        b.emit("ldd #%s" % h(a_ << 8 | b_, 4))
        b.x, b.y = x, y

    def epilogue(self):
        b = self.b
        b.emit("pshc")
        b.emit("std %s" % h(RESULT, 4))
        b.emit("stx %s" % h(RESULT + 2, 4))
        b.emit("sty %s" % h(RESULT + 4, 4))
        b.emit("sts %s" % h(RESULT + 6, 4))
        b.emit("pula")
        b.emit("staa %s" % h(RESULT + 8, 4))
        b.emit(".byte 0x18,0x41")

    def after(self):
        """Pushes part of the state after an instruction (no flags change)."""
        b, r = self.b, self.r
        b.ensure_stack()
        b.emit("pshc")
        b.depth += 1
        if r.random() < 0.15:
            b.emit("pshd")
            b.emit("pshx")
            b.emit("pshy")
            b.depth += 6


class Gen11:
    """68HC11 instruction forms."""

    ALU8 = ["adda", "adca", "suba", "sbca", "anda", "oraa", "eora", "bita", "cmpa", "ldaa",
            "addb", "adcb", "subb", "sbcb", "andb", "orab", "eorb", "bitb", "cmpb", "ldab"]
    ALU16 = ["addd", "subd", "cpd", "cpx", "cpy", "ldd"]
    RMW = ["neg", "com", "inc", "dec", "lsr", "rol", "ror", "asr", "asl", "clr", "tst"]
    INH = ["nega", "coma", "inca", "deca", "lsra", "rola", "rora", "asra", "asla", "clra", "tsta",
           "negb", "comb", "incb", "decb", "lsrb", "rolb", "rorb", "asrb", "aslb", "clrb", "tstb",
           "lsrd", "asld", "aba", "sba", "cba", "tab", "tba", "mul", "nop", "clc", "sec", "clv",
           "sev", "cli", "sei", "tpa"]
    BRANCHES = Gen12.BRANCHES

    def __init__(self, b):
        self.b = b
        self.r = b.rng

    def operand(self, size, modify_ok=True, allow_imm=False):
        b, r = self.b, self.r
        kind = r.choice(["ext", "dir", "idx", "idx"])
        b.forms.add("opnd-" + kind)
        if kind == "ext":
            return h(r.randrange(DATA_LO, DATA_HI - size), 4)
        if kind == "dir":
            return "*" + h(r.randrange(0, 0x100 - size))
        reg = r.choice("xy")
        b.ensure(reg, DATA_LO, DATA_HI - 0x100)
        return "%d,%s" % (r.randrange(0, 256), reg)

    def safe(self):
        b, r = self.b, self.r
        b.count += 1
        c = r.randrange(3)
        if c == 0:
            b.emit(r.choice(self.INH[:24]))
        elif c == 1:
            op = r.choice(self.ALU8)
            operand = r.choice(["#" + h(r.randrange(256)), self.operand(1)])
            if op == "adcb" and not operand.startswith("#"):
                operand = "#0x5a"                          # ACCEPTED adcb11-ext
            b.emit("%s %s" % (op, operand))
        else:
            b.emit("%s %s" % (r.choice(["staa", "stab", "std"]), self.operand(2)))

    def forward(self, line_fn):
        b = self.b
        b.ensure("x", DATA_LO, DATA_HI - 0x100)
        b.ensure("y", DATA_LO, DATA_HI - 0x100)
        target = b.label()
        b.emit(line_fn(target))
        for _ in range(self.r.randrange(4)):
            self.safe()
        b.lines.append(target + ":")

    def instruction(self):
        b, r = self.b, self.r
        b.count += 1
        c = r.randrange(100)
        if c < 25:
            op = r.choice(self.ALU8)
            mode = r.choice(["imm", "mem", "mem"])
            b.forms.add(op + "-" + mode)
            operand = "#" + h(r.randrange(256)) if mode == "imm" else self.operand(1)
            if op == "adcb":
                while not (operand.startswith("#") or "," in operand or operand.startswith("*")):
                    operand = self.operand(1)             # ACCEPTED adcb11-ext
            b.emit("%s %s" % (op, operand))
        elif c < 35:
            op = r.choice(self.ALU16)
            mode = r.choice(["imm", "mem"])
            b.forms.add(op + "-" + mode)
            b.emit("%s %s" % (op, "#" + h(r.randrange(65536), 4) if mode == "imm" else self.operand(2)))
        elif c < 42:
            op = r.choice(["staa", "stab", "std", "stx", "sty"])
            b.forms.add(op)
            b.emit("%s %s" % (op, self.operand(2)))
        elif c < 52:
            op = r.choice(self.RMW)
            b.forms.add(op)
            mem = r.choice(["ext", "idx"])
            if mem == "ext":
                b.emit("%s %s" % (op, h(r.randrange(DATA_LO, DATA_HI), 4)))
            else:
                reg = r.choice("xy")
                b.ensure(reg, DATA_LO, DATA_HI - 0x100)
                b.emit("%s %d,%s" % (op, r.randrange(256), reg))
        elif c < 66:
            op = r.choice(self.INH)
            b.forms.add(op)
            b.emit(op)
        elif c < 74:
            b.ensure_stack()
            if b.depth > 40 and r.random() < 0.5:
                op = r.choice(["pula", "pulb", "pulx", "puly"])
                b.depth -= 2 if op in ("pulx", "puly") else 1
                if op == "pulx":
                    b.x = None
                if op == "puly":
                    b.y = None
            else:
                op = r.choice(["psha", "pshb", "pshx", "pshy"])
                b.depth += 2 if op in ("pshx", "pshy") else 1
            b.forms.add(op)
            b.emit(op)
        elif c < 79:
            op = r.choice(["bset", "bclr", "brset", "brclr"])
            b.forms.add(op)
            mask = h(r.randrange(256))
            if r.random() < 0.5:
                ea = "*" + h(r.randrange(256))
            else:
                reg = r.choice("xy")
                b.ensure(reg, DATA_LO, DATA_HI - 0x100)
                ea = "%d,%s" % (r.randrange(256), reg)
            if op in ("bset", "bclr"):
                b.emit("%s %s, #%s" % (op, ea, mask))
            else:
                self.forward(lambda t: "%s %s, #%s, %s" % (op, ea, mask, t))
        elif c < 85:
            op = r.choice(self.BRANCHES)
            b.forms.add(op)
            self.forward(lambda t: "%s %s" % (op, t))
        elif c < 89:
            op = r.choice(["idiv", "fdiv"])
            b.forms.add(op)
            div = r.choice([0, 1, 0xFFFF, r.randrange(65536), r.randrange(1, 256)])
            if op == "fdiv" and div == 0:
                div = 1                                   # ACCEPTED fdiv-zero
            b.emit("ldx #%s" % h(div, 4))
            b.emit(op)
            b.x = None
        elif c < 93:
            op = r.choice(["inx", "dex", "iny", "dey", "abx", "aby", "xgdx", "xgdy", "tsx", "tsy",
                           "ins", "des"])
            b.forms.add(op)
            if op in ("ins", "des"):
                b.ensure_stack()
                b.depth += 1 if op == "des" else -1
            b.emit(op)
            if op[-1] in "xy" and op not in ("ins", "des"):
                setattr(b, op[-1], None)
        elif c < 96:
            op = r.choice(["tap", "tpa"])
            b.forms.add(op)
            b.emit(op)
        elif c < 98:
            b.forms.add("jmp-fwd")
            self.forward(lambda t: "jmp %s" % t)
        else:
            subroutine(self, r.choice(["bsr", "jsr", "jsr-idx", "swi"]))

    def prologue(self, regs):
        b = self.b
        b.lines += ["\t.text", "\t.globl _start", "_start:"]
        b.emit("lds #%s" % h(STACK_TOP, 4))
        b.emit("ldx #%s" % h(PAGE0_COPY, 4))
        b.emit("ldy #0")
        b.lines.append("P0:")
        b.emit("ldaa 0,x")
        b.emit("staa 0,y")
        b.emit("inx")
        b.emit("iny")
        b.emit("cpy #0x100")
        b.emit("bne P0")
        a_, b_, x, y, cc = regs
        b.emit("ldaa #%s" % h(cc & ~0x40 & 0xFF))
        b.lines.append("\ttap")
        b.emit("ldd #%s" % h(a_ << 8 | b_, 4))  # ldd sets N, Z, V: part of the test
        b.emit("ldx #%s" % h(x, 4))
        b.emit("ldy #%s" % h(y, 4))
        b.x, b.y = x, y

    def epilogue(self):
        b = self.b
        b.emit("psha")
        b.emit("tpa")
        b.emit("staa %s" % h(RESULT + 8, 4))
        b.emit("pula")
        b.emit("std %s" % h(RESULT, 4))
        b.emit("stx %s" % h(RESULT + 2, 4))
        b.emit("sty %s" % h(RESULT + 4, 4))
        b.emit("sts %s" % h(RESULT + 6, 4))
        b.emit("ldx #0")
        b.emit("ldy #%s" % h(PAGE0_COPY, 4))
        b.lines.append("P1:")
        b.emit("ldaa 0,x")
        b.emit("staa 0,y")
        b.emit("inx")
        b.emit("iny")
        b.emit("cpx #0x100")
        b.emit("bne P1")
        b.emit(".byte 0x41")

    def after(self):
        b, r = self.b, self.r
        if r.random() < 0.2:
            b.ensure_stack()
            b.emit("psha")
            b.emit("pshb")
            b.depth += 2


def subroutine(g, kind):
    """A call to a small subroutine placed after a branch around it, so the
    return address and the stack traffic are compared too."""
    b, r = g.b, g.r
    b.ensure("x")
    b.ensure("y")
    b.ensure_stack()
    sub, over = b.label(), b.label()
    b.forms.add(kind)
    if kind == "bsr":
        b.emit("bsr %s" % sub)
    elif kind == "jsr":
        b.emit("jsr %s" % sub)
    elif kind == "jsr-idx":
        b.emit("ldx #%s" % sub)
        b.emit("jsr 0,x")
        b.x = None
    elif kind == "call":
        b.emit("call %s, %d" % (sub, r.randrange(256)))
    elif kind == "swi":
        b.emit("tab")                                     # ACCEPTED frame-ab
        b.emit("swi")
        b.count += 1
        return
    b.emit("bra %s" % over)
    b.lines.append(sub + ":")
    for _ in range(r.randrange(4)):
        g.safe()
    b.emit({"call": "rtc", "swi": "rti"}.get(kind, "rts"))
    b.lines.append(over + ":")
    b.count += 1


def make_window(rng):
    w = bytearray(rng.randrange(256) for _ in range(WINDOW_SIZE))
    for i in range(0x200 // 2):
        p = rng.randrange(DATA_LO + 0x100, DATA_HI - 0x100)
        w[PTRTAB - WINDOW + 2 * i] = p >> 8
        w[PTRTAB - WINDOW + 2 * i + 1] = p & 0xFF
    w[0:0x20] = bytes(0x20)
    return bytes(w)


def make_block(cpu, seed, size):
    rng = random.Random(seed)
    b = Block(rng, cpu)
    g = Gen12(b) if cpu == 12 else Gen11(b)
    regs = (rng.randrange(256), rng.randrange(256), rng.randrange(DATA_LO + 0x200, DATA_HI - 0x200),
            rng.randrange(DATA_LO + 0x200, DATA_HI - 0x200), rng.randrange(256))
    g.prologue(regs)
    b.marks.append(len(b.lines))
    while b.count < size:
        g.instruction()
        g.after()
        b.marks.append(len(b.lines))
    body = list(b.lines)
    g.epilogue()
    # The SWI handler: the stacked registers are compared, RTI restores them.
    b.lines.append("SWIH:")
    b.emit("rti")
    b.lines += ["\t.section .vectors", "\t.word SWIH"]
    b.epilogue = b.lines[len(body):]
    b.lines = body
    return b, make_window(rng)


def block_source(block, upto=None):
    """The block's program, cut after `upto` random instructions."""
    lines = block.lines if upto is None else block.lines[:block.marks[upto]]
    # A cut may fall between a branch and its label: keep every label.
    labels = [l for l in block.lines[len(lines):] if l.endswith(":")]
    return "\n".join(lines + labels + block.epilogue) + "\n"


def run_source(args, d, cpu, source, window):
    """Runs one program in both simulators: (qorbsim window, reference window, problem)."""
    src, obj, elf = os.path.join(d, "p.s"), os.path.join(d, "p.o"), os.path.join(d, "p.elf")
    with open(src, "w") as f:
        f.write(source)
    march = "-m68hc12" if cpu == 12 else "-m68hc11"
    emul = "m68hc12elf" if cpu == 12 else "m68hc11elf"
    def run(cmd, timeout=60):
        try:
            return subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=timeout)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(cmd, -1, "", "did not end within %d s" % timeout)
    p = run([args.gas, march, "-o", obj, src])
    if p.returncode:
        return None, None, "GNU as failed:\n" + p.stderr
    p = run([args.ld, "-m", emul, "-T", args.link, "-o", elf, obj])
    if p.returncode:
        return None, None, "ld failed:\n" + p.stderr
    s19 = os.path.join(d, "p.s19")
    p = run([args.objcopy, "-O", "srec", elf, s19])
    if p.returncode:
        return None, None, "objcopy failed:\n" + p.stderr
    win_s19 = os.path.join(d, "w.s19")
    with open(win_s19, "w") as f:
        f.write(srec({WINDOW: window}))
    win_bin = os.path.join(d, "w.bin")
    with open(win_bin, "wb") as f:
        f.write(window)
    p = run([args.gdbsim, "--memory-mapfile", win_bin, "--memory-region", "0x%x,0x%x" % (WINDOW, WINDOW_SIZE), elf],
            timeout=10)
    refnote = p.stderr.strip()
    with open(win_bin, "rb") as f:
        ref = f.read()
    p = run([args.qorbsim, march, "--regs", "--max-cycles", "10000000", "--dump", "0x%x:%d" % (WINDOW, WINDOW_SIZE),
             win_s19, s19], timeout=10)
    if p.returncode != 4:
        return None, ref, "qorbsim exit %d (expected 4: the end marker)\n%s%s" % (p.returncode, p.stdout, p.stderr)
    ours = bytearray()
    for line in p.stdout.splitlines()[1:]:
        ours += bytes(int(v, 16) for v in line.split()[1:])
    if refnote:
        return bytes(ours), ref, "the reference stopped: " + refnote
    return bytes(ours), ref, None


def run_block(args, work, cpu, seed, size):
    block, window = make_block(cpu, seed, size)
    d = os.path.join(work, "b%d" % seed)
    os.makedirs(d, exist_ok=True)
    ours, ref, problem = run_source(args, d, cpu, block_source(block), window)
    if problem is None and ours == ref:
        shutil.rmtree(d, ignore_errors=True)
        return seed, block, None
    # Find the first random instruction after which the two differ.
    lo, hi = 0, len(block.marks) - 1
    while lo < hi:
        mid = (lo + hi) // 2
        o, r, p = run_source(args, d, cpu, block_source(block, mid), window)
        if p is None and o == r:
            lo = mid + 1
        else:
            hi = mid
    ours, ref, problem = run_source(args, d, cpu, block_source(block, lo), window)
    first = block.lines[block.marks[lo - 1]:block.marks[lo]] if lo else []
    report = ["after random instruction %d:" % lo] + ["    " + l.strip() for l in first]
    if problem:
        report.append(problem)
    if ours is not None and ref is not None:
        diffs = [i for i in range(WINDOW_SIZE) if ours[i] != ref[i]]
        names = {0: "A", 1: "B", 2: "XH", 3: "XL", 4: "YH", 5: "YL", 6: "SPH", 7: "SPL", 8: "CCR"}
        report.append("%d bytes differ; first:" % len(diffs))
        for i in diffs[:10]:
            where = names.get(i, "$%04X" % (WINDOW + i))
            report.append("  %s: qorbsim %02X reference %02X" % (where, ours[i], ref[i]))
    march = "-m68hc12" if cpu == 12 else "-m68hc11"
    report.append("shortest program kept in %s (replay: qorbsim %s --trace w.s19 p.s19)" % (d, march))
    return seed, block, "\n".join(report)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qorbsim", required=True)
    ap.add_argument("--gdbsim")
    ap.add_argument("--build-gdbsim")
    ap.add_argument("--cpu", type=int, choices=(11, 12), required=True)
    ap.add_argument("--instructions", type=int, default=100000)
    ap.add_argument("--block", type=int, default=250)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--gas", default=shutil.which("m68hc11-as"))
    ap.add_argument("--ld", default=shutil.which("m68hc11-ld"))
    ap.add_argument("--objcopy", default=shutil.which("m68hc11-objcopy"))
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()

    if not args.gdbsim and args.build_gdbsim:
        p = subprocess.run(["bash", args.build_gdbsim], capture_output=True, text=True, timeout=3600)
        if p.returncode == 0:
            args.gdbsim = p.stdout.strip().splitlines()[-1]
        else:
            sys.stderr.write(p.stderr)
    if not args.gdbsim or not os.access(args.gdbsim, os.X_OK):
        print("SKIP: the reference simulator (GDB's m68hc11 sim) is not available here;"
              " build it with tests/sim/build-gdbsim.sh (root, network, about 10 minutes)")
        return 77
    if not (args.gas and args.ld and args.objcopy):
        print("SKIP: GNU binutils for m68hc11 (package binutils-m68hc1x) are missing")
        return 77

    work = tempfile.mkdtemp(prefix="qorbsim-diff%d-" % args.cpu)
    args.link = os.path.join(work, "link.ld")
    with open(args.link, "w") as f:
        f.write(LINK_SCRIPT)
    nblocks = (args.instructions + args.block - 1) // args.block
    seeds = [args.seed * 100000 + i for i in range(nblocks)]
    failures, total, forms = [], 0, set()
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for seed, block, problem in pool.map(lambda s: run_block(args, work, args.cpu, s, args.block), seeds):
            total += block.count
            forms |= block.forms
            if problem:
                failures.append((seed, problem))
    print("CPU%s: %d blocks, %d random instructions, %d forms" % (
        "12" if args.cpu == 12 else " 68HC11", nblocks, total, len(forms)))
    for key, reason in ACCEPTED.items():
        print("accepted difference %s: %s" % (key, reason))
    for seed, problem in failures[:10]:
        print("block %d:\n%s" % (seed, problem))
    if failures:
        print("%d of %d blocks differ" % (len(failures), nblocks))
        return 1
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
