#!/usr/bin/env python3
"""Hostile command lines and sources: each gives a message or a result, never a
crash, a hang or a sanitizer report. Exit statuses and key lines are checked."""

import os
import subprocess
import sys
import tempfile

BIN = os.path.abspath(sys.argv[1])
failures = []
passed = 0


def run(args, cwd, env_extra=None, timeout=120):
    env = {k: v for k, v in os.environ.items() if not k.startswith("QORB")}
    env.update(env_extra or {})
    p = subprocess.run([os.path.join(BIN, "qorb12")] + args, cwd=cwd, env=env, capture_output=True,
                       timeout=timeout)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def check(name, cond, detail=""):
    global passed
    if cond:
        passed += 1
    else:
        failures.append(f"{name}: {detail}")


def case(name, args, cwd, want_rc, want_out=None, env=None):
    rc, out, err = run(args, cwd, env)
    ok = rc == want_rc and (want_out is None or want_out in out) and "Sanitizer" not in err \
        and "runtime error" not in err
    check(name, ok, f"rc={rc} out={out[-400:]!r} err={err[-400:]!r}")


with tempfile.TemporaryDirectory() as d:
    def write(name, text, mode="w"):
        with open(os.path.join(d, name), mode) as f:
            f.write(text)

    write("ok.asm", " dc.b 1\n")
    # command lines
    case("10,000 words", ["-nologo"] + ["-W4"] * 10000 + ["ok.asm"], d, 0, "ok.asm: 0 warning(s)")
    case("100 KB word", ["-nologo", "-Fo:" + "x" * 100000, "ok.asm"], d, 2, "Fatal error A1007")
    case("100 KB unknown option", ["-nologo", "-" + "q" * 100000, "ok.asm"], d, 0, "D4901")
    case("unbalanced quotes in the environment", ["-nologo", "ok.asm"], d, 0, "ok.asm: 0 warning(s)",
         {"QORB12": "-W4 \"-Fo:a b"})
    case("environment of blanks and controls", ["-nologo", "ok.asm"], d, 0, None, {"QORB12": " \t\x01 \x7f"})
    write("self.rsp", "@self.rsp\n-W4\n")
    case("response file naming itself", ["-nologo", "@self.rsp", "ok.asm"], d, 2, "A2003")
    write("junk.rsp", bytes(range(256)) * 64, "wb")
    case("binary junk response file", ["-nologo", "@junk.rsp"], d, 1, "D2903")
    case("response file is a directory", ["-nologo", "@.", "ok.asm"], d, 3, "D2901")
    case("Amax huge", ["-nologo", "-Amax99999999999999999999", "ok.asm"], d, 0, "new value is 100")

    # sources
    write("parens.asm", " dc.b " + "(" * 100000 + "1" + ")" * 100000 + "\n")
    case("100,000 nested parentheses", ["-nologo", "parens.asm"], d, 2, "A2016")
    write("unary.asm", " dc.b " + "-" * 4090 + "1\n")
    case("4,095-character line of operators", ["-nologo", "unary.asm"], d, 2, "A2016")
    write("ops.asm", " dc.l 1" + "+1" * 2040 + "\n")
    case("long operator chain", ["-nologo", "ops.asm"], d, 0)
    write("ident.asm", "a" * 10000 + " equ 1\n dc.b " + "a" * 10000 + "\n")
    case("10,000-character identifier", ["-nologo", "ident.asm"], d, 0)
    write("syms.asm", "".join(f"s{i} equ {i}\n" for i in range(200000)) + " dc.l s199999\n")
    case("200,000 symbols", ["-nologo", "syms.asm"], d, 0)
    for i in range(300):
        write(f"inc{i}.inc", (f' include "inc{i + 1}.inc"\n' if i < 299 else "") + " dc.b 1\n")
    write("chain.asm", ' include "inc0.inc"\n')
    case("include chain 300 deep", ["-nologo", "chain.asm"], d, 0)
    write("loop.asm", ' include "loop2.inc"\n')
    write("loop2.inc", ' include "loop.asm"\n')
    case("include cycle", ["-nologo", "loop.asm"], d, 2, "A2004")
    write("mnest.asm", "".join(f"m{i} macro\n {'m%d' % (i + 1) if i < 999 else 'dc.b 1'}\n endm\n"
                               for i in range(1000)) + " m0\n")
    case("macro nesting 1,000 deep", ["-nologo", "mnest.asm"], d, 0)
    write("rept.asm", " rept 65535\n" + " dc.b 1\n" * 10 + " endr\n")
    case("rept 65535 of ten lines", ["-nologo", "rept.asm"], d, 0)
    write("nestrept.asm", " rept 65535\n rept 65535\n dcb.l 65535,0\n endr\n endr\n")
    case("section growth is bounded", ["-nologo", "nestrept.asm"], d, 2, "A1005", )
    write("bin.asm", bytes(range(256)) * 100 + b"\n\x00\x00 dc.b 1\r\n\x1a", "wb")
    case("binary source", ["-nologo", "bin.asm"], d, 2)
    write("dir.asm", "")
    os.makedirs(os.path.join(d, "adir.asm"), exist_ok=True)
    case("directory as source", ["-nologo", "adir.asm"], d, 2, "A2003")
    write("incdir.asm", ' include "adir.asm"\n')
    case("directory as include", ["-nologo", "incdir.asm"], d, 2, "A2003")

    # More messages than the error file holds back until the run ends: from
    # then on they are written as they come, and none may be lost.
    write("many.asm", " rept 5\n rept 65535\n bogus\n endr\n endr\n")
    rc, out, err = run(["-nologo", "-Ae1000000", "-Fe:many.err", "many.asm"], d)
    with open(os.path.join(d, "many.err"), encoding="utf-8") as f:
        kept = f.read()
    lines = [l + "\n" for l in out.splitlines() if "Note A5002" not in l and not l.startswith("many.asm:")]
    check("25 MB of messages in the error file", rc == 2 and len(kept) > 20_000_000 and kept == "".join(lines),
          f"rc={rc} error file {len(kept)} bytes, standard output {len(out)} bytes")
    os.unlink(os.path.join(d, "many.err"))

    # A listing larger than what is held until it is closed: every line
    # reaches the file, in order.
    write("long.asm", "".join(f"l{i} nop\n" for i in range(120000)))
    rc, out, err = run(["-nologo", "-l", "long.asm"], d)
    with open(os.path.join(d, "long.lst"), "rb") as f:
        lst = f.read().split(b"\r\n")
    body = [l for l in lst[2:] if l]
    want_last = b"120000: %08X A7" % 119999
    check("listing of 120,000 lines", rc == 0 and len(body) == 120000 and body[0].startswith(b"    1:     0000 A7")
          and body[-1].startswith(want_last), f"rc={rc} {len(body)} lines, last {body[-1][:40] if body else b''!r}")

    # Large sources (the heap is readied for them at once, again for a large
    # include): a forward reference past a 2.4 MB include, every byte checked.
    write("defs.inc", "".join(f"v{i} equ {i * 7 % 256}\n" for i in range(160000)))
    write("big.asm", " org $1000\n dc.w last\n include \"defs.inc\"\n"
          + "".join(f"l{i} dc.b v{i * 4}\n" for i in range(40000)) + "last dc.b 255\n")
    rc, out, err = run(["-nologo", "big.asm"], d)
    image = {}
    with open(os.path.join(d, "big.s19")) as f:
        for rec in f.read().split():
            if rec.startswith("S1"):
                raw = bytes.fromhex(rec[2:])
                addr = raw[1] << 8 | raw[2]
                for k, b in enumerate(raw[3:-1]):
                    image[addr + k] = b
    last = 0x1002 + 40000
    want = {0x1000: last >> 8, 0x1001: last & 0xFF, last: 255}
    want.update({0x1002 + i: i * 4 * 7 % 256 for i in range(40000)})
    check("3 MB of source through a large include", rc == 0 and image == want,
          f"rc={rc} {len(image)} bytes, {sum(image.get(a) != v for a, v in want.items())} differ {out[-300:]!r}")

    # Out of memory: a source larger than the memory the process may have
    # is a fatal error at its line, the stale object is removed, the listing
    # ends with the message. Only where the limit can be set and the program
    # still starts under it (not under the sanitizers' allocators).
    import resource

    def limited(mb):
        return lambda: resource.setrlimit(resource.RLIMIT_AS, (mb << 20, mb << 20))

    def run_limited(args, mb):
        env = {k: v for k, v in os.environ.items() if not k.startswith("QORB")}
        p = subprocess.run([os.path.join(BIN, "qorb12")] + args, cwd=d, env=env, capture_output=True,
                           timeout=120, preexec_fn=limited(mb))
        return p.returncode, p.stdout.decode("utf-8", "replace")

    if run_limited(["-nologo", "ok.asm"], 40)[0] == 0:
        write("huge.asm", " org $1000\n" + "".join(f"lab{i} ldaa #{i & 255}\n" for i in range(400000)))
        write("huge.s19", "S0030000FC\nS9030000FC\n")  # an earlier build's
        rc, out = run_limited(["-nologo", "-l", "huge.asm"], 40)
        # A listing exists when the memory ran out in the final pass.
        tail = b"Fatal error A1005: "
        if os.path.exists(os.path.join(d, "huge.lst")):
            with open(os.path.join(d, "huge.lst"), "rb") as f:
                tail = f.read()[-200:]
        check("out of memory", rc == 2 and "Fatal error A1005: " in out and "out of memory" in out
              and "Internal error" not in out and not os.path.exists(os.path.join(d, "huge.s19"))
              and b"Fatal error A1005: " in tail, f"rc={rc} out={out[-300:]!r} listing ends {tail[-80:]!r}")
    else:
        print("out of memory: not checked, the program does not start with 40 MB of address space")

print(f"{passed} passed, {len(failures)} failed")
for f in failures:
    print("FAIL " + f)
sys.exit(1 if failures else 0)
