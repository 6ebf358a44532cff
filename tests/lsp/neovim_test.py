#!/usr/bin/env python3
"""A real editor as the client: headless Neovim with its built-in LSP client
(vim.lsp.start_client) starts qorbls, receives the diagnostic of a source
with an error, jumps to a definition and reads a hover.

The editor is set up with the Lua code the manual's page "Using another
editor" gives, so the documented set-up is what is tested.

usage: neovim_test.py QORBLS MANUAL_DIR"""

import html
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    server, manual = sys.argv[1:3]
    with open(os.path.join(manual, "editors.html"), encoding="utf-8") as f:
        page = f.read()
    setup = re.search(r'<pre id="neovim-setup">(.*?)</pre>', page, re.S)
    if not setup:
        print("FAILED: no Neovim set-up (pre id=neovim-setup) in editors.html")
        return 1
    nvim = shutil.which("nvim")
    if not nvim:
        print("SKIP: Neovim (nvim) is not installed; scripts/setup.sh installs it")
        return 77
    root = os.path.realpath(tempfile.mkdtemp(prefix="qorbls-nvim-"))
    try:
        with open(os.path.join(root, "main.asm"), "w") as f:
            f.write("port    equ     $1000\n"
                    "start   ldaa    #1\n"
                    "        staa    port\n"
                    "        ldab    nothere\n")
        result = os.path.join(root, "result.txt")
        with open(os.path.join(root, "setup.lua"), "w") as f:
            f.write(html.unescape(setup.group(1)))
        # The set-up starts `qorbls` from the PATH, as installed.
        path = os.path.dirname(os.path.abspath(server)) + os.pathsep + os.environ.get("PATH", "")
        env = dict(os.environ, PATH=path, QORBLS_SETUP=os.path.join(root, "setup.lua"), QORBLS_ROOT=root,
                   QORBLS_RESULT=result,
                   XDG_CONFIG_HOME=root, XDG_DATA_HOME=root, XDG_STATE_HOME=root, XDG_CACHE_HOME=root)
        subprocess.run([nvim, "--headless", "--clean", "-n",
                        "-c", "luafile " + os.path.join(HERE, "neovim_check.lua")],
                       env=env, cwd=root, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        with open(result) as f:
            found = f.read().splitlines()
        print("\n".join(found))
        expected = ["CLIENT qorbls", "DIAG 3 16 23 A2038 'nothere': undefined symbol",
                    "DEF 0 0"]
        failures = [e for e in expected if e not in found]
        hover = [x for x in found if x.startswith("HOVER ")]
        if len(hover) != 2 or "0002 7A 1000                [03]" not in hover[0]:
            failures.append("hover with the code of the staa line")
        if len(hover) != 2 or "$1000 (4096)" not in hover[1]:
            failures.append("hover with the value of port")
        if failures:
            print("FAILED: missing " + "; ".join(failures))
            return 1
        print("OK")
        return 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
