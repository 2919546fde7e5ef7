// FileReplacer: moves installed files aside and copies new ones over them. A file that
// Windows keeps in use is replaced at the next restart instead, and the replacer remembers
// that a restart is owed. The Windows NT family and Windows 9x differ only in how a move is
// deferred.
#pragma once

#include <string>

#include "support/result_codes.h"

class FileReplacer {
 public:
  FileReplacer() = default;
  FileReplacer(const FileReplacer&) = delete;
  FileReplacer& operator=(const FileReplacer&) = delete;

  // Moves the file at `path` to `new_name`, replacing what is there.
  virtual Result Remove(const std::string& path, const std::string& new_name);
  // Copies `source` over `destination`. The destination stays as it was until a complete
  // copy stands beside it.
  virtual Result Install(const std::string& source, const std::string& destination);
  // True when any operation had to wait for the next restart.
  virtual bool Deferred() const { return deferred_; }
  virtual ~FileReplacer() = default;
  virtual Result DeferredMove(const std::string& source, const std::string& destination) = 0;
  virtual Result DeferredCopy(const std::string& source, const std::string& destination);

 protected:
  bool deferred_ = false;
};

// MoveFileEx with delay-until-reboot.
class NtFileReplacer : public FileReplacer {
 public:
  Result DeferredMove(const std::string& source, const std::string& destination) override;
};

// The "rename" section of the Windows folder's WININIT.INI.
class Win9xFileReplacer : public FileReplacer {
 public:
  explicit Win9xFileReplacer(std::string windows_folder)
      : windows_folder_(std::move(windows_folder)) {}
  Result DeferredMove(const std::string& source, const std::string& destination) override;

 private:
  std::string windows_folder_;
};

// The sibling a new copy is written to before it takes the destination's place.
std::string PendingCopyName(const std::string& destination);
