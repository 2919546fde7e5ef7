// Copies a directory tree between two file systems (a firmware package onto the player's
// system volume), one progress step per entry. Names that would leave the destination tree
// ("." and "..", slashes, drive or absolute forms) stop the copy.
#pragma once

#include <string>

#include "devices/harddisk/file_system.h"
#include "devices/stream_copy.h"

class TreeCopy {
 public:
  static constexpr uint32_t kChunk = 64 * 1024;
  static constexpr uint32_t kSteps = 20;

  static Result Copy(FileSystem* source, const std::string& source_root, FileSystem* destination,
                     const std::string& destination_root, ProgressSink* sink);

  // The base with a trailing '/', the relative part without its leading '/', no trailing '/'.
  static std::string Join(const std::string& base, const std::string& relative);

 private:
  TreeCopy(FileSystem* source, const std::string& source_root, FileSystem* destination,
           const std::string& destination_root, ProgressSink* sink)
      : source_(source), source_root_(source_root), destination_(destination),
        destination_root_(destination_root), stepper_(sink, kSteps) {}

  Result CopyDirectory(const std::string& relative);
  Result CopyEntry(const std::string& relative);
  Result CopyFile(const std::string& relative);

  FileSystem* source_;
  std::string source_root_;
  FileSystem* destination_;
  std::string destination_root_;
  ProgressStepper stepper_;
};
