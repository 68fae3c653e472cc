"""nginx on a free loopback port serving one folder, with a configuration made per run.

nginx honours Range and sends Last-Modified, as the patch servers and CDNs the launcher
meets in production do.
"""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, timeout=10.0):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class NginxServer:
    def __init__(self, root, port=None, rate=None):
        # rate: nginx's limit_rate per connection (e.g. "2m"), for runs slow enough to watch.
        self.root = os.path.abspath(root)
        self.rate = rate
        self.port = port or free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self._dir = None
        self._process = None

    def start(self):
        binary = shutil.which("nginx") or "/usr/sbin/nginx"
        self._dir = tempfile.mkdtemp(prefix="velm-nginx-")
        conf = os.path.join(self._dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write(f"""
daemon off;
master_process off;
worker_processes 1;
pid {self._dir}/nginx.pid;
error_log {self._dir}/error.log warn;
events {{ worker_connections 256; }}
http {{
    access_log {self._dir}/access.log;
    client_body_temp_path {self._dir}/body;
    proxy_temp_path {self._dir}/proxy;
    fastcgi_temp_path {self._dir}/fastcgi;
    uwsgi_temp_path {self._dir}/uwsgi;
    scgi_temp_path {self._dir}/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {{
        listen 127.0.0.1:{self.port};
        root {self.root};
        location / {{ {f"limit_rate {self.rate};" if self.rate else ""} }}
    }}
}}
""")
        self._process = subprocess.Popen([binary, "-c", conf, "-p", self._dir],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not wait_for_port(self.port):
            self.stop()
            raise RuntimeError(f"nginx did not start on port {self.port}")
        return self

    def access_log(self):
        with open(os.path.join(self._dir, "access.log")) as f:
            return f.read()

    def stop(self):
        if self._process and self._process.poll() is None:
            self._process.send_signal(signal.SIGQUIT)
            try:
                self._process.wait(5)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        if self._dir:
            shutil.rmtree(self._dir, ignore_errors=True)
            self._dir = None
