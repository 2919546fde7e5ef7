// Versions of files to install: the "DriverVer" date of an INF, none for a catalogue, the
// fixed file information of a version resource for everything else.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

struct FileVersion {
  int32_t high = 0;
  uint32_t low = 0;
};

// Negative, zero or positive as a is older, the same as or newer than b: the high word first
// (signed), then the low word (unsigned).
int CompareVersions(const FileVersion& a, const FileVersion& b);

// 0 with the version; 1 with (0, 0) when the file, its value or its resource is missing.
Result ReadFileVersion(const std::string& path, FileVersion* version);

// The "DriverVer" text of an INF's "Version" section as a version: "month/day/year[,...]".
// False when it has fewer than three parts.
bool ParseDriverVer(const std::string& text, FileVersion* version);
