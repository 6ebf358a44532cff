#!/usr/bin/env python3
"""The static assemblers run where nothing else is: each job copies one
program and its sources into an empty directory, runs the program chrooted
there (no libraries, no /proc, no /etc, no /tmp) and compares what it prints,
its exit status and every file it leaves with what the normal build does on
the same sources (listing dates masked).

Usage: chroot_test.py --static DIR --ref DIR --root SOURCE-ROOT
Exits 77 (skipped) when chroot is not allowed here (not root, or a container
without the capability), saying why.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77

# (program, files copied from the source root, command line, environment,
# exit status) - the exit status is the normal build's too, checked so that a
# job cannot pass by failing the same way in both.
JOBS = [
    ("qorb12", ["tests/porting/templog.asm"], ["-l", "-ls", "templog.asm"], {}, 0),
    ("qorb12", ["examples/hc12/blink.asm", "examples/hc12/regs.inc"], ["-l", "-lc", "blink.asm"], {}, 0),
    ("qorb11", ["tests/static/clock11.asm", "tests/static/hc11regs.inc"], ["-l", "-ls", "clock11.asm"], {}, 0),
    # options from a response file and the environment, an include found
    # through -i: in a subfolder
    ("qorb11", ["tests/static/clock11.asm", "tests/static/hc11regs.inc->inc/hc11regs.inc", "@opts.rsp"],
     ["@opts.rsp"], {"QORB11": "-W4"}, 0),
    # errors: a missing include and an undefined symbol; no object is written
    ("qorb12", ["@bad.asm"], ["-l", "bad.asm"], {}, 2),
]

WRITTEN = {
    "opts.rsp": "-nologo -l -i:inc clock11.asm\n",
    "bad.asm": " include \"nothere.inc\"\n ldaa #1\n jmp nowhere\n end start\n",
}


def mask(name, data):
    """The listing's first line ends in the date of the run."""
    if name.endswith(".lst"):
        first, _, rest = data.partition(b"\n")
        return first.rstrip(b"\r")[:-24] + b"\n" + rest
    return data


def fill(folder, root, files):
    for entry in files:
        if entry.startswith("@"):
            name = entry[1:]
            with open(os.path.join(folder, name), "w") as f:
                f.write(WRITTEN[name])
            continue
        src, _, dest = entry.partition("->")
        dest = dest or os.path.basename(src)
        os.makedirs(os.path.dirname(os.path.join(folder, dest)) or folder, exist_ok=True)
        shutil.copy(os.path.join(root, src), os.path.join(folder, dest))


def snapshot(folder, skip):
    out = {}
    for base, _, names in os.walk(folder):
        for n in names:
            path = os.path.join(base, n)
            rel = os.path.relpath(path, folder)
            if rel in skip:
                continue
            with open(path, "rb") as f:
                out[rel] = mask(n, f.read())
    return out


def run(cmd, cwd=None, env=None, chroot=None):
    def enter():
        os.chroot(chroot)
        os.chdir("/")
    try:
        return subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              preexec_fn=enter if chroot else None, timeout=60)
    except subprocess.TimeoutExpired:
        sys.exit(f"FAIL: {' '.join(cmd)} ran longer than 60 s")
    except OSError as e:
        # In the chroot a program that needs a loader or a library cannot start.
        sys.exit(f"FAIL: {' '.join(cmd)} did not start{' in the chroot' if chroot else ''}: {e}")


def chroot_allowed(folder):
    """None when this process may chroot, else the reason it may not."""
    if os.geteuid() != 0:
        return "chroot needs root (CI runs the tests as root)"
    pid = os.fork()
    if pid == 0:
        try:
            os.chroot(folder)
            os._exit(0)
        except OSError as e:
            os._exit(e.errno or 1)
    _, status = os.waitpid(pid, 0)
    code = os.waitstatus_to_exitcode(status)
    return None if code == 0 else f"chroot is refused here: {os.strerror(code)}"


def check_static(path):
    """`file` and `ldd` must both call the program static."""
    what = subprocess.run(["file", "-b", path], stdout=subprocess.PIPE, text=True).stdout
    if "statically linked" not in what:
        sys.exit(f"FAIL: file says {path} is: {what.strip()}")
    ldd = subprocess.run(["ldd", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if "not a dynamic executable" not in ldd.stdout and "statically linked" not in ldd.stdout:
        sys.exit(f"FAIL: ldd lists libraries for {path}:\n{ldd.stdout}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--static", required=True, help="folder with the static qorb12 and qorb11")
    ap.add_argument("--ref", required=True, help="folder with the normal build's qorb12 and qorb11")
    ap.add_argument("--root", required=True, help="the source tree")
    args = ap.parse_args()

    for prog in ("qorb12", "qorb11"):
        check_static(os.path.join(args.static, prog))

    work = tempfile.mkdtemp(prefix="qorb-chroot-")
    try:
        why = chroot_allowed(work)
        if why:
            print(f"SKIP: the static assemblers were not run in a chroot: {why}")
            return SKIP
        for n, (prog, files, argv, env, status) in enumerate(JOBS):
            jail = os.path.join(work, f"jail{n}")
            ref = os.path.join(work, f"ref{n}")
            os.makedirs(jail)
            os.makedirs(ref)
            fill(jail, args.root, files)
            fill(ref, args.root, files)
            shutil.copy(os.path.join(args.static, prog), os.path.join(jail, prog))
            # The same variables in both runs; the chroot has no PATH to search.
            base = {"PATH": "/", "LC_ALL": "C", **env}
            got = run(["/" + prog, *argv], env=base, chroot=jail)
            want = run([os.path.join(args.ref, prog), *argv], cwd=ref, env=base)
            label = f"{prog} {' '.join(argv)}"
            if want.returncode != status:
                sys.exit(f"FAIL: the normal {label} exited {want.returncode}, not {status}:\n"
                         f"{want.stdout.decode(errors='replace')}")
            if (got.returncode, got.stdout, got.stderr) != (want.returncode, want.stdout, want.stderr):
                sys.exit(f"FAIL: {label} in the chroot: exit {got.returncode}\n"
                         f"{got.stdout.decode(errors='replace')}{got.stderr.decode(errors='replace')}\n"
                         f"the normal build: exit {want.returncode}\n{want.stdout.decode(errors='replace')}"
                         f"{want.stderr.decode(errors='replace')}")
            got_files = snapshot(jail, {prog})
            want_files = snapshot(ref, set())
            if got_files.keys() != want_files.keys():
                sys.exit(f"FAIL: {label}: the chroot holds {sorted(got_files)}, "
                         f"the normal build left {sorted(want_files)}")
            for name in sorted(got_files):
                if got_files[name] != want_files[name]:
                    sys.exit(f"FAIL: {label}: {name} differs from the normal build's")
            made = sorted(set(want_files) - {f.partition('->')[2] or os.path.basename(f.lstrip('@'))
                                             for f in files})
            print(f"ok: {label} (exit {status}; {', '.join(made) or 'no files'} the same)")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
