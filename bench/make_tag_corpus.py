"""Makes a corpus of small tagged audio files for tag_read_bench.

One tone is encoded once as MP3 (sox + lame) and once as WMA (ffmpeg's wmav2); every corpus file
is a copy whose tags mutagen varies: ID3v2.3 or 2.4, with or without ID3v1, padding, comments,
user texts and pictures of a few sizes for MP3; the usual attributes and WM/Picture for WMA.

usage: make_tag_corpus.py <folder> [mp3-count] [wma-count]
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

from mutagen.asf import ASF, ASFByteArrayAttribute
from mutagen.id3 import (APIC, COMM, ID3, TALB, TCON, TDRC, TIT2, TPE1, TPE2, TRCK, TXXX,
                         USLT)

GENRES = ["Rock", "Jazz", "(17)Rock", "Classical", "Hip-Hop", "Ambient", "(8)"]
WORDS = ["river", "night", "glass", "echo", "north", "ember", "velvet", "static", "harbour",
         "lantern", "Grüße", "café", "naïve", "Ωmega"]


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def phrase(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def text_frame(frame, rng, text):
    # Latin-1 only where the text fits it.
    encodings = [1, 3]
    if all(ord(c) < 256 for c in text):
        encodings.append(0)
    return frame(encoding=rng.choice(encodings), text=text)


def picture(rng, size):
    # Only the first bytes need to look like a JPEG; readers skip the body.
    return b"\xff\xd8\xff\xe0" + bytes(rng.getrandbits(8) for _ in range(size - 4))


def tag_mp3(path, i, rng):
    tags = ID3()
    tags.add(text_frame(TIT2, rng, phrase(rng, rng.randint(1, 5))))
    tags.add(text_frame(TPE1, rng, phrase(rng, 2)))
    tags.add(TALB(encoding=1, text=phrase(rng, 3)))
    tags.add(TRCK(encoding=0, text="%d/%d" % (i % 20 + 1, 20)))
    tags.add(TCON(encoding=0, text=rng.choice(GENRES)))
    tags.add(TDRC(encoding=0, text=str(1960 + i % 60)))
    if i % 3 == 0:
        tags.add(TPE2(encoding=1, text=phrase(rng, 2)))
        tags.add(COMM(encoding=1, lang="eng", desc="", text=phrase(rng, 12)))
    if i % 5 == 0:
        tags.add(TXXX(encoding=3, desc="mood", text=phrase(rng, 1)))
        tags.add(USLT(encoding=1, lang="eng", desc="", text=phrase(rng, 80)))
    if i % 4 == 0:
        size = rng.choice([2048, 16384, 65536])
        tags.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="", data=picture(rng, size)))
    version = 3 if i % 2 == 0 else 4
    tags.save(path, v1=2 if i % 3 != 1 else 0, v2_version=version,
              padding=lambda info: rng.choice([0, 256, 1024, 4096]))


def wm_picture(data):
    mime = "image/jpeg\0".encode("utf-16-le")
    desc = "\0".encode("utf-16-le")
    return struct.pack("<BI", 3, len(data)) + mime + desc + data


def tag_wma(path, i, rng):
    tags = ASF(path)
    tags["Title"] = phrase(rng, rng.randint(1, 5))
    tags["Author"] = phrase(rng, 2)
    tags["WM/AlbumTitle"] = phrase(rng, 3)
    tags["WM/TrackNumber"] = str(i % 20 + 1)
    tags["WM/Genre"] = rng.choice(GENRES)
    tags["WM/Year"] = str(1960 + i % 60)
    if i % 3 == 0:
        tags["WM/AlbumArtist"] = phrase(rng, 2)
        tags["Description"] = phrase(rng, 12)
    if i % 4 == 0:
        size = rng.choice([2048, 16384, 60000])
        tags["WM/Picture"] = [ASFByteArrayAttribute(wm_picture(picture(rng, size)))]
    tags.save()


def main():
    folder = sys.argv[1]
    mp3_count = int(sys.argv[2]) if len(sys.argv) > 2 else 240
    wma_count = int(sys.argv[3]) if len(sys.argv) > 3 else 120
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(1)
    with tempfile.TemporaryDirectory() as work:
        wav = os.path.join(work, "tone.wav")
        mp3 = os.path.join(work, "tone.mp3")
        wma = os.path.join(work, "tone.wma")
        run("sox", "-n", "-r", "44100", "-c", "2", wav, "synth", "4", "sine", "440", "vol", "0.5")
        run("lame", "--quiet", "-b", "128", wav, mp3)
        run("ffmpeg", "-y", "-loglevel", "error", "-i", wav, "-c:a", "wmav2", "-b:a", "128k", wma)
        for i in range(mp3_count):
            path = os.path.join(folder, "track%03d.mp3" % i)
            shutil.copyfile(mp3, path)
            tag_mp3(path, i, rng)
        for i in range(wma_count):
            path = os.path.join(folder, "track%03d.wma" % i)
            shutil.copyfile(wma, path)
            tag_wma(path, i, rng)


if __name__ == "__main__":
    main()
