#!/usr/bin/env python3
"""The line map (-g) checked against the object, the listing and the symbol
listing, over every program the repository holds: the corpus of real
programs, the examples and the sources of the end-to-end cases.

For every source that assembles:
- every byte of the S-records is covered by exactly one L record;
- every L record names the line the listing shows at its address (a file
  line by its number; both by their text, which also tells the files apart);
- a line of a macro expansion or repeat block carries its call chain, and
  every line of that chain calls a macro or ends a repeat block;
- every symbol of -ls is in the map with the value -ls shows.
A source that fails leaves no map.

usage: linemap_test.py <dir with qorb12 and qorb11> <repository root>
"""

import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run_cases  # noqa: E402  (the .case reader)

# Cases built to run long or to break things say nothing about the map.
SKIPPED_CASE_FILES = {"runaway.case", "hostile.case"}
SOURCE_SUFFIXES = (".asm", ".s", ".inc", ".mac")

failures = []
counts = collections.Counter()


def fail(label, msg):
    failures.append(f"{label}: {msg}")


def read_text(path):
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


def unescape(field):
    return re.sub(r"\\(.)", lambda m: {"t": "\t", "n": "\n"}.get(m.group(1), m.group(1)), field)


def parse_map(text):
    lines = text.split("\n")
    head = lines[0].split("\t")
    files, ranges, symbols, entry = {}, [], [], None
    for line in lines[1:]:
        if not line:
            continue
        f = line.split("\t")
        if f[0] == "F":
            files[int(f[1])] = unescape(f[2])
        elif f[0] == "L":
            nums = [int(x) for x in f[3:]]
            chain = list(zip(nums[0::2], nums[1::2]))
            ranges.append((int(f[1], 16), int(f[2]), chain))
        elif f[0] == "S":
            symbols.append((unescape(f[1]), int(f[2], 16), f[3], int(f[4]), int(f[5])))
        elif f[0] == "E":
            entry = int(f[1], 16)
    return head, files, ranges, symbols, entry


def srecord_bytes(text):
    placed = collections.Counter()
    for line in text.splitlines():
        if line.startswith("S1"):
            count = int(line[2:4], 16)
            addr = int(line[4:8], 16)
            for i in range(count - 3):
                placed[(addr + i) & 0xFFFF] += 1
    return placed


LISTED = re.compile(r"^\s*(\d+)([:m]) (.{31})(?: \[..\]|     )? ?(.*)$")


def parse_listing(text):
    """Address -> [(number, marker, text)] for every byte the listing shows,
    and the -ls symbols (name -> value)."""
    shown, symbols = {}, {}
    body, _, table = text.replace("\r", "").partition("\nSymbols:\n")
    last = None
    for line in body.split("\n"):
        m = LISTED.match(line)
        if m:
            number, marker, field, src = int(m.group(1)), m.group(2), m.group(3), m.group(4)
            last = (number, marker, src)
        elif line.startswith("       ") and last and re.match(r"^ {7}( {4}[0-9A-F]{4}|[0-9A-F]{8}) [0-9A-F]", line):
            field = line[7:]
        else:
            continue
        mm = re.match(r"^ *([0-9A-F]{4,8}) (\+([0-9A-F]{4})|((?:[0-9A-F]+ )*[0-9A-F]+))", field)
        if not mm or field.lstrip().startswith("="):
            continue
        addr = int(mm.group(1), 16)
        n = int(mm.group(3), 16) if mm.group(3) else len("".join(mm.group(4).split())) // 2
        for i in range(n):
            # Sections may share addresses: every line shown there counts.
            if last not in shown.setdefault(addr + i, []):
                shown[addr + i].append(last)
    for line in table.split("\n"):
        # The name is padded to 32 columns; a longer one (up to 256
        # characters) pushes the marker and value to its right.
        m = re.match(r"^(\S+) +[*?]?([0-9a-fA-F]{8})$", line)
        if m:
            symbols[m.group(1)] = int(m.group(2), 16)
    return shown, symbols


def squeeze(text):
    return "".join(text.split())


def command_word(line):
    """The command word of a source line (lower case), or ''."""
    if not line or line[0] in "*;":
        return ""
    words = re.findall(r"[A-Za-z_.][\w.$]*|:", line.split(";")[0])
    if not words:
        return ""
    if line[0] in " \t":
        return words[0].lower().lstrip(".")
    rest = [w for w in words[1:] if w != ":"]
    return rest[0].lower().lstrip(".") if rest else ""


def check_map(label, folder, source, map_path, s19, listing):
    head, files, ranges, symbols, _ = parse_map(read_text(map_path))
    if head[:2] != ["QORBMAP", "1"] or len(head) != 4:
        fail(label, f"bad first line {head}")
    if files.get(1) != os.path.normpath(os.path.join(folder, source)):
        fail(label, f"F 1 is {files.get(1)}")
    lines_of = {}
    for n, path in files.items():
        if not os.path.isabs(path) or not os.path.isfile(path):
            fail(label, f"F {n} {path} is no absolute path of a file")
            return
        # The assembler drops carriage returns and Ctrl-Z wherever they stand.
        lines_of[n] = read_text(path).replace("\r", "").replace("\x1a", "").split("\n")

    covered = collections.Counter()
    for addr, length, _ in ranges:
        for i in range(length):
            covered[(addr + i) & 0xFFFF] += 1
    placed = srecord_bytes(read_text(s19))
    if covered != placed:
        missing = sorted(a for a in placed if covered[a] < placed[a])[:5]
        extra = sorted(a for a in covered if covered[a] > placed[a])[:5]
        fail(label, "L records do not cover the S-records once each: "
             f"uncovered {[hex(a) for a in missing]}, twice or outside {[hex(a) for a in extra]}")

    macros = set()
    for text_lines in lines_of.values():
        for line in text_lines:
            m = re.match(r"^([A-Za-z_.][\w.$]*):?\s+\.?macro\b", line, re.I)
            if m:
                macros.add(m.group(1).lower())
    shown, ls_symbols = parse_listing(read_text(listing))
    for addr, length, chain in ranges:
        (file, line), calls = chain[0], chain[1:]
        if not 1 <= line <= len(lines_of[file]):
            fail(label, f"L {addr:04X} names line {line} of F {file}, which has no such line")
            continue
        text = lines_of[file][line - 1]
        for cfile, cline in calls:
            word = command_word(lines_of[cfile][cline - 1]) if 1 <= cline <= len(lines_of[cfile]) else ""
            if word not in macros and word not in ("endr", "rept", "repeat"):
                fail(label, f"L {addr:04X}: call line {cfile}:{cline} calls no macro ({word!r})")
            counts["call"] += 1
        for i in range(length):
            if addr + i not in shown:
                continue
            counts["listed"] += 1
            problems = []
            for number, marker, listed in shown[addr + i]:
                if marker == ":" and (calls or number != line):
                    problems.append(f"L {addr:04X} names {file}:{line}{' called' if calls else ''}, "
                                    f"the listing shows line {number} there")
                elif marker == "m" and not calls:
                    problems.append(f"L {addr:04X}: the listing shows an expansion line, the map no call")
                elif "\\" not in text and not squeeze(text).startswith(squeeze(listed)):
                    problems.append(f"L {addr:04X} names {file}:{line} {text!r}, the listing shows {listed!r}")
                else:
                    problems = []
                    break
            for p in problems:
                fail(label, p)
            break

    last = {}
    for name, value, kind, file, line in symbols:
        if kind not in ("label", "equ", "set", "local", "section"):
            fail(label, f"symbol {name} of kind {kind}")
        if kind in ("label", "equ", "set"):
            last[name] = value
    for name, value in ls_symbols.items():
        counts["symbol"] += 1
        if name not in last:
            fail(label, f"-ls lists {name}, the map does not")
        elif last[name] != value:
            fail(label, f"{name}: -ls shows {value:08x}, the map {last[name]:08x}")


def assemble(label, program, folder, source, extra, bindir):
    base = os.path.splitext(os.path.join(folder, source))[0]
    for ext in (".s19", ".lst", ".dbg"):
        if os.path.exists(base + ext):
            os.remove(base + ext)
    args = [os.path.join(bindir, program), "-nologo", "-g", "-l", "-ls"] + extra + [source]
    env = {k: v for k, v in os.environ.items() if not k.startswith("QORB")}
    try:
        p = subprocess.run(args, cwd=folder, capture_output=True, timeout=30, env=env)
    except subprocess.TimeoutExpired:
        fail(label, "no end within 30 s")
        return
    err = p.stderr.decode("latin-1")
    if p.returncode not in (0, 2) or "Sanitizer" in err or "runtime error" in err:
        fail(label, f"exit status {p.returncode}\n{err}")
        return
    if p.returncode != 0:
        if os.path.exists(base + ".dbg"):
            fail(label, f"exit status {p.returncode}, yet a map was written")
        counts["failed"] += 1
        return
    if not os.path.exists(base + ".dbg"):
        fail(label, "no map")
        return
    counts["checked"] += 1
    check_map(label, folder, source, base + ".dbg", base + ".s19", base + ".lst")


def corpus_sources(root, scratch, bindir):
    for sub, program in (("hc12", "qorb12"), ("hc11", "qorb11")):
        top = os.path.join(root, "tests", "asm_quality", "corpus", sub)
        work = os.path.join(scratch, "corpus", sub)
        shutil.copytree(top, work)
        stand_in = os.path.join(root, "tests", "asm_quality", "stand-in")
        for folder, _, names in os.walk(work):
            for name in sorted(names):
                if name.endswith(SOURCE_SUFFIXES):
                    rel = os.path.relpath(os.path.join(folder, name), work)
                    for extra in ([], ["-case"], ["-i:" + stand_in], ["-i:include"]):
                        assemble(f"corpus {sub}/{rel} {' '.join(extra)}", program, folder, name, extra, bindir)


def example_sources(root, scratch, bindir):
    work = os.path.join(scratch, "examples")
    shutil.copytree(os.path.join(root, "examples"), work)
    for folder, _, names in os.walk(work):
        for name in sorted(names):
            if name.endswith(".asm"):
                program = "qorb11" if "hc11" in folder else "qorb12"
                assemble(f"examples {name}", program, folder, name, [], bindir)


def case_sources(root, scratch, bindir):
    n = 0
    for dirpath, _, names in os.walk(os.path.join(root, "tests")):
        for name in sorted(names):
            if not name.endswith(".case") or name in SKIPPED_CASE_FILES:
                continue
            for case in run_cases.parse(os.path.join(dirpath, name)):
                if not case.files or case.fifos or case.links:
                    continue
                n += 1
                work = os.path.join(scratch, "case%d" % n)
                os.makedirs(work)
                try:
                    run_cases.prepare(case, work)
                except OSError:
                    continue
                for fname, _, _ in case.files:
                    if fname.endswith(".asm") and "/" not in fname and os.path.isfile(os.path.join(work, fname)):
                        assemble(f"{name} '{case.name}' {fname}", case.program, work, fname, [], bindir)
                shutil.rmtree(work, ignore_errors=True)


def main():
    bindir, root = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory(prefix="linemap-") as scratch:
        corpus_sources(root, scratch, bindir)
        example_sources(root, scratch, bindir)
        case_sources(root, scratch, bindir)
    for f in failures:
        print("FAIL:", f)
    print(f"{counts['checked']} maps checked ({counts['failed']} sources failed and left none), "
          f"{counts['listed']} ranges against the listing, {counts['call']} call lines, "
          f"{counts['symbol']} symbols; {len(failures)} problem(s)")
    # The checks must have had something to check.
    if counts["checked"] < 100 or counts["call"] < 20 or counts["symbol"] < 500:
        print("FAIL: too little was checked")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
