#!/usr/bin/env python3
"""Writes the TextMate grammars of the extension from the command words the
assembler's own tables hold (qorbls --keywords), so the colours before the
server answers match the assembler.

usage: make-grammars.py QORBLS [--check]   (--check: fail when they differ)"""

import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def words(qorbls, cpu):
    out = subprocess.run([qorbls, "--keywords", cpu], capture_output=True, text=True, check=True, timeout=30).stdout
    lists = {}
    for line in out.splitlines():
        key, _, rest = line.partition(":")
        lists[key] = rest.split()
    return lists


def alternatives(ws):
    # Longest first, so that "dc.b" is not taken as "dc".
    return "|".join(re.escape(w) for w in sorted(ws, key=lambda w: (-len(w), w)))


def grammar(cpu, lists):
    registers = "a|b|d|x|y" + ("|sp|pc|ccr" if cpu == "hc12" else "")
    number = r"(?:\$[0-9A-Fa-f]+|%[01]+|@[0-7]+|\b[0-9][0-9A-Fa-f]*[hHqQoObBdD]?\b)"
    name = r"[A-Za-z_.][A-Za-z0-9_.?@$]*`?"
    cmd_end = r"(?![A-Za-z0-9_.?@$])"
    return {
        "$schema": "https://raw.githubusercontent.com/martinring/tmlanguage/master/tmlanguage.json",
        "name": "68%s Assembler" % cpu.upper(),
        "scopeName": "source.asm." + cpu,
        "patterns": [
            {"name": "comment.line.asterisk.asm", "match": r"^\*.*$"},
            {"name": "comment.line.semicolon.asm", "match": r";.*$"},
            {"match": r"^(\d{1,3}\$):?", "captures": {"1": {"name": "entity.name.function.label.asm"}}},
            {"match": r"^(%s):?" % name, "captures": {"1": {"name": "entity.name.function.label.asm"}}},
            {"name": "keyword.control.preprocessor.asm",
             "match": r"(?i)[#$]\s*(?:%s)%s" % (alternatives(lists["preprocessor"]), cmd_end)},
            {"name": "keyword.control.directive.asm",
             "match": r"(?i)(?<=\s)\.?(?:%s)%s" % (alternatives(lists["directives"]), cmd_end)},
            {"name": "keyword.other.mnemonic.asm",
             "match": r"(?i)(?<=\s)(?:%s)%s" % (alternatives(lists["mnemonics"]), cmd_end)},
            {"name": "string.quoted.double.asm", "match": r'"[^"]*"?'},
            {"name": "string.quoted.single.asm", "match": r"'[^']*'?"},
            {"name": "variable.language.register.asm", "match": r"(?i)(?<=[\s,#(\[])(?:%s)\b(?![.$?@])" % registers},
            {"name": "constant.numeric.asm", "match": number},
            {"name": "variable.other.local-label.asm", "match": r"\b\d{1,3}\$"},
            {"name": "variable.other.symbol.asm", "match": name},
        ],
    }


def main():
    qorbls = sys.argv[1]
    check = "--check" in sys.argv[2:]
    stale = []
    for cpu in ("hc12", "hc11"):
        text = json.dumps(grammar(cpu, words(qorbls, cpu)), indent=2) + "\n"
        path = os.path.join(HERE, "syntaxes", "%sasm.tmLanguage.json" % cpu)
        old = open(path).read() if os.path.exists(path) else None
        if old != text:
            if check:
                stale.append(path)
            else:
                with open(path, "w") as f:
                    f.write(text)
    if stale:
        print("grammars differ from the assembler's tables: " + ", ".join(stale) + " (run make-grammars.py)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
