// The stream that a new file for a mass-storage player is written through: the bytes go into a
// temporary "TKM....TMP" file in the drive's root; at the end the file is moved to its final
// path and recorded in the player's file source. A cancelled or failed upload removes its
// temporary file.
#pragma once

#include <memory>
#include <string>

#include "devices/block_writer.h"
#include "support/file_stream.h"
#include "support/ref_counted.h"

class MscFileSource;

class MscFileWriter : public BlockWriter {
 public:
  static constexpr uint32_t kBlockSize = 0x100000;

  // `drive_root` is "E:\"; `file_source` records the finished file. It belongs to `owner` (the
  // device), which the writer holds, so that an upload finished after its channel and device
  // were released still reaches an open library. Without an owner the source must outlive
  // the writer.
  MscFileWriter(const std::string& drive_root, MscFileSource* file_source,
                RefCounted* owner = nullptr);
  ~MscFileWriter() override;

  const std::string& temporary_path() const { return temporary_path_; }

 protected:
  Result Begin() override;
  Result WriteBlock(const uint8_t* block, uint32_t length) override;
  // The destination is "name" when that is a full path on this drive, else the path built from
  // the file's properties; an existing file is never replaced.
  Result FinishFile(PropertyHolder& file) override;
  Result Cancel() override;

 private:
  Result Destination(PropertyHolder& file, std::string* path) const;
  void CloseTemporary();

  RefPtr<RefCounted> owner_;
  std::string drive_root_;
  MscFileSource* file_source_;
  std::string temporary_path_;
  std::unique_ptr<FileStream> temporary_;
};
