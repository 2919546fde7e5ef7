#include "devices/harddisk/firmware_update.h"

#include <algorithm>
#include <new>
#include <vector>

#include "devices/harddisk/player_disk.h"
#include "devices/harddisk/stream_copy.h"
#include "devices/harddisk/tea_stream.h"
#include "devices/harddisk/tree_copy.h"
#include "media/property_set.h"
#include "support/token_set.h"

namespace firmware {

const char kImagePath[] = "/firmware/firmware.lok";
const char kSystemTreeRoot[] = "system/";

void PackageKey(uint32_t key[4]) {
  // Two halves, so that the key never stands whole in the binary.
  static const uint32_t kMask[4] = {0x5A17C3E9, 0x0B6D2F84, 0xE3914C7A, 0x27F0B85D};
  static const uint32_t kMasked[4] = {0x8BD4A73C, 0x91F36E20, 0x4A6C1DB5, 0xD02E7F91};
  for (int i = 0; i < 4; ++i) key[i] = kMask[i] ^ kMasked[i];
}

Result DecipherPackage(Stream* package, MemoryStream* plain) {
  uint32_t key[4];
  PackageKey(key);
  TeaStream decipher(package, key, true);
  decipher.ResetKey();
  return CopyStream(&decipher, plain, kPackageCopyChunk);
}

Result FirmwareAccepted(PropertySet& player_info) {
  std::string capabilities = player_info.GetString("capabilities");
  TokenSetNormalize(&capabilities);
  if (TokenSetContains(capabilities, "firmware")) return rc::kOk;
  return player_info.GetInt("recovery") == 0 ? rc::kFirmwareRefused : rc::kOk;
}

Result ImageSize(SeekableStream* image, uint32_t* size) {
  const Result status = image->GetSize(size);
  if (rc::Failed(status)) return status;
  return *size > kMaxImageSize ? rc::kBadIndex : rc::kOk;
}

namespace {

// Fills the chunk from the stream, at most `limit` bytes. *more: the stream may hold more.
Result FillChunk(Stream* image, uint8_t* chunk, uint32_t limit, uint32_t* filled, bool* more) {
  *filled = 0;
  *more = true;
  while (*filled < limit) {
    uint32_t got = 0;
    const Result status = image->Read(chunk + *filled, limit - *filled, &got);
    if (rc::Failed(status)) return status;
    if (got > limit - *filled) got = limit - *filled;
    *filled += got;
    // The end of the stream; a read that moves nothing counts as the end too.
    if (status != rc::kOk || got == 0) {
      *more = false;
      return rc::kOk;
    }
  }
  if (limit < kChunkBytes) *more = false;  // the size is reached
  return rc::kOk;
}

}  // namespace

Result WriteImageSectors(PlayerDisk* disk, Stream* image, uint32_t size, ProgressSink* progress) {
  if (size > kMaxImageSize) return rc::kBadIndex;
  std::vector<uint8_t> chunk;
  try {
    chunk.resize(kChunkBytes);
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  uint32_t sector = kFirstSector;
  uint32_t done = 0;
  for (bool more = true; more;) {
    if (progress != nullptr) progress->Report(done, size);
    const uint32_t left = size - done;
    uint32_t filled = 0;
    Result status = FillChunk(image, chunk.data(), left < kChunkBytes ? left : kChunkBytes,
                              &filled, &more);
    if (rc::Failed(status)) return status;
    if (filled == 0) break;
    std::fill(chunk.begin() + filled, chunk.end(), 0);
    status = disk->WriteSectors(0, sector, kChunkSectors, chunk.data());
    if (rc::Failed(status)) return status;
    sector += kChunkSectors;
    done += filled;
  }
  if (progress != nullptr) progress->Report(done, size);
  return rc::kOk;
}

Result CopySystemTree(FileSystem* package, FileSystem* system_volume, ProgressSink* progress) {
  return TreeCopy::Copy(package, kSystemTreeRoot, system_volume, "/", progress);
}

}  // namespace firmware
