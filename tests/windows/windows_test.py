#!/usr/bin/env python3
"""What only the Windows build of the assemblers has to get right, run under
Wine: names written with \\ and drive letters, CR LF input, wildcards with the
system's hidden attribute, system error texts, output bytes equal to the Linux
build's, and the crash hook with a stand-in report client.

Usage: windows_test.py --bin DIR --fake-client EXE [--linux-bin DIR]
(WINEPREFIX and WINEDEBUG come from the environment; run.sh sets them.)
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

QORB12_ID = "{2D4B4EFA-B16D-4DE8-AA49-CB5CB9AB568D}"
QORB11_ID = "{D0D835B0-43AF-47EB-9D26-8260007E4D7A}"
CLIENT_KEY = r"HKLM\SOFTWARE\KORVELL\Ulmarro"
DATE_RE = re.compile(rb" - [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}\r\n")

results = []  # (name, problems)
args = None


def winpath(path):
    """How a program under Wine names a file of this machine."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(program, words, cwd, env=None, timeout=60):
    e = dict(os.environ)
    e.update(env or {})
    exe = os.path.join(args.bin, program + ".exe")
    p = subprocess.run(["wine", exe] + words, cwd=cwd, env=e, capture_output=True, timeout=timeout,
                       stdin=subprocess.DEVNULL)
    return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r\n", "\n"), p.stdout


def reg(*words):
    subprocess.run(["wine", "reg"] + list(words), capture_output=True, timeout=60, stdin=subprocess.DEVNULL)


def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check(name):
    """Decorator: runs the test in a fresh scratch directory, records problems."""
    def wrap(fn):
        def run():
            work = tempfile.mkdtemp(prefix="qorbwin-")
            problems = []
            try:
                fn(work, problems)
            except Exception as ex:  # a broken test is a failed test
                problems.append(f"{type(ex).__name__}: {ex}")
            finally:
                shutil.rmtree(work, ignore_errors=True)
            results.append((name, problems))
        run.name = name
        return run
    return wrap


def expect(problems, cond, what):
    if not cond:
        problems.append(what)


# --------------------------------------------------------------------------
# File names

@check("includes written with \\ are found relative to each including file; messages name them natively")
def t_backslash_includes(work, p):
    write(f"{work}/main.asm", ' include "sub\\defs.inc"\n dc.b VALUE\n include "sub/err.inc"\n')
    write(f"{work}/sub/defs.inc", ' include "more.inc"\n')
    write(f"{work}/sub/more.inc", "VALUE equ 7\n")
    write(f"{work}/sub/err.inc", " nop\n bogus\n")
    rc, out, _ = wine("qorb12", ["-nologo", "main.asm"], work)
    expect(p, rc == 2, f"exit status {rc}, expected 2")
    expect(p, "sub\\err.inc(2): Error A2027: col(2) 'bogus': unknown mnemonic or pseudo command" in out,
           f"no native location for the include's error in:\n{out}")
    write(f"{work}/sub/err.inc", " nop\n")
    rc, out, _ = wine("qorb12", ["-nologo", "main.asm"], work)
    expect(p, rc == 0, f"exit status {rc} after the fix:\n{out}")
    expect(p, read(f"{work}/main.s19") == b"S0030000FC\r\nS105000007A74C\r\nS9030000FC\r\n",
           f"object file: {read(f'{work}/main.s19')!r}")


@check("an include of the including file under another case or separator is recursive")
def t_recursive_include(work, p):
    write(f"{work}/sub/Self.inc", ' include "SUB\\SELF.INC"\n')
    write(f"{work}/main.asm", ' include "sub/self.inc"\n')
    rc, out, _ = wine("qorb12", ["-nologo", "main.asm"], work)
    expect(p, rc == 2, f"exit status {rc}")
    expect(p, "Error A2004: col(10) recursive file include" in out, f"no A2004 in:\n{out}")


@check("a source named with \\ or / in a subdirectory: objects beside it, includes beside it")
def t_source_subdir(work, p):
    write(f"{work}/sub/prog.asm", ' include "defs.inc"\n dc.b VALUE\n')
    write(f"{work}/sub/defs.inc", "VALUE equ 9\n")
    write(f"{work}/sub/two.asm", " dc.b 2\n")
    rc, out, _ = wine("qorb12", ["-nologo", "-l", "sub\\prog", "sub/two"], work)
    expect(p, rc == 0, f"exit status {rc}:\n{out}")
    expect(p, out == "sub\\prog.asm: 0 warning(s), 0 error(s)\nsub/two.asm: 0 warning(s), 0 error(s)\n",
           f"summaries:\n{out}")
    for f in ("sub/prog.s19", "sub/prog.lst", "sub/two.s19", "sub/two.lst"):
        expect(p, os.path.exists(f"{work}/{f}"), f"{f} was not written")
    expect(p, not os.path.exists(f"{work}/prog.s19"), "object written into the working directory")


@check("drive-letter names are absolute: source, include, -i, -Fo, -Fl, -Fe")
def t_drive_letters(work, p):
    inc = winpath(f"{work}/inc")
    write(f"{work}/inc/a.inc", "A equ 1\n")
    write(f"{work}/inc/b.inc", "B equ 2\n")
    write(f"{work}/src/p.asm", f' include "{inc}\\a.inc"\n include "b.inc"\n dc.b A,B\n bogus\n')
    os.makedirs(f"{work}/out")
    os.makedirs(f"{work}/elsewhere")
    out_dir = winpath(f"{work}/out")
    rc, out, _ = wine("qorb12", ["-nologo", f"-i:{inc}", f"-Fo:{out_dir}\\p", f"-Fl:{out_dir}/p.lst",
                                 f"-Fe:{out_dir}\\err.txt", winpath(f"{work}/src/p.asm")], f"{work}/elsewhere")
    expect(p, rc == 2, f"exit status {rc}, expected 2:\n{out}")
    src = winpath(f"{work}/src/p.asm")
    line = f"{src}(4): Error A2027: col(2) 'bogus': unknown mnemonic or pseudo command\n"
    expect(p, out.startswith(line), f"first line is not {line!r}:\n{out}")
    expect(p, read(f"{work}/out/err.txt") == line.encode(), f"error file: {read(f'{work}/out/err.txt')!r}")
    lst = read(f"{work}/out/p.lst")
    expect(p, lst.startswith(f"{out_dir}\\p.lst - generated by".encode()), f"listing header: {lst[:120]!r}")
    expect(p, not os.path.exists(f"{work}/out/p.s19"), "object file written for a failed source")
    write(f"{work}/src/p.asm", f' include "{inc}\\a.inc"\n include "b.inc"\n dc.b A,B\n')
    rc, out, _ = wine("qorb12", ["-nologo", f"-i:{inc}", f"-Fo:{out_dir}\\p", winpath(f"{work}/src/p.asm")],
                      f"{work}/elsewhere")
    expect(p, rc == 0, f"exit status {rc}:\n{out}")
    expect(p, read(f"{work}/out/p.s19") == b"S0030000FC\r\nS10500000102F7\r\nS9030000FC\r\n",
           f"object file: {read(f'{work}/out/p.s19')!r}")


@check("files that cannot be opened or created: native names, system texts without the trailing CR LF")
def t_system_texts(work, p):
    write(f"{work}/t.asm", " dc.b 1\n")
    rc, out, _ = wine("qorb12", ["-nologo", "-Fo:nodir\\x.s19", "t.asm"], work)
    expect(p, rc == 2, f"exit status {rc}, expected 2")
    m = re.fullmatch(r"Fatal error A1007: I/O error creating file '(.*)': ([^\r\n]+)\n", out)
    expect(p, m is not None, f"unexpected output {out!r}")
    if m:
        expect(p, m.group(1) == winpath(f"{work}/nodir/x.s19"), f"name {m.group(1)!r}")
        expect(p, not m.group(2).startswith("system error"), f"no system text: {m.group(2)!r}")
    rc, out, _ = wine("qorb12", ["-nologo", "missing"], work)
    m = re.fullmatch(r"Error A2003: cannot open 'missing\.asm': ([^\r\n]+)\n", out)
    expect(p, rc == 2 and m is not None, f"exit {rc}, output {out!r}")
    # A directory or a device is not a source, and must neither hang nor crash.
    os.makedirs(f"{work}/dir.asm")
    rc, out, _ = wine("qorb12", ["-nologo", "dir.asm"], work)
    expect(p, rc == 2 and out.startswith("Error A2003: cannot open 'dir.asm': "), f"directory: {rc} {out!r}")
    write(f"{work}/dev.asm", ' include "NUL"\n include "CON"\n')
    rc, out, _ = wine("qorb12", ["-nologo", "dev.asm"], work)
    expect(p, rc == 2 and out.count("Error A2003") == 2, f"devices: {rc} {out!r}")


@check("CR LF and Ctrl-Z in sources and response files read like plain line ends")
def t_crlf(work, p):
    body = " nop\n bogus\n\tdc.b 1,2\n"
    write(f"{work}/lf.asm", body)
    write(f"{work}/crlf.asm", body.replace("\n", "\r\n") + "\x1a")
    write(f"{work}/opts.rsp", "-nologo\r\n-l\r\n; comment\r\n")
    rc1, out1, _ = wine("qorb12", ["@opts.rsp", "lf.asm"], work)
    rc2, out2, _ = wine("qorb12", ["@opts.rsp", "crlf.asm"], work)
    expect(p, rc1 == rc2 == 2, f"exit statuses {rc1} {rc2}")
    expect(p, out2 == out1.replace("lf.asm", "crlf.asm"), f"outputs differ:\n{out1}\n{out2}")
    expect(p, "crlf.asm(2): Error A2027: col(2)" in out2, f"location:\n{out2}")
    l1 = DATE_RE.sub(b"", read(f"{work}/lf.lst")).replace(b"lf.", b"crlf.")
    l2 = DATE_RE.sub(b"", read(f"{work}/crlf.lst"))
    expect(p, l1 == l2, "listings differ")


@check("wildcards: case-insensitive, directory part kept, hidden entries and directories left out")
def t_wildcards(work, p):
    for name in ("a.asm", "B.ASM", "c.inc", "x.asmx", ".dot.asm", "h.asm", "sub/s1.asm", "sub/s2.asm"):
        write(f"{work}/{name}", " dc.b 1\n")
    os.makedirs(f"{work}/d.asm")
    subprocess.run(["wine", "cmd", "/c", "attrib", "+h", "h.asm"], cwd=work, capture_output=True, timeout=60,
                   stdin=subprocess.DEVNULL)
    rc, out, _ = wine("qorb12", ["-nologo", "*.asm", "sub\\s?.asm", "none*.asm"], work)
    expect(p, rc == 0, f"exit status {rc}")
    # In the system's listing order: names without regard to case.
    names = [l.split(":")[0] for l in out.splitlines()]
    expect(p, names == ["a.asm", "B.ASM", "sub\\s1.asm", "sub\\s2.asm"], f"assembled {names}:\n{out}")
    for f in ("a.s19", "B.s19", "sub/s1.s19", "sub/s2.s19"):
        expect(p, os.path.exists(f"{work}/{f}"), f"{f} was not written")
    rc, out, _ = wine("qorb12", ["-nologo", "none*.asm"], work)
    expect(p, rc == 1 and "D2903" in out, f"a pattern without match: {rc} {out!r}")


@check("S-record and listing bytes equal the Linux build's")
def t_same_bytes(work, p):
    if not args.linux_bin:
        p.append("SKIP: no Linux build given (--linux-bin)")
        return
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
    sources = []
    for sub in ("hc12", "hc11"):
        d = os.path.join(root, "examples", sub)
        if os.path.isdir(d):
            sources += [(sub, os.path.join(d, n)) for n in sorted(os.listdir(d)) if n.endswith(".asm")]
    expect(p, sources, "no examples found")
    for target, src in sources:
        prog = "qorb12" if target == "hc12" else "qorb11"
        base = os.path.splitext(os.path.basename(src))[0]
        for side in ("linux", "win"):
            # The whole folder: examples include their register definitions.
            shutil.rmtree(f"{work}/{side}", ignore_errors=True)
            shutil.copytree(os.path.dirname(src), f"{work}/{side}")
        words = ["-nologo", "-lc", "-ls", os.path.basename(src)]
        lin = subprocess.run([os.path.join(args.linux_bin, prog)] + words, cwd=f"{work}/linux",
                             capture_output=True, timeout=60)
        rc, out, raw = wine(prog, words, f"{work}/win")
        expect(p, rc == lin.returncode, f"{base}: exit {rc} here, {lin.returncode} on Linux")
        expect(p, raw.replace(b"\r\n", b"\n") == lin.stdout, f"{base}: standard output differs")
        for ext in (".s19", ".lst"):
            a, b = f"{work}/linux/{base}{ext}", f"{work}/win/{base}{ext}"
            if not os.path.exists(a):
                expect(p, not os.path.exists(b), f"{base}{ext} written only here")
                continue
            expect(p, DATE_RE.sub(b"", read(a)) == DATE_RE.sub(b"", read(b)), f"{base}{ext} differs")


@check("each program carries its own names and build number in its version resource")
def t_version_resource(work, p):
    for program, product in (("qorb12", "QORB12"), ("qorb11", "QORB11")):
        data = read(os.path.join(args.bin, program + ".exe"))
        for key, value in (("ProductName", product), ("CompanyName", "KORVELL"),
                           ("FileVersion", "1.21 Build 129"), ("OriginalFilename", program + ".exe")):
            # A String entry: the key, zero padding to 32 bits, then the value.
            pattern = re.escape(key.encode("utf-16-le")) + rb"(?:\0\0)+" + re.escape(value.encode("utf-16-le")) + rb"\0\0"
            expect(p, re.search(pattern, data) is not None, f"{program}: no {key} '{value}'")


# --------------------------------------------------------------------------
# Crash hook

def crash(work, program, client_exit="0"):
    log = f"{work}/client.log"
    rc, out, _ = wine(program, ["-nologo", "-CrashMe", "x.asm"], work,
                      env={"QORB_FAKE_CLIENT_LOG": winpath(log), "QORB_FAKE_CLIENT_EXIT": client_exit})
    text = read(log).decode() if os.path.exists(log) else None
    return rc, text


def client_dir():
    prefix = os.environ["WINEPREFIX"]
    return os.path.join(prefix, "drive_c", "some dir")


@check("a crash starts the registered client (path with blanks) with -t -e -i and ends with 2")
def t_crash_client(work, p):
    os.makedirs(client_dir(), exist_ok=True)
    shutil.copy(args.fake_client, os.path.join(client_dir(), "fake client.exe"))
    reg("add", CLIENT_KEY, "/ve", "/d", r"C:\some dir\fake client.exe", "/f")
    for program, appid, client_exit in (("qorb12", QORB12_ID, "0"), ("qorb11", QORB11_ID, "1"),
                                        ("qorb12", QORB12_ID, "7")):
        rc, log = crash(work, program, client_exit)
        expect(p, rc == 2, f"{program} with client exit {client_exit}: exit status {rc}, expected 2")
        if log is None:
            p.append(f"{program}: the client did not run")
            continue
        first, _, rest = log.partition("\n")
        pattern = (r'cmdline="C:\\some dir\\fake client\.exe" -t \d+ -e 0x[0-9A-F]{16} -i '
                   + re.escape(appid))
        expect(p, re.fullmatch(pattern, first) is not None, f"{program}: command line {first!r}")
        # -t and -e lead the client to the crashed process's access violation.
        expect(p, rest.strip() == "exception=C0000005", f"{program}: client saw {rest.strip()!r}")
        os.unlink(f"{work}/client.log")


@check("without a usable client the crash goes to the system (not exit 2, no hang)")
def t_crash_no_client(work, p):
    cases = [
        ("no key", lambda: reg("delete", CLIENT_KEY, "/f")),
        ("missing program", lambda: reg("add", CLIENT_KEY, "/ve", "/d", r"C:\no such dir\client.exe", "/f")),
        ("value not a text", lambda: reg("add", CLIENT_KEY, "/ve", "/t", "REG_DWORD", "/d", "1", "/f")),
    ]
    for what, setup in cases:
        setup()
        rc, log = crash(work, "qorb12")
        expect(p, rc not in (0, 2), f"{what}: exit status {rc}")
        expect(p, log is None, f"{what}: a client ran")
    reg("delete", CLIENT_KEY, "/f")


def main():
    global args
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--fake-client", required=True)
    ap.add_argument("--linux-bin")
    args = ap.parse_args()
    args.bin = os.path.abspath(args.bin)
    if args.linux_bin:
        args.linux_bin = os.path.abspath(args.linux_bin)
    tests = [v for k, v in globals().items() if k.startswith("t_")]
    for t in tests:
        t()
    failed = skipped = 0
    for name, problems in results:
        if problems and problems[0].startswith("SKIP: "):
            skipped += 1
            print(f"skip {name}: {problems[0][6:]}")
        elif problems:
            failed += 1
            print(f"FAIL {name}")
            for pr in problems:
                print("  " + pr.replace("\n", "\n  "))
        else:
            print(f"ok   {name}")
    print(f"{len(results) - failed - skipped} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
