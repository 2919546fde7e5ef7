// A stream filter that enciphers or deciphers everything passing through it with TEA and a key
// that changes after every 8-byte block, so a stream is read (or written) from its start in one
// sequence. Firmware packages of the hard-disk players are read through it.
#pragma once

#include <cstdint>

#include "support/stream.h"

class TeaStream : public Stream {
 public:
  // The base stream is not owned. `decipher` set: reads and writes decipher, else encipher.
  TeaStream(Stream* base, const uint32_t key[4], bool decipher);

  // Reads whole blocks (the length is rounded down to a multiple of 8) and transforms them in
  // place; trailing bytes of an incomplete block are passed on as they are.
  Result Read(void* buffer, uint32_t length, uint32_t* count) override;
  // Transforms a copy of the whole blocks and writes it all; the rest is neither written nor
  // counted.
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override;
  // Starts deciphering again from the configured key.
  void ResetKey();

  static void EncipherBlock(uint32_t* y, uint32_t* z, const uint32_t k[4]);
  static void DecipherBlock(uint32_t* y, uint32_t* z, const uint32_t k[4]);

 private:
  void Transform(uint8_t* data, uint32_t whole_bytes);

  uint32_t key_[4];
  uint32_t decipher_key_[4];
  uint32_t encipher_key_[4];
  Stream* base_;
  bool decipher_;
};
