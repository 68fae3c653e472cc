"""The ".cmp" container of the patch server, for test tools that make or change served
objects: a 24-byte prefix ("VELMCMP1", the decoded size, 8 zero bytes), a 4-byte length of
an extra block (none written here), then a stand-alone LZMA stream."""
import hashlib
import lzma
import struct


def decode_cmp(data):
    extra = struct.unpack_from("<I", data, 24)[0]
    return lzma.decompress(data[28 + extra:], format=lzma.FORMAT_ALONE)


def encode_cmp(payload):
    prefix = b"VELMCMP1" + struct.pack("<Q", len(payload)) + bytes(8) + struct.pack("<I", 0)
    return prefix + lzma.compress(payload, format=lzma.FORMAT_ALONE)


def list_hash_companion(xml):
    """The file list's ".hash": its MD5 in upper-case hexadecimal, UTF-16LE."""
    return hashlib.md5(xml).hexdigest().upper().encode("utf-16-le")
