// The content fingerprint ("rid") that recognises the same music in two files whose tags
// differ, and the title made from a file name when a file has none.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class SeekableStream;

// 32 lowercase hexadecimal digits: the MD5 of the bytes [start, end) when there are at most
// 65536 of them, else the byte-wise exclusive or of the MD5s of the 65536 bytes at the start,
// at the end and in the middle. A range reaching past the stream is cut at its end, and a
// start beyond the end gives the empty range. Result: 0, or the first failure of a size query,
// seek or read (the fingerprint is then left as it was).
Result ContentFingerprint(SeekableStream* stream, uint32_t start, uint32_t end,
                          std::string* fingerprint);

// The file name without its folder and its last extension, each '_' turned into a space:
// "C:\Music\My_Song.mp3" gives "My Song".
std::string TitleFromFileName(const std::string& path);
