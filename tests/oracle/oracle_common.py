"""Helpers shared by the oracle scripts: the content fingerprint as Python's hashlib computes
it, and Windows paths of fixture files as the tests see them under Wine."""

import hashlib
import os

REGION = 0x10000


def fingerprint(data, start, end):
    """One MD5 up to 64 KiB of audio, else the exclusive or of the first, last and middle."""
    if end - start <= REGION:
        return hashlib.md5(data[start:end]).hexdigest()
    digest = bytes(16)
    for position in (start, end - REGION, (start + end - REGION) // 2):
        part = hashlib.md5(data[position:position + REGION]).digest()
        digest = bytes(a ^ b for a, b in zip(digest, part))
    return digest.hex()


def windows_path(path):
    """The path of a file of this machine as a Wine process sees it (drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")
