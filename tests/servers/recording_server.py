"""An HTTP server on loopback that answers every request with 200 and records it.

Each request becomes one JSON line in the log file: method, path, headers and the body
as text (UTF-8, undecodable bytes escaped) and as hexadecimal, so tests can compare
exact bytes.
"""
import http.server
import json
import threading

from nginx_server import free_port


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def _record(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": {k: v for k, v in self.headers.items()},
            "body": body.decode("utf-8", "backslashreplace"),
            "body_hex": body.hex(),
        }
        with self.server.lock:
            with open(self.server.log_path, "a", encoding="utf-8") as f:
                f.write(json.dumps(entry, ensure_ascii=False) + "\n")
        answer = self.server.answer
        self.send_response(200)
        self.send_header("Content-Length", str(len(answer)))
        self.send_header("Content-Type", "text/plain")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(answer)

    do_GET = do_POST = do_PUT = do_HEAD = _record

    def log_message(self, *args):
        pass


class RecordingServer:
    def __init__(self, log_path, port=None, answer=b"ok"):
        self.port = port or free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.log_path = log_path
        open(log_path, "w").close()
        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", self.port), _Handler)
        self._server.log_path = log_path
        self._server.lock = threading.Lock()
        self._server.answer = answer
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    def start(self):
        self._thread.start()
        return self

    def requests(self):
        with open(self.log_path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def stop(self):
        self._server.shutdown()
        self._server.server_close()
