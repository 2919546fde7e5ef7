"""Makes the audio files of the flash end-to-end test: a constant-rate stereo MP3 (lame, tagged
by id3v2), a variable-rate mono MP3 at 22050 Hz (lame, id3v2) and a WMA (ffmpeg, tagged by
ffmpeg). Writes their bytes, their tags as mutagen reads them, the duration, bit rate, sample
rate and channels as both mutagen and ffprobe report them, and the content fingerprint computed
here with hashlib.

mutagen leaves the encoder's delay and padding out of an MP3's length, ffprobe counts every
frame: a player's record may hold either, so the test takes the two as the bounds.

usage: flash_end_to_end_fixtures.py <output.inc>
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

import mutagen
import mutagen.asf
import mutagen.id3

from oracle_common import fingerprint


def run(command):
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def c_text(text):
    out = '"'
    for byte in text.encode("utf-8"):
        out += chr(byte) if 32 <= byte < 127 and chr(byte) not in '\\"?' else "\\x%02x\" \"" % byte
    return out + '"'


def c_bytes(data):
    lines = []
    for i in range(0, len(data), 32):
        lines.append('      "' + "".join("\\x%02x" % b for b in data[i:i + 32]) + '"')
    return "\n".join(lines)


def ffprobe(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
         "format=duration:stream=sample_rate,bit_rate,channels", "-of", "json", path],
        check=True, stdin=subprocess.DEVNULL, capture_output=True).stdout
    probe = json.loads(out)
    stream = probe["streams"][0]
    return {"duration_ms": round(float(probe["format"]["duration"]) * 1000),
            "bitrate": int(stream["bit_rate"]), "sample_rate": int(stream["sample_rate"]),
            "channels": int(stream["channels"])}


def mp3_audio_bounds(data):
    """The audio lies between the ID3v2 tag (with its footer, if any) and an ID3v1 tag."""
    size = 0
    for byte in data[6:10]:
        size = size << 7 | byte
    start = 10 + size + (10 if data[5] & 0x10 else 0)
    end = len(data) - (128 if data[-128:-125] == b"TAG" else 0)
    return start, end


def make_mp3(folder, name, wav, lame_options, tags):
    path = os.path.join(folder, name)
    run(["lame", "--quiet"] + lame_options + [wav, path])
    run(["id3v2", "-2", "-t", tags[0], "-a", tags[1], "-A", tags[2], path])
    id3 = mutagen.id3.ID3(path)
    texts = (str(id3["TIT2"]), str(id3["TPE1"]), str(id3["TALB"]))
    return path, texts, mp3_audio_bounds


def make_wma(folder, name, wav, tags):
    path = os.path.join(folder, name)
    run(["ffmpeg", "-v", "error", "-y", "-i", wav, "-map_metadata", "-1", "-fflags",
         "+bitexact", "-c:a", "wmav2", "-b:a", "96k", "-metadata", "title=" + tags[0],
         "-metadata", "artist=" + tags[1], "-metadata", "album=" + tags[2], path])
    asf = mutagen.asf.ASF(path)
    texts = (str(asf["Title"][0]), str(asf["Author"][0]), str(asf["WM/AlbumTitle"][0]))
    # The audio begins with the Data Object, right behind the Header Object.
    return path, texts, lambda data: (struct.unpack_from("<Q", data, 16)[0], len(data))


def row(name, path, texts, bounds):
    with open(path, "rb") as f:
        data = f.read()
    info = mutagen.File(path).info
    probe = ffprobe(path)
    start, end = bounds(data)
    fields = [
        c_text(name), "%u" % len(data), "\n" + c_bytes(data),
        c_text(texts[0]), c_text(texts[1]), c_text(texts[2]),
        "%u" % round(info.length * 1000), "%u" % probe["duration_ms"],
        "%u" % info.bitrate, "%u" % probe["bitrate"],
        "%u" % info.sample_rate, "%u" % probe["sample_rate"],
        "%u" % info.channels, "%u" % probe["channels"],
        c_text(fingerprint(data, start, end)),
    ]
    return "  {" + ", ".join(fields) + "},"


def main(out_path):
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        stereo = os.path.join(folder, "stereo.wav")
        mono = os.path.join(folder, "mono.wav")
        # The stereo files take more than one 16 KiB data piece, the mono one less than one.
        run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", stereo, "synth", "2.5", "sine",
             "440", "sine", "660"])
        run(["sox", "-n", "-r", "22050", "-c", "1", "-b", "16", mono, "synth", "2", "sine",
             "330"])
        made = [
            ("Road_Song.mp3", make_mp3(folder, "cbr.mp3", stereo, ["-b", "128"],
                                       ("Road Song", "Oracle Artist", "Oracle Album"))),
            ("Mono_Song.mp3", make_mp3(folder, "vbr.mp3", mono, ["-V", "5", "-m", "m"],
                                       ("Mono Song", "Mono Artist", "Mono Album"))),
            ("Windows_Song.wma", make_wma(folder, "w.wma", stereo,
                                          ("Windows Song", "Windows Artist",
                                           "Caf\u00e9 Album"))),
        ]
        for name, (path, texts, bounds) in made:
            rows.append(row(name, path, texts, bounds))
    lines = [
        "// Generated by tests/oracle/flash_end_to_end_fixtures.py from lame, id3v2, ffmpeg,",
        "// mutagen and ffprobe. Do not edit.",
        "struct EndToEndAudio {",
        "  const char* file_name;  // the name the upload is created with",
        "  uint32_t size;",
        "  const char* bytes;",
        "  const char* title;  // mutagen's view of the tags",
        "  const char* artist;",
        "  const char* album;",
        "  uint32_t mutagen_duration_ms, ffprobe_duration_ms;",
        "  uint32_t mutagen_bitrate, ffprobe_bitrate;  // bits per second",
        "  uint32_t mutagen_sample_rate, ffprobe_sample_rate;",
        "  uint32_t mutagen_channels, ffprobe_channels;",
        "  const char* rid;  // hashlib over the audio",
        "};",
        "static const EndToEndAudio kEndToEndAudio[] = {",
    ] + rows + ["};"]
    with open(out_path, "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
