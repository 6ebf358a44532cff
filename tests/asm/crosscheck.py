"""What both targets' differential tests against GNU as share: finding the
GNU tools, assembling with GNU as into a flat binary, assembling with our
program and reading back its S-record image, and showing bytes.

Each target's gnu_crosscheck.py generates its instruction lines in both
syntaxes and says how the bytes of each line are told apart.
"""

import os
import shutil
import subprocess
import sys


def tool(name):
    """The path of a GNU tool, or the end of the test with what to install."""
    path = shutil.which(name)
    if path is None:
        sys.exit(f"{name} not found: install the package binutils-m68hc1x")
    return path


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def gnu_as(gas, cpu, src, obj, extra=()):
    """Runs GNU as on a source; the finished process (its output names the
    lines it refused)."""
    return run([gas, cpu, *extra, "-o", obj, src])


def gnu_binary(objcopy, obj, out, section=None):
    """The object's bytes as a flat binary (one section, or all)."""
    r = run([objcopy, "-O", "binary", *(["-j", section] if section else []), obj, out])
    if r.returncode != 0:
        sys.exit(f"objcopy failed:\n{r.stdout}")
    with open(out, "rb") as f:
        return f.read()


def read_s19(path):
    """Address -> byte of the S1 records of a file."""
    image = {}
    with open(path, "rb") as f:
        for text in f.read().decode("ascii").splitlines():
            if not text.startswith("S1"):
                continue
            count = int(text[2:4], 16)
            addr = int(text[4:8], 16)
            for i, b in enumerate(bytes.fromhex(text[8:8 + 2 * (count - 3)])):
                image[addr + i] = b
    return image


def ours(program, work, name, text, options=()):
    """Assembles `text` as name.asm with our program in `work`: the finished
    process and the image of the object it wrote (empty when it wrote none)."""
    with open(os.path.join(work, name + ".asm"), "w") as f:
        f.write(text)
    s19 = os.path.join(work, name + ".s19")
    if os.path.exists(s19):
        os.remove(s19)
    r = run([program, "-nologo", *options, name + ".asm"], cwd=work)
    return r, (read_s19(s19) if os.path.exists(s19) else {})


def hexs(data):
    return " ".join(f"{x:02X}" for x in data)
