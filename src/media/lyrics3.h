// Lyrics3 (version 2) blocks, which sit between the audio and an ID3v1 tag.
#pragma once

#include <cstdint>

class SeekableStream;

// The trailer (bytes at the end of the stream that belong to tags) grown by a Lyrics3 block
// that ends where the trailer begins. It grows by the block's size field, which leaves out
// the 15 bytes of the size field and end marker themselves; stored fingerprints and trailer
// values rely on that count. A stream that cannot be read keeps the trailer.
uint32_t ProbeLyrics3(SeekableStream* stream, uint32_t stream_size, uint32_t trailer);
