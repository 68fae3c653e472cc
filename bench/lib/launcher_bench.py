"""What bench/many-files.sh and bench/ui-stall.sh share to time the real launcher from
outside: a client published with velm-publish and served on loopback, a copy of
build/win/VelmLauncher.exe retargeted at those servers in a fresh installation folder, and
bench/ui_stall_probe_win32.cpp, which starts it under Wine, drives its main window and
times its answers."""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
from fault_server import FaultServer  # noqa: E402
from nginx_server import NginxServer  # noqa: E402
from recording_server import RecordingServer  # noqa: E402
from wine_launcher import WIN, WINE_RUN, retarget_launcher, start_xvfb, windows_path  # noqa: E402

# The optimised publisher (scripts/build.sh makes it in build/release).
PUBLISH = os.path.join(ROOT, "build", "release", "velm-publish")
# The address the client is published for; the runs rewrite it to the server under test.
PUBLISHED_BASE = "http://127.0.0.1:1/patch"
MINGW = "x86_64-w64-mingw32-g++-posix"
# The control ids of the main window (src/ui/ui_ids.h).
MAIN_BUTTON = 1001
MAIN_CLOSE = 1019


def say(name, text):
    print(f"{name}: {text}", file=sys.stderr, flush=True)


def build_launcher():
    subprocess.run(["cmake", "--build", WIN, "-j2", "--target", "VelmLauncher", "velm-retarget"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", os.path.dirname(PUBLISH), "-j2", "--target", "velm-publish"],
                   check=True, stdout=subprocess.DEVNULL)


def compile_win(source, out, flags=()):
    subprocess.run([MINGW, "-std=c++17", "-O2", "-static", source, *flags, "-o", out], check=True)


def publish(client, patch_root):
    """Publishes client as the first release of patch_root (once: kept for later runs)."""
    if os.path.exists(os.path.join(patch_root, "filelist.xml")):
        return
    shutil.rmtree(patch_root, ignore_errors=True)
    subprocess.run([PUBLISH, "release", "--root", patch_root, "--base-url", PUBLISHED_BASE,
                    "--client", client, "--jobs", "2"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


class Bench:
    """Servers, display and the retargeted launcher of one benchmark run; stop() ends them."""

    def __init__(self, work, www):
        self.work = work
        os.makedirs(work, exist_ok=True)
        self.xvfb = None
        self.servers = []
        self.nginx = self._serve(NginxServer(www))
        self.fault = self._serve(FaultServer(www, os.path.join(work, "fault.jsonl")))
        self.record = self._serve(RecordingServer(os.path.join(work, "record.jsonl")))
        # A prefix of the benchmarks' own: the launcher's single-instance mutex and its
        # registry record stay apart from the tests'.
        self.prefix = os.path.join(ROOT, "build", "bench-wineprefix")
        env = dict(os.environ, VELM_WINEPREFIX=self.prefix)
        if not env.get("DISPLAY"):
            self.xvfb, env["DISPLAY"] = start_xvfb()
        self.env = env
        self.exe = os.path.join(work, "VelmLauncher.exe")
        self.probe = os.path.join(work, "ui_stall_probe.exe")
        compile_win(os.path.join(ROOT, "bench", "ui_stall_probe_win32.cpp"), self.probe)
        retarget_launcher(self.exe, self._texts(), env)
        # Xvfb runs no window manager, and Wine waits up to 2 s for one to acknowledge each
        # top-level window it hides or destroys while it manages that window; a desktop's
        # manager answers at once. With Wine managing no window in this prefix, closing the
        # window costs what it costs the launcher, not that wait.
        subprocess.run([WINE_RUN, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                       env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _serve(self, server):
        self.servers.append(server.start())
        return server

    def _texts(self):
        record = self.record.url
        return {
            143: f"{self.nginx.url}/patch/filelist.xml",
            205: f"{record}/loginserver.txt",
            209: f"{record}/news.shtml",
            242: f"{record}/reg_vantor/register.jsp",
            253: "SOFTWARE\\\\Velm\\\\BENCH",
            255: f"{record}/launch.html",
            256: f"{record}/reg/register.jsp?game=qv",
            900: f"{record}/click/cs/qv",
            901: f"{record}/reg/register.jsp?game=qv",
            902: f"{record}/index.shtml",
            903: f"{record}/download/index.shtml",
            904: "",
        }

    def fresh_install(self, name):
        folder = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copy2(self.exe, os.path.join(folder, "VelmLauncher.exe"))
        return folder

    def run(self, folder, served_root, steps):
        """Starts the launcher of folder with the published roots pointed at served_root
        and drives it through the probe's steps; {phase: longest answer in ms}."""
        command = os.path.join(self.work, "command.txt")
        with open(command, "w", encoding="utf-8") as f:
            f.write(f'"{windows_path(os.path.join(folder, "VelmLauncher.exe"))}" -NOSELFUPDATE '
                    f'-URLROOT_ORIGINAL "{PUBLISHED_BASE}" -URLROOT_REPLACEMENT "{served_root}"\n')
            f.write(windows_path(folder) + "\n")
        done = subprocess.run([WINE_RUN, self.probe, windows_path(command),
                               windows_path(os.path.join(folder, "launcher.log")), *steps],
                              env=self.env, stdout=subprocess.PIPE, text=True)
        phases = {}
        for line in done.stdout.splitlines():
            parts = line.split()
            if len(parts) == 4 and parts[0] == "phase":
                phases[parts[1]] = float(parts[2])
        if done.returncode != 0:
            raise RuntimeError(f"the probe failed ({done.returncode}); phases so far: {phases}")
        return phases

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=dict(self.env, WINEPREFIX=self.prefix), stderr=subprocess.DEVNULL)
        for server in self.servers:
            server.stop()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()


def log_lines(folder):
    """(seconds, text) of every line of the launcher's log in folder."""
    with open(os.path.join(folder, "launcher.log"), "rb") as f:
        text = f.read().decode("utf-16-le", errors="replace").lstrip("\ufeff")
    lines = []
    for line in text.splitlines():
        parts = line.split("|", 2)
        if len(parts) == 3:
            try:
                lines.append((float(parts[0]), parts[2]))
            except ValueError:
                pass
    return lines


def now():
    return time.monotonic()
