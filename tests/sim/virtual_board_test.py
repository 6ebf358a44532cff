"""The virtual board end to end: qorbsim runs the mini11 board's monitor with
its serial line on a pseudo-terminal, and the test talks to it as a
terminal would: the banner and prompt, writing and showing memory, loading
an S-record program with the monitor's L command, running it with J and
reading what it prints on the line, and an S-record with a bad checksum.

usage: virtual_board_test.py --asm DIR_WITH_QORB11 --qorbsim QORBSIM --monitor MINIBUG.S19
"""

import argparse
import os
import re
import select
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


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--asm", required=True)
    parser.add_argument("--qorbsim", required=True)
    parser.add_argument("--monitor", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
