"""What the demo and the fault campaign share to run the real launcher under Wine: Windows
paths of Unix files, a private Xvfb, and a copy of the built launcher whose endpoints are
rewritten (velm-retarget) to point at loopback servers."""
import os
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WIN = os.path.join(ROOT, "build", "win")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_xvfb(number=None):
    """(the Xvfb process or None when the display exists already, the display name).
    Without a number the first free display from :90 on is taken."""
    if number is None:
        number = next(n for n in range(90, 140) if not os.path.exists(f"/tmp/.X11-unix/X{n}")
                      and not os.path.exists(f"/tmp/.X{n}-lock"))
    elif os.path.exists(f"/tmp/.X11-unix/X{number}"):
        return None, f":{number}"
    xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(f"/tmp/.X11-unix/X{number}"):
            break
        time.sleep(0.1)
    return xvfb, f":{number}"


def retarget_launcher(out_exe, texts, env):
    """Writes a copy of build/win/VelmLauncher.exe to out_exe with the configuration texts
    given as {id: text} (deployment file syntax: "\\\\" for one backslash)."""
    deployment = out_exe + ".deployment.ini"
    with open(deployment, "w", encoding="utf-8") as f:
        for key, value in texts.items():
            f.write(f"{key} = {value}\n")
    subprocess.run([WINE_RUN, os.path.join(WIN, "velm-retarget.exe"),
                    "--exe", windows_path(os.path.join(WIN, "VelmLauncher.exe")),
                    "--out", windows_path(out_exe), "--deployment", windows_path(deployment)],
                   check=True, env=env)
