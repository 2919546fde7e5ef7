// The stream that a new file for a hard-disk player is written through (CreateNewFile): the
// bytes go to "fids0/newfid" on the music volume in 1 MiB blocks, keeping the volume's reserve
// free; at the end the content moves onto its fid and the fid's properties and database row are
// stored. A cancelled or failed file leaves no "fids0/newfid" behind.
#pragma once

#include <memory>

#include "devices/block_writer.h"
#include "devices/harddisk/file_system.h"

class TarnuChannel;

class OmfsFileWriter : public BlockWriter {
 public:
  static constexpr uint32_t kBlockSize = 0x100000;
  static constexpr const char* kContentPath = "fids0/newfid";

  // The channel is not owned and must have its music volume mounted while the file is open.
  explicit OmfsFileWriter(TarnuChannel* channel) : BlockWriter(kBlockSize), channel_(channel) {}
  ~OmfsFileWriter() override;
  // Makes and opens a writer; 0x8007000E when memory runs out.
  static Result Create(TarnuChannel* channel, std::unique_ptr<OmfsFileWriter>* writer);

 protected:
  Result Begin() override;
  Result WriteBlock(const uint8_t* block, uint32_t length) override;
  Result FinishFile(PropertyHolder& file) override;
  Result Cancel() override;

 private:
  TarnuChannel* channel_;
  std::unique_ptr<SeekableStream> content_;
  bool content_exists_ = false;  // "fids0/newfid" was created and not moved yet
  FsSpace space_;
  uint64_t bytes_written_ = 0;
};
