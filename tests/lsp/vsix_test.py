#!/usr/bin/env python3
"""The VS Code extension: its grammars hold the assembler's command words
(from qorbls --keywords), and build-vsix.sh builds a package with the client
library, the grammars and the language configuration.

usage: vsix_test.py QORBLS SOURCE_DIR"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile


def fail(text):
    print("FAILED: " + text)
    sys.exit(1)


def main():
    qorbls, source = sys.argv[1:3]
    ext = os.path.join(source, "editors", "vscode")
    r = subprocess.run([sys.executable, os.path.join(ext, "make-grammars.py"), qorbls, "--check"],
                       capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        fail(r.stdout + r.stderr)

    # The grammars' patterns colour a line as the server's tables say.
    grammar = json.load(open(os.path.join(ext, "syntaxes", "hc12asm.tmLanguage.json")))
    patterns = {p.get("name") or p["captures"]["1"]["name"]: re.compile(p["match"]) for p in grammar["patterns"]}
    line = "loop    movb    #$10,count   ; copy"
    found = {}
    pos = 0
    while pos < len(line):
        for name, rx in patterns.items():
            m = rx.match(line, pos)
            if m and m.end() > pos:
                found[m.group(0).strip()] = name
                pos = m.end()
                break
        else:
            pos += 1
    want = {"loop": "entity.name.function.label.asm", "movb": "keyword.other.mnemonic.asm",
            "$10": "constant.numeric.asm", "count": "variable.other.symbol.asm",
            "; copy": "comment.line.semicolon.asm"}
    for word, scope in want.items():
        if found.get(word) != scope:
            fail("grammar: %r is %r, expected %r" % (word, found.get(word), scope))

    if not shutil.which("npm"):
        fail("npm is missing (scripts/setup.sh installs it)")
    out = tempfile.mkdtemp(prefix="qorb-vsix-")
    try:
        r = subprocess.run([os.path.join(ext, "build-vsix.sh"), out], capture_output=True, text=True, timeout=600)
        if r.returncode != 0:
            fail("build-vsix.sh: " + r.stdout[-2000:] + r.stderr[-2000:])
        packages = [f for f in os.listdir(out) if f.endswith(".vsix")]
        if len(packages) != 1:
            fail("expected one .vsix, found %s" % packages)
        with zipfile.ZipFile(os.path.join(out, packages[0])) as z:
            names = set(z.namelist())
            manifest = json.loads(z.read("extension/package.json"))
        for need in ("extension/extension.js", "extension/language-configuration.json",
                     "extension/syntaxes/hc12asm.tmLanguage.json", "extension/syntaxes/hc11asm.tmLanguage.json",
                     "extension/node_modules/vscode-languageclient/node.js", "extension.vsixmanifest"):
            if need not in names:
                fail("%s missing from the package" % need)
        if manifest["main"] != "./extension.js" or manifest["contributes"]["languages"][1]["id"] != "hc11asm":
            fail("unexpected manifest")
        print("OK: %s (%d files)" % (packages[0], len(names)))
    finally:
        shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
