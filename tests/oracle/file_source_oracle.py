"""Checks the player library's database and its write-back with tools nobody here wrote.

Audio files are made by sox, lame, flac and oggenc and given replay-gain values by mutagen;
tests/devices/msc/file_source_oracle drives the file source over a folder that stands for the
player's drive: it opens the database, records the files and changes their tags and playlists
as the channel does. mutagen then reads the tags back, this script parses the playlist files,
and db5.3_dump reads the database, whose entries are computed here from the layout: version
37, 40 columns, 33 indexes, path keys in lower case with forward slashes, artist keys without
their article.

usage: file_source_oracle.py <wine> <file_source_oracle_tool.exe> <work folder>
"""
import os
import shutil
import struct
import subprocess
import sys

import mutagen
from oracle_common import db_dump, run, windows_path

WINE, TOOL, WORK = sys.argv[1:4]
failures = []

SCHEMA_KEY, INDEX_LIST_KEY, VERSION_KEY, INDEX_MAGIC = (
    0xABCDEFAB, 0xB0FB0FB0, 0xFEF1F0FA, 0x87654321)
NUMBER, TEXT, LIST = 0, 1, 2
COLUMNS = [
    ("fid", NUMBER), ("tracknr", NUMBER), ("length", NUMBER), ("offset", NUMBER),
    ("duration", NUMBER), ("mtime", NUMBER), ("ctime", NUMBER), ("samplerate", NUMBER),
    ("trailer", NUMBER), ("file_id", NUMBER), ("options", NUMBER), ("bpm", NUMBER),
    ("replay_gain_peak", NUMBER), ("replay_gain_radio", NUMBER),
    ("replay_gain_audiophile", NUMBER), ("playlist", LIST), ("cd_toc", LIST), ("type", TEXT),
    ("path", TEXT), ("title", TEXT), ("artist", TEXT), ("year", TEXT), ("genre", TEXT),
    ("comment", TEXT), ("source", TEXT), ("bitrate", TEXT), ("codec", TEXT), ("rid", TEXT),
    ("state", TEXT), ("drm", TEXT), ("provider", TEXT), ("mood", TEXT), ("composer", TEXT),
    ("lyricist", TEXT), ("conductor", TEXT), ("ensemble", TEXT), ("remixed", TEXT),
    ("originalartist", TEXT), ("fid_generation", NUMBER), ("image_path", TEXT)]
INDEXES = """fid; artist; artist title; artist source; artist source tracknr; artist tracknr;
source; source tracknr; source artist tracknr; type artist; type artist title;
type artist source; type artist source tracknr; type artist tracknr; type source;
type source artist; type source artist tracknr; type source tracknr; type source title;
type genre artist title; type genre artist; type genre title; type genre; type title;
type year; genre; genre title; year; year title; path; title; rid; type"""
REPLAY_GAIN = {"REPLAYGAIN_TRACK_GAIN": "-6.50 dB", "REPLAYGAIN_TRACK_PEAK": "0.912345",
               "REPLAYGAIN_ALBUM_GAIN": "-7.25 dB"}
TAGS = {"title": "Premi\u00e8re", "artist": "The Band", "source": "Best Of", "tracknr": "3",
        "year": "2001", "genre": "Rock"}


def check(condition, message):
    if not condition:
        failures.append(message)


def le(*words):
    return b"".join(struct.pack("<I", w & 0xFFFFFFFF) for w in words)


def pad(data, byte):
    return data + byte * (-len(data) % 4)


def schema_value():
    value = le(len(COLUMNS)) + le(*[t for _, t in COLUMNS])
    value += b"".join(name.encode() + b"\0" for name, _ in COLUMNS)
    return pad(value, b"\xef")


def index_columns():
    names = [name for name, _ in COLUMNS]
    return [[names.index(c) for c in index.split()] for index in INDEXES.split(";")]


def text_key(column, text):
    return pad(le(INDEX_MAGIC, 1, column) + text + b"\0", b"\0")


def run_tool(name, commands):
    folder = os.path.join(WORK, name)
    os.makedirs(folder, exist_ok=True)
    command_file = os.path.join(folder, "commands.txt")
    result_file = os.path.join(folder, "results.txt")
    with open(command_file, "wb") as f:
        f.write(b"".join("\t".join(map(str, c)).encode("utf-8") + b"\n" for c in commands))
    subprocess.run([WINE, TOOL, windows_path(command_file), windows_path(result_file)],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    with open(result_file, encoding="latin-1") as f:
        return [line.split("\t") for line in f.read().splitlines()]


def make_drive():
    drive = os.path.join(WORK, "drive")
    shutil.rmtree(WORK, ignore_errors=True)
    album = os.path.join(drive, "Music", "Album")
    os.makedirs(album)
    wav = os.path.join(WORK, "tone.wav")
    run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"])
    files = {"mp3": os.path.join(album, "a.mp3"), "flac": os.path.join(album, "b.flac"),
             "ogg": os.path.join(album, "c.ogg")}
    run(["lame", "--quiet", wav, files["mp3"]])
    run(["flac", "-s", "-o", files["flac"], wav])
    run(["oggenc", "-Q", "-o", files["ogg"], wav])
    for kind in ("flac", "ogg"):
        audio = mutagen.File(files[kind])
        for key, value in REPLAY_GAIN.items():
            audio[key] = value
        audio.save()
    pc = os.path.join(WORK, "pc")
    os.makedirs(pc)
    outside = os.path.join(pc, "outside.mp3")
    shutil.copy(files["mp3"], outside)
    return drive, files, outside


def write_back_reaches_the_files():
    drive, files, outside = make_drive()
    root = windows_path(drive) + "\\"
    settings = ["%s=%s" % (k, v) for k, v in TAGS.items()] + ["replay_gain_radio=-6",
                                                                "replay_gain_peak=0"]
    commands = [("open", root)]
    for fid, kind in ((0x120, "mp3"), (0x130, "flac"), (0x140, "ogg")):
        commands.append(("tune", fid, windows_path(files[kind])))
        commands.append(("set", fid) + tuple(settings))
    commands += [("playlist", 0x150, "Road Trip"), ("members", 0x150, "0x140,0x120,0x170"),
                 ("playlist", 0x160, "Old"), ("members", 0x160, "0x130"), ("delete", 0x160),
                 ("tune", 0x180, windows_path(outside)), ("set", 0x180, "title=Stolen"),
                 ("close",)]
    before_outside = open(outside, "rb").read()
    results = run_tool("write_back", [tuple(str(f) if not isinstance(f, str) else f
                                            for f in c) for c in commands])
    ok = "00000000"
    expected = [["open", ok, "1"]] + [[c[0], ok] for c in commands[1:-2]] + [
        ["set", "80070005"], ["close", ok]]
    check(results == expected, "write-back results: %r" % results)

    for kind, path in files.items():
        audio = mutagen.File(path, easy=True)
        for key, want in (("title", TAGS["title"]), ("artist", TAGS["artist"]),
                          ("album", TAGS["source"]), ("genre", TAGS["genre"])):
            check(audio.get(key) == [want], "%s: %s is %r" % (kind, key, audio.get(key)))
        check((audio.get("tracknumber") or [""])[0].split("/")[0].lstrip("0") == "3",
              "%s: tracknumber is %r" % (kind, audio.get("tracknumber")))
        check((audio.get("date") or [""])[0].startswith("2001"),
              "%s: date is %r" % (kind, audio.get("date")))
        if kind != "mp3":
            raw = mutagen.File(path)
            # Number columns the file never had (0 in the database) are no tags of it.
            for key in ("BPM", "DURATION", "LENGTH", "OFFSET"):
                check(key not in raw, "%s: %s=%r written" % (kind, key, raw.get(key)))
            for key, want in REPLAY_GAIN.items():
                check(raw.get(key) == [want], "%s: %s is %r after the write-back" % (
                    kind, key, raw.get(key)))
    check(open(outside, "rb").read() == before_outside, "a file outside the drive was changed")

    playlist = os.path.join(drive, "Road Trip.m3u")
    check(os.path.exists(playlist), "no playlist file Road Trip.m3u")
    if os.path.exists(playlist):
        lines = open(playlist, "rb").read().decode("latin-1").splitlines()
        entries = [os.path.normpath(os.path.join(drive, line.replace("\\", "/")))
                   for line in lines if line and not line.startswith("#")]
        check(entries == [files["ogg"], files["mp3"]], "playlist entries %r" % entries)
        info = [line for line in lines if line.startswith("#EXTINF:")]
        check(len(info) == 2 and info[0].endswith("," + TAGS["title"].encode().decode("latin-1")
                                                    + " - The Band"),
              "playlist information lines %r" % info)
    check(not os.path.exists(os.path.join(drive, "Old.m3u")), "a deleted playlist kept its file")

    found = db_dump(os.path.join(drive, ".source.db"))
    check(found.get(le(VERSION_KEY), b"")[:4] == le(37), "version entry %r" %
          found.get(le(VERSION_KEY)))
    check(found.get(le(SCHEMA_KEY)) == schema_value(), "schema entry differs")
    check(found.get(le(INDEX_LIST_KEY)) ==
          b"".join(le(*index) + le(0xFFFFFFFF) for index in index_columns()),
          "index list entry differs")
    path_key = text_key(18, (root + "Music\\Album\\a.mp3").lower().replace("\\", "/").encode())
    check(path_key in found, "no path key %r" % path_key)
    artist_key = text_key(20, b"band")
    check(len(found.get(artist_key, b"")) == 12, "artist key 'band' holds %r" %
          found.get(artist_key))
    check(any(b"All Music\0" in value and b"playlist\0" in value for value in found.values()),
          "no root record")
    return drive


def reopening_keeps_or_rebuilds(drive):
    root = windows_path(drive) + "\\"
    results = run_tool("reopen", [("open", root), ("close",)])
    check(results[0] == ["open", "00000000", "0"], "reopen: %r" % results)
    from bsddb3 import db as bdb
    handle = bdb.DB()
    handle.open(os.path.join(drive, ".source.db"), dbtype=bdb.DB_BTREE)
    value = handle.get(le(VERSION_KEY))
    handle.put(le(VERSION_KEY), le(36) + value[4:])
    handle.close()
    results = run_tool("outdated", [("open", root), ("close",)])
    check(results[0] == ["open", "00000000", "1"], "outdated: %r" % results)
    found = db_dump(os.path.join(drive, ".source.db"))
    check(found.get(le(VERSION_KEY), b"")[:4] == le(37), "rebuilt version entry")
    check(text_key(20, b"band") not in found, "a rebuilt database kept old records")


def decoded_md5(path):
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"],
                         capture_output=True, check=True).stdout
    return out.strip()


def upload_onto_a_nearly_full_drive():
    """A drive with room for the upload once but not twice: a 2 MiB tmpfs holding a 1.3 MB
    MP3 without a tag. Mounting it needs root; without that the case is skipped."""
    drive = os.path.join(WORK, "small_drive")
    os.makedirs(drive, exist_ok=True)
    mount = ["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", drive]
    if os.geteuid() != 0 or subprocess.run(mount, capture_output=True).returncode != 0:
        print("skipped: no small volume can be mounted here")
        return
    try:
        wav = os.path.join(WORK, "long_tone.wav")
        run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "80", "sine",
             "440"])
        song = os.path.join(drive, "song.mp3")
        run(["lame", "--quiet", "-b", "128", wav, song])
        before = decoded_md5(song)
        title = "Uploaded " * 200
        results = run_tool("nearly_full", [
            ("open", windows_path(drive) + "\\", windows_path(os.path.join(WORK, "small.db"))),
            ("upload", windows_path(song), "type=tune", "title=" + title), ("close",)])
        check([r[:2] for r in results] == [["open", "00000000"], ["upload", "00000000"],
                                           ["close", "00000000"]],
              "nearly full drive: %r" % results)
        audio = mutagen.File(song, easy=True) if os.path.exists(song) else None
        check(audio is not None and audio.get("title") == [title],
              "nearly full drive: title %r" % (audio and audio.get("title")))
        check(os.path.exists(song) and decoded_md5(song) == before,
              "nearly full drive: the audio changed")
        check(os.listdir(drive) == ["song.mp3"], "nearly full drive holds %r" % os.listdir(drive))
    finally:
        subprocess.run(["umount", drive])


drive = write_back_reaches_the_files()
reopening_keeps_or_rebuilds(drive)
upload_onto_a_nearly_full_drive()
for failure in failures:
    print("FAIL:", failure)
print("%d failures" % len(failures))
sys.exit(1 if failures else 0)
