#!/usr/bin/env python3
"""The install rules put both assemblers and their manual pages in place, and
each page documents every option its program's usage text lists.

usage: install_test.py <cmake> <build dir>
"""

import os
import re
import subprocess
import sys
import tempfile


def main():
    cmake, build = sys.argv[1], sys.argv[2]
    failures = []
    with tempfile.TemporaryDirectory() as prefix:
        # The assembler folder's own install rules (the same that
        # `cmake --install` runs), so the test needs only the assemblers built.
        subprocess.run([cmake, f"-DCMAKE_INSTALL_PREFIX={prefix}", "-P", os.path.join(build, "asm", "cmake_install.cmake")],
                       check=True, capture_output=True)
        for program in ("qorb12", "qorb11"):
            exe = os.path.join(prefix, "bin", program)
            page = os.path.join(prefix, "share", "man", "man1", program + ".1")
            if not os.access(exe, os.X_OK):
                failures.append(f"{exe} not installed")
                continue
            if not os.path.exists(page):
                failures.append(f"{page} not installed")
                continue
            usage = subprocess.run([exe, "-?"], capture_output=True).stdout.decode()
            # roff writes a minus sign in an option as \-
            text = open(page).read().replace("\\-", "-")
            options = re.findall(r"^  (-[A-Za-z]+)", usage, re.M)
            if len(options) < 10:
                failures.append(f"{program}: usage text lists only {options}")
            for opt in options:
                if not re.search(re.escape(opt) + r"(?![A-Za-z])", text):
                    failures.append(f"{program}.1 does not document {opt}")
            for section in ("ENVIRONMENT", "EXIT STATUS", "RESPONSE FILES", "MESSAGES", "SOURCE LANGUAGE"):
                if f".SH {section}" not in text:
                    failures.append(f"{program}.1 lacks the section {section}")
            if program.upper() not in text:
                failures.append(f"{program}.1 does not name its environment variable")
            if program == "qorb11" and "-hcs" in text:
                failures.append("qorb11.1 documents -hcs, which qorb11 does not have")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
