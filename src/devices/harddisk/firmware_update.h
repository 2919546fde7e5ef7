// The pieces of a hard-disk player's firmware update that need no channel: the package key and
// deciphering, the player's permission, the system tree copy, and the raw firmware area in front
// of the partitions, written from sector 2 in whole 32 KiB chunks.
//
// A package is enciphered with the package key. Deciphered, it is either a GNU tar archive whose
// "system/" tree goes onto the system volume and whose "/firmware/firmware.lok" is the image,
// or not a tar archive, and then the package's own bytes (as they are) are the image.
#pragma once

#include <cstdint>

#include "devices/harddisk/file_system.h"
#include "devices/progress_sink.h"
#include "support/memory_stream.h"

class PlayerDisk;
class PropertySet;

namespace rc {
constexpr Result kFirmwareRefused = static_cast<Result>(0xC004902D);
}

namespace firmware {

constexpr uint32_t kFirstSector = 2;
constexpr uint32_t kChunkSectors = 64;
constexpr uint32_t kChunkBytes = kChunkSectors * 512;
// The area ends where the system volume begins: 16 MiB less the two sectors in front.
constexpr uint32_t kMaxImageSize = 0xFFFE00;
constexpr uint32_t kPackageCopyChunk = 0x10000;
extern const char kImagePath[];      // "/firmware/firmware.lok" inside a package
extern const char kSystemTreeRoot[];  // "system/" inside a package

// The 128-bit key of the players' packages.
void PackageKey(uint32_t key[4]);

// The whole package, deciphered, appended to *plain.
Result DecipherPackage(Stream* package, MemoryStream* plain);

// S_OK when the player information lists the capability "firmware" or the player is in recovery
// mode ("recovery" not 0); else rc::kFirmwareRefused.
Result FirmwareAccepted(PropertySet& player_info);

// The image's size; rc::kBadIndex (out of range) above kMaxImageSize.
Result ImageSize(SeekableStream* image, uint32_t* size);

// Writes `size` bytes of the image, from its current position, into the firmware area, the last
// chunk padded with zeros; reports (bytes done, size) before each chunk and once at the end. The
// caller holds the bus. Never writes past `size` bytes, even when the stream holds more.
Result WriteImageSectors(PlayerDisk* disk, Stream* image, uint32_t size, ProgressSink* progress);

// Copies the package's "system/" tree onto the system volume's root.
Result CopySystemTree(FileSystem* package, FileSystem* system_volume, ProgressSink* progress);

}  // namespace firmware
