"""Reads back, with tools nobody here wrote, what the mass-storage end-to-end test left on the
drive: a track's tags (mutagen), a playlist file's entries (parsed here from the M3U format:
one path a line, "#" lines are comments, an optional UTF-8 byte-order mark), and the values of
a Berkeley DB B-tree file as `db5.3_dump -p` prints them.

usage: msc_end_to_end_oracle.py tags|m3u|dump <unix path> <result file>
The result is written to a temporary name and renamed, so a reader polling for it never sees
half of it: one line a value ("key=value" for tags).
"""
import os
import sys

import mutagen
import mutagen.id3

from oracle_common import db_dump


def tags(path):
    audio = mutagen.File(path)
    if audio is None:
        return ["error=not an audio file"]
    if isinstance(audio.tags, mutagen.id3.ID3):
        frames = {"title": "TIT2", "artist": "TPE1", "album": "TALB", "tracknumber": "TRCK"}
        values = {key: str(audio.tags[frame]) if frame in audio.tags else ""
                  for key, frame in frames.items()}
    else:
        values = {key: (audio.tags[key][0] if audio.tags and key in audio.tags else "")
                  for key in ("title", "artist", "album", "tracknumber")}
    values["tracknumber"] = values["tracknumber"].split("/")[0]
    return ["%s=%s" % item for item in sorted(values.items())]


def m3u(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    text = data.decode("cp1252", errors="replace")
    return [line.strip() for line in text.splitlines()
            if line.strip() and not line.startswith("#")]


def dump(path):
    """Every text of three bytes or more inside the stored values."""
    values = []
    for value in db_dump(path).values():
        for text in value.split(b"\0"):
            if len(text) >= 3:
                values.append(text.decode("utf-8", errors="replace"))
    return values


def main():
    command, path, result = sys.argv[1:4]
    try:
        lines = {"tags": tags, "m3u": m3u, "dump": dump}[command](path)
    except Exception as error:  # the test shows what went wrong
        lines = ["error=%s" % error]
    with open(result + ".tmp", "w", encoding="utf-8") as out:
        out.write("".join(line + "\n" for line in lines))
    os.rename(result + ".tmp", result)


if __name__ == "__main__":
    main()
