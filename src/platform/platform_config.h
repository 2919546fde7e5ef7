// PlatformConfig: the 512-byte configuration block, copied whole in and out. The directories
// are platform file-system paths. The size and field order are the same for every reader,
// loaded modules included.
#pragma once

#include <cstdint>

struct PlatformConfig {
  char system_directory[80];
  char modules_directory[80];
  char storage_directory[48];
  char mpeg_directory[48];
  char user_directory[48];
  char spare_text1[16];
  char spare_directory[80];
  uint32_t limit_value;
  uint32_t second_value;
  uint8_t flags[6];
  char spare_text2[79];
  char spare_text3[16];
  uint8_t remainder[3];
};
static_assert(sizeof(PlatformConfig) == 512, "the configuration block is 512 bytes");

// The defaults every platform starts from.
void FillDefaultConfig(PlatformConfig* config);
// Gives every directory that is not empty, shorter than its limit (79 or 47 characters) and
// not ending in '/' a trailing '/'.
void TerminateConfigDirectories(PlatformConfig* config);
