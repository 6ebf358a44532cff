#!/usr/bin/env python3
"""qorbls given what an editor (or a broken client) may give it: the fuzz
corpus of the assembler, binary junk, a 10 MB line, include cycles,
malformed JSON-RPC, and an input that ends. Each must give messages or
errors and leave the server answering, never a crash or a hang.

usage: bad_input_test.py QORBLS CORPUS_DIR"""

import json
import os
import random
import shutil
import signal
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lspclient import Client, uri  # noqa: E402

QORBLS = CORPUS = None


class Base(unittest.TestCase):
    def setUp(self):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="qorbls-bad-"))
        self.c = Client(QORBLS, self.root, timeout=60)
        self.c.initialize()

    def tearDown(self):
        code = self.c.proc.poll()
        self.c.close()
        shutil.rmtree(self.root, ignore_errors=True)
        # A signal (a crash, a sanitizer abort) shows as a negative status.
        self.assertTrue(code is None or code >= 0, "server ended by signal %s" % code)

    def alive(self):
        """The server still answers, and in order."""
        r = self.c.request_full("workspace/symbol", {"query": "zzzz-none"})
        self.assertEqual(r.get("result"), [])

    def open_text(self, name, data):
        path = os.path.join(self.root, name)
        with open(path, "wb") as f:
            f.write(data)
        text = data.decode("utf-8", errors="replace")
        before = self.c.open(path, text)
        # A request about the document assembles it at once (no debounce).
        self.c.request("textDocument/hover", self.c.at(path, 0, 3))
        return path, self.c.wait_diagnostics(path, before)


class Sources(Base):
    def test_fuzz_corpus(self):
        names = sorted(os.listdir(CORPUS))
        self.assertGreater(len(names), 10)
        for i, name in enumerate(names):
            with open(os.path.join(CORPUS, name), "rb") as f:
                data = f.read()
            # Every third one as 68HC11 source.
            path, diags = self.open_text("c%03d.%s" % (i, "a11" if i % 3 == 0 else "asm"), data)
            for d in diags:
                self.assertRegex(d["code"], r"^[AD]\d{4}$")
            # The features run over it too.
            self.c.request("textDocument/semanticTokens/full", {"textDocument": {"uri": uri(path)}})
            self.c.request("textDocument/documentSymbol", {"textDocument": {"uri": uri(path)}})
            self.c.request("textDocument/hover", self.c.at(path, 0, 3))
            self.c.notify("textDocument/didClose", {"textDocument": {"uri": uri(path)}})
        self.alive()

    def test_binary_junk(self):
        rnd = random.Random(1234)
        for n in range(3):
            data = bytes(rnd.randrange(256) for _ in range(40000))
            path, diags = self.open_text("junk%d.asm" % n, data)
            self.assertGreater(len(diags), 0)
            tokens = self.c.request("textDocument/semanticTokens/full", {"textDocument": {"uri": uri(path)}})
            self.assertEqual(len(tokens["data"]) % 5, 0)
            self.c.request("textDocument/completion", self.c.at(path, 3, 5))
        self.alive()

    def test_ten_megabyte_line(self):
        data = b"        ldaa  " + b"x" * (10 << 20) + b"\n        nop\nlbl     bra lbl\n"
        path, diags = self.open_text("long.asm", data)
        self.assertGreater(len(diags), 0)
        self.assertEqual({d["range"]["start"]["line"] for d in diags}, {0})
        tokens = self.c.request("textDocument/semanticTokens/full", {"textDocument": {"uri": uri(path)}})
        self.assertGreater(len(tokens["data"]), 0)
        h = self.c.request("textDocument/hover", self.c.at(path, 2, 1))
        self.assertIn("lbl", h["contents"]["value"])
        self.alive()

    def test_include_cycles(self):
        for name, text in (("self.inc", '#include "self.inc"\n'), ("x.inc", '#include "y.inc"\n'),
                           ("y.inc", '#include "x.inc"\n')):
            with open(os.path.join(self.root, name), "w") as f:
                f.write(text)
        path, diags = self.open_text("cycle.asm", b'#include "self.inc"\n#include "x.inc"\n')
        self.c.sync()
        self.assertIn("recursive", json.dumps(self.c.diagnostics[uri(os.path.join(self.root, "self.inc"))]))
        self.assertIn("recursive", json.dumps(self.c.diagnostics[uri(os.path.join(self.root, "y.inc"))]))
        # An unsaved buffer that includes itself.
        path, diags = self.open_text("me.asm", b'#include "me.asm"\n')
        self.assertEqual([d["code"] for d in diags], ["A2004"])
        self.alive()


class Protocol(Base):
    def error_of(self, raw):
        self.c.send_raw(raw)
        while True:
            m = self.c._take(__import__("time").monotonic() + 30)
            if "error" in m:
                return m

    def test_malformed_messages(self):
        body = b"{not json"
        m = self.error_of(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.assertEqual((m["id"], m["error"]["code"]), (None, -32700))
        body = b"[1,2,3]"
        m = self.error_of(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.assertEqual(m["error"]["code"], -32600)
        body = json.dumps({"jsonrpc": "2.0", "id": 77}).encode()
        m = self.error_of(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.assertEqual((m["id"], m["error"]["code"]), (77, -32600))
        m = self.error_of(b"Content-Length: banana\r\n\r\n")
        self.assertEqual(m["error"]["code"], -32700)
        m = self.error_of(b"Content-Type: x\r\n\r\n")
        self.assertEqual(m["error"]["code"], -32700)
        r = self.c.request_full("textDocument/frobnicate", {})
        self.assertEqual(r["error"]["code"], -32601)
        r = self.c.request_full("textDocument/hover", {"textDocument": {"uri": 5}, "position": "here"})
        self.assertEqual(r["error"]["code"], -32602)
        r = self.c.request_full("textDocument/hover", {"textDocument": {"uri": "file:///nowhere/x.asm"},
                                                       "position": {"line": 4000000000, "character": -1}})
        self.assertIn(r.get("error", {}).get("code", -32602), (-32602,))
        # Notifications about documents never opened, or not files.
        self.c.notify("textDocument/didChange", {"textDocument": {"uri": "file:///nowhere.asm", "version": 2},
                                                 "contentChanges": [{"text": "x"}]})
        self.c.notify("textDocument/didOpen", {"textDocument": {"uri": "untitled:1", "languageId": "x", "version": 1,
                                                                "text": "nop"}})
        self.c.notify("textDocument/didClose", {"textDocument": {"uri": "file:///nowhere.asm"}})
        self.alive()


class Lifetime(unittest.TestCase):
    def run_session(self, before_exit, shutdown):
        root = os.path.realpath(tempfile.mkdtemp(prefix="qorbls-life-"))
        c = Client(QORBLS, root, timeout=30)
        try:
            before_exit(c)
            if shutdown:
                c.request("shutdown", None)
                r = c.request_full("textDocument/hover", c.at(os.path.join(root, "a.asm"), 0, 0))
                self.assertEqual(r["error"]["code"], -32600)
            return c
        finally:
            shutil.rmtree(root, ignore_errors=True)

    def test_exit_after_shutdown(self):
        c = self.run_session(lambda c: c.initialize(), True)
        c.notify("exit", None)
        self.assertEqual(c.proc.wait(timeout=30), 0)
        c.close()

    def test_exit_without_shutdown(self):
        c = self.run_session(lambda c: c.initialize(), False)
        c.notify("exit", None)
        self.assertEqual(c.proc.wait(timeout=30), 1)
        c.close()

    def test_end_of_input(self):
        def work(c):
            c.initialize()
            c.open(os.path.join(c.root, "a.asm"), "  ldaa #1\n")
        c = self.run_session(work, False)
        # The input closes in the middle of the debounce and of a message.
        c.send_raw(b"Content-Length: 100\r\n\r\n{")
        c.proc.stdin.close()
        self.assertIn(c.proc.wait(timeout=30), (0, 1))
        c.close()

    def test_request_before_initialize(self):
        c = self.run_session(lambda c: None, False)
        r = c.request_full("textDocument/hover", c.at("/x.asm", 0, 0))
        self.assertEqual(r["error"]["code"], -32002)
        c.close()


if __name__ == "__main__":
    QORBLS, CORPUS = sys.argv[1:3]
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
