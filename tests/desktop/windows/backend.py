"""A loopback stand-in for Quenda's backend: the sign-in, usage, support and training endpoints with the
real wire format, every request recorded for the test to check."""
import json
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TOKEN = "tok-desktop-0123456789abcdef"
USAGE = {"total_words": 4000, "words_this_week": 1250, "streak": 3, "dictations_today": 7}
CLEANED = "Sense and sensibility, cleaned up."


class Backend:
    def __init__(self):
        self.requests = []
        self.lock = threading.Lock()
        backend = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def reply(self, status, body):
                data = json.dumps(body).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def record(self):
                length = int(self.headers.get("Content-Length", "0") or 0)
                body = self.rfile.read(length) if length else b""
                with backend.lock:
                    backend.requests.append({"method": self.command, "path": self.path,
                                             "headers": {k.lower(): v for k, v in self.headers.items()},
                                             "body": body})

            def do_GET(self):
                self.record()
                if self.path.endswith("/usage"):
                    self.reply(200, USAGE)
                else:
                    self.reply(404, {})

            def do_POST(self):
                self.record()
                if self.path.endswith("/enhance"):
                    request = json.loads(backend.requests[-1]["body"] or b"{}")
                    if not request.get("stream"):
                        self.reply(200, {"enhanced": CLEANED, "wasEnhanced": True})
                        return
                    # The clean-up streamed as server-sent events, a word at a time.
                    words = CLEANED.split(" ")
                    tokens = words[:1] + [" " + word for word in words[1:]]
                    events = b"".join(b"data: " + json.dumps({"token": token}).encode() + b"\n\n"
                                      for token in tokens) + b'data: {"done": true}\n\n'
                    self.send_response(200)
                    self.send_header("Content-Type", "text/event-stream")
                    self.send_header("Content-Length", str(len(events)))
                    self.end_headers()
                    self.wfile.write(events)
                elif self.path.endswith("/auth/dev-signin"):
                    self.reply(200, {"token": TOKEN})
                elif self.path.endswith("/support") or self.path.endswith("/training-data"):
                    self.reply(200, {})
                else:
                    self.reply(404, {})

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def received(self, method, suffix):
        with self.lock:
            return [r for r in self.requests if r["method"] == method and r["path"].endswith(suffix)]

    def json(self, method, suffix):
        found = self.received(method, suffix)
        return json.loads(found[-1]["body"]) if found else None

    def stop(self):
        self.server.shutdown()
