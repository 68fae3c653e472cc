#!/usr/bin/env python3
"""Makes three releases of a small game client with velm-publish: the fixture of the
update-engine tests, generated at test time (nothing large is kept in git).

    make_releases.py --tool PATH --out DIR --base-url URL [--launcher EXE]
                     [--sign-key KEY.pem] [--runner CMD] [--unicode-names] [--check]

Writes:
    DIR/client-v1, DIR/client-v2, DIR/client-v3   the client folders as published, to be
                                                   copied as installations of v1 and v2
    DIR/patch                                      the patch root after the v3 release,
                                                   to be served at URL (nginx: root DIR)
    DIR/manifest.json                              per version: entry name -> MD5; the
                                                   v3 script's effects; with --sign-key
                                                   the public key text ("public_key")

The client holds a few dozen files: a 6 MiB data file edited in place in v2 and v3,
nested folders, a file added in v2, a file removed in v3 (and deleted by the v3 script,
which also creates a desktop shortcut) and an empty file. --unicode-names adds a file
with a Chinese name (under Wine, scripts/wine-run provides the zh_CN.UTF-8 locale that
keeps such names intact).
--launcher publishes that executable as the launcher (default: a small placeholder
that differs between v1 and v3). --sign-key signs every release with that private key
(made with velm-publish keygen when the file does not exist yet; keep it outside DIR so
that runs can share it), so the root also holds filelist.xml.sig with release serial 3;
signing needs the native build of velm-publish. --runner runs the tool through a
wrapper (for example scripts/wine-run for velm-publish.exe). --check also verifies the root and exercises
the command line's error exits.
"""
import argparse
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "servers"))
from cmp_container import decode_cmp  # noqa: E402

SCRIPT_V3 = (
    '# v3: the old plug-in is gone, and players get a desktop shortcut\n'
    'DELETE_FILE "VelmGame\\old.dll"\n'
    'CREATE_SHORTCUT VelmLauncher.exe "{DESKTOP}\\Velm Online.lnk" "Velm Online"\n')


def noise(rng, size):
    # Compressible like game data: runs of few values between stretches of noise.
    out = bytearray()
    while len(out) < size:
        n = min(size - len(out), rng.randrange(256, 4096))
        if rng.random() < 0.4:
            out += rng.randbytes(n)
        else:
            out += bytes(rng.choice(b"\x00\x01\x02\x03") for _ in range(n // 64)) * 64
    return bytes(out[:size])


def edit(data, rng, count):
    data = bytearray(data)
    for _ in range(count):
        at = rng.randrange(len(data) - 512)
        data[at:at + rng.randrange(16, 512)] = rng.randbytes(rng.randrange(16, 512))
    return bytes(data)


def client(version, unicode_names):
    rng = random.Random(1)
    files = {}
    world = noise(rng, 6 << 20)
    for v in range(2, version + 1):
        world = edit(world, random.Random(100 + v), 60)
    files["VelmGame/Data/world.pak"] = world
    files["VelmGame/Binaries/Game.exe"] = edit(noise(random.Random(2), 400000),
                                               random.Random(200 + version), 5)
    files["VelmGame/Config/DefaultGame.ini"] = (
        "[Version]\r\nVersion=1.0.%d\r\n" % version).encode()
    files["VelmGame/empty.dat"] = b""
    if unicode_names:
        files["VelmGame/说明.txt"] = ("维尔姆 Online %d\n" % min(version, 2)).encode()
    for i in range(24):
        data = noise(random.Random(300 + i), 1000 + 2500 * i)
        if i % 5 == version % 5:
            data = edit(data, random.Random(400 + i * 10 + version), 2)
        files["VelmGame/Data/Textures/t%02d.tex" % i] = data
    for i in range(6):
        files["VelmGame/Scripts/quest%d.lua" % i] = (
            "-- quest %d, client %d\n" % (i, version if i == 2 else 1)).encode()
    if version >= 2:
        files["VelmGame/Data/added_v2.pak"] = noise(random.Random(5), 120000)
    if version <= 2:
        files["VelmGame/old.dll"] = noise(random.Random(6), 30000)
    return files


def write_client(folder, files):
    shutil.rmtree(folder, ignore_errors=True)
    for name, data in files.items():
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def check_digests(patch, client_folder):
    """Every file entry of the list names the SHA-256 and size of the client's file, as
    Python's own hashlib sees them (a second opinion on the tool's SHA-256)."""
    with open(os.path.join(patch, "filelist.xml"), "rb") as f:
        root = ElementTree.fromstring(decode_cmp(f.read()))
    for entry in root.find("FileList"):
        name = entry.get("name")
        with open(os.path.join(client_folder, *name.lstrip("\\").split("\\")), "rb") as f:
            data = f.read()
        assert entry.get("sha256") == hashlib.sha256(data).hexdigest(), name
        assert entry.get("file_size") == str(len(data)), name


def run(cmd, expect=0):
    result = subprocess.run(cmd, capture_output=True, text=True)
    if result.returncode != expect:
        sys.stderr.write(result.stdout + result.stderr)
        sys.exit("%s exited with %d, expected %d" % (" ".join(cmd), result.returncode, expect))
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--base-url", required=True)
    parser.add_argument("--launcher")
    parser.add_argument("--sign-key")
    parser.add_argument("--runner")
    parser.add_argument("--unicode-names", action="store_true")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    tool = ([args.runner] if args.runner else []) + [args.tool]
    out = os.path.abspath(args.out)
    patch = os.path.join(out, "patch")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    manifest = {"base_url": args.base_url, "versions": {},
                "script_v3": {"deleted": ["\\VelmGame\\old.dll"],
                              "shortcut": "{DESKTOP}\\Velm Online.lnk"}}
    signing = []
    if args.sign_key:
        key = os.path.abspath(args.sign_key)
        if not os.path.exists(key):
            run(tool + ["keygen", "--out", key])
        manifest["public_key"] = run(tool + ["public-key", "--key", key]).stdout.strip()
        signing = ["--sign-key", key]
    for version in (1, 2, 3):
        files = client(version, args.unicode_names)
        folder = os.path.join(out, "client-v%d" % version)
        write_client(folder, files)
        launcher = args.launcher
        if not launcher:
            launcher = os.path.join(out, "launcher-v%d.exe" % version)
            with open(launcher, "wb") as f:
                f.write(b"MZ placeholder launcher %d" % (1 if version < 3 else 3))
        cmd = tool + ["release", "--root", patch, "--base-url", args.base_url,
                      "--client", folder, "--launcher", launcher, "--quiet"] + signing
        if version == 3:
            script = os.path.join(out, "script-v3.txt")
            with open(script, "w", encoding="utf-8") as f:
                f.write(SCRIPT_V3)
            cmd += ["--script", script]
        run(cmd)
        manifest["versions"][str(version)] = {
            "\\" + name.replace("/", "\\"): hashlib.md5(data).hexdigest().upper()
            for name, data in files.items()}
    with open(os.path.join(out, "manifest.json"), "w", encoding="utf-8") as f:
        json.dump(manifest, f, ensure_ascii=False, indent=1)
    if args.check:
        key_args = ["--public-key", manifest["public_key"]] if signing else []
        verified = run(tool + ["verify", "--root", patch] + key_args)
        check_digests(patch, os.path.join(out, "client-v3"))
        sig = ["filelist.xml.sig"] if signing else []
        assert sorted(os.listdir(patch)) == (["filelist.xml", "filelist.xml.hash"] + sig +
                                             ["v1", "v2", "v3"]), os.listdir(patch)
        if signing:
            assert "release serial 3, expires never" in verified.stdout, verified.stdout
            assert "signature checked" in verified.stdout, verified.stdout
            refused = run(tool + ["release", "--root", patch, "--base-url", args.base_url,
                                  "--client", os.path.join(out, "client-v3")], expect=3)
            assert "--unsigned" in refused.stderr, refused.stderr
            assert "never replaces" in run(tool + ["keygen", "--out", signing[1]],
                                           expect=3).stderr
        assert run(tool + ["--help"]).stdout.startswith("velm-publish")
        run(tool + ["release", "--root", patch], expect=2)
        run(tool + ["frobnicate"], expect=2)
        run(tool + ["verify", "--root", patch, "--bogus", "x"], expect=2)
        missing = run(tool + ["release", "--root", patch, "--base-url", args.base_url,
                              "--client", os.path.join(out, "no-such-client")] + signing,
                      expect=3)
        assert "client folder not found" in missing.stderr, missing.stderr
        assert sorted(os.listdir(patch))[-1] == "v3", "a failed release left a version behind"
        with open(os.path.join(patch, "v3", "VelmGame", "Data", "world.pak.diff"), "r+b") as f:
            f.seek(100)
            f.write(b"\xff\xff\xff\xff")
        damaged = run(tool + ["verify", "--root", patch, "--quiet"], expect=1)
        assert "world.pak" in damaged.stderr, damaged.stderr
    print("releases v1..v3 in %s" % patch)


if __name__ == "__main__":
    main()
