#!/usr/bin/env python3
"""Makes the update package of the package-mode download tests: the three releases of
tests/tools/make_releases.py, then `velm-publish pack --root` of the patch root into a
copy of a small Windows program that carries the "UPDATE" 211 resource.

    pack_fixture.py --tool PATH [--runner CMD] --launcher EXE --out DIR

Writes DIR/patch, DIR/client-v1..v3 (from make_releases.py) and DIR/package.exe. The
file list's URLs name http://127.0.0.1:1/patch: tests serve DIR/patch themselves.
"""
import argparse
import os
import subprocess
import sys

BASE_URL = "http://127.0.0.1:1/patch"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner")
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    releases = [sys.executable, os.path.join(here, "..", "tools", "make_releases.py"),
                "--tool", args.tool, "--out", args.out, "--base-url", BASE_URL]
    if args.runner:
        releases += ["--runner", args.runner]
    subprocess.run(releases, check=True, stdout=subprocess.DEVNULL)
    tool = ([args.runner] if args.runner else []) + [args.tool]
    subprocess.run(tool + ["pack", "--root", os.path.join(args.out, "patch"),
                           "--launcher", args.launcher,
                           "--out", os.path.join(args.out, "package.exe"), "--quiet"],
                   check=True)


if __name__ == "__main__":
    main()
