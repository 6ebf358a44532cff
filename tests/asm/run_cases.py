#!/usr/bin/env python3
"""Runs assembler end-to-end cases written as data (see CASES.md)."""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

TIME_RE = re.compile(r"\d+\.\d{3} second\(s\)")
DATE_RE = re.compile(r" - [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}(\r?\n)")


class Case:
    def __init__(self, name, origin):
        self.name = name
        self.origin = origin
        self.args = None
        self.program = "qorb12"
        self.env = {}
        self.files = []  # (name, text, mode)
        self.stdout = None
        self.stdout_contains = []
        self.exit = 0
        self.expect = []  # (name, text, crlf)
        self.absent = []
        self.stdin = None
        self.copies = []  # files of the repository copied into the scratch directory
        self.links = []  # (kind, name, target): "symlink", "hardlink"
        self.fifos = []  # names of FIFOs made in the scratch directory
        self.timeout = 60
        self.skip = {}  # platform -> why the case cannot hold there


def unescape(line):
    if line.startswith("\\---") or line.startswith("\\==="):
        return line[1:]
    return line


def parse(path):
    cases = []
    case = None
    block = None  # (kind, arg, lines)

    def finish():
        nonlocal block
        if block is None or case is None:
            block = None
            return
        kind, arg, lines = block
        # Blank lines that separate cases are not part of a block; a line
        # "<blank>" stands for an empty line that is.
        while lines and lines[-1] == "":
            lines.pop()
        lines = ["" if l == "<blank>" else l for l in lines]
        text = "".join(l + "\n" for l in lines)
        if kind in ("file", "file-crlf", "file-nonl"):
            case.files.append((arg, text, kind))
        elif kind == "stdout":
            case.stdout = text
        elif kind == "stdout-contains":
            case.stdout_contains.extend(l for l in lines if l)
        elif kind == "expect":
            case.expect.append((arg, text, True))
        elif kind == "expect-raw":
            case.expect.append((arg, text, False))
        elif kind == "stdin":
            case.stdin = text
        block = None

    with open(path, encoding="utf-8") as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if line.startswith("=== "):
                finish()
                case = Case(line[4:].strip(), f"{path}:{lineno}")
                cases.append(case)
                continue
            if line.startswith("--- "):
                finish()
                head = line[4:]
                key, _, value = head.partition(":")
                key = key.strip()
                value = value.strip()
                if case is None:
                    raise SystemExit(f"{path}:{lineno}: header outside a case")
                if key == "args":
                    case.args = value
                elif key == "program":
                    case.program = value
                elif key == "env":
                    k, _, v = value.partition("=")
                    case.env[k] = v
                elif key == "exit":
                    case.exit = int(value)
                elif key == "absent":
                    case.absent.append(value)
                elif key == "copy":
                    case.copies.append(value)
                elif key in ("symlink", "hardlink"):
                    name, sep, target = value.partition("->")
                    if not sep:
                        raise SystemExit(f"{path}:{lineno}: '{key}' needs 'name -> target'")
                    case.links.append((key, name.strip(), target.strip()))
                elif key == "fifo":
                    case.fifos.append(value)
                elif key == "timeout":
                    case.timeout = int(value)
                elif key.startswith("skip-"):
                    case.skip[key[5:]] = value
                elif key in ("file", "file-crlf", "file-nonl", "expect", "expect-raw"):
                    block = (key, value, [])
                elif key in ("stdout", "stdout-contains", "stdin"):
                    block = (key, None, [])
                else:
                    raise SystemExit(f"{path}:{lineno}: unknown header '{key}'")
                continue
            if block is not None:
                block[2].append(unescape(line))
            elif line.strip() and not line.startswith("#"):
                raise SystemExit(f"{path}:{lineno}: text outside a block")
        finish()
    return cases


def mask(text):
    return DATE_RE.sub(lambda m: " - <DATE>" + m.group(1), text, count=1)


def prepare(case, work):
    """Lays the case's files, copies, links and FIFOs into its scratch directory."""
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
    for rel in case.copies:
        shutil.copy(os.path.join(root, rel), os.path.join(work, os.path.basename(rel)))
    for name, text, mode in case.files:
        path = os.path.join(work, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = text
        if mode == "file-nonl" and data.endswith("\n"):
            data = data[:-1]
        raw = data.encode("utf-8", "surrogateescape")
        if mode == "file-crlf":
            raw = raw.replace(b"\n", b"\r\n")
        with open(path, "wb") as f:
            f.write(raw)
    for kind, name, target in case.links:
        if kind == "symlink":
            os.symlink(target, os.path.join(work, name))
        else:
            os.link(os.path.join(work, target), os.path.join(work, name))
    for name in case.fifos:
        os.mkfifo(os.path.join(work, name))


def run_case(case, bindir, runner=(), suffix="", platform="linux", texts=()):
    work = tempfile.mkdtemp(prefix="qorbcase-")
    try:
        def subst(s):
            return s.replace("{dir}", work)

        prepare(case, work)
        before = snapshot(work)
        args = shlex.split(subst(case.args)) if case.args is not None else ["test.asm"]
        env = {k: v for k, v in os.environ.items() if not k.startswith("QORB")}
        for k, v in case.env.items():
            env[k] = subst(v)
        exe = os.path.join(os.path.abspath(bindir), case.program + suffix)
        try:
            proc = subprocess.run(list(runner) + [exe] + args, cwd=work, env=env, capture_output=True,
                                  timeout=case.timeout, input=(case.stdin or "").encode())
        except subprocess.TimeoutExpired:
            return [f"no end within {case.timeout} seconds"], ""
        # The elapsed time of -stat summaries varies from run to run.
        out = TIME_RE.sub("<TIME> second(s)", proc.stdout.decode("utf-8", "replace"))
        if platform == "windows":
            # Console output in text mode ends its lines with CR LF there.
            out = out.replace("\r\n", "\n")
            # The system's error texts differ; the file maps ours to theirs.
            orig_subst = subst

            def subst(s):
                s = orig_subst(s)
                for ours, theirs in texts:
                    s = s.replace(ours, theirs)
                return s
        problems = []
        if proc.returncode != case.exit:
            problems.append(f"exit status {proc.returncode}, expected {case.exit}")
        if case.stdout is not None and out != subst(case.stdout):
            problems.append("standard output differs:\n" + diff(subst(case.stdout), out))
        for piece in case.stdout_contains:
            if subst(piece) not in out:
                problems.append(f"standard output lacks: {subst(piece)!r}")
        for name, text, crlf in case.expect:
            path = os.path.join(work, name)
            if not os.path.exists(path):
                problems.append(f"{name} was not written")
                continue
            with open(path, "rb") as f:
                data = f.read().decode("utf-8", "replace")
            if crlf:
                if data.count("\n") != data.count("\r\n"):
                    problems.append(f"{name}: not every line ends in CR LF")
                data = data.replace("\r\n", "\n")
            data = mask(data)
            if data != subst(text):
                problems.append(f"{name} differs:\n" + diff(subst(text), data))
        problems.extend(check_srecords(work, before))
        for name in case.absent:
            if os.path.exists(os.path.join(work, name)):
                problems.append(f"{name} exists but should not")
        if b"runtime error" in proc.stderr or b"Sanitizer" in proc.stderr:
            problems.append("sanitizer report:\n" + proc.stderr.decode("utf-8", "replace"))
        return problems, out
    finally:
        shutil.rmtree(work, ignore_errors=True)


def parse_srecords(path):
    """Address -> byte of the S1 records (the last record wins where they overlap)."""
    image = {}
    with open(path, "rb") as f:
        for line in f.read().decode("ascii", "replace").splitlines():
            if line.startswith("S1"):
                count = int(line[2:4], 16)
                addr = int(line[4:8], 16)
                data = bytes.fromhex(line[8:8 + 2 * (count - 3)])
                for i, b in enumerate(data):
                    image[(addr + i) & 0xFFFF] = b
    return image


def snapshot(work):
    """The regular files of the scratch directory (links not followed) and their bytes."""
    files = {}
    for root, _, names in os.walk(work):
        for name in names:
            path = os.path.join(root, name)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    files[path] = f.read()
    return files


def check_srecords(work, before):
    """Every object file a case writes must be accepted by srec_info, and
    srec_cat must read back the same bytes at the same addresses. Files the
    case made itself and the program left alone are not its objects."""
    if not shutil.which("srec_info") or not shutil.which("srec_cat"):
        return []
    problems = []
    for root, _, files in os.walk(work):
        for name in files:
            if not name.endswith(".s19"):
                continue
            path = os.path.join(root, name)
            if not os.path.isfile(path) or os.path.islink(path):
                continue  # a FIFO or a link a case made: no object of ours
            with open(path, "rb") as f:
                if before.get(path) == f.read():
                    continue
            info = subprocess.run(["srec_info", path], capture_output=True, timeout=30)
            if info.returncode != 0:
                problems.append(f"srec_info refuses {name}: {info.stderr.decode()}")
                continue
            image = parse_srecords(path)
            if not image:
                continue
            out = path + ".bin"
            lo = min(image)
            cat = subprocess.run(["srec_cat", "-multiple", path, "-offset", str(-lo), "-o", out, "-binary"],
                                 capture_output=True, timeout=30)
            if cat.returncode != 0:
                problems.append(f"srec_cat refuses {name}: {cat.stderr.decode()}")
                continue
            with open(out, "rb") as f:
                data = f.read()
            os.unlink(out)
            for addr, b in image.items():
                if addr - lo >= len(data) or data[addr - lo] != b:
                    problems.append(f"srec_cat reads {name} differently at ${addr:04X}")
                    break
    return problems


def diff(expected, actual):
    import difflib
    lines = difflib.unified_diff(expected.splitlines(), actual.splitlines(), "expected", "actual", lineterm="")
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True, help="directory holding qorb12 and qorb11")
    ap.add_argument("--filter", default="", help="run only cases whose name contains this")
    ap.add_argument("--runner", default="", help="command that runs the programs (e.g. wine)")
    ap.add_argument("--exe-suffix", default="", help="suffix of the program files (e.g. .exe)")
    ap.add_argument("--platform", default="linux",
                    help="platform the programs are built for; cases marked skip-<platform> are skipped")
    ap.add_argument("--system-texts", help="file of 'ours<TAB>theirs' system error texts (windows)")
    ap.add_argument("files", nargs="+")
    a = ap.parse_args()
    texts = []
    if a.system_texts:
        with open(a.system_texts, encoding="utf-8") as f:
            texts = [tuple(l.rstrip("\n").split("\t", 1)) for l in f if "\t" in l and not l.startswith("#")]
    passed = failed = skipped = 0
    for path in a.files:
        for case in parse(path):
            if a.filter and a.filter not in case.name:
                continue
            if a.platform in case.skip:
                skipped += 1
                print(f"SKIP {case.name}: {case.skip[a.platform]}")
                continue
            problems, out = run_case(case, a.bin, shlex.split(a.runner), a.exe_suffix, a.platform, texts)
            if problems:
                failed += 1
                print(f"FAIL {case.name} ({case.origin})")
                for p in problems:
                    print("  " + p.replace("\n", "\n  "))
                print("  --- actual standard output ---")
                print("  " + out.replace("\n", "\n  "))
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
