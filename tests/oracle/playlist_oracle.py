"""Checks the playlists our writers make with tools nobody here wrote, and our readers with
playlists written here by hand from the formats' descriptions.

PLS files must load in Python's configparser (strict: no repeated keys) with Version 2, a
NumberOfEntries that matches, and FileN/TitleN/LengthN whose paths lead to the tracks; ASX files
must pass `xmllint --noout` and give back, through ElementTree, every title, author, duration and
href; M3U files are read by the rules of the format. Our readers must then read every written
playlist back to the tracks' absolute paths, read the hand-made playlists (CR LF, byte-order
marks, relative and absolute paths, URLs) as the formats say, and read mutated copies of all of
them without failing, hanging or crashing.

usage: playlist_oracle.py <wine> <playlist_oracle_tool.exe> <work folder>
"""
import configparser
import ntpath
import os
import random
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

from oracle_common import windows_path

WINE, TOOL, WORK = sys.argv[1:4]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def ansi(text):
    return text.encode("cp1252")


# (path under the work folder, title, artist, milliseconds)
TRACKS = [
    ("Music/Band/01 Intro.mp3", "Intro", "Band", 61000),
    ("Music/Band/#2 Hash.mp3", "Hash & <Co> \"q\"", "Band", 185500),
    ("Music/Other/Caf\u00e9.ogg", "Caf\u00e9 \u00dcn\u00efcode", "\u00c4rtist", 3723456),
    ("Music/Top.wma", "", "", 0),
    ("Music/Top Two.wma", "", "Only artist", 1999),
]
PLAIN_M3U_TRACKS = [TRACKS[3], TRACKS[0], TRACKS[1]]


def local(relative):
    return os.path.join(WORK, *relative.split("/"))


def run_tool(commands):
    """Runs our tool on a list of command lines (bytes); returns its result lines (bytes)."""
    command_file = os.path.join(WORK, "commands.txt")
    result_file = os.path.join(WORK, "results.txt")
    with open(command_file, "wb") as f:
        f.write(b"".join(line + b"\n" for line in commands))
    if os.path.exists(result_file):
        os.remove(result_file)
    subprocess.run([WINE, TOOL, windows_path(command_file), windows_path(result_file)],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    with open(result_file, "rb") as f:
        return f.read().split(b"\n")[:-1]


def parse_reads(lines):
    """[(result, [titles], [entries])] of the "read" commands, in order."""
    reads = []
    for line in lines:
        kind, _, value = line.partition(b"\t")
        if kind == b"read":
            reads.append((int(value), [], []))
        elif kind == b"title":
            reads[-1][1].append(value)
        elif kind == b"entry":
            reads[-1][2].append(value)
    return reads


def write_commands(playlist, tracks):
    lines = [b"write\t" + ansi(windows_path(playlist))]
    for path, title, artist, ms in tracks:
        lines.append(b"\t".join([b"entry", ansi(windows_path(local(path))), title.encode(),
                                 artist.encode(), str(ms).encode()]))
    lines.append(b"finish")
    return lines


def resolves_to(folder, entry, track):
    return os.path.normpath(os.path.join(folder, entry)) == os.path.normpath(local(track))


def check_pls(playlist, tracks):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    with open(playlist, encoding="cp1252") as f:
        parser.read_file(f)
    check(parser.sections() == ["playlist"], f"{playlist}: sections {parser.sections()}")
    section = parser["playlist"]
    check(section.get("Version") == "2", f"{playlist}: Version {section.get('Version')}")
    check(section.get("NumberOfEntries") == str(len(tracks)), f"{playlist}: NumberOfEntries")
    folder = os.path.dirname(playlist)
    for n, (path, title, artist, ms) in enumerate(tracks, 1):
        entry = section.get(f"File{n}", "")
        if entry.isascii() and path.isascii():
            check(resolves_to(folder, entry, path), f"{playlist}: File{n}={entry}")
        check(entry.isascii(), f"{playlist}: File{n} is not 7-bit text: {entry!r}")
        name = (f"{artist} - {title}" if artist else title) if title else \
            os.path.splitext(os.path.basename(path))[0]
        check(section.get(f"Title{n}") == name, f"{playlist}: Title{n}={section.get(f'Title{n}')!r}")
        check(section.get(f"Length{n}") == str(ms // 1000), f"{playlist}: Length{n}")


def check_m3u(playlist, tracks, extended):
    with open(playlist, "rb") as f:
        lines = f.read().decode("utf-8").split("\n")
    check(lines[-1] == "", f"{playlist}: no final new line")
    lines = lines[:-1]
    if extended:
        check(lines[0] == "#EXTM3U", f"{playlist}: first line {lines[0]!r}")
        lines = lines[1:]
    folder = os.path.dirname(playlist)
    step = 2 if extended else 1
    check(len(lines) == step * len(tracks), f"{playlist}: {len(lines)} lines")
    for i, (path, title, artist, ms) in enumerate(tracks):
        entry = lines[i * step + step - 1]
        if extended:
            check(lines[i * step] == f"#EXTINF:{ms // 1000},{title} - {artist}",
                  f"{playlist}: {lines[i * step]!r}")
        check(not entry.startswith("#"), f"{playlist}: entry {entry!r} reads as a comment")
        if path.isascii():
            check(resolves_to(folder, entry, path), f"{playlist}: entry {entry!r}")


def check_asx(playlist, tracks):
    lint = subprocess.run(["xmllint", "--noout", playlist], capture_output=True, text=True)
    check(lint.returncode == 0, f"{playlist}: xmllint: {lint.stderr.strip()}")
    root = ET.parse(playlist).getroot()
    check(root.tag == "asx" and root.get("version") == "3.0", f"{playlist}: root {root.tag}")
    entries = root.findall("entry")
    check(len(entries) == len(tracks), f"{playlist}: {len(entries)} entries")
    folder = os.path.dirname(playlist)
    for entry, (path, title, artist, ms) in zip(entries, tracks):
        check((entry.findtext("title") or "") == title, f"{playlist}: title of {path}")
        check((entry.findtext("author") or "") == artist, f"{playlist}: author of {path}")
        duration = entry.find("duration")
        if ms:
            h, m, s = duration.get("value").split(":")
            seconds, _, millis = s.partition(".")
            total = ((int(h) * 60 + int(m)) * 60 + int(seconds)) * 1000 + int(millis)
            check(total == ms, f"{playlist}: duration {duration.get('value')} for {ms}")
        else:
            check(duration is None, f"{playlist}: duration for 0 ms")
        href = entry.find("ref").get("href")
        check("\\" not in href and resolves_to(folder, href, path), f"{playlist}: href {href!r}")


def hand_made_cases(folder):
    """(file name, bytes, expected result, expected titles, expected entries as Windows text)."""
    win = windows_path(folder)
    drive = win[:2]

    def under(*parts):
        return ansi(ntpath.normpath(ntpath.join(win, *parts)))

    return [
        ("crlf.pls",
         b"[playlist]\r\nNumberOfEntries=5\r\nFile1=sub\\a.mp3\r\nTitle1=x\r\n"
         b"File3=C:\\abs\\b.mp3\r\nfile4=http://host/stream\r\n", 0, [],
         [under("sub", "a.mp3"), b"C:\\abs\\b.mp3", b"http://host/stream"]),
        ("bom.pls", b"\xef\xbb\xbf[playlist]\nFile1=../up/c.mp3\nVersion=2\n", 0, [],
         [ansi(ntpath.normpath(ntpath.join(win, "..", "up", "c.mp3")))]),
        ("v3.pls", b"[playlist]\nVersion=3\nFile1=a.mp3\n", 0, [], []),
        ("crlf.m3u",
         b"\xef\xbb\xbf#EXTM3U\r\n#EXTINF:5,T - A\r\nrel/one.mp3\r\n\r\n\\top.mp3\r\n"
         b"D:\\x\\y.mp3\r\nhttp://h/s.mp3\r\n", 0, [],
         [under("rel", "one.mp3"), ansi(drive + "\\top.mp3"), b"D:\\x\\y.mp3",
          b"http://h/s.mp3"]),
        ("plain.m3u", b"a.mp3\nb/c.mp3", 0, [], [under("a.mp3"), under("b", "c.mp3")]),
        ("upper.asx",
         b"<ASX VERSION=\"3.0\">\r\n<TITLE>Mix</TITLE>\r\n<ENTRY><TITLE>In</TITLE>"
         b"<REF HREF=\"a\\b.wma\"/></ENTRY>\r\n<Ref href=\"http://h/x.asf\"/>"
         b"<ref href='single.mp3'/><entry><ref href=\"d/e.mp3\"></ref></entry></ASX>\r\n", 0,
         [b"Mix"], [under("a", "b.wma"), b"http://h/x.asf", under("d", "e.mp3")]),
    ]


def mutate(data, rng):
    data = bytearray(data)
    for _ in range(rng.randint(1, 8)):
        choice = rng.randrange(5)
        at = rng.randrange(len(data) + 1)
        if choice == 0 and data:
            data[min(at, len(data) - 1)] = rng.randrange(256)
        elif choice == 1:
            data[at:at] = rng.choice([b"<", b">", b"\"", b"/", b"[", b"]", b"=", b"\r", b"\n",
                                      b"\0", b"\xef\xbb\xbf", b"File99999999999="])
        elif choice == 2:
            del data[at:at + rng.randint(1, 40)]
        elif choice == 3:
            data[at:at] = data[:rng.randint(0, 200)]
        else:
            data = data[:at]
    return bytes(data)


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    for path, *_ in TRACKS:
        os.makedirs(os.path.dirname(local(path)), exist_ok=True)
        open(local(path), "wb").close()
    lists = os.path.join(WORK, "lists")
    os.makedirs(lists)

    written = []  # (playlist, tracks, checker)
    for folder in (lists, local("Music")):
        for ext in ("pls", "m3u", "asx", "wax"):
            playlist = os.path.join(folder, f"all.{ext}")
            checker = {"pls": check_pls, "m3u": lambda p, t: check_m3u(p, t, True),
                       "asx": check_asx, "wax": check_asx}[ext]
            written.append((playlist, TRACKS, checker))
        written.append((os.path.join(folder, "plain.m3u"), PLAIN_M3U_TRACKS,
                        lambda p, t: check_m3u(p, t, False)))

    hand = os.path.join(WORK, "hand")
    os.makedirs(hand)
    cases = hand_made_cases(hand)
    for name, data, *_ in cases:
        with open(os.path.join(hand, name), "wb") as f:
            f.write(data)

    commands = []
    for playlist, tracks, _ in written:
        commands += write_commands(playlist, tracks)
    for playlist, _, _ in written:
        commands.append(b"read\t" + ansi(windows_path(playlist)))
    for name, *_ in cases:
        commands.append(b"read\t" + ansi(windows_path(os.path.join(hand, name))))
    lines = run_tool(commands)

    finished = [line for line in lines if line.startswith(b"finished")]
    check(finished == [b"finished\t0"] * len(written), f"writers: {finished}")
    for playlist, tracks, checker in written:
        checker(playlist, tracks)
        check(not os.path.exists(playlist + ".tmp"), f"{playlist}.tmp left behind")

    reads = parse_reads(lines)
    check(len(reads) == len(written) + len(cases), f"{len(reads)} reads")
    for (playlist, tracks, _), (result, titles, entries) in zip(written, reads):
        expected = [ansi(windows_path(local(path))) for path, *_ in tracks]
        check(result == 0 and entries == expected,
              f"read back {playlist}: {result} {entries} != {expected}")
        check(titles == [], f"read back {playlist}: titles {titles}")
    for (name, _, result, titles, entries), got in zip(cases, reads[len(written):]):
        check(got == (result, titles, entries), f"hand-made {name}: {got} != "
              f"{(result, titles, entries)}")

    # Mutated copies: every read must come back, whatever it finds.
    rng = random.Random(16)
    mutants = os.path.join(WORK, "mutants")
    os.makedirs(mutants)
    sources = [p for p, *_ in written] + [os.path.join(hand, c[0]) for c in cases]
    commands = []
    for i in range(600):
        source = sources[i % len(sources)]
        with open(source, "rb") as f:
            data = mutate(f.read(), rng)
        target = os.path.join(mutants, f"m{i}{os.path.splitext(source)[1]}")
        with open(target, "wb") as f:
            f.write(data)
        commands.append(b"read\t" + ansi(windows_path(target)))
    reads = parse_reads(run_tool(commands))
    check(len(reads) == 600, f"mutants: {len(reads)} reads came back")
    check(all(r[0] == 0 for r in reads), "mutants: a read failed")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(written)} playlists written, {len(cases)} hand-made and 600 mutated read; "
          f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
