"""A static file server on loopback that misbehaves on request, for download tests.

Files come from ROOT as with nginx (Range honoured, Last-Modified sent). The query string
of each request chooses the fault, so one server serves every case of a test run:

    status=CODE      answer CODE with a short body instead of the file
    fail_from=K      with status: only the K-th and later requests for this path fail
    fail_until=K     with status: only the requests before the K-th for this path fail
    cut=N            close the connection after N body bytes (requests without Range only)
    stall=N          after N body bytes send nothing more for 30 s (requests without Range)
    nolength=1       no Content-Length; the body ends when the connection closes
    length=TEXT      send TEXT as the Content-Length header (bad input tests)
    lastmod=future   a Last-Modified one day ahead of now
    norange=1        ignore Range: always 200 with the whole file
    rate=BPS         send at most BPS bytes per second
    hang=S           read the request, then answer nothing for S seconds and close

Clients that build addresses by appending paths to a root (the update run's URL roots)
cannot add a query; for them a first path segment "~QUERY" carries the faults instead:
"/~rate=50000/releases/x" serves "/releases/x" at 50000 bytes per second.

Every request is appended to the log as one JSON line: method, path, query, range, and
the number of requests for that path so far.
"""
import email.utils
import http.server
import json
import os
import sys
import threading
import time
import urllib.parse

from nginx_server import free_port


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        server = self.server
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        if url.path.startswith("/~"):
            prefix, _, rest = url.path[2:].partition("/")
            query.update(urllib.parse.parse_qsl(prefix))
            url = url._replace(path="/" + rest)
        ranged = self.headers.get("Range")
        with server.lock:
            server.counts[url.path] = server.counts.get(url.path, 0) + 1
            count = server.counts[url.path]
            with open(server.log_path, "a") as log:
                log.write(json.dumps({"method": "GET", "path": url.path, "query": url.query,
                                      "range": ranged, "count": count}) + "\n")
        try:
            self._answer(url.path, query, ranged, count)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def _answer(self, path, query, ranged, count):
        if "hang" in query:
            time.sleep(float(query["hang"]))
            self.close_connection = True
            return
        status = int(query.get("status", "0"))
        fail_until = int(query.get("fail_until", "0"))
        if (status and count >= int(query.get("fail_from", "1"))
                and (not fail_until or count < fail_until)):
            body = f"fault {status}\n".encode()
            self.send_response(status)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        local = os.path.join(self.server.root, urllib.parse.unquote(path).lstrip("/"))
        if not os.path.isfile(local):
            self.send_error(404)
            return
        with open(local, "rb") as f:
            data = f.read()
        start = 0
        if ranged and not query.get("norange") and ranged.startswith("bytes="):
            start = int(ranged[len("bytes="):].split("-")[0])
        if start >= len(data) and start > 0:
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{len(data)}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = data[start:]
        self.send_response(206 if start else 200)
        if start:
            self.send_header("Content-Range", f"bytes {start}-{len(data) - 1}/{len(data)}")
        if query.get("lastmod") == "future":
            modified = time.time() + 86400
        else:
            modified = os.path.getmtime(local)
        self.send_header("Last-Modified", email.utils.formatdate(modified, usegmt=True))
        if "length" in query:
            self.send_header("Content-Length", query["length"])
        elif not query.get("nolength"):
            self.send_header("Content-Length", str(len(body)))
        close = bool(query.get("nolength")) or "length" in query
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()

        limit = len(body)
        cut = "cut" in query and not ranged
        stall = "stall" in query and not ranged
        if cut:
            limit = min(limit, int(query["cut"]))
        if stall:
            limit = min(limit, int(query["stall"]))
        rate = int(query.get("rate", "0"))
        sent = 0
        piece = 16384 if not rate else max(1024, rate // 20)
        while sent < limit:
            chunk = body[sent:min(limit, sent + piece)]
            self.wfile.write(chunk)
            sent += len(chunk)
            if rate:
                time.sleep(len(chunk) / rate)
        self.wfile.flush()
        if stall and sent < len(body):
            time.sleep(30)
        if (cut or stall) and sent < len(body):
            self.close_connection = True


class _Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        # A client that goes away between requests (a launcher closed during a download)
        # is no fault of the server's; anything else still gets its traceback.
        if isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            return
        super().handle_error(request, client_address)


class FaultServer:
    def __init__(self, root, log_path, port=None):
        self.root = os.path.abspath(root)
        self.log_path = log_path
        self.port = port or free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self._server = None
        self._thread = None

    def start(self):
        open(self.log_path, "w").close()
        self._server = _Server(("127.0.0.1", self.port), _Handler)
        self._server.daemon_threads = True
        self._server.root = self.root
        self._server.log_path = self.log_path
        self._server.lock = threading.Lock()
        self._server.counts = {}
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._server:
            self._server.shutdown()
            self._server.server_close()
            self._server = None
