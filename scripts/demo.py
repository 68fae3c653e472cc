#!/usr/bin/env python3
"""The demo: an operator publishes two releases, a player's launcher updates to the second.

Everything runs on 127.0.0.1 under build/demo:
  1. a demo client is made in two versions (clients/v1, clients/v2: a settings file, an
     edited data file, an unchanged one, a large new one under a Chinese name, and the
     demo game, a stand-in for the real client);
  2. velm-publish releases both into the patch root (www/qv_test/Patch/Client_Output),
     with the launcher itself, signed with the demo's release key (made on the first run
     and kept in keys/ across runs, with the serial record beside it), and verifies the
     root; a server list in code page 936
     and a news page go beside it; nginx serves it all (slowed down so the run can be
     watched), a small recording server takes the statistics reports;
  3. v1 is installed (install/) with a copy of VelmLauncher.exe pointed at those servers
     and holding the public key (velm-retarget), and the launcher is started under Wine:
     it downloads the file list, checks its signature, patches and downloads what changed, lists the realms and servers, and its start
     button starts the demo game with the chosen server's command line.
On the user's display the player does the clicking; without one, a private Xvfb is used,
the demo player program (tests/ui) clicks as a player would, and screenshots are taken.
Finally the demo checks that the installation equals release v2 and prints what happened,
with the launcher's line on the release it verified.
"""
import filecmp
import os
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
from nginx_server import NginxServer  # noqa: E402
from recording_server import RecordingServer  # noqa: E402
from wine_launcher import WIN, WINE_RUN, retarget_launcher, start_xvfb, windows_path  # noqa: E402

DEMO = os.path.join(ROOT, "build", "demo")
# The release key outlives the demo's other files: its serial record beside it keeps every
# run's releases above those the demo installation's registry copy has accepted.
KEYS = os.path.join(DEMO, "keys")
SIGN_KEY = os.path.join(KEYS, "release.pem")
PUBLISH = os.path.join(ROOT, "build", "release", "velm-publish")
PREFIX = os.path.join(ROOT, "build", "demo-wineprefix")
PATCH_PATH = "qv_test/Patch/Client_Output"
REGISTRY_KEY = "SOFTWARE\\\\Pendrel\\\\EMBERLYDEMO"

# Realm, server, status code, first badge: rows of the server list (code page 936).
SERVERS = [
    ("青龙区", "紫禁之巅", 1, 1, "1001"),
    ("青龙区", "长安古道", 2, 0, "1002"),
    ("白虎区", "大漠孤烟", 3, 0, "2001"),
    ("白虎区", "塞外飞雪", 4, 0, "2002"),
    ("朱雀区", "烟雨江南", 1, 0, "3001"),
]


def say(text):
    print(f"demo: {text}", flush=True)


def game_data(rng, size):
    # Compressible like game data: runs of few values between stretches of noise.
    out = bytearray()
    while len(out) < size:
        n = rng.randrange(512, 8192)
        out += rng.randbytes(n) if rng.random() < 0.5 else bytes([rng.randrange(4)]) * n
    return bytes(out[:size])


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_clients(clients):
    rng = random.Random(20261210)
    world = game_data(rng, 12 << 20)
    textures = game_data(rng, 6 << 20)
    game = open(os.path.join(WIN, "velm-demo-game.exe"), "rb").read()
    for version, settings in (("v1", "1.0.0.0"), ("v2", "1.0.0.1")):
        base = os.path.join(clients, version)
        write(os.path.join(base, "VelmGame", "Config", "DefaultGame.ini"),
              f"[TCore.VelmEngineBase]\r\nm_strGameVersion={settings}\r\n".encode())
        write(os.path.join(base, "VelmGame", "Data", "textures.pak"), textures)
        write(os.path.join(base, "Binaries", "Win32", "Velm.exe"), game)
        write(os.path.join(base, "VelmGame", "Data", "world.pak"), world)
    # v2 edits the world in place (published as a diff) and adds a large new region.
    edited = bytearray(world)
    for _ in range(40):
        at = rng.randrange(len(edited) - 4096)
        edited[at:at + 2048] = rng.randbytes(2048)
    write(os.path.join(clients, "v2", "VelmGame", "Data", "world.pak"), bytes(edited))
    write(os.path.join(clients, "v2", "VelmGame", "Data", "地图", "新区.pak"), rng.randbytes(20 << 20))


def release_key():
    """The demo's public key text, the key made on first use. A new key starts its serials
    afresh, so the demo Wine prefix, whose registry remembers the serial accepted last,
    starts afresh with it."""
    if not os.path.exists(SIGN_KEY):
        os.makedirs(KEYS, exist_ok=True)
        shutil.rmtree(PREFIX, ignore_errors=True)
        subprocess.run([PUBLISH, "keygen", "--out", SIGN_KEY], check=True, stdout=subprocess.DEVNULL)
    return subprocess.run([PUBLISH, "public-key", "--key", SIGN_KEY], check=True,
                          capture_output=True, text=True).stdout.strip()


def publish(patch_root, base_url, client, launcher):
    subprocess.run([PUBLISH, "release", "--root", patch_root, "--base-url", base_url,
                    "--client", client, "--launcher", launcher, "--sign-key", SIGN_KEY, "--quiet"],
                   check=True, stdout=subprocess.DEVNULL)


def verified_release_line(log_path):
    """The launcher's "Release N verified." line from its log (UTF-16LE), or None."""
    if not os.path.exists(log_path):
        return None
    with open(log_path, "rb") as f:
        text = f.read().decode("utf-16", errors="replace")
    found = re.findall(r"Release \d+ verified\.", text)
    return found[-1] if found else None


def write_server_list(path):
    lines = ["# 演示服务器列表", "SERVER_BEGIN"]
    for realm, server, status, badge, server_id in SERVERS:
        lines.append(f"{realm},{server},,{server_id},{status},{badge},0,,,"
                     f"tel-{server_id},cnc-{server_id},edu-{server_id},,1.0.0.1,127.0.0.1")
    lines.append("SERVER_END")
    write(path, ("\r\n".join(lines) + "\r\n").encode("gbk"))


def write_news(path):
    write(path, """<html><head><meta charset="utf-8"><title>Velm</title></head>
<body style="background:#1d1a16;color:#e8dcc0;font-family:sans-serif">
<h3>版本 1.0.0.1 更新说明</h3><ul><li>新区开放：朱雀区</li><li>世界地图修正</li></ul>
</body></html>
""".encode("utf-8"))


def deployment_texts(patch_url, record_url, public_key):
    return {
        143: f"{patch_url}/{PATCH_PATH}/filelist.xml",
        205: f"{patch_url}/qv_test/Patch/loginserver.txt",
        209: f"{patch_url}/content/launcher/launcher.shtml",
        242: f"{record_url}/reg_vantor/register.jsp",
        253: REGISTRY_KEY,
        255: f"{record_url}/launch.html",
        256: f"{record_url}/reg/register.jsp?game=qv",
        900: f"{record_url}/click/cs/qv",
        901: f"{record_url}/reg/register.jsp?game=qv",
        902: f"{record_url}/index.shtml",
        903: f"{record_url}/download/index.shtml",
        904: public_key,
    }


def differences(expected, actual):
    """Relative paths that differ between two trees (missing, extra or other bytes)."""
    def files(top):
        found = set()
        for folder, _, names in os.walk(top):
            for name in names:
                found.add(os.path.relpath(os.path.join(folder, name), top))
        return found
    want, have = files(expected), files(actual)
    wrong = sorted(want - have)
    wrong += sorted(p for p in want & have
                    if not filecmp.cmp(os.path.join(expected, p), os.path.join(actual, p), shallow=False))
    return wrong


def run_player(env, shots, display):
    """Plays the launcher with the demo player and screenshots each step it announces.

    The player writes a step file (a window's screen rectangle) and waits until the
    screenshot is taken, which the removal of the file tells it."""
    player = os.path.join(WIN, "velm_demo_player.exe")
    steps = os.path.join(DEMO, "player")
    os.makedirs(steps, exist_ok=True)
    process = subprocess.Popen([WINE_RUN, player, windows_path(steps)], env=env)
    while process.poll() is None:
        for step in sorted(os.listdir(steps)):
            if step.endswith(".tmp"):
                continue
            path = os.path.join(steps, step)
            with open(path) as f:
                x, y, w, h = f.read().split()
            shot = os.path.join(shots, step + ".png")
            subprocess.run(["import", "-display", display, "-window", "root",
                            "-crop", f"{w}x{h}+{x}+{y}", "+repage", shot], stderr=subprocess.DEVNULL)
            os.remove(path)
            say(f"screenshot {shot}")
        time.sleep(0.2)
    return process.returncode == 0


def main():
    for tool in (PUBLISH, os.path.join(WIN, "VelmLauncher.exe"), os.path.join(WIN, "velm-demo-game.exe")):
        if not os.path.exists(tool):
            sys.exit(f"demo: {tool} is missing; run scripts/build.sh first")
    if os.path.isdir(DEMO):
        for name in os.listdir(DEMO):
            if name != os.path.basename(KEYS):
                path = os.path.join(DEMO, name)
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    public_key = release_key()
    www = os.path.join(DEMO, "www")
    patch_root = os.path.join(www, *PATCH_PATH.split("/"))
    install = os.path.join(DEMO, "install")
    clients = os.path.join(DEMO, "clients")
    shots = os.path.join(DEMO, "screenshots")
    for folder in (patch_root, shots):
        os.makedirs(folder)

    patch = NginxServer(www, rate="2m").start()
    recorder = RecordingServer(os.path.join(DEMO, "requests.jsonl")).start()
    xvfb, display = (None, os.environ["DISPLAY"]) if os.environ.get("DISPLAY") else start_xvfb()
    env = dict(os.environ, DISPLAY=display, VELM_WINEPREFIX=PREFIX)
    launcher = None
    try:
        say(f"nginx serves {www} at {patch.url}; reports go to {recorder.url}")
        published_launcher = os.path.join(DEMO, "VelmLauncher.exe")
        retarget_launcher(published_launcher, deployment_texts(patch.url, recorder.url, public_key), env)

        say("making the demo client in two versions")
        make_clients(clients)
        base_url = f"{patch.url}/{PATCH_PATH}"
        for version in ("v1", "v2"):
            say(f"velm-publish release {version}, signed with {SIGN_KEY}")
            publish(patch_root, base_url, os.path.join(clients, version), published_launcher)
        subprocess.run([PUBLISH, "verify", "--root", patch_root, "--public-key", public_key], check=True)
        write_server_list(os.path.join(www, "qv_test", "Patch", "loginserver.txt"))
        write_news(os.path.join(www, "content", "launcher", "launcher.shtml"))

        say(f"installing release v1 in {install}")
        shutil.copytree(os.path.join(clients, "v1"), install)
        shutil.copy2(published_launcher, os.path.join(install, "VelmLauncher.exe"))
        with open(os.path.join(install, "sn.txt"), "wb") as f:
            f.write(b"\xff\xfe" + "DEMO-0001".encode("utf-16-le"))

        say("starting VelmLauncher.exe under Wine")
        launcher = subprocess.Popen([WINE_RUN, os.path.join(install, "VelmLauncher.exe")], env=env)
        if xvfb:
            played = run_player(env, shots, display)
            if not played:
                say("the demo player did not get through; see the screenshots and the log")
        else:
            say("update, choose a realm and a server, then press 开始游戏 (or close the launcher)")
        try:
            code = launcher.wait(timeout=None if not xvfb else 120)
            say(f"the launcher exited with code {code}")
        except subprocess.TimeoutExpired:
            say("the launcher was still open after 120 s and is ended")

        wrong = differences(os.path.join(clients, "v2"), install)
        say("the installation equals release v2" if not wrong else
            f"the installation differs from release v2 in: {', '.join(wrong)}")
        record = os.path.join(install, "demo_game.out")
        if os.path.exists(record):
            with open(record, encoding="utf-8") as f:
                say("the demo game was started with:\n  " + f.read().replace("\n", "\n  "))
        else:
            say("the demo game was not started")
        say("requests that reached the report server:")
        for r in recorder.requests():
            print(f"  {r['method']} {r['path']}  {r['body']}")
        log_path = os.path.join(install, "launcher.log")
        verified = verified_release_line(log_path)
        say(f"the launcher's log says: {verified}" if verified else
            "the launcher's log has no verified release")
        if os.path.exists(log_path):
            say(f"the launcher's log: {log_path}")
        if xvfb:
            say(f"screenshots in {shots}")
        return 0 if not wrong and os.path.exists(record) and verified else 1
    finally:
        if launcher and launcher.poll() is None:
            launcher.kill()
        recorder.stop()
        patch.stop()
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL,
                       env=dict(os.environ, WINEPREFIX=PREFIX))
        if xvfb:
            xvfb.terminate()


if __name__ == "__main__":
    sys.exit(main())
