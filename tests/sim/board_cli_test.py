"""qorbsim's boards through the real programs: programs assembled with qorb11
and qorb12 that print on the SCI (standard output with --sci stdio), read
from it, count real-time interrupts, write ports (--trace-ports) and touch
unmapped memory; board files; the usage errors of the board options.

usage: board_cli_test.py --asm DIR_WITH_QORB12_QORB11 --qorbsim QORBSIM
"""

import argparse
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import termios
import time
import unittest

ARGS = None

# Prints "HI!" through the SCI, polling TDRE, waits for TC, then spins at
# $01F0 (the tests stop there).
HELLO11 = """
        org $0100
start   ldx #$1000
        ldaa #$30
        staa $2B,x       ; BAUD: 9600 baud at E = 2 MHz
        ldaa #$0C
        staa $2D,x       ; TE, RE
        ldy #msg
next    ldaa 0,y
        beq drain
wait    brclr $2E,x $80 wait
        staa $2F,x
        iny
        bra next
drain   brclr $2E,x $40 drain
        jmp fin
msg     fcc "HI!"
        fcb 0
        org $01F0
fin     bra fin
"""

# Reads characters, sends each back in upper case, ends at '.'.
ECHO11 = """
        org $0100
start   ldx #$1000
        ldaa #$0C
        staa $2D,x       ; BAUD stays 0: 125000 baud at 2 MHz
get     brclr $2E,x $20 get
        ldaa $2F,x
        cmpa #'a'
        blo put
        cmpa #'z'
        bhi put
        suba #$20
put     brclr $2E,x $80 put
        staa $2F,x
        cmpa #'.'
        bne get
drain   brclr $2E,x $40 drain
        jmp fin
        org $01F0
fin     bra fin
"""

# Waits for five real-time interrupts (E / 2^13 each) with WAI; the
# handler counts them in $0080.
RTI11 = """
        org $0100
start   lds #$01FF
        ldx #$1000
        clr $80
        ldaa #$40
        staa $24,x       ; RTII
        cli
again   wai
        ldaa $80
        cmpa #5
        blo again
        jmp fin
isr     ldx #$1000
        ldaa #$40
        staa $25,x       ; clear RTIF
        inc $80
        rti
        org $01F0
fin     bra fin
        org $FFF0
        fdb isr
"""

# Writes PORTB twice and reads an address the board file leaves unmapped.
PORTS11 = """
        org $0100
start   ldaa #$55
        staa $1004
        ldaa #$AA
        staa $1004
        ldaa $9000
        jmp $01F0
        org $01F0
fin     bra fin
"""

# The same greeting on the 68HC12 boards' SCI0 (base in SCI).
HELLO12 = """
SCI     equ {sci}
        org {org}
start   movb #0,SCI
        movb #52,SCI+1   ; 9600 baud at 8 MHz
        movb #$0C,SCI+3
        ldy #msg
next    ldaa 1,y+
        beq drain
wait    brclr SCI+4,$80,wait
        staa SCI+7
        bra next
drain   brclr SCI+4,$40,drain
        bgnd
msg     fcc "OK12"
        fcb 0
"""


class Boards(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qorbsim-board-")

    def asm(self, cpu, source, name="p"):
        path = os.path.join(self.dir, name + ".asm")
        with open(path, "w") as f:
            f.write(source)
        out = os.path.join(self.dir, name + ".s19")
        p = subprocess.run([os.path.join(ARGS.asm, "qorb%d" % cpu), path, "-Fo:" + out],
                           capture_output=True, text=True, timeout=30)
        self.assertIn("0 error(s)", p.stdout + p.stderr, p.stdout + p.stderr)
        return out

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def sim(self, *args, stdin=""):
        p = subprocess.run([ARGS.qorbsim, *args], input=stdin, capture_output=True, text=True,
                           cwd=self.dir, timeout=30)
        return p.returncode, p.stdout, p.stderr

    def test_sci_output_on_standard_output_and_results_on_standard_error(self):
        prog = self.asm(11, HELLO11)
        status, out, err = self.sim("-m68hc11", "--board", "hc11e9", "--sci", "stdio", "--stop-at", "0x1F0",
                                    "--regs", "--max-cycles", "2000000", prog)
        self.assertEqual(status, 0, err)
        self.assertEqual(out, "HI!")
        m = re.search(r"PC=01F0 .* CYCLES=(\d+)", err)
        self.assertTrue(m, err)
        # Three frames of 2080 cycles at least: the program waited for the line.
        self.assertGreater(int(m.group(1)), 3 * 2080)
        # Without a serial line the program runs the same; nothing is shown.
        status, out, err = self.sim("--board", "hc11e9", "--stop-at", "0x1F0", "--regs", prog)
        self.assertEqual(status, 0, err)
        self.assertTrue(out.startswith("PC=01F0"), out)

    def test_sci_input_from_standard_input(self):
        prog = self.asm(11, ECHO11)
        status, out, err = self.sim("--board", "hc11e9", "--sci", "stdio", "--stop-at", "0x1F0",
                                    "--max-cycles", "20000000", prog, stdin="abc xyz.ignored")
        self.assertEqual((status, out), (0, "ABC XYZ."), err)

    def test_stdio_on_a_terminal_is_raw_and_restored(self):
        # On a terminal, characters reach the program as typed (no line
        # editing, no echo by the terminal) and the terminal's modes come
        # back when qorbsim ends.
        prog = self.asm(11, ECHO11)
        master, slave = pty.openpty()
        try:
            before = termios.tcgetattr(slave)
            p = subprocess.Popen([ARGS.qorbsim, "--board", "hc11e9", "--sci", "stdio", "--stop-at", "0x1F0",
                                  "--max-cycles", "40000000", prog], stdin=slave, stdout=slave,
                                 stderr=subprocess.PIPE, cwd=self.dir)
            got = b""
            deadline = time.monotonic() + 20
            sent = False
            while not got.endswith(b"Q.") and time.monotonic() < deadline:
                # Typed once qorbsim has put the terminal in raw mode, and
                # without Enter: raw mode passes the keys on at once.
                if not sent and termios.tcgetattr(slave) != before:
                    os.write(master, b"q.")
                    sent = True
                r, _, _ = select.select([master], [], [], 0.05)
                if r:
                    got += os.read(master, 100)
            self.assertEqual(p.wait(timeout=20), 0, p.stderr.read())
            p.stderr.close()
            self.assertEqual(got, b"Q.")
            self.assertEqual(termios.tcgetattr(slave), before)
        finally:
            os.close(master)
            os.close(slave)

    def test_real_time_interrupts_wake_wai(self):
        prog = self.asm(11, RTI11)
        status, out, err = self.sim("--board", "hc11e9", "--stop-at", "0x1F0", "--regs",
                                    "--dump", "0x80:1", "--max-cycles", "1000000", prog)
        self.assertEqual(status, 0, err)
        cycles = int(re.search(r"CYCLES=(\d+)", out).group(1))
        self.assertGreaterEqual(cycles, 5 * 8192)
        self.assertLess(cycles, 6 * 8192)
        self.assertIn("0080: 05", out)

    def test_trace_ports_and_unmapped_policies(self):
        prog = self.asm(11, PORTS11)
        board = self.write("lab.ini", "[board]\nname = lab\ncpu = 68hc11\nunmapped = stop\n"
                                      "[memory]\nram = $0000-$7FFF\nregisters = $1000\nrom = $E000-$FFFF\n")
        status, out, err = self.sim("--board", board, "--trace-ports", "--stop-at", "0x1F0", prog)
        self.assertEqual(status, 7, err)
        lines = err.splitlines()
        self.assertRegex(lines[0], r"^qorbsim: PORTB \$1004 <- \$55 at cycle \d+$")
        self.assertRegex(lines[1], r"^qorbsim: PORTB \$1004 <- \$AA at cycle \d+$")
        self.assertEqual(lines[2], "qorbsim: unmapped access at $9000 (PC=010D)")
        # warn: one line, and the program goes on; ignore: silence.
        for policy, status_expected, text in (("warn", 0, "qorbsim: unmapped read at $9000 (reads $FF)\n"),
                                              ("ignore", 0, "")):
            board = self.write("b.ini", "[board]\ncpu = 68hc11\nunmapped = %s\n[memory]\nram = $0000-$7FFF\n"
                                        "registers = $1000\n" % policy)
            status, out, err = self.sim("--board", board, "--stop-at", "0x1F0", prog)
            self.assertEqual((status, err), (status_expected, text))

    def test_68hc12_boards_print_on_sci0(self):
        for board, sci, org, extra in (("hc912b32", "$C0", "$0800", ["-m68hc12"]),
                                       ("s12dp256", "$C8", "$1000", [])):
            with self.subTest(board=board):
                prog = self.asm(12, HELLO12.format(sci=sci, org=org), name=board)
                status, out, err = self.sim(*extra, "--board", board, "--sci", "stdio", prog)
                self.assertEqual((status, out), (6, "OK12"), err)

    def test_loading_where_no_memory_is(self):
        prog = self.write("r.s19", "S1041004AA3D\nS9030000FC\n")
        status, out, err = self.sim("--board", "hc11e9", prog)
        self.assertEqual(status, 1)
        self.assertEqual(err, "qorbsim: data at $1004 falls on the register block of board hc11e9\n")
        prog = self.write("u.s19", "S1048000AAD1\nS9030000FC\n")
        status, out, err = self.sim("--board", "hc11e9", prog)
        self.assertEqual(err, "qorbsim: data at $8000 falls on no memory of board hc11e9\n")

    def test_usage_errors(self):
        prog = self.write("n.s19", "S10501000101F7\nS9030000FC\n")
        bad = self.write("bad.ini", "[board]\ncpu = 68hc11\nrom-write = sometimes\n")
        cases = [
            (["-m68hc12", "--board", "hc11e9"], "board hc11e9 has a 68HC11: -m68hc12 does not fit it"),
            (["-m68hc11", "--board", "s12dp256"], "board s12dp256 has an HCS12: -m68hc11 does not fit it"),
            (["--board", "nosuch"], "unknown board 'nosuch' (boards: flat, hc912b32, s12dp256, hc11e9, mini11;"),
            (["--board", bad], "bad.ini(3): rom-write 'sometimes': ignore, warn or stop"),
            (["--board", self.dir], "is a directory"),
            (["-m68hc11", "--sci", "pty"], "--sci needs a board with a serial interface"),
            (["--board", "hc11e9", "--sci", "serial"], "bad --sci 'serial': none, stdio or pty"),
            (["-m68hc11", "--trace-ports"], "--trace-ports needs a board"),
            (["--board", "hc11e9", "--trace-ports=yes"], "takes no value"),
            (["-hcs"], "name the CPU: -m68hc12 or -m68hc11"),
            (["-hcs", "--board", "hc912b32"], "board hc912b32 has a 68HC12: -hcs does not fit it"),
        ]
        for args, text in cases:
            with self.subTest(args=args):
                status, out, err = self.sim(*args, prog)
                self.assertEqual(status, 1, err)
                self.assertIn(text, err)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--asm", required=True)
    parser.add_argument("--qorbsim", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
