"""qorbsim's command-line contract: options, numbers, the S-record loader and
its messages, the start address, exit statuses, --regs, --dump and --trace.

usage: cli_test.py QORBSIM
"""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simtest import Runner, record, regs, srec  # noqa: E402

QORBSIM = None

NOP12 = b"\xA7"        # 1 cycle
BGND = b"\x00"         # 5 cycles, ends the run with 6
NOP11 = b"\x01"        # 2 cycles


class Contract(unittest.TestCase):
    def setUp(self):
        self.r = Runner(QORBSIM)

    def test_usage_errors(self):
        cases = [
            ([], "name the CPU"),
            (["-m68hc12"], "no S-record file"),
            (["-m68hc12", "-m68hc11", "x.s19"], "exclude each other"),
            (["-m68hc11", "-hcs", "x.s19"], "-hcs goes with -m68hc12"),
            (["-m68hc12", "--frobnicate", "x.s19"], "unknown option '--frobnicate'"),
            (["-m68hc12", "--pc", "0x10000", "x.s19"], "bad address for --pc"),
            (["-m68hc12", "--pc", "12ab", "x.s19"], "bad address for --pc"),
            (["-m68hc12", "--sp"], "--sp needs a value"),
            (["-m68hc12", "--max-cycles", "-5", "x.s19"], "bad cycle count"),
            (["-m68hc12", "--max-cycles", "99999999999999999999999", "x.s19"], "bad cycle count"),
            (["-m68hc12", "--dump", "0x2000", "x.s19"], "bad --dump"),
            (["-m68hc12", "--dump", "0x2000:0", "x.s19"], "bad --dump"),
            (["-m68hc12", "--dump", "0xFFF0:17", "x.s19"], "runs past $FFFF"),
            (["-m68hc12", "--regs=1", "x.s19"], "takes no value"),
        ]
        for args, text in cases:
            with self.subTest(args=args):
                status, out, err = self.r.run(*args)
                self.assertEqual(status, 1)
                self.assertEqual(out, "")
                self.assertTrue(err.startswith("qorbsim: "), err)
                self.assertIn(text, err)
                self.assertIn("usage: qorbsim -m68hc12|-m68hc11", err)

    def test_help(self):
        status, out, err = self.r.run("--help")
        self.assertEqual((status, err), (0, ""))
        self.assertIn("exit status", out)

    def test_numbers_in_every_notation(self):
        prog = self.r.write("p.s19", srec({0x1000: NOP12 * 8 + BGND}))
        for spelling in ("0x1003", "$1003", "4099", "0X1003"):
            with self.subTest(spelling=spelling):
                status, out, _ = self.r.run("-m68hc12", "--regs", "--stop-at", spelling, prog)
                self.assertEqual(status, 0)
                self.assertEqual(regs(out)["PC"], 0x1003)
        status, out, _ = self.r.run("-m68hc12", "--regs", "--stop-at=$1002", "--max-cycles=0x10", prog)
        self.assertEqual((status, regs(out)["PC"]), (0, 0x1002))

    def test_load_errors_name_file_and_line(self):
        good = record(1, 0x1000, b"\xA7\x00")
        bad_sum = good[:-2] + "%02X" % ((int(good[-2:], 16) + 1) & 0xFF)
        cases = [
            (good + "\n" + bad_sum + "\n", 2, "checksum error"),
            (good + "\nS1051000A7G0FF\n", 2, "bad hex digit"),
            ("S1061000A700\n", 1, "does not match"),
            ("S10" + "\n", 1, "odd number of hex digits"),
            ("hello\n", 1, "not an S-record"),
            ("S4030000FC\n", 1, "unknown record type S4"),
            ("SX030000FC\n", 1, "unknown record type"),
            (record(2, 0xFFFFF, b"\x01\x02") + "\n", 1, "beyond $FFFF"),
            (record(3, 0x10000, b"\x01") + "\n", 1, "beyond $FFFF"),
            (record(1, 0xFFFF, b"\x01\x02") + "\n", 1, "beyond $FFFF"),
            (record(8, 0x12345) + "\n", 1, "start address $12345 is beyond $FFFF"),
            ("S1" + "0" * 2000 + "\n", 1, "line longer than"),
            ("S103\n", 1, "count $3 does not match the record's 0 bytes"),
            ("S10200FD\n", 1, "record too short"),
            ("\n\n" + record(1, 0x1000, b"\xA7") + "\nS9\n", 4, "record without a count"),
        ]
        for text, line, message in cases:
            with self.subTest(message=message, text=text[:40]):
                path = self.r.write("bad.s19", text)
                status, out, err = self.r.run("-m68hc12", "--regs", path)
                self.assertEqual(status, 1)
                self.assertEqual(out, "")
                self.assertRegex(err, r"^qorbsim: %s\(%d\): .*%s" % (re.escape(path), line, re.escape(message)))
                self.assertEqual(len(err.splitlines()), 1)

    def test_file_errors(self):
        status, _, err = self.r.run("-m68hc12", "missing.s19")
        self.assertEqual(status, 1)
        self.assertEqual(err, "qorbsim: missing.s19: cannot open: No such file or directory\n")
        os.mkdir(os.path.join(self.r.dir, "folder"))
        status, _, err = self.r.run("-m68hc11", "folder")
        self.assertEqual((status, err), (1, "qorbsim: folder: is a directory, not an S-record file\n"))
        empty = self.r.write("empty.s19", "S9030000FC\n")
        status, _, err = self.r.run("-m68hc12", empty)
        self.assertEqual(status, 1)
        self.assertIn("nothing to run", err)

    def test_binary_junk_and_endless_lines_end_cleanly(self):
        junk = self.r.write("junk.s19", bytes(range(256)) * 64)
        status, _, err = self.r.run("-m68hc12", junk)
        self.assertEqual(status, 1)
        self.assertTrue(err.startswith("qorbsim: %s(1): " % junk), err)
        status, _, err = self.r.run("-m68hc12", "/dev/zero", timeout=10)
        self.assertEqual(status, 1)
        self.assertIn("line longer than", err)

    def test_a_damaged_file_loads_nothing(self):
        # The first record is sound, the second is not: no byte of the file
        # reaches memory, and the run does not start.
        text = record(1, 0x1000, b"\x00") + "\nS1031000\n"
        path = self.r.write("half.s19", text)
        status, out, _ = self.r.run("-m68hc12", "--dump", "0x1000:1", path)
        self.assertEqual((status, out), (1, ""))

    def test_start_address_rules(self):
        code = NOP12 * 4 + BGND
        # --pc wins over everything
        path = self.r.write("a.s19", srec({0x1000: code, 0xFFFE: b"\x10\x02"}, start=0x1001))
        status, out, _ = self.r.run("-m68hc12", "--regs", "--max-cycles", "0", "--pc", "$1003", path)
        self.assertEqual((status, regs(out)["PC"]), (3, 0x1003))
        # then a non-zero S9 address
        status, out, _ = self.r.run("-m68hc12", "--regs", "--max-cycles", "0", path)
        self.assertEqual(regs(out)["PC"], 0x1001)
        # then the reset vector, when both of its bytes were loaded
        path = self.r.write("b.s19", srec({0x1000: code, 0xFFFE: b"\x10\x02"}))
        status, out, _ = self.r.run("-m68hc12", "--regs", "--max-cycles", "0", path)
        self.assertEqual(regs(out)["PC"], 0x1002)
        path = self.r.write("c.s19", srec({0x1000: code, 0xFFFF: b"\x02"}))
        status, out, _ = self.r.run("-m68hc12", "--regs", "--max-cycles", "0", path)
        self.assertEqual(regs(out)["PC"], 0x1000)
        # then the lowest loaded address, over several files
        p1 = self.r.write("d1.s19", srec({0x3000: code}))
        p2 = self.r.write("d2.s19", srec({0x2000: code}))
        status, out, _ = self.r.run("-m68hc12", "--regs", "--max-cycles", "0", p1, p2)
        self.assertEqual(regs(out)["PC"], 0x2000)
        # S2 and S3 records below $10000 load like S1
        path = self.r.write("e.s19", srec({0x1800: code}, kind=3, start=0x1801))
        status, out, _ = self.r.run("-m68hc12", "--regs", path)
        self.assertEqual((status, regs(out)["PC"], regs(out)["CYCLES"]), (6, 0x1805, 3 + 5))

    def test_start_state(self):
        status, out, _ = self.r.program(12, BGND)
        self.assertEqual(status, 6)
        self.assertEqual(out, "PC=1001 A=00 B=00 X=0000 Y=0000 SP=0000 CCR=D0 CYCLES=5\n")
        status, out, _ = self.r.program(11, b"\x01", extra=("--sp", "0x00FF", "--max-cycles", "1"))
        self.assertEqual(out, "PC=1001 A=00 B=00 X=0000 Y=0000 SP=00FF CCR=D0 CYCLES=2\n")

    def test_later_files_win(self):
        p1 = self.r.write("one.s19", srec({0x2000: b"\x11\x22\x33\x44"}))
        p2 = self.r.write("two.s19", srec({0x2001: b"\xAA\xBB"}))
        status, out, _ = self.r.run("-m68hc12", "--pc", "0x1000", "--max-cycles", "0", "--dump",
                                    "0x2000:5", p1, p2)
        self.assertEqual(out, "2000: 11 AA BB 44 00\n")
        status, out, _ = self.r.run("-m68hc12", "--pc", "0x1000", "--max-cycles", "0", "--dump",
                                    "0x2000:5", p2, p1)
        self.assertEqual(out, "2000: 11 22 33 44 00\n")

    def test_stop_at_the_start_runs_nothing(self):
        status, out, _ = self.r.program(12, NOP12 + BGND, extra=("--stop-at", "0x1000"))
        self.assertEqual(status, 0)
        self.assertEqual(regs(out)["PC"], 0x1000)
        self.assertEqual(regs(out)["CYCLES"], 0)

    def test_max_cycles_finishes_the_instruction(self):
        # ldd #1 (2 cycles) repeated: the count reaches 5 during the third.
        status, out, _ = self.r.program(12, b"\xCC\x00\x01" * 10, extra=("--max-cycles", "5"))
        self.assertEqual(status, 3)
        self.assertEqual((regs(out)["CYCLES"], regs(out)["PC"]), (6, 0x1009))
        status, out, _ = self.r.program(12, NOP12 * 10, extra=("--max-cycles", "5"))
        self.assertEqual((status, regs(out)["CYCLES"]), (3, 5))

    def test_first_event_in_execution_order_wins(self):
        # bgnd comes before the stop address and before the cycle limit.
        status, out, _ = self.r.program(12, NOP12 + BGND + NOP12, extra=("--stop-at", "0x1002",
                                                                          "--max-cycles", "4"))
        self.assertEqual((status, regs(out)["CYCLES"]), (6, 6))
        # the cycle limit is reached before the stop address
        status, out, _ = self.r.program(12, NOP12 * 4 + BGND, extra=("--stop-at", "0x1003",
                                                                      "--max-cycles", "2"))
        self.assertEqual((status, regs(out)["PC"]), (3, 0x1002))
        # several stop addresses: the first reached
        status, out, _ = self.r.program(12, NOP12 * 4 + BGND, extra=("--stop-at", "0x1003",
                                                                      "--stop-at", "0x1001"))
        self.assertEqual((status, regs(out)["PC"]), (0, 0x1001))

    def test_illegal_opcode_and_trap_without_vector(self):
        # CPU12: TRAP $30 with the vector at $FFF8 unset ($0000, then $FFFF)
        status, out, _ = self.r.program(12, NOP12 + b"\x18\x30" + BGND)
        self.assertEqual(status, 4)
        self.assertEqual(regs(out)["PC"], 0x1001)
        self.assertEqual(regs(out)["CYCLES"], 1)
        status, out, _ = self.r.program(12, b"\x18\xFF", chunks={0xFFF8: b"\xFF\xFF"})
        self.assertEqual((status, regs(out)["PC"]), (4, 0x1000))
        # with a vector the trap is taken: the handler ends with bgnd
        status, out, _ = self.r.program(12, b"\xCF\x30\x00\x18\x30", chunks={0xFFF8: b"\x20\x00",
                                                                              0x2000: BGND})
        self.assertEqual(status, 6)
        r = regs(out)
        self.assertEqual((r["PC"], r["SP"], r["CCR"] & 0x10), (0x2001, 0x3000 - 9, 0x10))
        # 68HC11: $41 is an illegal opcode, and TEST ($00) is one outside test modes
        for code in (b"\x41", b"\x00", b"\x18\x41", b"\x1A\x01", b"\xCD\x86"):
            with self.subTest(code=code.hex()):
                status, out, _ = self.r.program(11, NOP11 + code)
                self.assertEqual((status, regs(out)["PC"], regs(out)["CYCLES"]), (4, 0x1001, 2))

    def test_stop_and_wait(self):
        # stop with S set is disabled (a no-op); after andcc #$7F it stops
        status, out, _ = self.r.program(12, b"\x18\x3E" + BGND)
        self.assertEqual(status, 6)
        status, out, _ = self.r.program(12, b"\xCF\x30\x00\x10\x7F\x18\x3E" + BGND)
        self.assertEqual((status, regs(out)["PC"]), (5, 0x1007))
        status, out, _ = self.r.program(11, b"\xCF\x01", extra=("--max-cycles", "4"))
        self.assertEqual((status, regs(out)["PC"]), (3, 0x1002))
        status, out, _ = self.r.program(11, b"\x06\xCF\x01", extra=("--max-cycles", "100"))  # tap: A=0 clears S
        self.assertEqual((status, regs(out)["PC"]), (5, 0x1002))
        # wai with I and X set: nothing can wake it
        status, out, _ = self.r.program(12, b"\xCF\x30\x00\x3E" + BGND)
        self.assertEqual((status, regs(out)["PC"], regs(out)["SP"]), (5, 0x1004, 0x3000 - 9))
        status, out, _ = self.r.program(11, b"\x8E\x00\xFF\x3E\x01")
        self.assertEqual((status, regs(out)["PC"], regs(out)["SP"]), (5, 0x1004, 0x00FF - 9))
        # wai with I clear on this board: no device can raise an interrupt either
        status, out, _ = self.r.program(12, b"\xCF\x30\x00\x10\xEF\x3E" + BGND)
        self.assertEqual(status, 5)

    def test_dump_lines(self):
        data = bytes(range(0x30, 0x30 + 20))
        status, out, _ = self.r.program(12, BGND, chunks={0x2008: data},
                                        extra=("--dump", "0x2008:20", "--dump", "$FFFE:2", "--dump", "4096:1"))
        self.assertEqual(status, 6)
        self.assertEqual(out.splitlines()[1:], [
            "2008: 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F",
            "2018: 40 41 42 43",
            "FFFE: 00 00",
            "1000: 00",
        ])

    def test_trace_lines(self):
        code = b"\x86\x05" + b"\x18\x0B\x12\x20\x00" + b"\xCE\x20\x00" + b"\x6A\x30" + BGND
        status, out, err = self.r.program(12, code, extra=("--trace",))
        self.assertEqual(status, 6)
        self.assertEqual(err.splitlines(), [
            "1000  86 05               ldaa #$05                 A=05 B=00 X=0000 Y=0000 SP=0000 CCR=D0",
            "1002  18 0B 12 20 00      movb #$12,$2000           A=05 B=00 X=0000 Y=0000 SP=0000 CCR=D0",
            "1007  CE 20 00            ldx #$2000                A=05 B=00 X=2000 Y=0000 SP=0000 CCR=D0",
            "100A  6A 30               staa 1,x+                 A=05 B=00 X=2001 Y=0000 SP=0000 CCR=D0",
            "100C  00                  bgnd                      A=05 B=00 X=2001 Y=0000 SP=0000 CCR=D0",
        ])
        # An illegal opcode ran nothing: no line for it; a stop address likewise.
        status, out, err = self.r.program(11, b"\x86\x80\x41", extra=("--trace",))
        self.assertEqual(status, 4)
        self.assertEqual(err.splitlines(), [
            "1000  86 80               ldaa #$80                 A=80 B=00 X=0000 Y=0000 SP=0000 CCR=D8",
        ])
        status, out, err = self.r.program(12, NOP12 * 3, extra=("--trace", "--stop-at", "0x1001"))
        self.assertEqual((status, len(err.splitlines())), (0, 1))
        # A wait that nothing ends (I clear, but no device): one line for the
        # WAI, none after it.
        wstatus, _, werr = self.r.program(12, b"\xCF\x30\x00\x10\xEF\x3E", extra=("--trace",))
        self.assertEqual((wstatus, [l[:4] for l in werr.splitlines()]), (5, ["1000", "1003", "1005"]))
        # The trace and the plain run agree.
        status2, out2, _ = self.r.program(12, NOP12 * 3, extra=("--stop-at", "0x1001"))
        self.assertEqual((status, out), (status2, out2))


if __name__ == "__main__":
    QORBSIM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
