#!/usr/bin/env python3
"""Signed variants of the current release's file list, for the launcher's signature tests.

    signed_fixture.py --releases DIR --out DIR

DIR/patch/filelist.xml is the published list (a ".cmp" container). Each case becomes a
folder of --out holding filelist.xml, filelist.xml.hash and (unless the case lacks it)
filelist.xml.sig; keys.json gives the public key texts of the two keys used. The
signatures are made with the openssl command line, independently of velm-publish, so the
launcher is checked against a second signer of the format:

  offset 0 "VELM-RELEASE-SIG", u32 version 1, 8-byte key id (SHA-256 of X||Y, first 8
  bytes), u64 serial, u64 expiry, SHA-256 of the decoded list; then r||s (32 + 32 bytes,
  big-endian) of ECDSA P-256 over SHA-256 of those first 76 bytes.
"""
import argparse
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

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


def signature_file(key_path, key_id_point, xml, serial, expires, work):
    key_id = hashlib.sha256(key_id_point).digest()[:8]
    signed = TAG + struct.pack("<I", 1) + key_id + struct.pack("<QQ", serial, expires) + \
        hashlib.sha256(xml).digest()
    return signed + sign(key_path, signed, work)


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
        cases = {
            "good": (xml, good),
            "flipped_list": (flipped, good),
            "other_key": (xml, signature_file(key_b, point_b, xml, 5, 0, work)),
            "forged_key_id": (xml, signature_file(key_b, point_a, xml, 5, 0, work)),
            "missing": (xml, None),
            "empty": (xml, b""),
            "truncated": (xml, good[:70]),
            "expired": (xml, signature_file(key_a, point_a, xml, 5, 1000, work)),
            "older_serial": (xml, signature_file(key_a, point_a, xml, 4, 0, work)),
        }
        for name, (list_bytes, sig) in cases.items():
            write_case(args.out, name, list_bytes, sig)
        keys = {"a": "P256:" + point_a.hex(), "b": "P256:" + point_b.hex()}
        with open(os.path.join(args.out, "keys.json"), "w") as f:
            json.dump(keys, f)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
