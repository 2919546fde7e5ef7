// What the mass-storage device and channel need of a player's file source (the folder scanner
// and music database that keep the player's tracks). The device creates one on the first
// channel open and owns it; channels hold a pointer. The full file source implements this
// interface; until it exists, EmptyFileSource stands in (no records, nothing stored).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/result_codes.h"

class FileSource;
class PropertyHolder;

// Told of each track the file source knows after a refresh of the drives.
class MscScanListener {
 public:
  virtual ~MscScanListener() = default;
  // The track's properties ("path" is its full path on the drive); false stops the walk.
  virtual bool OnTrack(PropertyHolder& track) = 0;
  // Asked when the refresh meets a file or folder it cannot read, and when its walk is over:
  // false (the player is gone) ends the refresh with rc::kPlayerGone before any record of a
  // file it did not reach is deleted.
  virtual bool PlayerPresent() { return true; }
};

class MscFileSource {
 public:
  // Creation flags.
  static constexpr uint32_t kFlagsWithHostDatabase = 0x0A;
  static constexpr uint32_t kFlagsWithoutHostDatabase = 0x5A;

  virtual ~MscFileSource() = default;
  // A further drive root ("F:\") of the same player.
  virtual Result AddRoot(const std::string& root) = 0;
  virtual Result Open() = 0;
  // Brings the database up to date with the drives, then reports every track. A listener
  // that answers false ends the walk with rc::kEnumerationStopped.
  virtual Result Refresh(MscScanListener* listener) = 0;
  // Calls `rewrite` with the "path" of every record; when it answers true the changed path
  // is stored in the record.
  virtual Result RewritePaths(const std::function<bool(std::string* path)>& rewrite) = 0;
  // A new file has landed at "name" (its full path on the drive, UTF-8): its tags are read,
  // its record made or found, and `file`'s metadata stored in that record alone; "fid",
  // "fid_generation" and "length" come back in `file`.
  virtual Result RecordNewFile(PropertyHolder& file) = 0;
  // The music library behind this source, through which the channel lists, sends, replaces
  // and deletes tracks and playlists; null when the source keeps none.
  virtual FileSource* Library() { return nullptr; }
};

// Makes a closed file source over `first_root`, with its database at `database_path` (empty:
// a temporary one).
using MscFileSourceFactory = std::function<Result(
    uint32_t flags, const std::string& database_path, const std::string& first_root,
    std::unique_ptr<MscFileSource>* out)>;

// Holds its roots and nothing else.
class EmptyFileSource : public MscFileSource {
 public:
  explicit EmptyFileSource(const std::string& first_root) : roots_{first_root} {}
  Result AddRoot(const std::string& root) override;
  Result Open() override { return rc::kOk; }
  Result Refresh(MscScanListener*) override { return rc::kOk; }
  Result RewritePaths(const std::function<bool(std::string*)>&) override { return rc::kOk; }
  Result RecordNewFile(PropertyHolder&) override { return rc::kOk; }
  const std::vector<std::string>& roots() const { return roots_; }

  static Result Create(uint32_t flags, const std::string& database_path,
                       const std::string& first_root, std::unique_ptr<MscFileSource>* out);

 private:
  std::vector<std::string> roots_;
};
