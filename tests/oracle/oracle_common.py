"""Helpers shared by the oracle scripts: the content fingerprint as Python's hashlib computes
it, Windows paths of fixture files as the tests see them under Wine, quiet runs of the fixture
tools, and C++ literals of texts and bytes."""

import hashlib
import os
import subprocess

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


def run(command):
    """Runs a fixture tool, quietly; a failure ends the build step."""
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def c_text(text):
    """A C++ string literal of the UTF-8 bytes of `text`."""
    out = '"'
    for byte in text.encode("utf-8"):
        out += chr(byte) if 32 <= byte < 127 and chr(byte) not in '\\"?' else "\\x%02x\" \"" % byte
    return out + '"'


def c_bytes(data):
    """C++ string literals of `data`, 32 bytes to a line."""
    lines = []
    for i in range(0, len(data), 32):
        lines.append('      "' + "".join("\\x%02x" % b for b in data[i:i + 32]) + '"')
    return "\n".join(lines) if lines else '""'


def unescape_dump_line(line):
    """A key or value line of `db5.3_dump -p`: printable bytes as they are, others as \\hh."""
    out, i = bytearray(), 0
    while i < len(line):
        if line[i] == "\\":
            if line[i + 1] == "\\":
                out.append(0x5C)
                i += 2
            else:
                out.append(int(line[i + 1:i + 3], 16))
                i += 3
        else:
            out += line[i].encode("latin-1")
            i += 1
    return bytes(out)


def db_dump(path):
    """The key/value pairs of a Berkeley DB file as `db5.3_dump -p` prints them."""
    text = subprocess.run(["db5.3_dump", "-p", path], check=True, capture_output=True,
                          text=True, encoding="latin-1").stdout.splitlines()
    body = text[text.index("HEADER=END") + 1:text.index("DATA=END")]
    items = [unescape_dump_line(line[1:]) for line in body]
    return dict(zip(items[0::2], items[1::2]))
