#!/usr/bin/env python3
"""The fault campaign: the real launcher updates installations of release v1 to v3 under
Wine while the patch server misbehaves, and every run is checked against the release.

Everything runs on 127.0.0.1 under build/fc: the three-release fixture
(tests/tools/make_releases.py, made once with build/native/velm-publish), the fault server
(tests/servers/fault_server.py) serving the patch root with the faults of a case on every
URL under the root (its "~QUERY" leading path segment), a recording server taking the
statistics reports, a private Xvfb (:9 unless --display) and the Wine prefix
build/fc-wineprefix. build/win/VelmLauncher.exe is retargeted at those servers with
build/win/velm-retarget.exe.

Each case starts from a fresh installation of v1, runs the launcher once or more under its
fault and then once against the clean server. A run ends when the launcher reports
"update_succeeded" or "update_failed" (f1 of its report posts), or after --timeout
seconds (a hang); the prefix's wineserver is then killed. After every run:
  - each file of v1 or v3 must hold its v1 or its v3 bytes, or be absent where that
    release lacks it ("neither old nor new" otherwise);
  - a reported success while the installation differs from v3 is a false success;
  - nothing may appear or change outside the installation folder: beside it, or in the
    prefix's users and ProgramData folders (v3's own desktop shortcut excepted);
and the clean run after the faults must leave the installation equal to v3 (converged).
Cases that damage world.pak first (so that it is downloaded whole) accept the damaged
bytes too, and count in "resumed" the clean runs that asked for it with a Range. Cases
with a file size limit run the launcher under it (the Wine server without it): a write
that reaches the limit comes up short, as on a full disk.
The table at the end holds these counts per case; the exit code is 1 when one breaks.
"""
import argparse
import hashlib
import json
import os
import random
import resource
import shutil
import signal
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
from cmp_container import decode_cmp, encode_cmp, list_hash_companion  # noqa: E402
from fault_server import FaultServer  # noqa: E402
from nginx_server import free_port  # noqa: E402
from recording_server import RecordingServer  # noqa: E402
from wine_launcher import WIN, WINE_RUN, retarget_launcher, start_xvfb, windows_path  # noqa: E402

WORK = os.path.join(ROOT, "build", "fc")
PUBLISH = os.path.join(ROOT, "build", "native", "velm-publish")
PREFIX = os.path.join(ROOT, "build", "fc-wineprefix")
PUBLISHED_BASE = "http://127.0.0.1:1/fc/patch"
REGISTRY_KEY = "SOFTWARE\\\\Velm\\\\FAULTCAMPAIGN"
REPORT_PATH = "/click/cs/qv"
# The v3 release's script puts this shortcut on the common desktop on purpose.
EXPECTED_OUTSIDE = {os.path.join("drive_c", "users", "Public", "Desktop", "Velm Online.lnk")}
# WinINet's own store of answers and cookies: the system writes there, not the launcher.
SYSTEM_CACHE = ("INetCache", "INetCookies")
ABSENT = "absent"
DAMAGED_FILE = "VelmGame/Data/world.pak"
# What an attacker on the path would have the launcher install as world.pak: a whole file
# in a swapped list, or the outputs of planted diffs (the first step's and the second's).
ATTACKER_BYTES = b"attacker's world.pak\n" * 4096
PLANTED_STEPS = [b"planted world.pak, step %d\n" % step * 4096 for step in (1, 2)]
ATTACKER_MD5S = {hashlib.md5(data).hexdigest().upper() for data in [ATTACKER_BYTES] + PLANTED_STEPS}


def say(text):
    print(f"fault-campaign: {text}", flush=True)


def md5_of(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest().upper()


def make_fixture():
    """The three releases, signed with the campaign's own key; returns their folder and
    the public key text the launcher is built with."""
    releases = os.path.join(WORK, "releases")
    manifest = os.path.join(releases, "manifest.json")
    if not os.path.exists(manifest) or "public_key" not in open(manifest, encoding="utf-8").read():
        say("making the three signed releases (about a minute)")
        shutil.rmtree(releases, ignore_errors=True)
        subprocess.run([sys.executable, os.path.join(ROOT, "tests", "tools", "make_releases.py"),
                        "--tool", PUBLISH, "--out", releases, "--base-url", PUBLISHED_BASE,
                        "--sign-key", os.path.join(WORK, "release.pem")], check=True)
    with open(manifest, encoding="utf-8") as f:
        return releases, json.load(f)["public_key"]


def attacker_root(releases, name, keep_signature):
    """A patch root as an attacker on the path serves it: the list swapped for one whose
    world.pak is the attacker's file (with its true MD5, no diff history), that file in
    its place, and the genuine signature file kept beside the list or left out."""
    root = os.path.join(WORK, "www", name)
    shutil.rmtree(root, ignore_errors=True)
    shutil.copytree(os.path.join(releases, "patch"), os.path.join(root, "patch"))
    patch = os.path.join(root, "patch")
    with open(os.path.join(patch, "v3", *DAMAGED_FILE.split("/")), "wb") as f:
        f.write(encode_cmp(ATTACKER_BYTES))
    with open(os.path.join(patch, "filelist.xml"), "rb") as f:
        xml = decode_cmp(f.read()).decode("utf-8")
    listed_name = "\\" + DAMAGED_FILE.replace("/", "\\")
    start = xml.index(f'<File name="{listed_name}"')
    end = xml.index("</File>", start) + len("</File>")
    size = os.path.getsize(os.path.join(patch, "v3", *DAMAGED_FILE.split("/")))
    swapped = (f'<File name="{listed_name}" hash="{hashlib.md5(ATTACKER_BYTES).hexdigest().upper()}" '
               f'size_compressed="{size}" flags="1" '
               f'diff_size="0">\n\t\t</File>')
    xml = (xml[:start] + swapped + xml[end:]).encode("utf-8")
    with open(os.path.join(patch, "filelist.xml"), "wb") as f:
        f.write(encode_cmp(xml))
    with open(os.path.join(patch, "filelist.xml.hash"), "wb") as f:
        f.write(list_hash_companion(xml))
    if not keep_signature:
        os.remove(os.path.join(patch, "filelist.xml.sig"))
    return root


def planted_diff(output, listed_size):
    """A diff that makes output from any file and vouches for it in its own header (new
    size and MD5), in a container padded by its extra block to exactly listed_size."""
    diff = (b"VDIF" + struct.pack("<Ii", 0, len(output)) + bytes(16) + hashlib.md5(output).digest() +
            struct.pack("<I", 1) + struct.pack("<iii", 0, len(output), 0) +
            struct.pack("<I", 0) + struct.pack("<I", len(output)) + output)
    container = encode_cmp(diff)
    pad = listed_size - len(container)
    assert pad >= 0, "the planted diff does not fit the listed size"
    return container[:24] + struct.pack("<I", pad) + bytes(pad) + container[28:]


def planted_diff_root(releases):
    """The genuine (signed) list, with world.pak's v1-to-v2 and v2-to-v3 diffs swapped for
    planted ones of exactly the listed sizes, and its full download refused (absent), so
    that a failed chain cannot be mended by the fallback."""
    root = os.path.join(WORK, "www", "attacker-diff")
    shutil.rmtree(root, ignore_errors=True)
    shutil.copytree(os.path.join(releases, "patch"), os.path.join(root, "patch"))
    for version, output in zip(("v2", "v3"), PLANTED_STEPS):
        path = os.path.join(root, "patch", version, *DAMAGED_FILE.split("/")) + ".diff"
        planted = planted_diff(output, os.path.getsize(path))
        with open(path, "wb") as f:
            f.write(planted)
    for version in ("v1", "v2", "v3"):
        full = os.path.join(root, "patch", version, *DAMAGED_FILE.split("/"))
        if os.path.exists(full):
            os.remove(full)
    return root


def flip_bit(path, rng):
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        if not data:
            return
        # Past the container's header, inside the compressed stream.
        at = rng.randrange(min(len(data) - 1, 64), len(data))
        data[at] ^= 1 << rng.randrange(8)
        f.seek(0)
        f.write(data)


def served_roots(releases, rng):
    """Folders the fault server serves, each holding a patch root at "patch"."""
    roots = {}
    clean = os.path.join(WORK, "www", "clean")
    os.makedirs(clean, exist_ok=True)
    if not os.path.exists(os.path.join(clean, "patch")):
        os.symlink(os.path.join(releases, "patch"), os.path.join(clean, "patch"))
    roots["clean"] = clean

    # Every diff and every stored file of v2 and v3 with one bit flipped.
    corrupt = os.path.join(WORK, "www", "corrupt")
    shutil.rmtree(corrupt, ignore_errors=True)
    shutil.copytree(os.path.join(releases, "patch"), os.path.join(corrupt, "patch"))
    for version in ("v2", "v3"):
        for folder, _, names in os.walk(os.path.join(corrupt, "patch", version)):
            for name in names:
                flip_bit(os.path.join(folder, name), rng)
    roots["corrupt"] = corrupt

    # The file list changed after the launcher read its ".hash": the list it downloads no
    # longer matches the hash it was given.
    changed = os.path.join(WORK, "www", "changed")
    shutil.rmtree(changed, ignore_errors=True)
    shutil.copytree(os.path.join(releases, "patch"), os.path.join(changed, "patch"))
    hash_path = os.path.join(changed, "patch", "filelist.xml.hash")
    with open(hash_path, "rb") as f:
        text = f.read()
    digit = next(i for i, c in enumerate(text) if chr(c) in "0123456789ABCDEF")
    stale = bytearray(text)
    stale[digit] = ord("0") if text[digit] != ord("0") else ord("1")
    with open(hash_path, "wb") as f:
        f.write(bytes(stale))
    roots["changed"] = changed
    roots["attacker"] = attacker_root(releases, "attacker", keep_signature=True)
    roots["attacker-unsigned"] = attacker_root(releases, "attacker-unsigned", keep_signature=False)
    roots["attacker-diff"] = planted_diff_root(releases)
    return roots


def deployment_texts(fault_url, record_url, public_key):
    return {
        143: f"{fault_url}/patch/filelist.xml",
        205: f"{record_url}/loginserver.txt",
        209: f"{record_url}/news.shtml",
        242: f"{record_url}/reg_vantor/register.jsp",
        253: REGISTRY_KEY,
        255: f"{record_url}/launch.html",
        256: f"{record_url}/reg/register.jsp?game=qv",
        900: f"{record_url}{REPORT_PATH}",
        901: f"{record_url}/reg/register.jsp?game=qv",
        902: f"{record_url}/index.shtml",
        903: f"{record_url}/download/index.shtml",
        904: public_key,
    }


def snapshot(tops):
    """Path -> (size, mtime) of every file and folder under the given folders."""
    seen = {}
    for top in tops:
        for folder, dirs, names in os.walk(top):
            for name in dirs + names:
                path = os.path.join(folder, name)
                try:
                    st = os.lstat(path)
                except FileNotFoundError:
                    continue
                seen[path] = (st.st_size, st.st_mtime_ns) if not os.path.isdir(path) else None
    return seen


class Campaign:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.releases, self.public_key = make_fixture()
        with open(os.path.join(self.releases, "manifest.json"), encoding="utf-8") as f:
            versions = json.load(f)["versions"]
        self.v1 = {k.lstrip("\\").replace("\\", "/"): v for k, v in versions["1"].items()}
        self.v3 = {k.lstrip("\\").replace("\\", "/"): v for k, v in versions["3"].items()}
        self.roots = served_roots(self.releases, self.rng)
        self.fault_port = free_port()
        self.fault_url = f"http://127.0.0.1:{self.fault_port}"
        self.recorder = RecordingServer(os.path.join(WORK, "reports.jsonl")).start()
        self.env = dict(os.environ, DISPLAY=args.display, VELM_WINEPREFIX=PREFIX)
        self.place = os.path.join(WORK, "place")
        self.install = os.path.join(self.place, "install")
        self.exe = os.path.join(WORK, "VelmLauncher.exe")
        self.rows = []

    def retarget(self):
        retarget_launcher(self.exe, deployment_texts(self.fault_url, self.recorder.url, self.public_key), self.env)
        self.kill_wine()

    def kill_wine(self):
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL,
                       env=dict(os.environ, WINEPREFIX=PREFIX))

    def fresh_install(self):
        if os.path.exists(self.install):
            subprocess.run(["chmod", "-R", "u+w", self.install])
        shutil.rmtree(self.place, ignore_errors=True)
        os.makedirs(self.place)
        shutil.copytree(os.path.join(self.releases, "client-v1"), self.install)
        shutil.copy2(self.exe, os.path.join(self.install, "VelmLauncher.exe"))
        with open(os.path.join(self.place, "sentinel.txt"), "w") as f:
            f.write("beside the installation\n")
        self.damaged = {}

    def damage_world(self):
        """Cuts world.pak short: its hash is no published one, so it is downloaded whole."""
        path = os.path.join(self.install, *DAMAGED_FILE.split("/"))
        with open(path, "r+b") as f:
            f.truncate(os.path.getsize(path) // 2)
        self.damaged = {DAMAGED_FILE: md5_of(path)}

    def events_since(self, baseline):
        events = []
        for entry in self.recorder.requests()[baseline:]:
            if entry["method"] != "POST" or entry["path"] != REPORT_PATH:
                continue
            for field in entry["body"].split("&"):
                if field.startswith("f1="):
                    events.append(field[3:])
        return events

    def outside_tops(self):
        return [self.place, os.path.join(PREFIX, "drive_c", "users"),
                os.path.join(PREFIX, "drive_c", "ProgramData")]

    def run_once(self, root, query, kill_after=None, during=None, limit=None):
        """One launcher run: (event or "hang" or "killed", outside paths touched, entries
        of the system's HTTP cache touched)."""
        server = FaultServer(self.roots[root], os.path.join(WORK, "fault.jsonl"),
                             port=self.fault_port).start()
        preexec = None
        if limit is not None:
            # The Wine server keeps the prefix's registry: it runs without the limit.
            subprocess.Popen(["wineserver", "-p"], env=dict(os.environ, WINEPREFIX=PREFIX)).wait()

            def preexec():
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        before = snapshot(self.outside_tops())
        baseline = len(self.recorder.requests())
        served = f"{self.fault_url}/~{query}/patch" if query else f"{self.fault_url}/patch"
        # The launcher reads switch values between double quotes, which Wine escapes when
        # it builds a command line from arguments; a batch file hands them over as written.
        batch = os.path.join(WORK, "run.bat")
        with open(batch, "w", newline="\r\n") as f:
            f.write(f'@"{windows_path(os.path.join(self.install, "VelmLauncher.exe"))}" -NOSELFUPDATE'
                    f' -URLROOT_ORIGINAL "{PUBLISHED_BASE}" -URLROOT_REPLACEMENT "{served}"\n')
        launcher = subprocess.Popen([WINE_RUN, "cmd", "/c", windows_path(batch)], env=self.env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    preexec_fn=preexec)
        started = time.monotonic()
        outcome = "hang"
        try:
            while time.monotonic() - started < self.args.timeout:
                events = [e for e in self.events_since(baseline)
                          if e in ("update_succeeded", "update_failed")]
                if events:
                    outcome = events[0]
                    break
                elapsed = time.monotonic() - started
                if kill_after is not None and elapsed >= kill_after:
                    outcome = "killed"
                    break
                if during and during[0] is not None and elapsed >= during[0]:
                    during[1]()
                    during = None
                time.sleep(0.2)
        finally:
            self.kill_wine()
            try:
                launcher.wait(timeout=30)
            except subprocess.TimeoutExpired:
                launcher.kill()
                launcher.wait()
            server.stop()
        after = snapshot(self.outside_tops())
        inside = self.install + os.sep
        changed = [path for path, state in after.items()
                   if before.get(path, "new") != state and not path.startswith(inside)
                   and path != self.install and os.path.relpath(path, PREFIX) not in EXPECTED_OUTSIDE]
        changed += [path for path in before if path not in after and not path.startswith(inside)]
        cached = [p for p in changed if any(part in SYSTEM_CACHE for part in p.split(os.sep))]
        return outcome, [p for p in changed if p not in cached], cached

    def ranged_requests(self):
        """Requests with a Range that the fault server saw in the last run."""
        with open(os.path.join(WORK, "fault.jsonl")) as f:
            return sum(1 for line in f if json.loads(line).get("range"))

    def installed_state(self):
        """(paths that differ from v3, paths holding neither their v1 nor their v3 state)."""
        differs, neither = [], []
        for name in sorted(set(self.v1) | set(self.v3)):
            path = os.path.join(self.install, *name.split("/"))
            have = md5_of(path) if os.path.isfile(path) else ABSENT
            if have != self.v3.get(name, ABSENT):
                differs.append(name)
                if have != self.v1.get(name, ABSENT) and have != self.damaged.get(name):
                    neither.append(name)
        return differs, neither

    def run_case(self, name, runs, plan, damage=False, limit=None):
        """plan(run_index) -> (root, query, kill_after, during) of each faulty run; damage
        cuts world.pak short first; limit is the faulty runs' file size limit."""
        say(f"case {name}: {runs} faulty run(s), then a clean one")
        self.fresh_install()
        if damage:
            self.damage_world()
        row = {"case": name, "runs": runs, "outcomes": [], "false_successes": 0, "neither": 0,
               "outside": 0, "cache": 0, "resumed": "-", "attacker": 0,
               "converged": False}
        for index in range(runs + 1):
            clean = index == runs
            root, query, kill_after, during = ("clean", "", None, None) if clean else plan(index)
            outcome, touched, cached = self.run_once(root, query, kill_after, during,
                                                     None if clean else limit)
            if damage and clean:
                row["resumed"] = str(self.ranged_requests())
            if during is not None:
                subprocess.run(["chmod", "-R", "u+w", self.install])
            differs, neither = self.installed_state()
            world = os.path.join(self.install, *DAMAGED_FILE.split("/"))
            if os.path.isfile(world) and md5_of(world) in ATTACKER_MD5S:
                row["attacker"] += 1
                say("  ATTACKER SUCCESS: the attacker's world.pak was installed")
            row["outcomes"].append(outcome)
            if outcome == "update_succeeded" and differs:
                row["false_successes"] += 1
                say(f"  FALSE SUCCESS: reported success while these differ from v3: {differs[:5]}")
            if not clean:
                row["neither"] += len(neither)
                if neither:
                    say(f"  neither v1 nor v3 after the run: {neither[:5]}")
            row["outside"] += len(touched)
            row["cache"] += len(cached)
            if touched:
                say(f"  touched outside the installation: {touched[:5]}")
            if clean:
                row["converged"] = outcome == "update_succeeded" and not differs
                if not row["converged"]:
                    say(f"  did not converge ({outcome}); differs from v3: {differs[:5]}")
            say(f"  run {index + 1}{' (clean)' if clean else ''} [{root} {query or '-'}"
                f"{'' if kill_after is None else f' kill@{kill_after:.1f}s'}]: {outcome}, "
                f"{len(differs)} file(s) differ from v3")
        self.rows.append(row)

    def cases(self):
        rng = self.rng
        n = self.args.runs
        return {
            # The first answer of every file is cut at a random offset; resumes complete it.
            "cut": (2 * n, lambda i: ("clean", f"cut={rng.randrange(0, 300000)}", None, None)),
            "wrong-length": (2 * n, lambda i: ("clean", "length=" + ["1000", "99999999", "-5", "x"][i % 4],
                                               None, None)),
            "no-range": (n, lambda i: ("clean", f"norange=1&cut={rng.randrange(1000, 200000)}", None, None)),
            "5xx-burst": (n, lambda i: ("clean", f"status={rng.choice([500, 502, 503])}"
                                                 f"&fail_until={rng.randrange(2, 5)}", None, None)),
            "list-changed": (n, lambda i: ("changed", "", None, None)),
            # Someone on the path swaps the list (keeping or dropping its signature file).
            "attacker-list": (n, lambda i: ("attacker", "", None, None)),
            "attacker-unsigned": (n, lambda i: ("attacker-unsigned", "", None, None)),
            # Someone on the path plants diffs that vouch for their own output and refuses
            # the full download that the failed chain asks for.
            "attacker-diff": (n, lambda i: ("attacker-diff", "", None, None)),
            "corrupt-bit": (n, lambda i: ("corrupt", "", None, None)),
            # Slowed down so that the kill lands anywhere from the file list to the script.
            "killed": (2 * n, lambda i: ("clean", "rate=20000", rng.uniform(1, 4), None)),
            "read-only": (n, lambda i: ("clean", "rate=50000", None,
                                        (rng.uniform(1.5, 5), self.make_read_only))),
            # world.pak downloaded whole and the launcher killed a few blocks into it,
            # before the 16th: the clean run must resume it ("resumed" > 0).
            "killed-early": (n, lambda i: ("clean", "rate=200000", rng.uniform(4, 7), None),
                             {"damage": True}),
            # world.pak downloaded whole under a file size limit just short of its
            # container: the write of its last block comes up short.
            "disk-full-last": (n, lambda i: ("clean", "", None, None),
                               {"damage": True, "limit": self.world_container_size() - 2000}),
        }

    def world_container_size(self):
        # Published under the file's own name.
        path = os.path.join(self.releases, "patch", "v3", *DAMAGED_FILE.split("/"))
        return os.path.getsize(path)

    def make_read_only(self):
        # Wine reports a file without write permission as read-only; root ignores the
        # permission itself, so this only tests how the launcher treats the attribute.
        subprocess.run(["chmod", "-R", "a-w", self.install])

    def table(self):
        header = ("case", "runs", "outcomes", "converged", "false successes",
                  "neither old nor new", "outside touched", "system HTTP cache", "resumed",
                  "attacker successes")
        lines = [header]
        for r in self.rows:
            counts = {}
            for o in r["outcomes"][:-1]:
                counts[o] = counts.get(o, 0) + 1
            outcomes = " ".join(f"{k.replace('update_', '')}:{v}" for k, v in sorted(counts.items()))
            lines.append((r["case"], str(r["runs"]), outcomes, "yes" if r["converged"] else "NO",
                           str(r["false_successes"]), str(r["neither"]), str(r["outside"]), str(r["cache"]), r["resumed"],
                           str(r["attacker"])))
        widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
        for line in lines:
            print("  ".join(cell.ljust(w) for cell, w in zip(line, widths)))

    def broken(self):
        return any(not r["converged"] or r["false_successes"] or r["outside"] or r["attacker"] for r in self.rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=6,
                        help="faulty runs per case (cuts, wrong lengths and kills get twice as many)")
    parser.add_argument("--cases", help="comma-separated subset of the cases")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--timeout", type=float, default=240, help="seconds before a run counts as a hang")
    parser.add_argument("--display", default=":9")
    args = parser.parse_args()
    for tool in (PUBLISH, os.path.join(WIN, "VelmLauncher.exe"), os.path.join(WIN, "velm-retarget.exe")):
        if not os.path.exists(tool):
            sys.exit(f"fault-campaign: {tool} is missing; build it first")
    os.makedirs(WORK, exist_ok=True)
    say(f"seed {args.seed}")
    xvfb, _ = start_xvfb(int(args.display.lstrip(":")))
    campaign = None
    try:
        campaign = Campaign(args)
        campaign.retarget()
        chosen = campaign.cases()
        names = args.cases.split(",") if args.cases else list(chosen)
        for name in names:
            if name not in chosen:
                sys.exit(f"fault-campaign: no case {name}; cases: {', '.join(chosen)}")
        for name in names:
            runs, plan, *options = chosen[name]
            campaign.run_case(name, runs, plan, **(options[0] if options else {}))
        campaign.table()
        return 1 if campaign.broken() else 0
    finally:
        if campaign:
            campaign.kill_wine()
            campaign.recorder.stop()
        if xvfb:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())
