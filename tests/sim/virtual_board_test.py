"""The virtual board end to end: qorbsim runs the mini11 board's monitor with
its serial line on a pseudo-terminal, and the test talks to it as a
terminal would: the banner and prompt, writing and showing memory, loading
an S-record program with the monitor's L command, running it with J and
reading what it prints on the line, and an S-record with a bad checksum.
Then the board's own firmware: mini11 boots its monitor with no file given,
a program given waits in memory until J runs it, a program over the monitor
is refused, board files bring their firmware, and an installed tree finds
the monitor beside its programs.

usage: virtual_board_test.py --asm DIR_WITH_QORB11 --qorbsim QORBSIM --monitor MINIBUG.S19
"""

import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest

ARGS = None

# Prints a line on the monitor's SCI (registers at $F000 once the monitor
# has set INIT) and returns to the monitor, whose routines keep X at $F000.
PROGRAM = """
        org $2000
start   ldy #msg
next    ldaa 0,y
        beq done
wait    brclr $2E,x $80 wait
        staa $2F,x
        iny
        bra next
done    rts
msg     fcc "Hello from the virtual board"
        fcb $0D,$0A,0
"""


class Terminal:
    """The far end of the serial line, in raw mode."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd, termios.TCSANOW)
        self.seen = b""

    def send(self, text):
        os.write(self.fd, text.encode() if isinstance(text, str) else text)

    def expect(self, pattern, timeout=10):
        """Reads until `pattern` (a regular expression over bytes) matches what
        has arrived since the last match; returns the match."""
        end = time.monotonic() + timeout
        rx = re.compile(pattern.encode(), re.S)
        while True:
            m = rx.search(self.seen)
            if m:
                self.seen = self.seen[m.end():]
                return m
            left = end - time.monotonic()
            if left <= 0:
                raise AssertionError("no %r on the line; got %r" % (pattern, self.seen))
            r, _, _ = select.select([self.fd], [], [], min(left, 0.2))
            if r:
                self.seen += os.read(self.fd, 4096)

    def close(self):
        os.close(self.fd)


class VirtualBoard(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qorbsim-vb-")
        self.proc = subprocess.Popen([ARGS.qorbsim, "-m68hc11", "--board", "mini11", "--sci", "pty",
                                      ARGS.monitor], stderr=subprocess.PIPE, cwd=self.dir)
        line = self.proc.stderr.readline().decode()
        m = re.fullmatch(r"qorbsim: serial line on (/dev/pts/\d+)\n", line)
        self.assertTrue(m, line)
        self.term = Terminal(m.group(1))

    def tearDown(self):
        self.term.close()
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stderr.close()

    def test_prompt_memory_load_and_run(self):
        t = self.term
        t.expect(r"G\(o\),L\(oad\),P\(roc\),M\(od\),W\(rite\),J\(ump\)\?:\r\n\r\nKBUG->")
        # W AAAA NN writes a byte; M AAAA shows it and takes a new value.
        t.send("W0300a5")
        t.expect(r"KBUG->")
        t.send("M0300")
        t.expect(r"M 0300 A5 ")
        t.send("3C")
        t.expect(r"KBUG->")
        t.send("M0300")
        t.expect(r"M 0300 3C ")
        t.send("3C")
        t.expect(r"KBUG->")

        # Download the program with L (the monitor echoes what it reads) and
        # run it with J: its line arrives, then the prompt again.
        src = os.path.join(self.dir, "hello.asm")
        with open(src, "w") as f:
            f.write(PROGRAM)
        obj = os.path.join(self.dir, "hello.s19")
        p = subprocess.run([os.path.join(ARGS.asm, "qorb11"), src, "-Fo:" + obj], capture_output=True,
                           text=True, timeout=30)
        self.assertIn("0 error(s)", p.stdout + p.stderr)
        with open(obj) as f:
            records = [line.strip() for line in f if line.startswith(("S1", "S9"))]
        t.send("L")
        for rec in records:
            t.send(rec + "\r\n")
        t.expect(r"KBUG->")
        t.send("M2000")
        # (The S9 record's digits after "S9" reach the prompt as commands,
        # as on the real board.)
        t.expect(r"M 2000 18 ")  # ldy #
        t.send("18")
        t.expect(r"KBUG->")
        t.send("J2000")
        t.expect(r"Hello from the virtual board\r\n\r\nKBUG->")

        # A damaged record: the monitor answers '?'.
        t.send("LS1042000CE00\r\n")
        t.expect(r"\?\r\nKBUG->")

        # The simulation serves the line until it is ended.
        self.assertIsNone(self.proc.poll())
        self.proc.send_signal(signal.SIGTERM)
        self.assertEqual(self.proc.wait(timeout=10), 8)


# Prints through the monitor's own output routine (OUTCH at $B652 in the
# monitor's listing: the character in A, X at the registers) and returns to
# the monitor with rts.
GREET = """
outch   equ $B652
        org $2000
start   ldy #msg
next    ldaa 0,y
        beq done
        jsr outch
        iny
        bra next
done    rts
msg     fcc "Greetings through OUTCH"
        fcb $0D,$0A,0
"""

# A tiny firmware for a board file: prints "FW" on the SCI of a 68HC11 with
# its registers at $1000, then waits in a loop.
TINY_FIRMWARE = """
        org $E000
boot    lds #$7FFF
        ldx #$1000
        ldaa #$0C
        staa $2D,x
        ldaa #'F'
        bsr put
        ldaa #'W'
        bsr put
idle    bra idle
put     brclr $2E,x $80 put
        staa $2F,x
        rts
"""

BOARD_FILE = """
[board]
name = fwboard
cpu = 68hc11
reset-vector = $E000
firmware = %s
[memory]
ram = $0000-$7FFF
rom = $E000-$FFFF
registers = $1000
"""


def assemble(folder, name, text):
    src = os.path.join(folder, name + ".asm")
    with open(src, "w") as f:
        f.write(text)
    obj = os.path.join(folder, name + ".s19")
    p = subprocess.run([os.path.join(ARGS.asm, "qorb11"), src, "-Fo:" + obj], capture_output=True, text=True,
                       timeout=30)
    if "0 error(s)" not in p.stdout + p.stderr:
        raise AssertionError(p.stdout + p.stderr)
    return obj


class Firmware(unittest.TestCase):
    """The board's firmware loaded by the board itself: mini11 boots its
    monitor with no file given, a program waits in memory under it, board
    files bring their own, and the faults say what is wrong."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qorbsim-fw-")
        self.procs = []

    def tearDown(self):
        for proc, term in self.procs:
            term.close()
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            proc.stderr.close()

    def run_sim(self, *args, qorbsim=None, stdin=None):
        return subprocess.run([qorbsim or ARGS.qorbsim] + list(args), capture_output=True, text=True,
                              timeout=30, cwd=self.dir, input=stdin)

    def on_pty(self, *args):
        proc = subprocess.Popen([ARGS.qorbsim] + list(args), stderr=subprocess.PIPE, cwd=self.dir)
        line = proc.stderr.readline().decode()
        m = re.fullmatch(r"qorbsim: serial line on (/dev/pts/\d+)\n", line)
        if not m:
            proc.kill()
            proc.wait()
            proc.stderr.close()
            self.fail("no pseudo-terminal: %r %r" % (line, proc.stderr))
        term = Terminal(m.group(1))
        self.procs.append((proc, term))
        return proc, term

    def test_the_board_in_one_command(self):
        _, t = self.on_pty("-m68hc11", "--board", "mini11", "--sci", "pty")
        t.expect(r"J\(ump\)\?:\r\n\r\nKBUG->")
        t.send("W0300a5")
        t.expect(r"KBUG->")
        t.send("M0300")
        t.expect(r"M 0300 A5 ")

    def test_program_waits_in_memory_until_J(self):
        obj = assemble(self.dir, "greet", GREET)
        _, t = self.on_pty("-m68hc11", "--board", "mini11", "--sci", "pty", obj)
        # The monitor boots (the program's own start does not decide), and
        # the program is there without a download.
        t.expect(r"KBUG->")
        t.send("M2000")
        t.expect(r"M 2000 18 ")
        t.send("18")
        t.expect(r"KBUG->")
        t.send("J2000")
        t.expect(r"Greetings through OUTCH\r\n\r\nKBUG->")
        t.send("J2000")
        t.expect(r"Greetings through OUTCH\r\n\r\nKBUG->")

    def test_stdio_and_start_address(self):
        obj = assemble(self.dir, "greet", GREET)
        # Standard input is the terminal; a second of the board's time.
        p = self.run_sim("-m68hc11", "--board", "mini11", "--sci", "stdio", "--max-cycles", "1843200", "--regs",
                         obj, stdin="J2000")
        self.assertEqual(p.returncode, 3, p.stderr)
        self.assertRegex(p.stdout, r"(?s)^G\(o\),L\(oad\).*KBUG->J 2000Greetings through OUTCH\n\nKBUG->$")
        # Without running anything: the PC is the board's reset (the
        # monitor at $B600); --pc still decides; --no-firmware gives the
        # old rules (the program's lowest address) and leaves $B600 erased.
        for extra, pc, b600 in (([], 0xB600, "86"), (["--pc", "0x2000"], 0x2000, "86"),
                                (["--no-firmware"], 0x2000, "FF")):
            with self.subTest(extra=extra):
                p = self.run_sim("-m68hc11", "--board", "mini11", "--max-cycles", "0", "--regs", "--dump",
                                 "0xB600:1", *extra, obj)
                self.assertEqual(p.returncode, 3, p.stderr)
                self.assertIn("PC=%04X " % pc, p.stdout)
                self.assertIn("B600: " + b600, p.stdout)
        p = self.run_sim("-m68hc11", "--board", "mini11", "--no-firmware")
        self.assertEqual(p.returncode, 1)
        self.assertIn("no S-record file", p.stderr)

    def test_overlap_is_an_error_the_same_bytes_are_not(self):
        # A program over the monitor's first bytes: named, not overwritten.
        obj = assemble(self.dir, "over", "        org $B5FE\n        fcb 1,2,3,4\n")
        p = self.run_sim("-m68hc11", "--board", "mini11", "--max-cycles", "0", obj)
        self.assertEqual(p.returncode, 1)
        self.assertEqual(p.stdout, "")
        self.assertIn("over.s19: data at $B600 overlaps the board's firmware (", p.stderr)
        self.assertIn("minibug11m8e.s19, $B600-$B7", p.stderr)
        self.assertIn("--no-firmware", p.stderr)
        # The monitor's own object, as the manual used to give it: no change.
        p = self.run_sim("-m68hc11", "--board", "mini11", "--max-cycles", "20000", "--dump", "0xF02B:3",
                         ARGS.monitor)
        self.assertEqual((p.returncode, p.stdout), (3, "F02B: 00 00 0C\n"), p.stderr)
        # With the firmware left out the overlap is just a program.
        p = self.run_sim("-m68hc11", "--board", "mini11", "--no-firmware", "--max-cycles", "0", "--dump",
                         "0xB600:2", obj)
        self.assertEqual((p.returncode, p.stdout), (3, "B600: 03 04\n"), p.stderr)

    def test_board_file_firmware(self):
        sub = os.path.join(self.dir, "boards")
        os.mkdir(sub)
        assemble(sub, "tiny", TINY_FIRMWARE)
        board = os.path.join(sub, "fw.board")
        with open(board, "w") as f:
            f.write(BOARD_FILE % "tiny.s19")  # relative to the board file, not the working folder
        p = self.run_sim("--board", board, "--sci", "stdio", "--max-cycles", "20000", stdin="")
        self.assertEqual((p.returncode, p.stdout), (3, "FW"), p.stderr)
        # A program beside it waits; the board starts at its reset.
        obj = assemble(self.dir, "prog", "        org $0100\nstart   bra start\n        end start\n")
        p = self.run_sim("--board", board, "--max-cycles", "0", "--regs", obj)
        self.assertEqual(p.returncode, 3, p.stderr)
        self.assertIn("PC=E000 ", p.stdout)

        # Missing: the message names the place looked in.
        with open(board, "w") as f:
            f.write(BOARD_FILE % "gone/tiny.s19")
        p = self.run_sim("--board", board, "--max-cycles", "0")
        self.assertEqual(p.returncode, 1)
        self.assertIn("board fwboard: its firmware is missing: looked in " + os.path.join(sub, "gone", "tiny.s19"),
                      p.stderr)
        self.assertIn("--no-firmware", p.stderr)
        # Firmware where the board has no memory is refused like a program.
        assemble(sub, "wild", "        org $9000\n        fcb 1\n")
        with open(board, "w") as f:
            f.write(BOARD_FILE % "wild.s19")
        p = self.run_sim("--board", board, "--max-cycles", "0")
        self.assertEqual(p.returncode, 1)
        self.assertIn("wild.s19: data at $9000 falls on no memory", p.stderr)
        with open(board, "w") as f:
            f.write(BOARD_FILE % "")
        p = self.run_sim("--board", board, "--max-cycles", "0")
        self.assertEqual(p.returncode, 1)
        self.assertIn("firmware needs an S-record file", p.stderr)

    def test_installed_monitor_is_found_beside_the_programs(self):
        # An installed tree: bin/qorbsim and share/qorbsim/mini11/. The one
        # installed there is taken before the build's (here a different
        # image, so that the test sees which).
        prefix = os.path.join(self.dir, "prefix")
        os.makedirs(os.path.join(prefix, "bin"))
        os.makedirs(os.path.join(prefix, "share", "qorbsim", "mini11"))
        exe = os.path.join(prefix, "bin", "qorbsim")
        shutil.copy(ARGS.qorbsim, exe)
        with open(os.path.join(prefix, "share", "qorbsim", "mini11", "minibug11m8e.s19"), "w") as f:
            f.write("S106B6007EB6000F\nS9030000FC\n")
        p = self.run_sim("-m68hc11", "--board", "mini11", "--max-cycles", "0", "--dump", "0xB600:3",
                         qorbsim=exe)
        self.assertEqual((p.returncode, p.stdout), (3, "B600: 7E B6 00\n"), p.stderr)
        p = self.run_sim("-m68hc11", "--board", "mini11", "--max-cycles", "0", "--dump", "0xB600:3")
        self.assertEqual((p.returncode, p.stdout), (3, "B600: 86 FF B7\n"), p.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--asm", required=True)
    parser.add_argument("--qorbsim", required=True)
    parser.add_argument("--monitor", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
