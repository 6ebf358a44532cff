#!/usr/bin/env python3
"""A report server for the upload tests.

The request path chooses the answers: /<status>/<submit>[/auth], where each
answer is one of
  ok        "OK"                      cancel    "CANCEL"
  url       "URL=http://reports.example/kb/42"
  urlempty  "URL="                    error     "ERROR=disk full"
  oknl      "OK\\n"                   404, 500  that HTTP status
  drop      read the request, close without an answer (every time)
  drop2     like drop for the first two requests of that kind, then "OK"
  slow      read the body slowly (for cancelling), then "OK"
  urlfile   "URL=file:///etc/passwd" (an address that is no web page)
Servers that misbehave (each answers every request of that kind so):
  drip      200 with Content-Length 100000, then one byte a second
  huge      200 with an endless body as fast as the client takes it
  stall     200 with Content-Length 2 and one byte, then nothing more
  silent    reads the request and never answers
  reset     reads the request, then resets the connection
  redirect  302 back to the same address (a redirect loop)
  badlength 200 with Content-Length 100 and only "OK", then closes
The misbehaving answers end when the client hangs up.
With /auth every request needs Basic "user:pa:ss" (else 401).

Request n is logged in LOG.<n>.head (its kind: status, submit or empty; the
body's length as announced and as received; the path; the headers, one a
line) and LOG.<n>.body. The chosen port is printed on standard output.
"""
import base64
import http.server
import os
import socket
import ssl
import struct
import sys
import threading
import time

ANSWERS = {
    "ok": "OK",
    "cancel": "CANCEL",
    "url": "URL=http://reports.example/kb/42",
    "urlempty": "URL=",
    "error": "ERROR=disk full",
    "oknl": "OK\n",
    "urlfile": "URL=file:///etc/passwd",
}

MISBEHAVIOURS = ("drip", "huge", "stall", "silent", "reset", "redirect", "badlength")

lock = threading.Lock()
counter = {"n": 0}
drops = {}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        path = self.path
        if "://" in path:  # asked as a proxy: the absolute address
            path = "/" + path.split("://", 1)[1].split("/", 1)[-1]
        parts = [p for p in path.split("/") if p]
        status_answer = parts[0] if len(parts) > 0 else "ok"
        submit_answer = parts[1] if len(parts) > 1 else "ok"
        auth = len(parts) > 2 and parts[2] == "auth"
        expected = int(self.headers.get("Content-Length", "0"))
        ctype = self.headers.get("Content-Type", "")
        kind = "status" if ctype.startswith("application/x-www-form-urlencoded") else \
            "submit" if ctype.startswith("multipart/form-data") else "empty"
        answer = {"status": status_answer, "submit": submit_answer}.get(kind, "ok")

        body = bytearray()
        try:
            while len(body) < expected:
                want = min(65536, expected - len(body))
                if answer == "slow":
                    want = min(want, 65536)
                    time.sleep(0.01)
                chunk = self.rfile.read1(want) if hasattr(self.rfile, "read1") else self.rfile.read(want)
                if not chunk:
                    break
                body += chunk
        except (ConnectionError, OSError):
            pass

        with lock:
            counter["n"] += 1
            n = counter["n"]
        with open("%s.%d.body" % (LOG, n), "wb") as f:
            f.write(body)
        # The head: kind, announced and received length, path, then the headers.
        lines = [kind, str(expected), str(len(body)), self.path]
        lines += ["%s: %s" % (k, v) for k, v in self.headers.items()]
        with open("%s.%d.tmp" % (LOG, n), "w") as f:
            f.write("\n".join(lines) + "\n")
        os.rename("%s.%d.tmp" % (LOG, n), "%s.%d.head" % (LOG, n))
        if len(body) < expected:
            self.close_connection = True
            return

        if auth:
            want = "Basic " + base64.b64encode(b"user:pa:ss").decode()
            if self.headers.get("Authorization") != want:
                return self.reply(401, "Unauthorized", "no")
        if kind == "empty":
            return self.reply(200, "OK", "")
        if answer in ("drop", "drop2"):
            with lock:
                drops[kind] = drops.get(kind, 0) + 1
                dropped = drops[kind]
            if answer == "drop" or dropped <= 2:
                self.close_connection = True
                self.connection.shutdown(2)
                return
            answer = "ok"
        if answer in MISBEHAVIOURS:
            return getattr(self, "answer_" + answer)()
        if answer in ("404", "500"):
            return self.reply(int(answer), "Not Found" if answer == "404" else "Internal Server Error", "OK")
        self.reply(200, "OK", ANSWERS.get(answer, "OK"))

    def wait_until_gone(self, limit=900):
        """Waits until the client has closed the connection (or `limit` seconds)."""
        self.close_connection = True
        self.connection.settimeout(1)
        for _ in range(limit):
            try:
                if not self.connection.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    def answer_drip(self):
        self.send_response(200, "OK")
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", "100000")
        self.end_headers()
        self.close_connection = True
        try:
            for _ in range(100000):
                self.wfile.write(b"O")
                self.wfile.flush()
                time.sleep(1)
        except OSError:
            pass

    def answer_huge(self):
        self.send_response(200, "OK")
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(1 << 40))
        self.end_headers()
        self.close_connection = True
        block = b"OK" * 32768
        try:
            for _ in range((1 << 40) // len(block)):
                self.wfile.write(block)
        except OSError:
            pass

    def answer_stall(self):
        self.send_response(200, "OK")
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"O")
        self.wfile.flush()
        self.wait_until_gone()

    def answer_silent(self):
        self.wait_until_gone()

    def answer_reset(self):
        self.close_connection = True
        # A linger time of zero makes close() send a reset instead of a FIN.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()

    def answer_redirect(self):
        self.send_response(302, "Found")
        self.send_header("Location", self.path)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def answer_badlength(self):
        self.send_response(200, "OK")
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", "100")
        self.end_headers()
        self.wfile.write(b"OK")
        self.wfile.flush()
        self.close_connection = True

    def reply(self, code, reason, text):
        data = text.encode()
        self.send_response(code, reason)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a client that hangs up (cancel, TLS refused) is expected here


def main():
    global LOG
    LOG = sys.argv[1]
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) > 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
