#!/usr/bin/env python3
"""The demo: the launcher under Wine against servers on 127.0.0.1.

Makes an installation folder under build/demo with a copy of the built launcher whose
endpoints point at loopback servers (velm-retarget), runs it (on the user's display when
one is set, else under a private Xvfb), takes a screenshot, and prints what reached the
servers and what the launcher logged.
"""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
from nginx_server import NginxServer  # noqa: E402
from recording_server import RecordingServer  # noqa: E402

DEMO = os.path.join(ROOT, "build", "demo")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_display():
    if os.environ.get("DISPLAY"):
        return None, os.environ["DISPLAY"]
    for n in range(90, 140):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            break
    xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(50):
        if os.path.exists(f"/tmp/.X11-unix/X{n}"):
            break
        time.sleep(0.1)
    return xvfb, f":{n}"


def write_deployment(path, patch_url, record_url):
    texts = {
        143: f"{patch_url}/qv_test/Patch/Client_Output/filelist.xml",
        205: f"{patch_url}/qv_test/Patch/loginserver.txt",
        209: f"{patch_url}/content/launcher/launcher.shtml",
        242: f"{record_url}/reg_vantor/register.jsp",
        253: "SOFTWARE\\\\Pendrel\\\\EMBERLYDEMO",
        255: f"{record_url}/launch.html",
        900: f"{record_url}/click/cs/qv",
    }
    with open(path, "w", encoding="utf-8") as f:
        for key, value in texts.items():
            f.write(f"{key} = {value}\n")


def main():
    shutil.rmtree(DEMO, ignore_errors=True)
    install = os.path.join(DEMO, "install")
    patch_root = os.path.join(DEMO, "patch")
    shots = os.path.join(DEMO, "screenshots")
    for folder in (install, patch_root, shots):
        os.makedirs(folder)

    patch = NginxServer(patch_root).start()
    recorder = RecordingServer(os.path.join(DEMO, "requests.jsonl")).start()
    xvfb, display = start_display()
    env = dict(os.environ, DISPLAY=display)
    try:
        deployment = os.path.join(DEMO, "deployment.ini")
        write_deployment(deployment, patch.url, recorder.url)
        subprocess.run([WINE_RUN, os.path.join(ROOT, "build", "win", "velm-retarget.exe"),
                        "--exe", windows_path(os.path.join(ROOT, "build", "win", "VelmLauncher.exe")),
                        "--out", windows_path(os.path.join(install, "VelmLauncher.exe")),
                        "--deployment", windows_path(deployment)], check=True, env=env)
        with open(os.path.join(install, "sn.txt"), "wb") as f:
            f.write(b"\xff\xfe" + "DEMO-0001".encode("utf-16-le"))

        print(f"demo: starting the launcher in {install}")
        launcher = subprocess.Popen([WINE_RUN, os.path.join(install, "VelmLauncher.exe")], env=env)
        time.sleep(8)
        shot = os.path.join(shots, "startup.png")
        subprocess.run(["import", "-display", display, "-window", "root", shot],
                       stderr=subprocess.DEVNULL)
        if xvfb:
            window = subprocess.run(["xdotool", "search", "--name", "Emberly"], env=env,
                                    capture_output=True, text=True).stdout.split()
            for w in window[:1]:
                subprocess.run(["xdotool", "key", "--window", w, "alt+F4"], env=env,
                               stderr=subprocess.DEVNULL)
        else:
            print("demo: close the launcher window to finish")
        try:
            code = launcher.wait(timeout=None if not xvfb else 60)
            print(f"demo: the launcher exited with code {code}")
        except subprocess.TimeoutExpired:
            # A modal dialog (the error list of a failed run) keeps the window open.
            print("demo: the launcher was still open after 60 s and is ended")

        print("\ndemo: requests that reached the loopback servers")
        for r in recorder.requests():
            print(f"  {r['method']} {r['path']}  {r['body']}")
        log_path = os.path.join(install, "launcher.log")
        if os.path.exists(log_path):
            print("\ndemo: launcher.log")
            with open(log_path, "rb") as f:
                print(f.read().decode("utf-16", "replace"))
        print(f"demo: screenshot in {shot}")
    finally:
        recorder.stop()
        patch.stop()
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL,
                       env=dict(os.environ, WINEPREFIX=os.path.join(ROOT, "build", "wineprefix")))
        if xvfb:
            xvfb.terminate()


if __name__ == "__main__":
    main()
