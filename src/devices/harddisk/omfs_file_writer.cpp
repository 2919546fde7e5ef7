#include "devices/harddisk/omfs_file_writer.h"

#include <new>

#include "devices/device_results.h"
#include "devices/stream_copy.h"
#include "devices/harddisk/tarnu_channel.h"
#include "media/property_holder.h"

OmfsFileWriter::~OmfsFileWriter() {
  if (state() == kOpen) Cancel();
}

Result OmfsFileWriter::Create(TarnuChannel* channel, std::unique_ptr<OmfsFileWriter>* writer) {
  std::unique_ptr<OmfsFileWriter> made(new (std::nothrow) OmfsFileWriter(channel));
  if (!made) return rc::kOutOfMemory;
  const Result result = made->Open();
  if (rc::Succeeded(result)) *writer = std::move(made);
  return result;
}

Result OmfsFileWriter::Begin() {
  FileSystem* volume = channel_->music_volume();
  if (volume == nullptr) return rc::kFail;
  Result result = volume->GetSpace(&space_);
  if (rc::Failed(result)) return result;
  bytes_written_ = 0;
  // Replace: a longer stale file must not leave its tail behind the new content.
  result = OpenFileSystemStream(volume, kContentPath,
                                kFsStreamWrite | kFsStreamCreate | kFsStreamReplace, &content_);
  content_exists_ = rc::Succeeded(result);
  return result;
}

Result OmfsFileWriter::WriteBlock(const uint8_t* block, uint32_t length) {
  if (!content_) return rc::kFail;
  bytes_written_ += length;
  const uint64_t block_size = space_.block_size ? space_.block_size : 1;
  const uint64_t reserve = TarnuChannel::kReserveBytes / block_size;
  const uint64_t usable = space_.free_blocks > reserve ? space_.free_blocks - reserve : 0;
  if (bytes_written_ / block_size > usable) return rc::kPlayerFull;
  return WriteAll(content_.get(), block, length);
}

Result OmfsFileWriter::FinishFile(PropertyHolder& file) {
  content_.reset();
  RefPtr<PropertySet> properties = file.GetSet();
  if (!properties) return rc::kOutOfMemory;
  const Result result =
      channel_->StoreTrackProperties(*properties, std::string(), true, kContentPath);
  if (rc::Succeeded(result)) content_exists_ = false;
  return result;
}

Result OmfsFileWriter::Cancel() {
  content_.reset();
  if (!content_exists_) return rc::kOk;
  content_exists_ = false;
  FileSystem* volume = channel_->music_volume();
  return volume ? volume->Remove(kContentPath) : rc::kOk;
}
