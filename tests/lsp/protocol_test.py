#!/usr/bin/env python3
"""qorbls through its protocol: a client starts the server on a workspace of
sources and checks every feature against what the assemblers themselves
print and list.

usage: protocol_test.py QORBLS QORB12 QORB11"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lspclient import Client, uri, path_of  # noqa: E402

QORBLS = QORB12 = QORB11 = None

TYPES = ["mnemonic", "directive", "preprocessor", "label", "symbol", "number", "string", "comment", "register"]


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def assembler_messages(program, source, cwd, *options):
    """(line, number, column, text) of each message the assembler prints."""
    out = subprocess.run([program, *options, source], cwd=cwd, capture_output=True, text=True, timeout=30).stdout
    found = []
    for m in re.finditer(r"^(\S+)\((\d+)\): (?:Error|Warning|Fatal error|Note) A(\d+): (?:col\((\d+)\) )?(.*)$",
                         out, re.M):
        found.append((int(m.group(2)), int(m.group(3)), int(m.group(4) or 0), m.group(5)))
    return found


def utf16_len(s):
    return len(s.encode("utf-16-le")) // 2


def decode_tokens(data, lines):
    """[(line, text, type)] from the relative encoding."""
    out, line, char = [], 0, 0
    for i in range(0, len(data), 5):
        dl, dc, length, kind, _ = data[i:i + 5]
        line += dl
        char = dc if dl else char + dc
        text = lines[line].encode("utf-16-le")[2 * char:2 * (char + length)].decode("utf-16-le")
        out.append((line, text, TYPES[kind]))
    return out


class Workspace(unittest.TestCase):
    files = {}
    config = None

    def setUp(self):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="qorbls-test-"))
        for name, text in self.files.items():
            write(os.path.join(self.root, name), text)
        if self.config is not None:
            write(os.path.join(self.root, "qorb.toml"), self.config)
        self.c = Client(QORBLS, self.root)
        self.c.initialize()

    def tearDown(self):
        self.c.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def p(self, name):
        return os.path.join(self.root, name)

    def open(self, name, text=None):
        before = self.c.open(self.p(name), text)
        return self.c.wait_diagnostics(self.p(name), before)

    def change(self, name, text, version):
        before = self.c.change(self.p(name), text, version)
        return self.c.wait_diagnostics(self.p(name), before)

    def lines(self, name):
        with open(self.p(name), encoding="utf-8") as f:
            return f.read().split("\n")

    def word_at(self, name, line, word, nth=0):
        """The position of the nth `word` on a line (UTF-16)."""
        text = self.lines(name)[line]
        idx = -1
        for _ in range(nth + 1):
            idx = text.index(word, idx + 1)
        return self.c.at(self.p(name), line, utf16_len(text[:idx]) + 1)

    def ranges(self, locations):
        return sorted((os.path.relpath(path_of(loc["uri"]), self.root), loc["range"]["start"]["line"],
                       loc["range"]["start"]["character"], loc["range"]["end"]["character"]) for loc in locations)


MAIN = """\
* a program with includes, macros and local labels
count   equ     $10
limit   set     3
#include "defs.inc"
code    section
start   ldaa    #count
        staa    port
        ldaa    port
        ldaa    2,x
        movb    #1,port
1$      dbne    a,1$
        bra     start
next    nop
1$      bra     1$
store   macro
        staa    \\1
        stab    \\2
        endm
        store   port,port+1
        dc.w    count,limit
"""

DEFS = """\
port    equ     $1000
"""


class Diagnostics(Workspace):
    files = {"main.asm": MAIN, "defs.inc": DEFS,
             "u.asm": '      db "\u20ac\U0001d11e", undefinedsym\n',
             "bad.asm": "start   ldaa    #1\n        ldaa    undefined\n        frob    1\n        ldab   ,,\n"}

    def test_messages_are_the_assemblers(self):
        diags = self.open("bad.asm")
        printed = assembler_messages(QORB12, "bad.asm", self.root)
        self.assertEqual(len(diags), len(printed))
        lines = self.lines("bad.asm")
        for d, (line, number, column, text) in zip(diags, printed):
            self.assertEqual(d["code"], "A%04d" % number)
            self.assertEqual(d["message"], text)
            self.assertEqual(d["range"]["start"]["line"], line - 1)
            self.assertEqual(d["severity"], 1)
            if column:
                self.assertEqual(d["range"]["start"]["character"], column - 1)
        # The range covers the token at the column.
        first = diags[0]["range"]
        self.assertEqual(lines[1][first["start"]["character"]:first["end"]["character"]], "undefined")

    def test_utf16_columns(self):
        d = self.open("u.asm")
        self.assertEqual(len(d), 1)
        line = self.lines("u.asm")[0]
        start = line.index("undefinedsym")
        self.assertEqual(d[0]["range"]["start"]["character"], utf16_len(line[:start]))
        self.assertEqual(d[0]["range"]["end"]["character"], utf16_len(line[:start]) + len("undefinedsym"))

    def test_edits_add_and_remove_errors(self):
        self.assertEqual(self.open("main.asm"), [])
        broken = MAIN.replace("staa    port", "staa    prot")
        d = self.change("main.asm", broken, 2)
        self.assertEqual([(x["code"], x["range"]["start"]["line"]) for x in d], [("A2038", 6)])
        self.assertEqual(self.change("main.asm", MAIN, 3), [])
        # Incremental changes (ranges in UTF-16 positions) are applied too.
        before = self.c.diag_count.get(uri(self.p("main.asm")), 0)
        self.c.notify("textDocument/didChange", {
            "textDocument": {"uri": uri(self.p("main.asm")), "version": 4},
            "contentChanges": [{"range": {"start": {"line": 12, "character": 8},
                                          "end": {"line": 12, "character": 11}}, "text": "nopp"}]})
        d = self.c.wait_diagnostics(self.p("main.asm"), before)
        # What the assembler says of the text edited so (the label of the
        # failed line is not defined: both 1$ are then in one scope).
        write(self.p("main.asm"), MAIN.replace("next    nop", "next    nopp"))
        printed = assembler_messages(QORB12, "main.asm", self.root)
        self.assertEqual([(x["code"], x["range"]["start"]["line"], x["message"]) for x in d],
                         [("A%04d" % n, line - 1, text) for line, n, _, text in printed])
        self.assertIn(("A2027", 12), [(x["code"], x["range"]["start"]["line"]) for x in d])

    def test_errors_in_includes_and_unsaved_include_buffers(self):
        write(self.p("defs.inc"), "port    equ     $1000\n        ldaa    nowhere\n")
        self.open("main.asm")
        inc = self.c.diagnostics[uri(self.p("defs.inc"))]
        self.assertEqual([(x["code"], x["range"]["start"]["line"]) for x in inc], [("A2038", 1)])
        # The editor's unsaved text of the include is assembled, not the disk copy.
        before = self.c.open(self.p("defs.inc"), "port    equ     $1000\nnowhere equ 5\n")
        self.assertEqual(self.c.wait_diagnostics(self.p("defs.inc"), before), [])
        self.c.sync()
        before = self.c.diag_count[uri(self.p("main.asm"))]
        self.c.change(self.p("defs.inc"), "prt     equ     $1000\n", 2)
        main = self.c.wait_diagnostics(self.p("main.asm"), before)
        self.assertEqual({x["message"] for x in main}, {"'port': undefined symbol"})

    def test_include_not_found_and_cycles(self):
        write(self.p("a.inc"), '#include "b.inc"\n')
        write(self.p("b.inc"), '#include "a.inc"\n')
        write(self.p("cyc.asm"), '#include "a.inc"\n#include "missing.inc"\n')
        d = self.open("cyc.asm")
        # As the assembler prints them: b.inc(1) A2004, cyc.asm(2) A2003.
        self.assertEqual([(x["range"]["start"]["line"], x["code"]) for x in d], [(1, "A2003")])
        msgs = self.c.diagnostics.get(uri(self.p("b.inc")), [])
        self.assertEqual(len(msgs), 1)
        self.assertIn("recursive", msgs[0]["message"])


class Navigation(Workspace):
    files = {"main.asm": MAIN, "defs.inc": DEFS}

    def setUp(self):
        super().setUp()
        self.assertEqual(self.open("main.asm"), [])

    def test_definition(self):
        loc = self.c.request("textDocument/definition", self.word_at("main.asm", 6, "port"))
        self.assertEqual(self.ranges(loc), [("defs.inc", 0, 0, 4)])
        loc = self.c.request("textDocument/definition", self.word_at("main.asm", 5, "count"))
        self.assertEqual(self.ranges(loc), [("main.asm", 1, 0, 5)])
        loc = self.c.request("textDocument/definition", self.word_at("main.asm", 19, "limit"))
        self.assertEqual(self.ranges(loc), [("main.asm", 2, 0, 5)])
        # Each local label in its own scope.
        loc = self.c.request("textDocument/definition", self.word_at("main.asm", 10, "1$"))
        self.assertEqual(self.ranges(loc), [("main.asm", 10, 0, 2)])
        loc = self.c.request("textDocument/definition", self.word_at("main.asm", 13, "1$", 1))
        self.assertEqual(self.ranges(loc), [("main.asm", 13, 0, 2)])
        # A macro call, and an include's file name.
        loc = self.c.request("textDocument/definition", self.word_at("main.asm", 18, "store"))
        self.assertEqual(self.ranges(loc), [("main.asm", 14, 0, 5)])
        loc = self.c.request("textDocument/definition", self.word_at("main.asm", 3, "defs"))
        self.assertEqual(self.ranges(loc), [("defs.inc", 0, 0, 0)])
        # Nothing on a mnemonic.
        self.assertIsNone(self.c.request("textDocument/definition", self.word_at("main.asm", 12, "nop")))

    def test_references(self):
        params = self.word_at("main.asm", 6, "port")
        params["context"] = {"includeDeclaration": True}
        refs = self.ranges(self.c.request("textDocument/references", params))
        self.assertEqual(refs, [("defs.inc", 0, 0, 4), ("main.asm", 6, 16, 20), ("main.asm", 7, 16, 20),
                                ("main.asm", 9, 19, 23), ("main.asm", 18, 16, 20), ("main.asm", 18, 21, 25)])
        params["context"] = {"includeDeclaration": False}
        self.assertEqual(len(self.c.request("textDocument/references", params)), 5)
        refs = self.ranges(self.c.request("textDocument/references", self.word_at("main.asm", 13, "1$")))
        self.assertEqual(refs, [("main.asm", 13, 0, 2), ("main.asm", 13, 16, 18)])
        refs = self.ranges(self.c.request("textDocument/references", self.word_at("main.asm", 3, "defs.inc")))
        self.assertEqual(refs, [("main.asm", 3, 9, 19)])

    def test_hover_symbols(self):
        h = self.c.request("textDocument/hover", self.word_at("main.asm", 6, "port"))
        self.assertIn("$1000 (4096)", h["contents"]["value"])
        self.assertIn("defs.inc:1", h["contents"]["value"])
        h = self.c.request("textDocument/hover", self.word_at("main.asm", 11, "start"))
        self.assertIn("`start` (label) = $0000 (0)", h["contents"]["value"])
        h = self.c.request("textDocument/hover", self.word_at("main.asm", 18, "store"))
        self.assertIn("2 parameters", h["contents"]["value"])
        # A set symbol: the value of the last assignment before the line.
        text = MAIN + "limit   set     7\n        dc.w    limit\n"
        self.assertEqual(self.change("main.asm", text, 2), [])
        h = self.c.request("textDocument/hover", self.c.at(self.p("main.asm"), 19, 22))
        self.assertIn("= $0003 (3)", h["contents"]["value"])
        self.assertIn("main.asm:3", h["contents"]["value"])
        h = self.c.request("textDocument/hover", self.c.at(self.p("main.asm"), 21, 18))
        self.assertIn("= $0007 (7)", h["contents"]["value"])
        self.assertIn("main.asm:21", h["contents"]["value"])

    def test_hover_code_is_the_listing(self):
        # The listing of the same source with cycle counts: each line's code
        # field and cycles, as the hover shows them.
        subprocess.run([QORB12, "-c", "main.asm"], cwd=self.root, capture_output=True, timeout=30)
        with open(self.p("main.lst"), encoding="latin-1") as f:
            listing = f.read().replace("\r\n", "\n").split("\n")
        rows = {}
        for row in listing:
            m = re.match(r"^ *(\d+)[:m] (.{31}) (\[[0-9A-F]{2}\]|     )", row)
            if m and "#include" not in row:
                rows.setdefault(int(m.group(1)), (m.group(2).rstrip(), m.group(3).strip()))
        lines = self.lines("main.asm")
        checked = 0
        for number in (6, 7, 8, 9, 10, 11, 12, 13, 14, 20):
            field, cycles = rows[number]
            h = self.c.request("textDocument/hover", self.c.at(self.p("main.asm"), number - 1, 9))
            self.assertIsNotNone(h, lines[number - 1])
            block = h["contents"]["value"].split("```")[1].strip("\n")
            expected = field if not cycles else field.ljust(31) + " " + cycles
            self.assertEqual(block.split("\n")[0], expected, lines[number - 1])
            checked += 1
        self.assertEqual(checked, 10)
        # The macro call: the code of its expansion, as listed with mlist.
        write(self.p("ml.asm"), "        mlist   on\n" + MAIN)
        subprocess.run([QORB12, "-c", "ml.asm"], cwd=self.root, capture_output=True, timeout=30)
        with open(self.p("ml.lst"), encoding="latin-1") as f:
            expanded = [row[7:].rstrip() for row in f.read().replace("\r\n", "\n").split("\n")
                        if re.match(r"^ *\d+m ", row)]
            expanded = [row[:row.index("]") + 1] for row in expanded]
        self.assertEqual(len(expanded), 2)
        h = self.c.request("textDocument/hover", self.c.at(self.p("main.asm"), 18, 3))["contents"]["value"]
        self.assertEqual(h.split("```")[1].strip("\n").split("\n"), expanded)
        h = self.c.request("textDocument/hover", self.c.at(self.p("main.asm"), 18, 9))["contents"]["value"]
        self.assertIn("2 parameters", h)
        self.assertEqual(h.split("```")[1].strip("\n").split("\n"), expanded)
        modes = {6: "immediate", 7: "extended", 9: "indexed", 10: "immediate to extended", 11: "relative (9-bit)",
                 12: "relative (8-bit)", 13: "inherent"}
        for number, mode in modes.items():
            h = self.c.request("textDocument/hover", self.c.at(self.p("main.asm"), number - 1, 9))
            self.assertIn("addressing mode: " + mode + "\n", h["contents"]["value"] + "\n", lines[number - 1])

    def test_rename_across_files(self):
        edit = self.c.request("textDocument/rename", dict(self.word_at("main.asm", 7, "port"), newName="pio"))
        changes = edit["changes"]
        self.assertEqual(len(changes[uri(self.p("defs.inc"))]), 1)
        self.assertEqual(len(changes[uri(self.p("main.asm"))]), 5)
        # Applied, the sources assemble as before.
        for u, edits in changes.items():
            path = path_of(u)
            lines = self.lines(os.path.relpath(path, self.root))
            for e in sorted(edits, key=lambda e: (e["range"]["start"]["line"], e["range"]["start"]["character"]),
                            reverse=True):
                r = e["range"]
                line = lines[r["start"]["line"]]
                lines[r["start"]["line"]] = line[:r["start"]["character"]] + e["newText"] + line[r["end"]["character"]:]
            write(path, "\n".join(lines))
        self.assertEqual(assembler_messages(QORB12, "main.asm", self.root), [])
        with open(self.p("defs.inc")) as f:
            self.assertTrue(f.read().startswith("pio "))
        # Names the assembler would not take are refused.
        r = self.c.request_full("textDocument/rename", dict(self.word_at("main.asm", 5, "count"), newName="9x"))
        self.assertIn("error", r)
        r = self.c.request_full("textDocument/rename", dict(self.c.at(self.p("main.asm"), 12, 9), newName="x"))
        self.assertIn("error", r)
        prep = self.c.request("textDocument/prepareRename", self.word_at("main.asm", 5, "count"))
        self.assertEqual(prep["placeholder"], "count")

    def test_symbols(self):
        syms = self.c.request("textDocument/documentSymbol", {"textDocument": {"uri": uri(self.p("main.asm"))}})
        names = {(s["name"], s["kind"]) for s in syms}
        self.assertTrue({("count", 14), ("limit", 13), ("start", 12), ("store", 6), ("code", 3)} <= names, names)
        self.assertNotIn("1$", {s["name"] for s in syms})
        write(self.p("other.asm"), "portb equ $1004\nfar ldaa portb\n")
        ws = self.c.request("workspace/symbol", {"query": "port"})
        self.assertEqual(sorted((w["name"], os.path.basename(path_of(w["location"]["uri"]))) for w in ws),
                         [("port", "defs.inc"), ("portb", "other.asm")])

    def test_completion(self):
        items = self.c.request("textDocument/completion", self.c.at(self.p("main.asm"), 12, 9))["items"]
        labels = {i["label"]: i for i in items}
        self.assertIn("nop", labels)  # prefix "n"
        self.assertIn("next", labels)
        self.assertIn("nolist", labels)
        self.assertNotIn("start", labels)
        items = self.c.request("textDocument/completion", self.c.at(self.p("main.asm"), 18, 10))["items"]
        store = [i for i in items if i["label"] == "store"]
        self.assertEqual(store[0]["detail"], "macro, 2 parameters")
        self.assertIn("staa", {i["label"] for i in items})
        # Local labels of the scope the cursor is in.
        text = MAIN.replace("1$      bra     1$", "1$      bra     1")
        self.change("main.asm", text, 2)
        items = self.c.request("textDocument/completion", self.c.at(self.p("main.asm"), 13, 17))["items"]
        self.assertEqual([i["label"] for i in items if i["label"].endswith("$")], ["1$"])
        items = self.c.request("textDocument/completion", self.c.at(self.p("main.asm"), 1, 0))["items"]
        self.assertIn("movb", {i["label"] for i in items})
        self.assertIn("movw", {i["label"] for i in items})

    def test_semantic_tokens(self):
        data = self.c.request("textDocument/semanticTokens/full",
                              {"textDocument": {"uri": uri(self.p("main.asm"))}})["data"]
        tokens = decode_tokens(data, self.lines("main.asm"))
        by_line = {}
        for line, text, kind in tokens:
            by_line.setdefault(line, []).append((text, kind))
        self.assertEqual(by_line[0], [(self.lines("main.asm")[0], "comment")])
        self.assertEqual(by_line[1], [("count", "label"), ("equ", "directive"), ("$10", "number")])
        self.assertEqual(by_line[3], [("#include", "preprocessor"), ('"defs.inc"', "string")])
        self.assertEqual(by_line[8], [("ldaa", "mnemonic"), ("2", "number"), ("x", "register")])
        self.assertEqual(by_line[10], [("1$", "label"), ("dbne", "mnemonic"), ("a", "register"), ("1$", "symbol")])


class Settings(Workspace):
    files = {"src/main.asm": '#include "defs.inc"\nstart ldaa PORT\n', "inc/defs.inc": "port equ $1000\n",
             "prog.a11": "  xgdy\n  movb #1,$20\n", "prog.asm": "  movb #1,$20\n"}

    def test_default_cpu_by_extension(self):
        d = self.open("prog.a11")
        self.assertEqual([x["range"]["start"]["line"] for x in d], [1])  # movb: no 68HC11 instruction
        self.assertEqual(d[0]["source"], "qorb11")
        self.assertEqual(self.open("prog.asm"), [])
        items = self.c.request("textDocument/completion", self.c.at(self.p("prog.a11"), 0, 3))["items"]
        labels = {i["label"] for i in items}
        self.assertIn("xgdy", labels)
        self.assertNotIn("xgdx", set()) 
        items = self.c.request("textDocument/completion", self.c.at(self.p("prog.a11"), 1, 3))["items"]
        self.assertNotIn("movb", {i["label"] for i in items})


class Hc11Modes(Workspace):
    LINES = [("  ldaa 3,x", "indexed (X)"), ("  ldaa 3,y", "indexed (Y)"), ("  ldy 2,y", "indexed (Y)"),
             ("  ldy 2,x", "indexed (X)"), ("  ldy #5", "immediate"), ("  cpd 1,y", "indexed (Y)"),
             ("  ldaa $10", "direct"), ("  ldaa $1000", "extended"), ("  brset 4,x,$55,*", "indexed (X), relative"),
             ("  bset $20,$01", "direct"), ("  xgdy", "inherent"), ("  bne *", "relative")]
    files = {"modes.a11": "".join(line + "\n" for line, _ in LINES)}

    def test_code_and_modes(self):
        self.assertEqual(self.open("modes.a11"), [])
        subprocess.run([QORB11, "-c", "modes.a11"], cwd=self.root, capture_output=True, timeout=30)
        with open(self.p("modes.lst"), encoding="latin-1") as f:
            rows = [r for r in f.read().replace("\r\n", "\n").split("\n") if re.match(r"^ +\d+: ", r)]
        for i, (line, mode) in enumerate(self.LINES):
            h = self.c.request("textDocument/hover", self.c.at(self.p("modes.a11"), i, 3))["contents"]["value"]
            field = h.split("```")[1].strip("\n")
            self.assertEqual(rows[i][7:7 + len(field)], field, line)
            self.assertIn("addressing mode: " + mode + "\n", h + "\n", line)


class SettingsFile(Workspace):
    files = Settings.files
    config = '# the board\ncpu = "hc11"\ninclude = ["inc"]\nmain = "src/main.asm"\noptions = ["-case"]\n'

    def test_settings_file(self):
        d = self.open("src/main.asm")
        # -case: PORT is not port; the include is found in inc/.
        self.assertEqual([x["message"] for x in d], ["'PORT': undefined symbol"])
        self.assertEqual(self.c.diagnostics[uri(self.p("inc/defs.inc"))], [])
        # cpu = hc11 holds for every extension.
        d = self.open("prog.asm")
        self.assertEqual([x["source"] for x in d], ["qorb11"])
        # A changed settings file, as the editor reports it, applies at once.
        write(self.p("qorb.toml"), 'cpu = "hc12"\n')
        before = self.c.diag_count[uri(self.p("prog.asm"))]
        self.c.notify("workspace/didChangeWatchedFiles",
                      {"changes": [{"uri": uri(self.p("qorb.toml")), "type": 2}]})
        self.assertEqual(self.c.wait_diagnostics(self.p("prog.asm"), before), [])

    def test_include_only_file_uses_main(self):
        # Opened alone, the include is assembled as part of the main source:
        # its symbol has the main source's uses.
        self.open("inc/defs.inc")
        refs = self.c.request("textDocument/references", self.c.at(self.p("inc/defs.inc"), 0, 1))
        self.assertEqual(sorted(os.path.basename(path_of(r["uri"])) for r in refs), ["defs.inc"])
        self.assertIn(uri(self.p("src/main.asm")), self.c.diagnostics)


class BadSettingsFile(Workspace):
    files = {"prog.a11": "  xgdy\n", "prog.asm": "  movb #1,$20\n"}
    config = 'cpu = "z80"\nwhatever = 1\ninclude = [unquoted\noptions = "-case -mc"\n'

    def test_problems_are_shown_and_the_rest_applies(self):
        self.assertEqual(self.open("prog.a11"), [])
        self.assertEqual(self.open("prog.asm"), [])
        shown = [n["params"]["message"] for n in self.c.notes if n["method"] == "window/showMessage"]
        self.assertEqual(len(shown), 3, shown)
        self.assertTrue(any("cpu must be hc12, hcs12 or hc11" in s for s in shown))
        self.assertTrue(any("unknown key 'whatever'" in s for s in shown))


if __name__ == "__main__":
    QORBLS, QORB12, QORB11 = sys.argv[1:4]
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
