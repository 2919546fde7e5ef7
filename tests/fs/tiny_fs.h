// TinyFs: a small file-system type for the framework's tests. A volume is a range of a block
// device read through the block cache: block 0 holds the magic "TINY", the size of the one file
// "data" (32-bit, little-endian, bytes 4-7) and the label (bytes 16-47); the file's bytes follow
// from block 1. Reads and writes call an optional hook first, so that tests can hold a request
// inside a type operation.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "fs/fs_type.h"

class TestBlockDevice;

extern const FsType kTinyFsType;

constexpr uint32_t kTinyBlockSize = 512;
constexpr uint32_t kTinyCacheEntries = 4;
// The estimated cost of reading one byte, in IRTime units (nanoseconds).
constexpr uint64_t kTinyReadCostPerByte = 100000000;

// Called with the volume's label at the start of every Read and Write (null: none).
extern std::function<void(const char* label)> tiny_fs_hook;

// DISK:0 of 256 KiB with an empty volume for each label, 64 KiB apart from byte 0.
constexpr uint64_t kTinyVolumeBytes = 65536;
TestBlockDevice* TinyDisk(std::initializer_list<const char*> labels);

// Writes an empty TinyFs volume with the label at the device range (directly, not counted).
void FormatTinyFs(TestBlockDevice* device, uint64_t start, const char* label);
