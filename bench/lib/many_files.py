"""bench/many-files.sh: see there."""
import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_bench import (MAIN_CLOSE, PUBLISH, ROOT, WINE_RUN, Bench, build_launcher,  # noqa: E402
                            compile_win, log_lines, now, publish, say, windows_path)

NAME = "many-files"
FILES = int(os.environ.get("BENCH_FILES", "1000"))
SIZE = 16 * 1024
# The run's first status line (string 254) and its totals line.
RUN_START = "连接更新服务器"
RUN_END = "Total "


def make_client(client):
    if os.path.isdir(client) and len(os.listdir(client)) > 0:
        return
    rng = random.Random(16)
    for i in range(FILES):
        folder = os.path.join(client, "Data", f"d{i // 100:02d}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"f{i:04d}.bin"), "wb") as f:
            f.write(rng.randbytes(SIZE))


def served_objects(www):
    objects = []
    for folder, _, names in os.walk(os.path.join(www, "patch", "v1")):
        for name in sorted(names):
            objects.append(os.path.relpath(os.path.join(folder, name), www))
    return sorted(objects)


def main():
    build_launcher()
    work = os.path.join(ROOT, "build", f"bench-{NAME}")
    inputs = os.path.join(work, f"inputs-{FILES}")
    client = os.path.join(inputs, "client")
    www = os.path.join(inputs, "www")
    make_client(client)
    publish(client, os.path.join(www, "patch"))
    objects = served_objects(www)
    if len(objects) != FILES:
        raise SystemExit(f"{NAME}: {len(objects)} objects published for {FILES} files")
    peer_exe = os.path.join(work, "wininet_files_bench.exe")
    compile_win(os.path.join(ROOT, "bench", "wininet_files_bench_win32.cpp"), peer_exe, ["-municode", "-lwininet"])

    bench = Bench(os.path.join(work, "run"), www)
    try:
        # Ours: the whole run of a fresh install, from the launcher's own log.
        folder = bench.fresh_install("install")
        bench.run(folder, f"{bench.nginx.url}/patch",
                  [f"log:{RUN_END}:1", f"click:{MAIN_CLOSE}:close", "gone:60000", "exit:60000"])
        lines = log_lines(folder)
        start = next(t for t, text in lines if RUN_START in text)
        end, totals = next((t, text) for t, text in lines if text.startswith(RUN_END))
        if f"{FILES + 1} completed, 0 failed" not in totals:
            raise SystemExit(f"{NAME}: the run did not install every file: {totals.strip()}")
        rng = random.Random(16)
        for i in range(FILES):
            with open(os.path.join(folder, "Data", f"d{i // 100:02d}", f"f{i:04d}.bin"), "rb") as f:
                if f.read() != rng.randbytes(SIZE):
                    raise SystemExit(f"{NAME}: file {i} differs from the published one")
        ours_ms = (end - start) * 1000 / FILES

        # Peers: the same objects, two at a time.
        out = os.path.join(bench.work, "peer")
        def peer(durable):
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            listing = os.path.join(bench.work, "objects.txt")
            with open(listing, "w", encoding="utf-8") as f:
                for i, obj in enumerate(objects):
                    f.write(f"{bench.nginx.url}/{obj}\t{windows_path(os.path.join(out, f'o{i:04d}'))}\n")
            done = subprocess.run([WINE_RUN, peer_exe, "2", windows_path(listing)] + (["durable"] if durable else []),
                                  env=bench.env, stdout=subprocess.PIPE, text=True, check=True)
            return float(done.stdout.strip().splitlines()[-1]) / FILES
        peer_ms = min(peer(False), peer(False))
        durable_ms = min(peer(True), peer(True))

        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        config = os.path.join(bench.work, "curl.txt")
        with open(config, "w") as f:
            for i, obj in enumerate(objects):
                f.write(f'url = "{bench.nginx.url}/{obj}"\noutput = "{out}/c{i:04d}"\n')
        t0 = now()
        subprocess.run(["curl", "-s", "--no-progress-meter", "--fail", "--parallel", "--parallel-max", "2", "-K", config], check=True)
        curl_ms = (now() - t0) * 1000 / FILES
    finally:
        bench.stop()

    flush_ms = max(durable_ms - peer_ms, 0.0)
    print(f"many-files ({FILES} files of {SIZE // 1024} KiB): ours {ours_ms:.2f} ms a file; bare WinINet loop "
          f"(2 threads) {peer_ms:.2f} ms a file; curl (2 parallel transfers) {curl_ms:.2f} ms a file")
    print(f"making each file durable before it is moved into place (flush, then move) costs the bare loop "
          f"{flush_ms:.2f} ms a file ({durable_ms:.2f} against {peer_ms:.2f}): {100 * flush_ms / ours_ms:.0f}% of ours")
    print(f"many-files: ours/peer = {ours_ms / peer_ms:.2f} (ours {ours_ms:.2f} ms a file, peer {peer_ms:.2f} ms a "
          f"file, fresh install of {FILES} files of 16 KiB from nginx on loopback under Wine, against a bare loop "
          f"of two synchronous WinINet sessions with 64 KiB reads)")


main()
