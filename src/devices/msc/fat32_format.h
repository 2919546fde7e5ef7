// Formats a player's volume as FAT32 through the system's volume formatter, "FormatEx" of
// "fmifs.dll", which is loaded by name for each format (it is not present everywhere).
#pragma once

#include <windows.h>

#include <string>

#include "support/result_codes.h"

class ProgressSink;

// The formatter's interface as this system calls it.
using FormatExCallback = BOOLEAN(WINAPI*)(DWORD command, DWORD sub_action, PVOID info);
using FormatExFunction = VOID(WINAPI*)(PWCHAR root, DWORD media_flag, PWCHAR file_system,
                                       PWCHAR label, BOOL quick, DWORD cluster_size,
                                       FormatExCallback callback);

constexpr DWORD kFormatProgress = 0;
constexpr DWORD kFormatDone = 11;

// Where the formatter comes from; tests put their own entry point in its place.
class FormatterLibrary {
 public:
  virtual ~FormatterLibrary() = default;
  // Null when the library or its entry point is missing.
  virtual FormatExFunction Load() = 0;
  virtual void Unload() = 0;
};

// Formats `root` ("E:\") keeping its label. `library`: null for "fmifs.dll", loaded for this
// one format. The progress sink (may be null) is told (percent,
// 100). E_NOTIMPL without the formatter; E_FAIL when the format reports failure or never
// reports progress; the sink's failure when the last report failed.
Result FormatVolumeFat32(const std::string& root, ProgressSink* progress,
                         FormatterLibrary* library = nullptr);
