// MD5 message digest (RFC 1321), used for content fingerprints and the network login.
#pragma once

#include <cstdint>

constexpr uint32_t kMd5DigestSize = 16;

// Hashes `length` bytes in one call; a negative length means `data` is NUL-terminated text
// whose length is counted. The digest is the standard 16 bytes (words A, B, C, D, each little
// endian).
void Md5Digest(uint8_t digest[kMd5DigestSize], const void* data, int32_t length);
