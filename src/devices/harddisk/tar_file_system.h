// Firmware packages as tar archives: a read-only file system over an in-memory ustar image
// (the image is not copied and must outlive the file system), and the GNU magic test.
#pragma once

#include <cstdint>
#include <memory>

#include "devices/harddisk/file_system.h"

class TarFileSystem {
 public:
  // True when the 8 bytes at offset 257 are the GNU magic "ustar  \0"; seeks back to 0.
  static bool IsTarStream(SeekableStream* stream);
  static Result Create(const uint8_t* image, uint64_t length, std::unique_ptr<FileSystem>* fs);
  // rc::kShortTransfer when a member's header claims more bytes than the image holds of it (an
  // archive cut short), else S_OK.
  static Result CheckWhole(const uint8_t* image, uint64_t length);
};
