"""Rewrites the tags of real audio files with our tag writers and reads back what they wrote
with tools nobody here wrote.

Files are made by sox, flac, metaflac, oggenc, ffmpeg, lame and mutagen. After our writers ran,
mutagen, `metaflac --export-tags-to`, `vorbiscomment -l`, exiftool (RIFF INFO) and ffprobe read
the tags; `flac -t` and `ogginfo` check the streams; the decoded audio's MD5 (ffmpeg -f md5) must
not change. Files our writers must refuse (Ogg FLAC, Ogg Opus, a damaged ID3 size) must come
back byte for byte.

usage: tag_writer_oracle.py <wine> <tag_writer_oracle_tool.exe> <work folder>
"""
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import zlib

from mutagen.flac import FLAC, Picture
from mutagen.id3 import (APIC, COMM, ID3, POPM, PRIV, TALB, TCOM, TCON, TDRC, TIT2, TPE1,
                         TXXX, UFID, USLT)
from mutagen.oggvorbis import OggVorbis

from oracle_common import windows_path

WINE, TOOL, WORK = sys.argv[1:4]
failures = []

TITLE = "Caf\u00e9 \u0416\u0443\u043a"  # beyond Latin-1: written as UTF-16 in ID3
VALUES = [
    ("title", TITLE), ("artist", "New Artist"), ("source", "New Album"), ("year", "1999"),
    ("tracknr", "7"), ("genre", "Jazz"), ("comment", "Oracle comment"), ("mood", ""),
    ("rid", "0123"), ("path", "E:\\x.mp3"), ("duration", "1000"), ("fid_generation", "5"),
    ("codec", "mp3"),
]
VORBIS_EXPECTED = {"title": TITLE, "artist": "New Artist", "album": "New Album",
                   "date": "1999", "tracknumber": "7", "genre": "Jazz",
                   "comment": "Oracle comment"}
NEVER_COMMENTS = ["rid", "path", "duration", "fid_generation", "codec", "mood"]


def check(condition, message):
    if not condition:
        failures.append(message)


def run(*args, **kwargs):
    return subprocess.run(args, check=True, stdin=subprocess.DEVNULL, capture_output=True,
                          **kwargs)


def audio_md5(path):
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"],
                         capture_output=True, text=True, stdin=subprocess.DEVNULL)
    return out.stdout.strip() if out.returncode == 0 else "undecodable: " + out.stderr


def file_md5(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


# Files named so are written as a new upload is: the tag may grow in place.
GROWN = "grown_"


def run_writers(jobs):
    """jobs: [(path, [(key, value)])]; returns the write results."""
    lines = []
    for path, values in jobs:
        lines.append(b"write\t" + windows_path(path).encode("cp1252"))
        if os.path.basename(path).startswith(GROWN):
            lines.append(b"grow")
        for key, value in values:
            lines.append(b"set\t" + key.encode() + b"\t" + value.encode())
        lines.append(b"finish")
    commands = os.path.join(WORK, "commands.txt")
    results = os.path.join(WORK, "results.txt")
    with open(commands, "wb") as f:
        f.write(b"".join(line + b"\n" for line in lines))
    subprocess.run([WINE, TOOL, windows_path(commands), windows_path(results)], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    with open(results) as f:
        out = [line.split("\t") for line in f.read().splitlines()]
    return [int(v) for k, v in out if k == "written"]


def ffprobe_tags(path):
    """The container's tags as ffprobe reads them, keys lowercased."""
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format_tags", "-of",
                          "json", path], capture_output=True, text=True, check=True).stdout
    return {k.lower(): v for k, v in json.loads(out).get("format", {}).get("tags", {}).items()}


def check_ffprobe(path, expected):
    tags = ffprobe_tags(path)
    for key, value in expected.items():
        check(tags.get(key) == value, f"{path}: ffprobe {key} = {tags.get(key)!r}")


def vorbis_comments_of(lines):
    comments = []
    for line in lines:
        if "=" in line:
            name, _, value = line.partition("=")
            comments.append((name.lower(), value))
    return comments


def check_vorbis_comments(name, comments, kept):
    fields = {}
    for field, value in comments:
        fields.setdefault(field, []).append(value)
    for field, value in VORBIS_EXPECTED.items():
        check(fields.get(field) == [value], f"{name}: {field} = {fields.get(field)}")
    for field in NEVER_COMMENTS:
        check(field not in fields, f"{name}: {field} written as a comment")
    for field, value in kept:
        check(value in fields.get(field, []), f"{name}: old {field}={value[:30]} lost")


def make_sources():
    tone = os.path.join(WORK, "tone.wav")
    run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "3", "sine", "440",
        "sine", "660")
    return tone


def flac_cases(tone):
    cases = []
    picture = Picture()
    picture.type = 3
    picture.mime = "image/png"
    picture.data = b"\x89PNG" + bytes(range(256)) * 40
    base = os.path.join(WORK, "tagged.flac")
    run("flac", "-s", "-f", "--padding=8192", "-T", "TITLE=Old", "-T", "ARTIST=Old",
        "-T", "MOOD=calm", "-T", "DISCNUMBER=2", "-o", base, tone)
    f = FLAC(base)
    f.add_picture(picture)
    f.save()
    tight = os.path.join(WORK, "tight.flac")
    run("flac", "-s", "-f", "--padding=0", "-T", "DISCNUMBER=2", "-o", tight, tone)
    id3 = os.path.join(WORK, "id3.flac")
    shutil.copy(base, id3)
    tag = ID3()
    tag.add(TIT2(encoding=3, text="Old ID3"))
    tag.save(id3, v2_version=3)
    bare = os.path.join(WORK, "no_comments.flac")
    shutil.copy(base, bare)
    run("metaflac", "--remove", "--block-type=VORBIS_COMMENT", bare)
    for path in (base, tight, id3, bare):
        cases.append(path)
    # Written as a new upload is: in the file itself where the padding holds the comments.
    for path in (base, tight, id3):
        cases.append(os.path.join(WORK, GROWN + os.path.basename(path)))
        shutil.copy(path, cases[-1])
    return cases


def check_flac(path, before_md5):
    out = run("metaflac", "--export-tags-to=-", path).stdout.decode("utf-8").splitlines()
    kept = [] if "no_comments" in path else [("discnumber", "2")]
    check_vorbis_comments(path, vorbis_comments_of(out), kept)
    test = subprocess.run(["flac", "-t", "-s", path], capture_output=True)
    check(test.returncode == 0, f"{path}: flac -t: {test.stderr[:200]}")
    check(audio_md5(path) == before_md5, f"{path}: audio changed")
    check_ffprobe(path, {"title": TITLE, "artist": "New Artist", "album": "New Album"})
    if "tagged" in path:
        check(len(FLAC(path).pictures) == 1, f"{path}: picture lost")
    if "id3" in path:
        tag = ID3(path)
        check(tag.version[:2] == (2, 3), f"{path}: ID3 version {tag.version}")
        check(str(tag.get("TIT2")) == TITLE, f"{path}: ID3 title {tag.get('TIT2')}")


def ogg_cases(tone):
    base = os.path.join(WORK, "tagged.ogg")
    cover = "METADATA_BLOCK_PICTURE=" + "A" * 9000  # spans pages: the header grows and shrinks
    run("oggenc", "-Q", "-q", "2", "-t", "Old", "-a", "Old", "-c", "MOOD=calm",
        "-c", "DISCNUMBER=2", "-c", cover, "-o", base, tone)
    small = os.path.join(WORK, "small.ogg")
    run("oggenc", "-Q", "-q", "2", "-c", "DISCNUMBER=2", "-o", small, tone)
    grouped = os.path.join(WORK, "grouped.ogg")
    run("ffmpeg", "-v", "error", "-y", "-i", tone, "-i", tone, "-map", "0:a", "-map", "1:a",
        "-c:a", "libvorbis", "-metadata:s:a:0", "DISCNUMBER=2", "-metadata:s:a:1",
        "DISCNUMBER=2", grouped)
    return [base, small, grouped]


def check_ogg(path, before_md5, stream_pages):
    out = run("vorbiscomment", "-l", path).stdout.decode("utf-8").splitlines()
    check(out and out[0] == "ENCODER=libvorbis-1.0", f"{path}: first comment {out[:1]}")
    kept = [("discnumber", "2")]
    if "tagged" in path:
        kept.append(("metadata_block_picture", "A" * 9000))
    check_vorbis_comments(path, vorbis_comments_of(out[1:]), kept)
    info = subprocess.run(["ogginfo", path], capture_output=True, text=True)
    bad = [l for l in info.stdout.splitlines() if "WARNING" in l or "ERROR" in l]
    check(info.returncode == 0 and not bad, f"{path}: ogginfo: {bad[:3]}")
    check(audio_md5(path) == before_md5, f"{path}: audio changed")
    check(ogg_serials(path) == stream_pages, f"{path}: pages per stream {ogg_serials(path)} "
          f"!= {stream_pages}")


def id3v2_end(data):
    """Where the stream behind an ID3v2 tag in front begins (0 without one)."""
    if data[:3] != b"ID3":
        return 0
    return 10 + (data[6] << 21 | data[7] << 14 | data[8] << 7 | data[9])


def ogg_id3_cases():
    """Ogg Vorbis files with an ID3v2 tag in front (mutagen's), one with a copy of the stream's
    first page in the tag's padding."""
    base = os.path.join(WORK, "small.ogg")
    with open(base, "rb") as f:
        stream = f.read()
    first_page = stream[:27 + stream[26] + sum(stream[27:27 + stream[26]])]
    cases = []
    for name, fake in (("id3_front.ogg", b""), ("id3_page_in_padding.ogg", first_page)):
        path = os.path.join(WORK, name)
        shutil.copy(base, path)
        tag = ID3()
        tag.add(TIT2(encoding=3, text="Old ID3"))
        tag.add(TXXX(encoding=3, desc="custom", text="kept"))
        tag.save(path, v2_version=3, padding=lambda info: 1024)
        with open(path, "r+b") as f:
            f.seek(id3v2_end(f.read()) - 512)
            f.write(fake)
        cases.append(path)
    return cases


def stream_behind_id3(path):
    """A copy of the Ogg stream behind the ID3v2 tag, for the tools that expect none."""
    with open(path, "rb") as f:
        data = f.read()
    copy = path + ".stream.ogg"
    with open(copy, "wb") as f:
        f.write(data[id3v2_end(data):])
    return copy


def check_ogg_id3(path, before_md5, stream_pages):
    with open(path, "rb") as f:
        if f.read(3) != b"ID3":
            check(False, f"{path}: ID3 tag in front lost")
            return
    tag = ID3(path)
    check(tag.version[:2] == (2, 3), f"{path}: ID3 version {tag.version}")
    check(str(tag.get("TIT2")) == TITLE, f"{path}: ID3 title {tag.get('TIT2')}")
    check(str(tag.get("TXXX:custom")) == "kept", f"{path}: ID3 TXXX {tag.get('TXXX:custom')}")
    check_ogg(stream_behind_id3(path), before_md5, stream_pages)


def ogg_serials(path):
    """The logical streams of an Ogg file, in order of first appearance."""
    with open(path, "rb") as f:
        data = f.read()
    serials = []
    at = 0
    while at + 27 <= len(data) and data[at:at + 4] == b"OggS":
        serial = struct.unpack_from("<I", data, at + 14)[0]
        if serial not in serials:
            serials.append(serial)
        segments = data[at + 26]
        at += 27 + segments + sum(data[at + 27:at + 27 + segments])
    return serials


def refused_cases(tone):
    """Files our writers must leave alone: (path, why)."""
    ogg_flac = os.path.join(WORK, "flac_inside.ogg")
    run("flac", "-s", "-f", "--ogg", "-o", ogg_flac, tone)
    opus = os.path.join(WORK, "opus_inside.ogg")
    run("ffmpeg", "-v", "error", "-y", "-i", tone, "-c:a", "libopus", "-f", "ogg", opus)
    cut = os.path.join(WORK, "cut.ogg")
    shutil.copy(os.path.join(WORK, "small.ogg"), cut)
    with open(cut, "r+b") as f:
        f.truncate(3000)  # ends inside the setup header's pages
    mp3 = os.path.join(WORK, "bad_size.mp3")
    shutil.copy(os.path.join(WORK, "v23.mp3"), mp3)
    with open(mp3, "r+b") as f:
        f.seek(6)
        f.write(b"\x7f\xff\xff\xff")  # not sync-safe
    return [ogg_flac, opus, cut, mp3]


def wav_cases(tone):
    info = os.path.join(WORK, "info.wav")
    run("ffmpeg", "-v", "error", "-y", "-i", tone, "-fflags", "+bitexact", "-metadata",
        "title=Old", "-metadata", "artist=Old Artist5", "-metadata", "copyright=Old Copyright",
        "-metadata", "track=3", "-c:a", "pcm_s16le", info)
    with open(info, "rb") as f:
        data = f.read()
    # Another LIST (associated data) and an odd chunk in front of the audio.
    adtl = b"LIST" + struct.pack("<I", 16) + b"adtl" + b"labl" + struct.pack("<I", 4) + b"cue\0"
    odd = b"odd " + struct.pack("<I", 3) + b"abc\0"
    data = data[:12] + odd + adtl + data[12:]
    data = data[:4] + struct.pack("<I", len(data) - 8) + data[8:]
    with open(info, "wb") as f:
        f.write(data)
    ima = os.path.join(WORK, "ima.wav")
    run("ffmpeg", "-v", "error", "-y", "-i", tone, "-c:a", "adpcm_ima_wav", ima)
    # Laid out from the RIFF description: an INFO list in front of ffmpeg's whose last entry
    # lacks its pad byte inside the list.
    two_lists = os.path.join(WORK, "info_two_lists.wav")
    first = (b"INFO" + b"ISBJ" + struct.pack("<I", 4) + b"Sub\0" + b"ITCH" +
             struct.pack("<I", 3) + b"Tch")
    extra = b"LIST" + struct.pack("<I", len(first)) + first + b"\0"
    data = data[:12] + extra + data[12:]
    with open(two_lists, "wb") as f:
        f.write(data[:4] + struct.pack("<I", len(data) - 8) + data[8:])
    return [info, ima, two_lists]


def wav_chunks(path):
    with open(path, "rb") as f:
        data = f.read()
    check(struct.unpack_from("<I", data, 4)[0] == len(data) - 8, f"{path}: RIFF size")
    chunks = []
    at = 12
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        chunks.append((cid, data[at + 8:at + 8 + size]))
        at += 8 + size + (size & 1)
    check(at == len(data), f"{path}: chunks end at {at} of {len(data)}")
    return chunks


def check_wav(path, before_md5, before_chunks):
    riff = {}
    out = run("exiftool", "-s", "-RIFF:all", path).stdout.decode("utf-8", "replace")
    for line in out.splitlines():
        key, _, value = line.partition(":")
        riff[key.strip()] = value.strip()
    ansi_title = TITLE.encode("cp1252", "replace").decode("cp1252")
    # Entries the writer was not given stay; the track number reaches exiftool and ffprobe.
    expected = {"Title": ansi_title, "Artist": "New Artist", "Product": "New Album",
                "DateCreated": "1999", "Genre": "Jazz", "Comment": "Oracle comment",
                "TrackNumber": "7"}
    if "info" in path:
        expected["Copyright"] = "Old Copyright"
    if "two_lists" in path:
        expected.update({"Subject": "Sub", "Technician": "Tch"})
    for key, value in expected.items():
        check(riff.get(key) == value, f"{path}: exiftool {key} = {riff.get(key)!r}")
    # ffprobe takes INFO text for UTF-8, which the ANSI title is not: the others only.
    check_ffprobe(path, {"artist": "New Artist", "album": "New Album", "genre": "Jazz",
                         "track": "7"})
    chunks = wav_chunks(path)
    infos = [c for c in chunks if c[0] == b"LIST" and c[1][:4] == b"INFO"]
    check(len(infos) == 1 and chunks[-1] == infos[0], f"{path}: INFO lists {len(infos)}")
    others = [c for c in chunks if not (c[0] == b"LIST" and c[1][:4] == b"INFO")]
    check(others == [c for c in before_chunks if not (c[0] == b"LIST" and c[1][:4] == b"INFO")],
          f"{path}: other chunks changed")
    check(audio_md5(path) == before_md5, f"{path}: audio changed")


# The volume data a common desktop player keeps in a described comment: a new comment must
# not replace it.
ITUNES_NORM = COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000A2B 00000B3C 0000F00D")


def mp3_cases(tone):
    mp3 = os.path.join(WORK, "plain.mp3")
    run("lame", "--quiet", "-b", "128", tone, mp3)
    v23 = os.path.join(WORK, "v23.mp3")
    shutil.copy(mp3, v23)
    tag = ID3()
    tag.add(TIT2(encoding=0, text="Old"))
    tag.add(TCOM(encoding=1, text="Old Composer"))
    tag.add(TXXX(encoding=3, desc="custom", text="kept"))
    tag.add(APIC(encoding=0, mime="image/png", type=3, desc="", data=b"\x89PNG" + bytes(300)))
    tag.add(COMM(encoding=0, lang="eng", desc="", text="old comment"))
    tag.add(ITUNES_NORM)
    tag.save(v23, v2_version=3, v1=2)
    v24 = os.path.join(WORK, "v24.mp3")
    shutil.copy(mp3, v24)
    tag = ID3()
    tag.add(TIT2(encoding=3, text="Old"))
    tag.add(TCOM(encoding=3, text="Compos\u00e9r 24"))
    tag.add(TALB(encoding=3, text="Old Album"))
    tag.add(TDRC(encoding=3, text="2001"))
    tag.add(ITUNES_NORM)
    tag.save(v24, v2_version=4)
    big = os.path.join(WORK, "big_tag.mp3")
    shutil.copy(v23, big)
    tag = ID3(big)
    tag.add(TPE1(encoding=0, text="Old"))
    tag.save(big, v2_version=3, v1=2, padding=lambda info: 8000)
    # The tags outgrow the room of these (no tag, a tag without padding): the audio moves.
    grown = []
    for path in (mp3, v24):
        grown.append(os.path.join(WORK, GROWN + os.path.basename(path)))
        shutil.copy(path, grown[-1])
    ID3(grown[-1]).save(grown[-1], v2_version=4, padding=lambda info: 0)
    return [v23, v24, big, mp3] + grown


def check_mp3(path, before_md5, before_frames, has_v1):
    # As written: no upgrade to 2.4 frames, no frames made from the ID3v1 trailer.
    tag = ID3(path, translate=False, load_v1=False)
    check(tag.version[:2] == (2, 3), f"{path}: version {tag.version}")
    check(str(tag.get("TIT2")) == TITLE, f"{path}: TIT2 {tag.get('TIT2')}")
    check(str(tag.get("TPE1")) == "New Artist", f"{path}: TPE1 {tag.get('TPE1')}")
    check(str(tag.get("TALB")) == "New Album", f"{path}: TALB")
    check(str(tag.get("TRCK")) == "7", f"{path}: TRCK")
    check(str(tag.get("TCON")) == "Jazz", f"{path}: TCON {tag.get('TCON')}")
    comments = [c for c in tag.getall("COMM") if not c.desc]
    check([c.text[0] for c in comments] == ["Oracle comment"], f"{path}: COMM {comments}")
    check(str(tag.get("TYER")) == "1999", f"{path}: TYER {tag.get('TYER')}")
    check("TLEN" in tag, f"{path}: TLEN")
    check_ffprobe(path, {"title": TITLE, "artist": "New Artist", "album": "New Album"})
    for frame_id, frame in before_frames.items():
        got = tag.get(frame_id)
        if frame_id.startswith("COMM"):
            same = got is not None and (got.lang, got.desc, got.text) == (frame.lang, frame.desc,
                                                                          frame.text)
        else:
            same = got == frame if frame_id != "TCOM" else str(got) == str(frame)
        check(same, f"{path}: old {frame_id} changed: {got!r}")
    check("TDRC" not in tag or str(tag["TDRC"]) == "1999", f"{path}: TDRC {tag.get('TDRC')}")
    with open(path, "rb") as f:
        data = f.read()
    if has_v1:
        check(data[-128:-125] == b"TAG" and data[-128 + 3:-128 + 33].rstrip(b"\0") ==
              TITLE.encode("cp1252", "replace")[:30], f"{path}: ID3v1 title")
        check(data[-3] == 0 and data[-2] == 7, f"{path}: ID3v1 track")
    check(audio_md5(path) == before_md5, f"{path}: audio changed")


# Old tags of other versions and with frames beyond the text frames, rewritten with only a new
# title: mutagen must read every old frame as it read it before. The 2.2, unsynchronised and
# compressed tags are built here from the ID3v2 descriptions (mutagen writes none of them).
NEW_TITLE = [("title", "New Title")]
COVER = b"\xff\xd8\xff\xe0" + bytes(range(256)) * 8 + b"\xff\x00\xff\xe1\xff"
UNICODE = "Caf\u00e9 \u0416 \u263a"


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def unsynchronised(data):
    out = bytearray()
    for i, b in enumerate(data):
        out.append(b)
        if b == 0xFF and (i + 1 == len(data) or data[i + 1] >= 0xE0 or data[i + 1] == 0):
            out.append(0)
    return bytes(out)


def id3_tag(major, frames, flags=0, padding=256):
    body = b"".join(frames) + bytes(padding)
    return b"ID3" + bytes([major, 0, flags]) + syncsafe(len(body)) + body


def frame22(fid, body):
    return fid + len(body).to_bytes(3, "big") + body


def frame23(fid, body, flags=0):
    return fid + len(body).to_bytes(4, "big") + flags.to_bytes(2, "big") + body


def frame24(fid, body, flags=0):
    return fid + syncsafe(len(body)) + flags.to_bytes(2, "big") + body


def picture(tag):
    pictures = tag.getall("APIC")
    return [(p.mime, p.type, p.desc, p.data) for p in pictures]


def conversion_cases(plain):
    """(name, path, what mutagen reads, what it must read after the rewrite: None for what it
    read before)."""
    cases = []

    def add(name, tag_bytes, read, expected=None):
        path = os.path.join(WORK, "convert_" + name + ".mp3")
        with open(plain, "rb") as f:
            audio = f.read()
        with open(path, "wb") as f:
            f.write(tag_bytes + audio)
        cases.append((name, path, read, expected))

    def mutagen_tag(name, frames, read):
        path = os.path.join(WORK, "convert_" + name + ".mp3")
        shutil.copy(plain, path)
        tag = ID3()
        tag.add(TIT2(encoding=3, text="Old"))
        for frame in frames:
            tag.add(frame)
        tag.save(path, v2_version=4)
        cases.append((name, path, read, None))

    title22 = frame22(b"TT2", b"\0Old")
    # 2.2 names the image format ("JPG"), which mutagen hands on as it is; 2.3 a MIME type.
    add("v22_pic", id3_tag(2, [title22, frame22(b"PIC", b"\0JPG\x03cover\0" + COVER)]),
        lambda t: [("image/jpeg" if m == "JPG" else m, *rest) for m, *rest in picture(t)])
    mutagen_tag("v24_apic", [APIC(encoding=3, mime="image/png", type=3, desc=UNICODE,
                                  data=COVER)], picture)
    mutagen_tag("v24_txxx", [TXXX(encoding=3, desc=UNICODE, text="value " + UNICODE)],
                lambda t: [(f.desc, f.text) for f in t.getall("TXXX")])
    mutagen_tag("v24_uslt", [USLT(encoding=3, lang="eng", desc="d", text="line\n" + UNICODE)],
                lambda t: [(f.lang, f.desc, f.text) for f in t.getall("USLT")])
    mutagen_tag("v24_popm", [POPM(email="a@b.c", rating=196, count=12)],
                lambda t: [(f.email, f.rating, f.count) for f in t.getall("POPM")])
    mutagen_tag("v24_ufid", [UFID(owner="http://example.org", data=b"id-\xff\x00-1")],
                lambda t: [(f.owner, f.data) for f in t.getall("UFID")])
    mutagen_tag("v24_priv", [PRIV(owner="Owner", data=b"\x00\x01\xff\xfe")],
                lambda t: [(f.owner, f.data) for f in t.getall("PRIV")])
    # 2.3 keeps hours and minutes (TIME is HHMM): mutagen gives the seconds as 0 then.
    mutagen_tag("v24_tdrc", [TDRC(encoding=3, text="2001-05-03T10:20")],
                lambda t: [(s.year, s.month, s.day, s.hour, s.minute)
                           for s in t["TDRC"].text])
    # 2.4 unsynchronises frame by frame, flagged in the frame's format byte.
    apic = b"\0image/jpeg\0\x03\0" + COVER
    add("v24_unsynchronised",
        id3_tag(4, [frame24(b"TIT2", b"\0Old"), frame24(b"APIC", unsynchronised(apic), 0x0002)]),
        picture)
    # A 2.3 frame compressed with zlib: the decompressed size, then the data.
    text = b"\0comp\0" + b"compressed value " * 20
    add("v23_compressed",
        id3_tag(3, [frame23(b"TIT2", b"\0Old"),
                    frame23(b"TXXX", len(text).to_bytes(4, "big") + zlib.compress(text),
                            0x0080)]),
        lambda t: [(f.desc, f.text) for f in t.getall("TXXX")])
    # The same compressed in 2.4: a data length indicator (sync-safe) in front of the data.
    add("v24_compressed",
        id3_tag(4, [frame24(b"TIT2", b"\0Old"),
                    frame24(b"TXXX", syncsafe(len(text)) + zlib.compress(text), 0x0009)]),
        lambda t: [(f.desc, f.text) for f in t.getall("TXXX")])
    # Genre references of 2.2 and 2.4 stay references: the genres mutagen reads in the old tag
    # must be those of the new 2.3 tag as written (mutagen's upgrade to 2.4 would hide a
    # doubled parenthesis).
    add("v22_genre", id3_tag(2, [title22, frame22(b"TCO", b"\0(13)")]), None)
    mutagen_tag("v24_genre_reference", [TCON(encoding=3, text="(17)Rock")], None)
    for i in (-2, -1):
        name, path, _, _ = cases[i]
        cases[i] = (name, path, lambda t, path=path: ID3(path, translate=False)["TCON"].genres,
                    ID3(path)["TCON"].genres)
    # 2.2's year, date (DDMM) and time (HHMM): mutagen reads them as one recording time.
    add("v22_date", id3_tag(2, [title22, frame22(b"TYE", b"\x001995"),
                                frame22(b"TDA", b"\x000605"), frame22(b"TIM", b"\x001230")]),
        lambda t: str(t["TDRC"]))
    # 2.2 has one value a frame: the bytes behind the terminator are no text.
    add("v22_terminated_text", id3_tag(2, [title22, frame22(b"TP1", b"\0Artist\0junk")]),
        lambda t: t["TPE1"].text, ["Artist"])
    # Frames behind an empty one, and 2.4 sizes stored as plain numbers (a 200-byte value).
    add("v23_empty_frame",
        id3_tag(3, [frame23(b"TIT2", b"\0Old"), frame23(b"TPE2", b""),
                    frame23(b"TALB", b"\0Album behind")]),
        lambda t: (str(t.get("TALB")), "TPE2" in t))
    long_text = b"\0desc\0" + b"v" * 200
    add("v24_plain_sizes",
        id3_tag(4, [frame24(b"TIT2", b"\0Old"),
                    b"TXXX" + len(long_text).to_bytes(4, "big") + b"\0\0" + long_text,
                    frame24(b"TALB", b"\0Album behind")]),
        lambda t: (str(t.get("TALB")), [(f.desc, f.text) for f in t.getall("TXXX")]))
    # A compressed volume frame goes as its plain twin does: 2.3 has no place for it.
    volume = b"track\0\x01\x00\x10\x00"
    add("v24_compressed_rva2",
        id3_tag(4, [frame24(b"TIT2", b"\0Old"),
                    frame24(b"RVA2", syncsafe(len(volume)) + zlib.compress(volume), 0x0009)]),
        lambda t: [f.desc for f in t.getall("RVA2")], [])
    return cases


def check_conversions(cases, before, results):
    for (name, path, read, _), result in zip(cases, results):
        check(result == 0, f"{name}: write failed with {result & 0xFFFFFFFF:#x}")
        tag = ID3(path)
        check(tag.version[:2] == (2, 3), f"{name}: version {tag.version}")
        check(str(tag.get("TIT2")) == "New Title", f"{name}: title {tag.get('TIT2')}")
        old = before[path]
        check(read(tag) == old, f"{name}: {read(tag)!r} != {old!r}")
        check(audio_md5(path) == before[path + "#audio"], f"{name}: audio changed")


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    tone = make_sources()
    flacs = flac_cases(tone)
    oggs = ogg_cases(tone)
    wavs = wav_cases(tone)
    mp3s = mp3_cases(tone)
    refused = refused_cases(tone)
    conversions = conversion_cases(os.path.join(WORK, "plain.mp3"))
    ogg_id3 = ogg_id3_cases()
    converted_before = {}
    for name, path, read, expected in conversions:
        converted_before[path] = read(ID3(path)) if expected is None else expected
        check(expected is not None or converted_before[path],
              f"{name}: mutagen reads nothing before the rewrite")
        converted_before[path + "#audio"] = audio_md5(path)

    before = {}
    for path in flacs + oggs + wavs + mp3s:
        before[path] = audio_md5(path)
    streams = {path: ogg_serials(path) for path in oggs}
    for path in ogg_id3:
        before[path] = audio_md5(stream_behind_id3(path))
        streams[path] = ogg_serials(stream_behind_id3(path))
    chunks = {path: wav_chunks(path) for path in wavs}
    kept_frames = {}
    for path in mp3s:
        tag = ID3(path) if open(path, "rb").read(3) == b"ID3" else None
        frames = {}
        if tag is not None and tag.version[:2] == (2, 3):
            for frame_id in ("TXXX:custom", "APIC:", "TCOM", "COMM:iTunNORM:eng"):
                if frame_id in tag:
                    frames[frame_id] = tag[frame_id]
        if tag is not None and tag.version[:2] == (2, 4):
            for frame_id in ("TCOM", "COMM:iTunNORM:eng"):
                frames[frame_id] = tag[frame_id]
        with open(path, "rb") as f:
            frames["v1"] = f.read()[-128:-125] == b"TAG"
        kept_frames[path] = frames
    refused_md5 = {path: file_md5(path) for path in refused}

    jobs = [(path, VALUES) for path in flacs + oggs + ogg_id3 + wavs + mp3s + refused]
    jobs += [(path, NEW_TITLE) for _, path, _, _ in conversions]
    results = run_writers(jobs)
    check_conversions(conversions, converted_before, results[-len(conversions):])
    jobs = jobs[:-len(conversions)]
    results = results[:len(jobs)]
    check(len(results) == len(jobs), f"{len(results)} of {len(jobs)} writes reported")
    for (path, _), result in zip(jobs, results):
        if path in refused:
            check(result < 0, f"{path}: refused file written ({result})")
            check(file_md5(path) == refused_md5[path], f"{path}: refused file changed")
        else:
            check(result == 0, f"{path}: write failed with {result & 0xFFFFFFFF:#x}")
        check(not os.path.exists(path + ".new"), f"{path}.new left behind")
    for path in flacs:
        check_flac(path, before[path])
    for path in oggs:
        check_ogg(path, before[path], streams[path])
    for path in ogg_id3:
        check_ogg_id3(path, before[path], streams[path])
    for path in wavs:
        check_wav(path, before[path], chunks[path])
    for path in mp3s:
        frames = dict(kept_frames[path])
        has_v1 = frames.pop("v1")
        check_mp3(path, before[path], frames, has_v1)

    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(jobs)} files written; {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
