"""Makes FLAC, Ogg Vorbis and WAV files with flac, oggenc, vorbiscomment, ffmpeg and mutagen,
and writes what those files hold, as read by mutagen, exiftool and this script's own reading of
the formats, as a table for lossless_oracle_test.cpp.

Each row is (file, key, expected value); a value of nullptr means the key must be absent, the
key "=result" holds the reader's expected result code. The fingerprint "rid" is computed here
with hashlib over the audio behind the metadata: FLAC frames behind the last metadata block,
Ogg pages behind the three Vorbis header packets, the whole WAV file.

usage: lossless_fixtures.py <output.inc>   (the files go to fixtures/lossless/ beside it)
"""
import os
import shutil
import struct
import subprocess
import sys

from mutagen.flac import FLAC
from mutagen.id3 import ID3, TIT2
from mutagen.oggvorbis import OggVorbis

from oracle_common import c_text, fingerprint, run, windows_path


def id3v2_size(data):
    if data[:3] != b"ID3":
        return 0
    s = data[6:10]
    return 10 + (s[0] << 21 | s[1] << 14 | s[2] << 7 | s[3])


def flac_audio_start(data):
    at = id3v2_size(data)
    assert data[at:at + 4] == b"fLaC"
    at += 4
    while True:
        header = data[at]
        length = int.from_bytes(data[at + 1:at + 4], "big")
        at += 4 + length
        if header & 0x80:
            return at


def ogg_audio_start(data):
    at = id3v2_size(data)
    packets = 0
    while packets < 3:
        assert data[at:at + 4] == b"OggS"
        segments = data[at + 26]
        lacing = data[at + 27:at + 27 + segments]
        packets += sum(1 for v in lacing if v < 255)
        at += 27 + segments + sum(lacing)
    return at


def ogg_crc(page):
    """The page checksum: CRC-32 with polynomial 0x04C11DB7, not reflected, initial value 0."""
    crc = 0
    for byte in page:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
    return crc


def with_serial(page, serial):
    """The page as another logical stream's, its checksum made anew."""
    page = bytearray(page)
    page[14:18] = struct.pack("<I", serial)
    page[22:26] = bytes(4)
    page[22:26] = struct.pack("<I", ogg_crc(page))
    return bytes(page)


def wav_chunks(data):
    at = 12
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        yield cid, data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)


def exiftool_info(path):
    out = subprocess.run(["exiftool", "-s", "-RIFF:all", path], capture_output=True,
                         text=True, check=True).stdout
    return {k.strip(): v.strip() for k, _, v in (l.partition(":") for l in out.splitlines())}


def main(out_path):
    folder = os.path.join(os.path.dirname(os.path.abspath(out_path)), "fixtures", "lossless")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rows = []

    def add(path, key, value):
        rows.append((windows_path(path), key, value))

    def expect_absent(path, *keys):
        for key in keys:
            add(path, key, None)

    stereo = os.path.join(folder, "tone.wav")
    run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", stereo, "synth", "3", "sine", "440",
         "sine", "660"])
    mono = os.path.join(folder, "mono.wav")
    run(["sox", "-n", "-r", "22050", "-c", "1", "-b", "16", mono, "synth", "1", "sine", "300"])

    # FLAC: comments, the same audio with an ID3v2 tag in front, and a retagged copy.
    flac_tags = ["TITLE=Flac Title", "Artist=Flac Artist", "DATE=2004", "TRACKNUMBER=3",
                 "ALBUM=Caf\u00e9 Album", "MOOD=calm", "RID=bogus", "DURATION=1",
                 "fid_generation=9", "CD_TOC=1+2", "noequals"]
    tagged = os.path.join(folder, "tagged.flac")
    run(["flac", "-s", "-f", "-o", tagged, stereo] +
        [a for t in flac_tags if "=" in t for a in ("-T", t)])
    id3 = os.path.join(folder, "with_id3.flac")
    shutil.copy(tagged, id3)
    tag = ID3()
    tag.add(TIT2(encoding=3, text="ID3 Title"))
    tag.save(id3, v2_version=3)
    retagged = os.path.join(folder, "retagged.flac")
    shutil.copy(tagged, retagged)
    run(["metaflac", "--remove-all-tags", "--set-tag=TITLE=" + "Long " * 400, retagged])
    mono_flac = os.path.join(folder, "mono.flac")
    run(["flac", "-s", "-f", "-o", mono_flac, mono])
    for path in (tagged, id3, retagged, mono_flac):
        with open(path, "rb") as f:
            data = f.read()
        info = FLAC(path).info
        ms = info.total_samples * 1000 // info.sample_rate
        add(path, "=result", "0")
        add(path, "codec", "flac")
        add(path, "samplerate", str(info.sample_rate))
        add(path, "duration", str(ms))
        add(path, "length", str(len(data)))
        add(path, "bitrate", "v%s%d" % ("s" if info.channels == 2 else "m",
                                        len(data) * 8 * 1000 // ms // 1000))
        add(path, "rid", fingerprint(data, flac_audio_start(data), len(data)))
    comments = FLAC(tagged).tags
    add(tagged, "title", comments["title"][0])
    add(tagged, "artist", comments["artist"][0])
    add(tagged, "year", comments["date"][0])
    add(tagged, "tracknr", comments["tracknumber"][0])
    add(tagged, "source", comments["album"][0])
    add(tagged, "mood", comments["mood"][0])
    expect_absent(tagged, "fid_generation", "cd_toc", "date", "album", "noequals")
    add(id3, "title", "ID3 Title")
    expect_absent(id3, "artist", "mood")
    add(retagged, "title", FLAC(retagged).tags["title"][0])

    # Ogg Vorbis: comments, no comments at all, an ID3v2 tag in front.
    ogg = os.path.join(folder, "tagged.ogg")
    run(["oggenc", "-Q", "-q", "3", "-t", "Ogg Title", "-a", "Ogg Artist", "-l", "Ogg Album",
         "-d", "2005", "-N", "5", "-c", "MOOD=sunny", "-c", "fid_generation=4", "-c",
         "IMAGE_PATH=x.jpg", "-o", ogg, stereo])
    bare = os.path.join(folder, "No_Comments.ogg")
    shutil.copy(ogg, bare)
    subprocess.run(["vorbiscomment", "-w", bare], input=b"", check=True)
    ogg_id3 = os.path.join(folder, "with_id3.ogg")
    shutil.copy(ogg, ogg_id3)
    tag.save(ogg_id3, v2_version=3)
    # The tag's padding holds what looks like the start of a stream: a copy of the real first
    # page (a valid page, beginning of stream), that page as another stream's, or only a page
    # header with that flag.
    fake_pages = []
    with open(ogg, "rb") as f:
        stream = f.read()
    first_page = stream[:27 + stream[26] + sum(stream[27:27 + stream[26]])]
    assert with_serial(first_page, struct.unpack_from("<I", first_page, 14)[0]) == first_page
    for name, fake in (("page_in_padding.ogg", first_page),
                       ("other_stream_in_padding.ogg", with_serial(first_page, 0x1234567)),
                       ("header_in_padding.ogg", b"OggS\0\x02" + bytes(21))):
        path = os.path.join(folder, name)
        shutil.copy(ogg, path)
        tag.save(path, v2_version=3, padding=lambda info: 1024)
        with open(path, "r+b") as f:
            data = f.read()
            tag_end = id3v2_size(data)
            assert data[tag_end - 512:tag_end] == bytes(512)
            f.seek(tag_end - 512)
            f.write(fake)
        fake_pages.append(path)
    # Two streams one after the other (a chained file), a tag and a page in its padding in
    # front: vorbisfile walks back and forth between the links.
    chained = os.path.join(folder, "chained_in_tag.ogg")
    second = os.path.join(folder, "second.ogg")
    run(["oggenc", "-Q", "-q", "3", "-o", second, mono])
    with open(chained, "wb") as f:
        f.write(stream + open(second, "rb").read())
    tag.save(chained, v2_version=3, padding=lambda info: 1024)
    with open(chained, "r+b") as f:
        f.seek(id3v2_size(f.read()) - 512)
        f.write(with_serial(first_page, 0x7654321))
    chained_ms = int((OggVorbis(ogg).info.length + OggVorbis(second).info.length) * 1000)
    os.remove(second)
    add(chained, "~duration", str(chained_ms))
    fake_pages.append(chained)
    for path in [ogg, bare, ogg_id3] + fake_pages:
        with open(path, "rb") as f:
            data = f.read()
        # mutagen reads no Ogg file with a tag in front; the stream behind it is the same.
        info = OggVorbis(path if path in (ogg, bare) else ogg).info
        add(path, "=result", "0")
        add(path, "codec", "vorbis")
        add(path, "samplerate", str(info.sample_rate))
        if path != chained:
            add(path, "~duration", str(int(info.length * 1000)))
        add(path, "bitrate", "v%s%d" % ("s" if info.channels == 2 else "m", info.bitrate // 1000))
        add(path, "rid", fingerprint(data, ogg_audio_start(data), len(data)))
    comments = OggVorbis(ogg).tags
    add(ogg, "title", comments["title"][0])
    add(ogg, "artist", comments["artist"][0])
    add(ogg, "source", comments["album"][0])
    add(ogg, "year", comments["date"][0])
    add(ogg, "tracknr", comments["tracknumber"][0])
    add(ogg, "mood", comments["mood"][0])
    expect_absent(ogg, "fid_generation", "image_path")
    assert not OggVorbis(bare).tags.keys()
    add(bare, "title", "No Comments")
    for path in [ogg_id3] + fake_pages:
        add(path, "title", "ID3 Title")
        expect_absent(path, "artist", "mood")

    # WAV: LIST INFO by ffmpeg, an odd chunk in front of it, 24-bit, float and IMA ADPCM.
    info_wav = os.path.join(folder, "info.wav")
    run(["ffmpeg", "-v", "error", "-y", "-i", mono, "-fflags", "+bitexact", "-metadata",
         "title=Wave Title5", "-metadata", "artist=Wave Artist", "-metadata", "album=Wave Album",
         "-metadata", "genre=Rock", "-metadata", "comment=Odd", "-metadata", "date=1999-05-01",
         "-c:a", "pcm_s16le", info_wav])
    odd = os.path.join(folder, "odd_chunk.wav")
    with open(info_wav, "rb") as f:
        data = f.read()
    extra = b"odd " + struct.pack("<I", 3) + b"abc\0"
    data = data[:4] + struct.pack("<I", len(data) - 8 + len(extra)) + data[8:12] + extra + \
        data[12:]
    with open(odd, "wb") as f:
        f.write(data)
    wide = os.path.join(folder, "s24.wav")
    run(["ffmpeg", "-v", "error", "-y", "-i", stereo, "-c:a", "pcm_s24le", wide])
    adpcm = os.path.join(folder, "ima.wav")
    run(["ffmpeg", "-v", "error", "-y", "-i", stereo, "-c:a", "adpcm_ima_wav", adpcm])
    floating = os.path.join(folder, "float.wav")
    run(["ffmpeg", "-v", "error", "-y", "-i", stereo, "-c:a", "pcm_f32le", floating])
    # Sizes a streaming writer leaves: 0xFFFFFFFF for RIFF and data when piped, and a RIFF
    # size larger than a file cut short inside its audio.
    piped = os.path.join(folder, "piped.wav")
    with open(piped, "wb") as f:
        subprocess.run(["ffmpeg", "-v", "error", "-i", stereo, "-c:a", "pcm_s16le", "-f", "wav",
                        "pipe:1"], stdout=f, check=True)
    with open(piped, "rb") as f:
        assert f.read(8)[4:] == b"\xff\xff\xff\xff"
    cut = os.path.join(folder, "cut.wav")
    with open(info_wav, "rb") as f:
        data = f.read()
    with open(cut, "wb") as f:
        f.write(data[:-1001])
    for path in (info_wav, odd, wide, adpcm, piped, cut):
        with open(path, "rb") as f:
            data = f.read()
        chunks = dict(wav_chunks(data))
        fmt = chunks[b"fmt "]
        tag_, channels, rate, per_second, _, bits = struct.unpack_from("<HHIIHH", fmt)
        if tag_ == 0xFFFE:
            tag_ = struct.unpack_from("<H", fmt, 24)[0]
        add(path, "=result", "0")
        add(path, "codec", "wave-ima-adpcm" if tag_ == 0x11 else "wave")
        add(path, "samplerate", str(rate))
        add(path, "bitrate", "f%s%d" % ("m" if channels == 1 else "s",
                                        channels * bits * rate // 1000))
        add(path, "duration", str(len(chunks[b"data"]) * 1000 // per_second))
        add(path, "length", str(len(data)))
        add(path, "rid", fingerprint(data, 0, len(data)))
    # Laid out from the RIFF description: a format chunk without a byte rate, and a first INFO
    # list whose last entry runs past it, in front of ffmpeg's list.
    with open(info_wav, "rb") as f:
        data = f.read()
    fmt_at = data.index(b"fmt ")
    zero_rate = os.path.join(folder, "zero_rate.wav")
    with open(zero_rate, "wb") as f:
        f.write(data[:fmt_at + 16] + bytes(4) + data[fmt_at + 20:])
    first = (b"INFO" + b"ISBJ" + struct.pack("<I", 4) + b"Sub\0" +
             b"ITCH" + struct.pack("<I", 90) + b"Tc")
    two_lists = os.path.join(folder, "two_lists.wav")
    extra = b"LIST" + struct.pack("<I", len(first)) + first
    with open(two_lists, "wb") as f:
        f.write(data[:4] + struct.pack("<I", len(data) - 8 + len(extra)) + data[8:12] + extra +
                data[12:])
    for path in (info_wav, odd, zero_rate, two_lists):
        riff = exiftool_info(path)
        add(path, "title", riff["Title"])
        add(path, "artist", riff["Artist"])
        add(path, "source", riff["Product"])
        add(path, "genre", riff["Genre"])
        add(path, "comment", riff["Comment"])
        add(path, "year", riff["DateCreated"][:4])
    add(zero_rate, "=result", "0")
    add(two_lists, "=result", "0")
    add(wide, "title", "s24")
    add(floating, "=result", str(0x80048009 - (1 << 32)))
    expect_absent(floating, "codec", "duration", "rid")
    os.remove(stereo)
    os.remove(mono)

    lines = ["// Generated by tests/oracle/lossless_fixtures.py. Do not edit.",
             "struct LosslessCase {",
             "  const char* path;  // Windows path of the file",
             "  const char* key;  // \"=result\": the result; \"~\" first: within 1",
             "  const char* value;  // nullptr: the key is not delivered",
             "};",
             "static const LosslessCase kLosslessCases[] = {"]
    for path, key, value in rows:
        lines.append("  {%s, %s, %s}," % (c_text(path), c_text(key),
                                          "nullptr" if value is None else c_text(value)))
    lines.append("};")
    with open(out_path, "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
