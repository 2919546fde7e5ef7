#include "devices/flash/database_upload_stream.h"

#include <new>

#include "devices/flash/sardane_channel_b.h"

DatabaseUploadStream::DatabaseUploadStream(uint16_t storage, SardaneChannelB* channel,
                                           UsbHardware* transport, Clock* clock)
    : FlashUploadWriter(storage, channel, transport, clock, kBlockSize), channel_b_(channel) {}

Result DatabaseUploadStream::WriteBlock(const uint8_t* block, uint32_t length) {
  // The block is zero-filled behind `length`, so the rounded length sends only padding more.
  const uint32_t rounded = (length + kLengthUnit - 1) / kLengthUnit * kLengthUnit;
  Result result = session().SendTail(block, rounded);
  if (rc::Failed(result)) Release();
  return result;
}

Result DatabaseUploadStream::FinishFile(PropertyHolder& file) {
  Result result = FlashUploadWriter::FinishFile(file);
  return rc::Succeeded(result) ? channel_b_->AddFileRow(file) : result;
}

Result DatabaseUploadStream::Create(uint32_t storage, SardaneChannelB* channel,
                                    UsbHardware* transport, Clock* clock, OutputStream** out) {
  if (channel == nullptr || transport == nullptr || out == nullptr) return rc::kInvalidArg;
  if (storage > 0xFFFF) return rc::kBadIndex;
  Result result = channel->LoadDatabase();
  if (rc::Failed(result)) return result;
  auto* stream = new (std::nothrow)
      DatabaseUploadStream(static_cast<uint16_t>(storage), channel, transport, clock);
  if (stream == nullptr) return rc::kOutOfMemory;
  result = stream->Open();
  if (rc::Failed(result)) {
    delete stream;
    return result;
  }
  *out = stream;
  return rc::kOk;
}
