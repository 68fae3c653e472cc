#!/usr/bin/env python3
"""A download that runs out of disk: download_once (the real job, manager and threads
under Wine) runs with a file size limit, which makes the write of one block come up
short as a full disk does. Every case must end the job (no hang), fail it with the
disk's own error text (not "operation completed"), leave the installed file as it was
and no staged file behind.

Run by CTest through tests/servers/serve.py --fault WWW (VELM_FAULT_URL)."""
import argparse
import lzma
import os
import resource
import signal
import struct
import subprocess
import sys
import urllib.parse

BLOCK = 113553
# ERROR_DISK_FULL (112) in the error text: its code, or its system text in English or in
# Chinese (Windows' own wording and Wine's).
DISK_FULL = ("(112)", "not enough space on the disk", "磁盘空间不足", "磁盘满")
OLD_VERSION = b"the installed version\r\n" * 300


def container(data):
    """A ".cmp" container as velm-publish writes it, with an end-marker LZMA stream."""
    prefix = b"VELMCMP1" + struct.pack("<Q", len(data)) + bytes(8) + struct.pack("<I", 0)
    return prefix + lzma.compress(data, format=lzma.FORMAT_ALONE)


def sample(size):
    out = bytearray()
    i = 0
    while len(out) < size:
        out += b"velm block %010d of a sample that compresses well\n" % i
        i += 1
    return bytes(out[:size])


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def limited(limit):
    def apply():
        # Ignored, a write past the limit fails with EFBIG instead of killing the process.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--once", required=True)
    parser.add_argument("--www", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    fault_url = os.environ["VELM_FAULT_URL"]
    os.makedirs(os.path.join(args.www, "disk_full"), exist_ok=True)
    os.makedirs(args.out, exist_ok=True)
    # name, served bytes, compressed, file size limit, error text the job must start with
    # (None: any text), whether the text must be the disk's.
    whole = sample(3 * BLOCK)
    tail = sample(3 * BLOCK + 20000)
    decoded = sample(4 * 1024 * 1024)
    cases = [
        # The last chunk fills the third block, and that block's write comes up short.
        ("last_block_of_the_transfer", whole, False, 2 * BLOCK + 50000, "Write file failed, Error:", True),
        # The short block is the partial one written after the end of the data.
        ("tail_after_the_end", tail, False, 3 * BLOCK + 5000, "Write file failed, Error:", True),
        # The container fits; the file it decodes to does not.
        ("decoded_file", container(decoded), True, 1024 * 1024, "Decompress failed, Error:", False),
    ]
    failures = 0
    for name, served, compressed, limit, error_start, disk_text in cases:
        suffix = ".bin.cmp" if compressed else ".bin"
        with open(os.path.join(args.www, "disk_full", name + suffix), "wb") as f:
            f.write(served)
        local = os.path.join(args.out, name + ".bin")
        for leftover in (local + ".part", local + ".part.ha", local + ".cmp", local + ".cmp.ha",
                         local + ".unpack"):
            if os.path.exists(leftover):
                os.remove(leftover)
        with open(local, "wb") as f:
            f.write(OLD_VERSION)
        url = f"{fault_url}/disk_full/{urllib.parse.quote(name + suffix)}"
        command = [args.runner, args.once] + (["-cmp"] if compressed else []) + [url, windows_path(local)]
        # The Wine server starts without the limit: only the download process has it.
        subprocess.run([args.runner, "cmd", "/c", "exit"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        problems = []
        try:
            run = subprocess.run(command, capture_output=True, timeout=90, preexec_fn=limited(limit))
            output = run.stdout.decode("utf-8", "replace")
            errors = [line[len("error: "):] for line in output.splitlines() if line.startswith("error: ")]
            if run.returncode != 1:
                problems.append(f"exit code {run.returncode}, expected 1 (failed)")
            if len(errors) != 1 or not errors[0].startswith(error_start):
                problems.append(f"error text {errors!r}, expected one starting {error_start!r}")
            elif disk_text and not any(t in errors[0] for t in DISK_FULL):
                problems.append(f"error text {errors[0]!r} does not say the disk is full")
        except subprocess.TimeoutExpired:
            problems.append("hang: the job never ended")
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.environ.get(
                "VELM_WINEPREFIX", os.path.join(os.path.dirname(args.once), "..", "wineprefix"))))
        with open(local, "rb") as f:
            if f.read() != OLD_VERSION:
                problems.append("the installed file changed")
        for leftover in (local + ".part", local + ".part.ha", local + ".unpack"):
            if os.path.exists(leftover):
                problems.append(f"left behind: {os.path.basename(leftover)}")
        print(f"{name}: {'ok' if not problems else '; '.join(problems)}", flush=True)
        failures += bool(problems)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
