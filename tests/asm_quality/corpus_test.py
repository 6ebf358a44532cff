#!/usr/bin/env python3
"""Assembles every program of the corpus of real programs written by others.

None may crash or hang. The ones written in this assembler's syntax must
assemble without errors (Frogger's object file is pinned); the ones written
for other assemblers' dialects must end with the errors their foreign
constructs deserve and nothing worse.

usage: corpus_test.py <dir with qorb12 and qorb11> <test folder>
"""

import os
import shutil
import subprocess
import sys
import tempfile

# (file, program, extra args, expected exit status, texts stdout must contain)
CASES = [
    # Classic Motorola syntax; its author's labels Game_Over and GAME_OVER
    # differ only in case, so it needs -case ...
    ("hc12/68HC12_Frogger/Frogger.asm", "qorb12", ["-case", "-l", "-ls"], 0,
     ["Frogger.asm: 0 warning(s), 0 error(s)"]),
    # ... and without it the second spelling is a redefinition.
    ("hc12/68HC12_Frogger/Frogger.asm", "qorb12", [], 2,
     ["Frogger.asm(1552): Error A2039: col(1) 'game_over': illegal redefinition of symbol",
      "Frogger.asm: 1 warning(s), 1 error(s)"]),
    # Another vendor's syntax: only its ABSENTRY directive is foreign once the
    # register file it expects is found (a stand-in with the four names).
    ("hc12/hcs12_dragon12_asm/Sources/Name_LCD_Main.asm", "qorb12", ["-i:{stand_in}", "-l", "-lc"], 2,
     ["Name_LCD_Main.asm(9): Error A2027: col(5) 'ABSENTRY': unknown mnemonic or pseudo command",
      "Name_LCD_Main.asm: 0 warning(s), 1 error(s)"]),
    ("hc12/hcs12_dragon12_asm/Sources/Name_LCD_Main.asm", "qorb12", [], 2,
     ["Name_LCD_Main.asm(6): Note A5003: failed to open file 'mc9s12dp256.inc'",
      "Name_LCD_Main.asm(6): Error A2003: col(13) cannot open 'mc9s12dp256.inc': No such file or directory"]),
    ("hc12/hcs12_dragon12_asm/Sources/Name_LCD_Macro.mac", "qorb12", [], 0,
     ["Name_LCD_Macro.mac: 0 warning(s), 0 error(s)"]),
    # Motorola freeware 68HC11 syntax.
    ("hc11/68hc11-lightshow/main.asm", "qorb11", ["-l"], 0, ["main.asm: 0 warning(s), 0 error(s)"]),
    ("hc11/68hc11-lightshow/subroutines1.asm", "qorb11", ["-l"], 0,
     ["subroutines1.asm: 0 warning(s), 0 error(s)"]),
    ("hc11/68hc11-lightshow/subroutines2.asm", "qorb11", ["-l"], 0,
     ["subroutines2.asm: 0 warning(s), 0 error(s)"]),
    # Written for a macro assembler with dot directives and built-in string
    # symbols: those constructs fail, nothing else may.
    ("hc11/Mini11-M8/kbug6811.asm", "qorb11", ["-l"], None, ["kbug6811.asm: "]),
    ("hc11/Mini11-M8/kbug6811-boot.asm", "qorb11", ["-l"], None, ["kbug6811-boot.asm: "]),
    ("hc11/Mini11-M8E/kbug6811m8e.asm", "qorb11", ["-l"], None, ["kbug6811m8e.asm: "]),
    ("hc11/Mini11-M8E/code/minibug11m8e.asm", "qorb11", ["-l"], None, ["minibug11m8e.asm: "]),
    ("hc11/Mini11-M8E/code/HC11defs.inc", "qorb11", [], 0, ["HC11defs.inc: 0 warning(s), 0 error(s)"]),
    # Its outer include names ../include from a folder without one: found
    # only through an include directory beside include/.
    ("hc11/Mini11-M8E/code/staged-boot/minibug-mini11-m8e.s", "qorb11", [], 2,
     ["minibug-mini11-m8e.s(39): Note A5003: failed to open file '../include/stage2-mini11-m8e.inc'"]),
    ("hc11/Mini11-M8E/code/staged-boot/minibug-mini11-m8e.s", "qorb11", ["-i:include", "-l"], None,
     ["minibug-mini11-m8e.s: "]),
    ("hc11/Mini11-M8E/code/staged-boot/include/HC11defs.inc", "qorb11", [], 0,
     ["HC11defs.inc: 0 warning(s), 0 error(s)"]),
    ("hc11/Mini11-M8E/code/staged-boot/include/M8Edefs.inc", "qorb11", [], 0,
     ["M8Edefs.inc: 0 warning(s), 0 error(s)"]),
    ("hc11/Mini11-M8E/code/staged-boot/include/miniboot-mini11-m8e.inc", "qorb11", [], 0,
     ["miniboot-mini11-m8e.inc: 0 warning(s), 0 error(s)"]),
    ("hc11/Mini11-M8E/code/staged-boot/include/stage2-mini11-m8e.inc", "qorb11", [], None,
     ["stage2-mini11-m8e.inc: "]),
]

# Object files whose content is known: Frogger's tables agree byte for byte
# with GNU as, and its code was checked against a disassembly.
EXPECTED_OBJECTS = {"hc12/68HC12_Frogger/Frogger.asm": "Frogger.s19"}

SOURCE_SUFFIXES = (".asm", ".s", ".inc", ".mac")


def main():
    bindir, here = sys.argv[1], sys.argv[2]
    corpus = os.path.join(here, "corpus")
    listed = {c[0] for c in CASES}
    failures = []
    for root, _, files in os.walk(corpus):
        for f in files:
            rel = os.path.relpath(os.path.join(root, f), corpus)
            if f.endswith(SOURCE_SUFFIXES) and rel not in listed:
                failures.append(f"{rel}: program of the corpus without a case")

    with tempfile.TemporaryDirectory() as scratch:
        work = os.path.join(scratch, "corpus")
        shutil.copytree(corpus, work)
        stand_in = os.path.join(here, "stand-in")
        for rel, program, extra, want_exit, texts in CASES:
            path = os.path.join(work, rel)
            folder, name = os.path.split(path)
            args = [os.path.join(bindir, program), "-nologo"]
            args += [a.replace("{stand_in}", stand_in) for a in extra] + [name]
            label = f"{rel} ({program} {' '.join(extra)})"
            try:
                p = subprocess.run(args, cwd=folder, capture_output=True, timeout=60,
                                   env={k: v for k, v in os.environ.items() if not k.startswith("QORB")})
            except subprocess.TimeoutExpired:
                failures.append(f"{label}: no end within 60 s")
                continue
            out = p.stdout.decode("latin-1")
            if p.returncode not in (0, 2) or "Internal error" in out:
                failures.append(f"{label}: exit status {p.returncode}\n{out}{p.stderr.decode('latin-1')}")
                continue
            if want_exit is not None and p.returncode != want_exit:
                failures.append(f"{label}: exit status {p.returncode}, expected {want_exit}\n{out}")
            for t in texts:
                if t not in out:
                    failures.append(f"{label}: missing in output: {t}\n{out}")
            base = os.path.splitext(path)[0]
            if p.returncode == 0 and not os.path.exists(base + ".s19"):
                failures.append(f"{label}: no object file")
            if "-l" in extra and p.returncode == 0 and not os.path.exists(base + ".lst"):
                failures.append(f"{label}: no listing")
            expected = EXPECTED_OBJECTS.get(rel)
            if expected and p.returncode == 0:
                with open(os.path.join(here, "expected", expected), "rb") as f:
                    want = f.read()
                with open(base + ".s19", "rb") as f:
                    got = f.read()
                if got != want:
                    failures.append(f"{label}: object file differs from expected/{expected}")
            print(f"{label}: exit {p.returncode}, {out.strip().splitlines()[-1] if out.strip() else ''}")

    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
