#!/usr/bin/env python3
"""Compares two builds of the assemblers run for run, byte for byte.

A change meant to leave the assemblers' behaviour alone (a restructuring, a
speed-up) is checked by running an earlier build and the current one on the
same inputs and comparing everything they leave behind: exit status, standard
output and error, and every file of the working directory (objects, listings,
error files, and the sources that must stay untouched). Listing dates and
-stat timings are masked; nothing else is.

The inputs:
  - every case of every .case file under tests/ (files, links, FIFOs,
    environment, standard input and command line as the case gives them);
  - every source under tests/ and examples/ (and the folders named with
    --sources), assembled by both programs in a copy of its folder tree;
  - the lines the GNU cross-checks generate (every mnemonic in every mode);
  - the fuzzer's saved inputs (asm/fuzz/corpus) with the options their first
    byte selects, and the include files the fuzz harness provides.
Each runs as written and again with -l -lc -ls added. Both builds run in the
same scratch path, so names in messages agree.

usage: compare_builds.py --ref DIR --new DIR [--sources DIR ...] [--jobs N]
       (DIR: the folder holding qorb12 and qorb11, e.g. build/asm)
"""

import argparse
import concurrent.futures
import importlib.util
import os
import re
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)
import run_cases  # noqa: E402  (the case file reader)

LISTING_OPTIONS = ["-l", "-lc", "-ls"]
SOURCE_SUFFIXES = (".asm", ".s", ".inc", ".mac")
DATE_RE = re.compile(rb" - [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}(\r?\n)")
TIME_RE = re.compile(rb"\d+\.\d{3} second\(s\)")
TIMEOUT = 120


class Run:
    """One program run: what to lay into the scratch folder and how to call it."""

    def __init__(self, name, program, args, files=(), trees=(), case=None, env=None, stdin=b"", cwd=""):
        self.name = name
        self.program = program
        self.args = list(args)
        self.files = list(files)  # (relative name, bytes)
        self.trees = list(trees)  # (source folder, relative name)
        self.case = case  # a case of a .case file, laid out as run_cases.py does
        self.env = dict(env or {})
        self.stdin = stdin
        self.cwd = cwd  # relative to the scratch folder


def mask(data):
    data = DATE_RE.sub(lambda m: b" - <DATE>" + m.group(1), data)
    return TIME_RE.sub(b"<TIME> second(s)", data)


def lay_out(run, work):
    if run.case is not None:
        run_cases.prepare(run.case, work)
    for src, rel in run.trees:
        shutil.copytree(src, os.path.join(work, rel), symlinks=True, dirs_exist_ok=True)
    for rel, data in run.files:
        dst = os.path.join(work, rel)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, "wb") as f:
            f.write(data)


def snapshot(work):
    """Every entry of the folder: kind, permission bits and (masked) content."""
    out = {}
    for root, dirs, names in os.walk(work):
        for name in dirs + names:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, work)
            st = os.lstat(path)
            mode = stat.S_IMODE(st.st_mode)
            if stat.S_ISLNK(st.st_mode):
                out[rel] = ("link", os.readlink(path))
            elif stat.S_ISDIR(st.st_mode):
                out[rel] = ("dir", mode)
            elif stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    out[rel] = ("file", mode, mask(f.read()))
            else:
                out[rel] = ("other", stat.S_IFMT(st.st_mode), mode)
    return out


def execute(run, bindir, work):
    if os.path.lexists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    lay_out(run, work)
    env = {k: v for k, v in os.environ.items() if not k.startswith("QORB")}
    env.update({k: v.replace("{dir}", work) for k, v in run.env.items()})
    args = [a.replace("{dir}", work) for a in run.args]
    exe = os.path.join(bindir, run.program)
    try:
        p = subprocess.run([exe] + args, cwd=os.path.join(work, run.cwd), env=env, input=run.stdin,
                           capture_output=True, timeout=TIMEOUT)
        result = {"exit": p.returncode, "stdout": mask(p.stdout), "stderr": mask(p.stderr)}
    except subprocess.TimeoutExpired:
        result = {"exit": "timeout", "stdout": b"", "stderr": b""}
    result["files"] = snapshot(work)
    return result


def describe(a, b):
    """The first difference between two results, readably."""
    import difflib
    for key in ("exit", "stdout", "stderr"):
        if a[key] != b[key]:
            if isinstance(a[key], bytes):
                lines = difflib.unified_diff(a[key].decode("utf-8", "replace").splitlines(),
                                             b[key].decode("utf-8", "replace").splitlines(),
                                             "reference", "current", lineterm="", n=1)
                return f"{key} differs:\n" + "\n".join(list(lines)[:40])
            return f"{key}: reference {a[key]!r}, current {b[key]!r}"
    fa, fb = a["files"], b["files"]
    for name in sorted(set(fa) | set(fb)):
        if fa.get(name) == fb.get(name):
            continue
        if name not in fa or name not in fb:
            return f"{name}: only {'current' if name in fb else 'reference'} has it"
        x, y = fa[name], fb[name]
        if x[0] == y[0] == "file" and x[1] == y[1]:
            lines = difflib.unified_diff(x[2].decode("utf-8", "replace").splitlines(),
                                         y[2].decode("utf-8", "replace").splitlines(),
                                         "reference", "current", lineterm="", n=1)
            return f"{name} differs:\n" + "\n".join(list(lines)[:40])
        return f"{name}: reference {x[:2]}, current {y[:2]}"
    return "no difference"


def compare(run, ref, new):
    base = tempfile.mkdtemp(prefix="qorbcmp-")
    try:
        work = os.path.join(base, "w")
        a = execute(run, ref, work)
        b = execute(run, new, work)
        return None if a == b else describe(a, b)
    finally:
        shutil.rmtree(base, ignore_errors=True)


def with_listing(runs):
    """Each run as written and again with the listing options."""
    out = []
    for r in runs:
        out.append(r)
        extra = Run(r.name + " [-l -lc -ls]", r.program, LISTING_OPTIONS + r.args, r.files, r.trees, r.case,
                    r.env, r.stdin, r.cwd)
        out.append(extra)
    return out


def case_runs():
    runs = []
    for root, _, names in os.walk(os.path.join(ROOT, "tests")):
        for name in sorted(names):
            if not name.endswith(".case"):
                continue
            path = os.path.join(root, name)
            for case in run_cases.parse(path):
                args = shlex.split(case.args) if case.args is not None else ["test.asm"]
                runs.append(Run(f"{os.path.relpath(path, ROOT)}: {case.name}", case.program, args, case=case,
                                env=case.env, stdin=(case.stdin or "").encode()))
    return runs


def source_runs(folders):
    """Every source of the folders, by both programs, in a copy of the folder
    tree it stands in (the folder's first level below the one named), so that
    its includes are found as they are in place."""
    runs = []
    for folder in folders:
        folder = os.path.abspath(folder)
        for root, _, names in os.walk(folder):
            for name in sorted(names):
                if not name.lower().endswith(SOURCE_SUFFIXES):
                    continue
                rel = os.path.relpath(root, folder)
                top = folder if rel == "." else os.path.join(folder, rel.split(os.sep)[0])
                where = os.path.join("tree", os.path.relpath(root, top))
                args = [name]
                if os.path.isdir(os.path.join(top, "stand-in")):
                    args = ["-i:" + os.path.join("{dir}", "tree", "stand-in"), name]
                for program in ("qorb12", "qorb11"):
                    runs.append(Run(f"{os.path.join(root, name)} ({program})", program, args,
                                    trees=[(top, "tree")], cwd=where))
    return runs


def load(path):
    found = importlib.util.spec_from_file_location(os.path.basename(path)[:-3].replace("-", "_"), path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def generated_runs():
    """The instruction lines of the GNU cross-checks, in qorb's syntax."""
    runs = []
    hc12 = load(os.path.join(ROOT, "tests", "asm_hc12", "gnu_crosscheck.py"))
    chunks = [("plain", hc12.generate_plain(), []), ("long", hc12.generate_long_branches(), []),
              ("long-back", hc12.generate_long_branches_back(), []), ("hcs", hc12.generate_hcs(), ["-hcs"]),
              ("known", [(k[0], None) for k in hc12.KNOWN_DIFFERENCES], [])]
    for name, items, extra in chunks:
        text = ""
        for i, (ours, _) in enumerate(items):
            pre, ins = hc12.split(ours, i)
            text += f"\torg ${0x1000 + (i % 4096) * 8:X}\n" + "".join(p.strip() + "\n" for p in pre)
            text += f"\t{ins}\n"
        runs.append(Run(f"hc12 cross-check lines: {name}", "qorb12", ["-W4", *extra, "gen.asm"],
                        [("gen.asm", text.encode())]))
    hc11 = load(os.path.join(ROOT, "tests", "asm_hc11", "gnu_crosscheck.py"))
    lines = [ours for ours, _ in hc11.generate()] + [d[0] for d in hc11.KNOWN_DIFFERENCES]
    text = "".join(f" {t}\n" for t in lines)
    runs.append(Run("hc11 cross-check lines", "qorb11", ["-W4", "gen.asm"], [("gen.asm", text.encode())]))
    # The other program on the same lines: every error path of the other target.
    runs.append(Run("hc11 cross-check lines (qorb12)", "qorb12", ["-W4", "gen.asm"], [("gen.asm", text.encode())]))
    return runs


# The include files the fuzz harness lays beside every input.
FUZZ_FILES = [("defs.inc", b"PORTA equ $0000\nDDRA equ $0002\nstore macro\n staa \\1\n endm\n"),
              ("sub/nest.inc", b" include \"deeper.inc\"\nnested dc.b 1,2\n"),
              ("sub/deeper.inc", b" ifndef DEEP\nDEEP equ 1\n endif\n")]


def fuzz_runs():
    runs = []
    corpus = os.path.join(ROOT, "asm", "fuzz", "corpus")
    if not os.path.isdir(corpus):
        return runs
    for name in sorted(os.listdir(corpus)):
        with open(os.path.join(corpus, name), "rb") as f:
            data = f.read()
        flags = data[0] if data else 0
        words = ["-nologo"]
        for bit, word in ((0x01, "-l"), (0x02, "-lc"), (0x08, "-case"), (0x10, "-mc"), (0x20, "-hcs"),
                          (0x40, "-W4")):
            if flags & bit:
                words.append(word)
        if flags & 0x04:
            words.append("-lu" if flags & 0x01 else "-ls")
        if flags & 0x80:
            words += ["-Amax2", "-Amin2"]
        for program in ("qorb12", "qorb11"):
            runs.append(Run(f"fuzz input {name} ({program})", program, words + ["fuzz.asm"],
                            FUZZ_FILES + [("fuzz.asm", data[1:])]))
    return runs


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--ref", required=True, help="folder of the earlier build's qorb12 and qorb11")
    ap.add_argument("--new", required=True, help="folder of the current build's qorb12 and qorb11")
    ap.add_argument("--sources", action="append", default=[], help="more folders of sources")
    ap.add_argument("--filter", default="", help="only runs whose name contains this")
    ap.add_argument("--jobs", type=int, default=2)
    a = ap.parse_args()
    ref, new = os.path.abspath(a.ref), os.path.abspath(a.new)
    for d in (ref, new):
        for p in ("qorb12", "qorb11"):
            if not os.access(os.path.join(d, p), os.X_OK):
                sys.exit(f"{os.path.join(d, p)}: no such program")

    folders = [os.path.join(ROOT, "tests"), os.path.join(ROOT, "examples")] + a.sources
    runs = case_runs() + source_runs(folders) + generated_runs() + fuzz_runs()
    runs = [r for r in with_listing(runs) if a.filter in r.name]
    differing = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, a.jobs)) as pool:
        results = pool.map(lambda r: (r, compare(r, ref, new)), runs)
        for r, problem in results:
            if problem:
                differing.append(r.name)
                print(f"DIFFERS {r.name}\n  " + problem.replace("\n", "\n  "))
    print(f"{len(runs)} runs compared, {len(differing)} differ")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
