"""Makes tagged MP3 files with tools nobody here wrote and writes what they hold, read back
with mutagen, as a table for mp3_tag_oracle_test.cpp.

A 5-second tone is made with sox and encoded with lame. Copies are tagged by id3v2 (ID3v2.3
plus ID3v1, and ID3v1 alone), by eyeD3 (ID3v2.4 with a picture) and by mutagen (ID3v2.3 and
ID3v2.4 with one text encoding per frame, COMM, TXXX and a "(17)Rock" content type, and a
described volume comment in front of the user's), and two are laid out here from the ID3v2
descriptions (2.4 frame sizes stored as plain numbers, an empty 2.3 frame). The
expected values come from mutagen's reading of each file, turned into our keys; the
fingerprint "rid" is computed here with hashlib over the audio between the tags whose offsets
mutagen reports.

usage: id3_fixtures.py <output.inc>   (the files go to fixtures/id3/ beside the output)
"""
import hashlib
import os
import re
import subprocess
import sys

from mutagen.id3 import (APIC, COMM, ID3, TALB, TCON, TDRC, TIT2, TPE1, TPE2, TRCK, TXXX,
                         TYER)
from mutagen.id3 import delete as delete_id3
from mutagen.id3._id3v1 import find_id3v1
from mutagen.mp3 import MP3

from oracle_common import fingerprint


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def copy(src, dst):
    with open(src, "rb") as i, open(dst, "wb") as o:
        o.write(i.read())


def png_bytes():
    """A valid 2x2 RGB PNG (eyeD3 takes the picture's type from the file)."""
    import struct
    import zlib

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + bytes([0xFF, 0x00, 0x80] * 2) for _ in range(2))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def frames_of(tags, frame_id):
    """Frames of one id from an ID3 object or from the frame dictionary of find_id3v1."""
    if tags is None:
        return []
    if hasattr(tags, "getall"):
        return tags.getall(frame_id)
    return [tags[frame_id]] if frame_id in tags else []


def first_text(tags, frame_id):
    frames = frames_of(tags, frame_id)
    return str(frames[0].text[0]) if frames and frames[0].text else None


def expected_values(path):
    """Our keys for what mutagen finds in the file."""
    values = {}
    try:
        v2 = ID3(path, translate=False, load_v1=False)
    except Exception:
        v2 = None
    with open(path, "rb") as f:
        data = f.read()
        f.seek(0)
        v1, v1_offset = find_id3v1(f)

    def pick(key, *sources):
        for tags, frame_id in sources:
            if tags is not None and key not in values:
                text = first_text(tags, frame_id)
                if text:
                    values[key] = text

    pick("title", (v2, "TIT2"), (v1, "TIT2"))
    pick("artist", (v2, "TPE1"), (v2, "TPE2"), (v1, "TPE1"))
    pick("source", (v2, "TALB"), (v1, "TALB"))
    pick("year", (v2, "TYER"), (v2, "TDRC"), (v1, "TDRC"))
    if "year" in values:
        # 2.4 recording times and mutagen's ID3v1 dates: we keep the year alone.
        values["year"] = values["year"][:4]
    pick("tracknr", (v2, "TRCK"), (v1, "TRCK"))
    pick("genre", (v2, "TCON"))
    if "genre" in values:
        # A content type that begins with "(n)" is genre n's name, whatever follows; mutagen
        # keeps both parts. Our table and mutagen's agree on the names used here.
        match = re.match(r"\((\d+)\)", values["genre"])
        if match:
            values["genre"] = TCON(text=["(%s)" % match.group(1)]).genres[0]
    elif frames_of(v1, "TCON"):
        # mutagen gives an ID3v1 genre byte as its number; we deliver its name.
        values["genre"] = frames_of(v1, "TCON")[0].genres[0]
    for tags in (v2, v1):
        # The comment is the first without a description; described ones (a player's volume
        # data) only when there is none.
        comments = frames_of(tags, "COMM")
        comments = [c for c in comments if not c.desc] + [c for c in comments if c.desc]
        if comments and "comment" not in values:
            values["comment"] = str(comments[0].text[0]) if comments[0].text else ""
    if "title" not in values:
        values["title"] = os.path.splitext(os.path.basename(path))[0].replace("_", " ")

    pictures = frames_of(v2, "APIC")
    if pictures:
        values["options"] = "4096"
        values["@art"] = hashlib.md5(pictures[-1].data).hexdigest()

    start = v2.size if v2 is not None else 0  # mutagen counts the 10-byte header
    end = len(data) + v1_offset if v1 is not None else len(data)
    values["offset/tag"] = str(start)
    values["rid"] = fingerprint(data, start, end)
    values["samplerate"] = str(MP3(path).info.sample_rate)
    return values


def make_files(folder):
    wav = os.path.join(folder, "tone.wav")
    base = os.path.join(folder, "Plain_Tone.mp3")
    run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "5", "sine", "440")
    run("lame", "--quiet", "-b", "128", wav, base)
    os.remove(wav)
    files = [base]

    def tagged(name):
        path = os.path.join(folder, name)
        copy(base, path)
        files.append(path)
        return path

    run("id3v2", "-t", "Id3v2 Title", "-a", "Id3v2 Artist", "-A", "Id3v2 Album", "-y", "1999",
        "-T", "4/9", "-g", "17", "-c", "A comment", tagged("id3v2_both.mp3"))
    run("id3v2", "-1", "-t", "Only V1", "-a", "V1 Artist", "-A", "V1 Album", "-y", "1987",
        "-T", "7", "-g", "8", "-c", "v1 comment", tagged("id3v2_v1_only.mp3"))

    cover = os.path.join(folder, "cover.png")
    with open(cover, "wb") as f:
        f.write(png_bytes())
    run("eyeD3", "--quiet", "--no-color", "--to-v2.4", "-t", "Caf\u00e9 \u20ac", "-a",
        "\u00c9quipe", "-A", "eyeD3 Album", "--recording-date", "2004-05-06", "-n", "3",
        "-G", "Jazz", "--add-image", cover + ":FRONT_COVER", tagged("eyed3_v24.mp3"))

    tags = ID3()
    tags.add(TIT2(encoding=0, text="Caf\u00e9"))
    tags.add(TPE1(encoding=1, text="\u00dcn\u00efc\u00f6d\u00e9 \u20ac"))
    tags.add(TALB(encoding=1, text="Album \u2603"))
    tags.add(TYER(encoding=0, text="1999"))
    tags.add(TRCK(encoding=0, text="3/10"))
    tags.add(TCON(encoding=0, text="(17)Rock"))
    tags.add(COMM(encoding=1, lang="eng", desc="d\u00e9sc", text="Comment \u00e9\u20ac"))
    tags.add(TXXX(encoding=0, desc="key", text="value"))
    tags.save(tagged("mutagen_v23.mp3"), v2_version=3, v1=2)

    tags = ID3()
    tags.add(TIT2(encoding=3, text="Ti\u00dfle \u4e16\u754c"))
    tags.add(TPE2(encoding=2, text="Band \u00e9\u20ac"))
    tags.add(TALB(encoding=1, text="\u00c5lbum"))
    tags.add(TDRC(encoding=0, text="2011-12-13"))
    tags.add(TCON(encoding=3, text="Jazz"))
    tags.add(COMM(encoding=0, lang="deu", desc="", text="Kommentar \u00fc"))
    tags.add(TXXX(encoding=3, desc="x", text="y"))
    tags.add(APIC(encoding=1, mime="image/png", type=3, desc="c\u00f6ver", data=png_bytes()))
    tags.save(tagged("mutagen_v24.mp3"), v2_version=4, v1=0)

    # The volume data a common desktop player writes as a described comment, in front of the
    # user's comment.
    tags = ID3()
    tags.add(TIT2(encoding=0, text="Normalised"))
    tags.add(COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000A2B 00000B3C 0000F00D"))
    tags.add(COMM(encoding=1, lang="eng", desc="", text="The user's comment"))
    tags.save(tagged("mutagen_itunnorm.mp3"), v2_version=3, v1=0)

    # Laid out from the ID3v2 descriptions: a 2.4 tag whose frame sizes are plain numbers (a
    # 200-byte title), and a 2.3 tag with an empty frame in the middle.
    def raw_tag(major, frames):
        body = b"".join(frames) + bytes(100)
        return b"ID3" + bytes([major, 0, 0]) + syncsafe(len(body)) + body

    def plain_frame(frame_id, text):
        body = b"\0" + text.encode("latin-1")
        return frame_id + len(body).to_bytes(4, "big") + b"\0\0" + body

    with open(base, "rb") as f:
        audio = f.read()
    for name, tag in (
            ("plain_sizes_v24.mp3", raw_tag(4, [plain_frame(b"TIT2", "Long title " * 18),
                                                plain_frame(b"TPE1", "Plain Artist"),
                                                plain_frame(b"TALB", "Plain Album")])),
            ("empty_frame_v23.mp3", raw_tag(3, [plain_frame(b"TIT2", "Before"),
                                                b"TPE2" + bytes(6),
                                                plain_frame(b"TPE1", "Behind"),
                                                plain_frame(b"TALB", "Album behind")]))):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(tag + audio)
        files.append(path)

    # ID3v1 written by mutagen, ID3v2 removed again.
    tags = ID3()
    tags.add(TIT2(encoding=0, text="V1 by mutagen"))
    tags.add(TPE1(encoding=0, text="Someone"))
    tags.add(TRCK(encoding=0, text="12"))
    tags.add(TCON(encoding=0, text="Blues"))
    path = tagged("mutagen_v1_only.mp3")
    tags.save(path, v2_version=3, v1=2)
    delete_id3(path, delete_v1=False, delete_v2=True)
    return files


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def c_string(text):
    out = '"'
    previous_escaped = False
    for b in text.encode("utf-8"):
        c = chr(b)
        if 0x20 <= b < 0x7F and c not in '"\\?':
            if previous_escaped and c in "0123456789abcdefABCDEF":
                out += '""'
            out += c
            previous_escaped = False
        else:
            out += "\\x%02x" % b
            previous_escaped = True
    return out + '"'


def main(out_path):
    folder = os.path.join(os.path.dirname(os.path.abspath(out_path)), "fixtures", "id3")
    os.makedirs(folder, exist_ok=True)
    lines = [
        "// Generated by tests/oracle/id3_fixtures.py from files tagged by id3v2, eyeD3 and",
        "// mutagen and read back with mutagen. Do not edit.",
        "struct Id3OracleCase {",
        "  const char* path;   // Windows path of the file",
        "  const char* key;    // a delivered key, or \"@art\" for the album art's MD5,",
        "                      // or \"offset/tag\" for where the ID3v2 tag ends",
        "  const char* value;",
        "};",
        "static const Id3OracleCase kId3OracleCases[] = {",
    ]
    for path in make_files(folder):
        windows = "Z:" + path.replace("/", "\\")
        for key, value in sorted(expected_values(path).items()):
            lines.append("  {%s, %s, %s}," % (c_string(windows), c_string(key), c_string(value)))
    lines.append("};")
    with open(out_path, "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
