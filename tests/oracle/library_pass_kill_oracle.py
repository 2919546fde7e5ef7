"""Kills synchronisation passes over a library file part-way and checks what the next open finds.

The drive holds MP3 files made by sox and lame and tagged by mutagen. A first pass records them
in a library file. Then the drive changes (tags rewritten, files deleted, files added) and a
second pass over a copy of that library is killed at chosen writes: the tool ends its own
process, at once, instead of making its Nth put, delete or sync of the B-tree. Each killed
library is then opened again and must hold exactly the records and fids of the first pass,
pass db5.3_verify, and have every record in the entries of the fid and path indexes, as
db5.3_dump shows them; a full pass after that must find every file of the drive with the fids
that the first pass gave the files that stayed.

usage: library_pass_kill_oracle.py <wine> <library_pass_tool.exe> <work folder>
"""
import os
import shutil
import struct
import subprocess
import sys

import mutagen.easyid3
from oracle_common import db_dump, run, windows_path

WINE, TOOL, WORK = sys.argv[1:4]
KILLED = 77  # the tool's exit code when it ends itself at the chosen write
FIRST_TRACKS, ADDED_TRACKS = 1200, 300
WORDS = ["Harbour", "Night", "Ferry", "Low", "Tide", "Early", "Light", "Quiet", "Hours",
         "\u00c9t\u00e9", "Stra\u00dfe", "River"]
SCHEMA_KEY, COUNTER_KEY, INDEX_MAGIC = 0xABCDEFAB, 0x12345678, 0x87654321
NUMBER, TEXT, LIST = 0, 1, 2
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def track_path(drive, n):
    return os.path.join(drive, "Artist %d" % (n % 7), "Album %d" % (n // 12),
                        "%02d Track %d.mp3" % (n % 12 + 1, n))


def write_track(drive, tone, n, title_round=0):
    path = track_path(drive, n)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    shutil.copyfile(tone, path)
    tags = mutagen.easyid3.EasyID3()
    tags["title"] = "%s %s %d.%d" % (WORDS[n % 12], WORDS[(n // 12) % 12], n, title_round)
    tags["artist"] = "The %s Band" % WORDS[n % 7]
    tags["album"] = "Album %d" % (n // 12)
    tags["tracknumber"] = str(n % 12 + 1)
    tags["genre"] = ["Rock", "Folk", "Jazz"][n % 3]
    tags["date"] = str(1990 + n % 20)
    tags.save(path)


def run_tool(*args, expect=0):
    results = os.path.join(WORK, "results.txt")
    if os.path.exists(results):
        os.remove(results)
    converted = [windows_path(a) if os.path.isabs(a) else a for a in args]
    converted.insert(3, windows_path(results))
    done = subprocess.run([WINE, TOOL] + converted, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
    if done.returncode != expect:
        raise SystemExit("%s %s: exit code %d, not %d" % (TOOL, args[0], done.returncode, expect))
    if expect != 0:
        return []
    with open(results, encoding="utf-8") as f:
        return [line.split("\t") for line in f.read().splitlines()]


def pass_over(drive, library, fatal_write=None):
    args = ["pass", drive, library] + ([str(fatal_write)] if fatal_write else [])
    lines = run_tool(*args, expect=KILLED if fatal_write else 0)
    return {line[0]: line[1] for line in lines}


def open_and_list(drive, library, what):
    """{path: fid} of the records; every lookup that misses a track is a failure."""
    lines = run_tool("check", drive, library)
    check(lines and lines[0] == ["open", "00000000"], "%s: the library does not open" % what)
    for line in lines:
        if line[0] == "lost":
            check(False, "%s: a lookup by %s misses fid %s, %s" % (what, line[1], line[2],
                                                                  line[3]))
    return {line[3]: int(line[1]) for line in lines if line[0] == "record"}


def le(*words):
    return b"".join(struct.pack("<I", w) for w in words)


def decode_record(columns, value):
    """The values of one record, walked as the layout stores them."""
    values, pos = {}, 0
    for name, kind in columns:
        if kind == TEXT:
            end = value.index(b"\0", pos)
            values[name] = value[pos:end]
            pos = end + 1
        else:
            pos = (pos + 3) & ~3
            word = struct.unpack_from("<I", value, pos)[0]
            pos += 4
            if kind == LIST:
                pos += word
            values[name] = word
    return values


def verify_and_check_indexes(library, what):
    """db5.3_verify, then each record in its fid and path entries as db5.3_dump reads them."""
    verified = subprocess.run(["db5.3_verify", "-q", library], stdin=subprocess.DEVNULL,
                              capture_output=True)
    check(verified.returncode == 0, "%s: db5.3_verify fails: %s" % (what, verified.stderr))
    if verified.returncode != 0:
        return
    entries = db_dump(library)
    schema = entries[le(SCHEMA_KEY)]
    count = struct.unpack_from("<I", schema)[0]
    kinds = struct.unpack_from("<%dI" % count, schema, 4)
    names = schema[4 + 4 * count:].split(b"\0")[:count]
    columns = [(n.decode(), k) for n, k in zip(names, kinds)]
    column = {name: i for i, (name, _) in enumerate(columns)}

    def entry(key):
        value = entries.get(key + b"\0" * (-len(key) % 4), b"")
        return set(struct.unpack("<%dI" % (len(value) // 4), value))

    for key, value in entries.items():
        if len(key) != 8 or key[:4] != le(COUNTER_KEY):
            continue
        number = struct.unpack_from("<I", key, 4)[0]
        record = decode_record(columns, value)
        fid_key = le(INDEX_MAGIC, 1, column["fid"]) + struct.pack(">I", record["fid"])
        check(number in entry(fid_key), "%s: fid %d is in no fid entry" % (what, record["fid"]))
        path = record["path"].lower().replace(b"\\", b"/")
        path_key = le(INDEX_MAGIC, 1, column["path"]) + path + b"\0"
        check(number in entry(path_key), "%s: %r is in no path entry" % (what, record["path"]))


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    drive = os.path.join(WORK, "drive")
    os.makedirs(drive)
    wav, tone = os.path.join(WORK, "tone.wav"), os.path.join(WORK, "tone.mp3")
    run(["sox", "-n", "-r", "22050", "-c", "1", "-b", "16", wav, "synth", "0.2", "sine", "440"])
    run(["lame", "--quiet", wav, tone])
    for n in range(FIRST_TRACKS):
        write_track(drive, tone, n)

    first = os.path.join(WORK, "first.db")
    check(pass_over(drive, first).get("result") == "00000000", "the first pass fails")
    before = open_and_list(drive, first, "after the first pass")
    verify_and_check_indexes(first, "after the first pass")
    check(len(before) == FIRST_TRACKS + 1,  # and the root record
          "the first pass records %d records" % len(before))

    # The drive changes: a quarter retagged, one in eight deleted, new files added.
    for n in range(0, FIRST_TRACKS, 4):
        write_track(drive, tone, n, title_round=1)
    for n in range(1, FIRST_TRACKS, 8):
        os.remove(track_path(drive, n))
    for n in range(FIRST_TRACKS, FIRST_TRACKS + ADDED_TRACKS):
        write_track(drive, tone, n)
    on_drive = {windows_path(os.path.join(folder, name))
                for folder, _, files in os.walk(drive) for name in files}

    reference = os.path.join(WORK, "reference.db")
    shutil.copyfile(first, reference)
    second = pass_over(drive, reference)
    writes = int(second["writes"])
    check(second["result"] == "00000000" and writes > 1000,
          "the second pass: %s, %d writes" % (second["result"], writes))
    check(not os.path.exists(reference + ".bak"), "a whole pass leaves its copy behind")

    for fatal in sorted({1, 2, writes // 10, writes // 4, writes // 2, 3 * writes // 4,
                         9 * writes // 10, writes - 1, writes}):
        what = "killed at write %d of %d" % (fatal, writes)
        killed = os.path.join(WORK, "killed.db")
        for leftover in (killed, killed + ".bak"):
            if os.path.exists(leftover):
                os.remove(leftover)
        shutil.copyfile(first, killed)
        pass_over(drive, killed, fatal)
        reopened = open_and_list(drive, killed, what)
        check(reopened == before, "%s: the reopened library is not the one before the pass "
              "(%d records, %d before)" % (what, len(reopened), len(before)))
        verify_and_check_indexes(killed, what)
        check(pass_over(drive, killed).get("result") == "00000000", "%s: the next pass" % what)
        after = open_and_list(drive, killed, what + ", then a whole pass")
        verify_and_check_indexes(killed, what + ", then a whole pass")
        check(on_drive <= set(after), "%s, then a whole pass: %d files of the drive have no "
              "record" % (what, len(on_drive - set(after))))
        changed = [p for p in on_drive if p in before and after.get(p) != before[p]]
        check(not changed, "%s, then a whole pass: %d fids changed, %s" % (
            what, len(changed), sorted(changed)[:3]))

    for failure in failures:
        print("FAIL:", failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


sys.exit(main())
