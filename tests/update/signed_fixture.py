#!/usr/bin/env python3
"""Signed variants of the current release's file list, for the launcher's signature tests.

    signed_fixture.py --releases DIR --out DIR

DIR/patch/filelist.xml is the published list (a ".cmp" container). Each case becomes a
folder of --out holding filelist.xml, filelist.xml.hash and (unless the case lacks it)
filelist.xml.sig; keys.json gives the public key texts of the two keys used and the
SHA-256 of the genuine list. The signatures are made with the openssl command line,
independently of velm-publish, so the launcher is checked against a second signer of the
format:

  offset 0 "VELM-RELEASE-SIG", u32 version, 8-byte key id (SHA-256 of X||Y, first 8
  bytes), u64 serial, u64 expiry, SHA-256 of the decoded list; version 2 adds the
  SHA-256 of the channel name; then r||s (32 + 32 bytes, big-endian) of ECDSA P-256 over
  SHA-256 of every byte before them.

The case "md5_only" also gets a served copy of the patch root, "md5_only_root", where one
file's object is another file of the same size and the list names that file's MD5 but
keeps the genuine SHA-256: what an attacker with a prepared MD5 twin could serve.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "servers"))
from cmp_container import decode_cmp, encode_cmp, list_hash_companion  # noqa: E402

TAG = b"VELM-RELEASE-SIG"


def new_key(path):
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", path],
                   check=True)
    der = subprocess.run(["openssl", "ec", "-in", path, "-pubout", "-outform", "DER"],
                         check=True, capture_output=True).stdout
    return der[-64:]  # the uncompressed point's X || Y ends the SubjectPublicKeyInfo


def der_to_raw(der):
    # SEQUENCE { INTEGER r, INTEGER s }, each with an optional leading zero byte.
    assert der[0] == 0x30
    at = 2 if der[1] < 0x80 else 3
    parts = []
    for _ in range(2):
        assert der[at] == 0x02
        length = der[at + 1]
        value = der[at + 2:at + 2 + length].lstrip(b"\0")
        parts.append(value.rjust(32, b"\0"))
        at += 2 + length
    return parts[0] + parts[1]


def sign(key_path, message, work):
    path = os.path.join(work, "message")
    with open(path, "wb") as f:
        f.write(message)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key_path, path],
                         check=True, capture_output=True).stdout
    return der_to_raw(der)


def signature_file(key_path, key_id_point, xml, serial, expires, work, version=2, channel="live"):
    key_id = hashlib.sha256(key_id_point).digest()[:8]
    signed = TAG + struct.pack("<I", version) + key_id + struct.pack("<QQ", serial, expires) + \
        hashlib.sha256(xml).digest()
    if version >= 2:
        signed += hashlib.sha256(channel.encode()).digest()
    return signed + sign(key_path, signed, work)


def without_digests(xml):
    """The list as a publisher that knows no SHA-256 attributes writes it."""
    return re.sub(rb' (diff_)?(sha256|file_size)="[^"]*"', b"", xml)


TWIN = "\\VelmGame\\Scripts\\quest0.lua"


def md5_twin(releases, xml, out):
    """A served root where TWIN's full download is another file of its size, and a list
    that gives that file's MD5 (and the size of its container) beside TWIN's SHA-256."""
    root = os.path.join(out, "md5_only_root")
    shutil.copytree(os.path.join(releases, "patch"), root)
    text = xml.decode("utf-8")
    tag = re.search(r'<[^<>]* name="%s"[^<>]*>' % re.escape(TWIN), text).group(0)
    history = "" if tag.endswith("/>") else re.search(re.escape(tag) + r"(.*?)</File>", text, re.S).group(1)
    roots = re.findall(r'urlroot="([^"]*)"', text)
    diffs = [int(re.search(r'diff_size="(\d+)"', tag).group(1))]
    diffs += [int(d) for d in re.findall(r'<histroy [^>]*diff_size="(\d+)"', history)]
    index = next((i for i, d in enumerate(diffs) if d > 0), len(diffs) - 1)
    relative = roots[index].split("/releases/patch", 1)[1] + TWIN.replace("\\", "/")
    path = root + relative
    with open(path, "rb") as f:
        genuine = decode_cmp(f.read())
    twin = bytes([genuine[0] ^ 0x20]) + genuine[1:]
    served = encode_cmp(twin)
    with open(path, "wb") as f:
        f.write(served)
    changed = re.sub(r' hash="[0-9A-Fa-f]{32}"', ' hash="%s"' % hashlib.md5(twin).hexdigest().upper(), tag)
    changed = re.sub(r' size_compressed="\d+"', ' size_compressed="%d"' % len(served), changed)
    return text.replace(tag, changed).encode("utf-8")


def write_case(out, name, xml, sig):
    folder = os.path.join(out, name)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "filelist.xml"), "wb") as f:
        f.write(encode_cmp(xml))
    with open(os.path.join(folder, "filelist.xml.hash"), "wb") as f:
        f.write(list_hash_companion(xml))
    if sig is not None:
        with open(os.path.join(folder, "filelist.xml.sig"), "wb") as f:
            f.write(sig)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--releases", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    with open(os.path.join(args.releases, "patch", "filelist.xml"), "rb") as f:
        xml = decode_cmp(f.read())
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    work = tempfile.mkdtemp(prefix="velm-signed-")
    try:
        key_a, key_b = os.path.join(work, "a.pem"), os.path.join(work, "b.pem")
        point_a, point_b = new_key(key_a), new_key(key_b)
        good = signature_file(key_a, point_a, xml, 5, 0, work)
        middle = len(xml) // 2
        flipped = xml[:middle] + bytes([xml[middle] ^ 0x01]) + xml[middle + 1:]
        # The same release, signed again over other bytes under its serial.
        other_list = xml + b"<!-- signed again -->\n"
        bare = without_digests(xml)
        twin = md5_twin(args.releases, xml, args.out)
        soon = int(time.time()) + 86400
        cases = {
            "good": (xml, good),
            "good_v1": (xml, signature_file(key_a, point_a, xml, 5, 0, work, version=1)),
            "flipped_list": (flipped, good),
            "other_key": (xml, signature_file(key_b, point_b, xml, 5, 0, work)),
            "forged_key_id": (xml, signature_file(key_b, point_a, xml, 5, 0, work)),
            "missing": (xml, None),
            "empty": (xml, b""),
            "truncated": (xml, good[:70]),
            "expired": (xml, signature_file(key_a, point_a, xml, 5, 1000, work)),
            "expiring": (xml, signature_file(key_a, point_a, xml, 5, soon, work)),
            "older_serial": (xml, signature_file(key_a, point_a, xml, 4, 0, work)),
            "other_channel": (xml, signature_file(key_a, point_a, xml, 5, 0, work, channel="test")),
            "other_list": (other_list, signature_file(key_a, point_a, other_list, 5, 0, work)),
            "no_digests": (bare, signature_file(key_a, point_a, bare, 5, 0, work)),
            "md5_only": (twin, signature_file(key_a, point_a, twin, 5, 0, work)),
        }
        for name, (list_bytes, sig) in cases.items():
            write_case(args.out, name, list_bytes, sig)
        keys = {"a": "P256:" + point_a.hex(), "b": "P256:" + point_b.hex(),
                "list_sha256": hashlib.sha256(xml).hexdigest()}
        with open(os.path.join(args.out, "keys.json"), "w") as f:
            json.dump(keys, f)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
