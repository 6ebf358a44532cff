#!/usr/bin/env python3
"""A FIFO named as the source or in an include is refused at once: nothing
writes to it, so reading it would block the assembler (and the IDE that waits
for it) for ever.

usage: fifo_test.py <dir with qorb12>
"""

import os
import subprocess
import sys
import tempfile


def run(qorb12, cwd, *args):
    try:
        return subprocess.run([qorb12, "-nologo", *args], cwd=cwd, capture_output=True, timeout=20)
    except subprocess.TimeoutExpired:
        sys.exit(f"qorb12 {' '.join(args)}: blocked on the FIFO")


def main():
    qorb12 = os.path.join(sys.argv[1], "qorb12")
    with tempfile.TemporaryDirectory() as d:
        os.mkfifo(os.path.join(d, "pipe.asm"))
        os.mkfifo(os.path.join(d, "pipe.inc"))
        with open(os.path.join(d, "main.asm"), "w") as f:
            f.write(' include "pipe.inc"\n nop\n')
        p = run(qorb12, d, "pipe.asm")
        want = b"Error A2003: cannot open 'pipe.asm': Invalid argument\n"
        if p.returncode != 2 or p.stdout != want:
            sys.exit(f"FIFO as source: status {p.returncode}, output {p.stdout!r}")
        p = run(qorb12, d, "main.asm")
        if p.returncode != 2 or b"main.asm(1): Error A2003: col(10) cannot open 'pipe.inc': Invalid argument" not in p.stdout:
            sys.exit(f"FIFO as include: status {p.returncode}, output {p.stdout!r}")
    print("FIFOs refused")


if __name__ == "__main__":
    main()
