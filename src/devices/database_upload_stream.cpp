#include "devices/database_upload_stream.h"

#include <new>
#include <vector>

#include "devices/sardane_channel_b.h"
#include "media/property_holder.h"

DatabaseUploadStream::DatabaseUploadStream(uint16_t storage, SardaneChannelB* channel,
                                           UsbHardware* transport, Clock* clock)
    : BlockWriter(kBlockSize), storage_(storage), channel_(channel), session_(transport, clock) {}

DatabaseUploadStream::~DatabaseUploadStream() { Abort(); }

void DatabaseUploadStream::Release() {
  session_.AbortIfData();
  while (session_.lock_count() > 0 && rc::Succeeded(session_.Unlock())) {
  }
}

Result DatabaseUploadStream::Begin() {
  Result result = session_.Lock();
  if (rc::Succeeded(result)) result = session_.BeginSend(storage_);
  if (rc::Failed(result)) Release();
  return result;
}

Result DatabaseUploadStream::WriteBlock(const uint8_t* block, uint32_t length) {
  // The block is zero-filled behind `length`, so the rounded length sends only padding more.
  const uint32_t rounded = (length + kLengthUnit - 1) / kLengthUnit * kLengthUnit;
  Result result = session_.SendTail(block, rounded);
  if (rc::Failed(result)) Release();
  return result;
}

Result DatabaseUploadStream::FinishFile(PropertyHolder& file) {
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  RefPtr<PropertySet> props = file.GetSet();
  Result result = props ? channel_->EncodeFileRecord(record.data(), *props) : rc::kOutOfMemory;
  if (rc::Succeeded(result)) result = session_.SendInfo(record.data());
  Release();
  return rc::Succeeded(result) ? channel_->AddFileRow(file) : result;
}

Result DatabaseUploadStream::Cancel() {
  Release();
  return rc::kOk;
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
