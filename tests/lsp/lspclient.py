"""A small Language Server Protocol client for the tests: starts qorbls,
sends requests and notifications, and collects what the server sends."""

import json
import os
import queue
import subprocess
import threading
import time
import urllib.parse


def uri(path):
    return "file://" + urllib.parse.quote(os.path.abspath(path))


def path_of(u):
    return urllib.parse.unquote(u[len("file://"):])


class Client:
    def __init__(self, server, root, timeout=20):
        self.timeout = timeout
        self.proc = subprocess.Popen([server], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, cwd=root)
        self.messages = queue.Queue()
        self.next_id = 0
        self.diagnostics = {}  # uri -> latest list
        self.diag_count = {}   # uri -> how many publications
        self.notes = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.root = root

    def _read(self):
        out = self.proc.stdout
        while True:
            header = b""
            while not header.endswith(b"\r\n\r\n"):
                ch = out.read(1)
                if not ch:
                    self.messages.put(None)
                    return
                header += ch
            length = None
            for line in header.decode("ascii").split("\r\n"):
                if line.lower().startswith("content-length:"):
                    length = int(line.split(":", 1)[1])
            body = out.read(length)
            self.messages.put(json.loads(body))

    def send_raw(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def send(self, message):
        body = json.dumps(message).encode()
        self.send_raw(b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def notify(self, method, params):
        self.send({"jsonrpc": "2.0", "method": method, "params": params})

    def _take(self, deadline):
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError("no answer from the server")
        try:
            m = self.messages.get(timeout=left)
        except queue.Empty:
            raise TimeoutError("no answer from the server")
        if m is None:
            raise EOFError("the server ended")
        if m.get("method") == "textDocument/publishDiagnostics":
            u = m["params"]["uri"]
            self.diagnostics[u] = m["params"]["diagnostics"]
            self.diag_count[u] = self.diag_count.get(u, 0) + 1
        elif "method" in m:
            self.notes.append(m)
        return m

    def request_full(self, method, params):
        """The whole reply (result or error)."""
        self.next_id += 1
        rid = self.next_id
        self.send({"jsonrpc": "2.0", "id": rid, "method": method, "params": params})
        return self.wait_reply(rid)

    def wait_reply(self, rid):
        deadline = time.monotonic() + self.timeout
        while True:
            m = self._take(deadline)
            if m.get("id") == rid and "method" not in m:
                return m

    def request(self, method, params):
        reply = self.request_full(method, params)
        if "error" in reply:
            raise RuntimeError("%s failed: %s" % (method, reply["error"]))
        return reply["result"]

    def sync(self):
        """Returns once the server has sent everything it sent before
        answering a request (it answers in order)."""
        return self.request_full("qorbls/noSuchMethod", {})

    def initialize(self):
        r = self.request("initialize", {"processId": os.getpid(), "rootUri": uri(self.root), "capabilities": {}})
        self.notify("initialized", {})
        return r

    def wait_diagnostics(self, path, count_before=None):
        """Waits for a publication for `path` after `count_before` of them."""
        u = uri(path)
        before = self.diag_count.get(u, 0) if count_before is None else count_before
        deadline = time.monotonic() + self.timeout
        while self.diag_count.get(u, 0) <= before:
            self._take(deadline)
        return self.diagnostics[u]

    def open(self, path, text=None, version=1):
        if text is None:
            with open(path, encoding="utf-8", errors="surrogateescape") as f:
                text = f.read()
        before = self.diag_count.get(uri(path), 0)
        self.notify("textDocument/didOpen", {"textDocument": {
            "uri": uri(path), "languageId": "hc12asm", "version": version, "text": text}})
        return before

    def change(self, path, text, version):
        before = self.diag_count.get(uri(path), 0)
        self.notify("textDocument/didChange", {"textDocument": {"uri": uri(path), "version": version},
                                               "contentChanges": [{"text": text}]})
        return before

    def at(self, path, line, character):
        return {"textDocument": {"uri": uri(path)}, "position": {"line": line, "character": character}}

    def shutdown(self):
        self.request("shutdown", None)
        self.notify("exit", None)
        return self.proc.wait(timeout=self.timeout)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for f in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                f.close()
            except OSError:
                pass
