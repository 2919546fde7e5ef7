#include "devices/flash/upload_writer.h"

#include <new>
#include <vector>

#include "devices/flash/sardane_channel.h"
#include "media/property_holder.h"

ProtocolUploadStream::ProtocolUploadStream(uint16_t storage, UsbHardware* transport,
                                           Clock* clock, uint32_t block_size)
    : BlockWriter(block_size), storage_(storage), session_(transport, clock) {}

ProtocolUploadStream::~ProtocolUploadStream() { Abort(); }

void ProtocolUploadStream::Release() {
  session_.AbortIfData();
  while (session_.lock_count() > 0 && rc::Succeeded(session_.Unlock())) {
  }
}

Result ProtocolUploadStream::Begin() {
  Result result = session_.Lock();
  if (rc::Succeeded(result)) result = session_.BeginSend(storage_);
  if (rc::Failed(result)) Release();
  return result;
}

Result ProtocolUploadStream::WriteBlock(const uint8_t* block, uint32_t) {
  // The player takes whole chunks only; the record tells it the file's true length.
  Result result = session_.SendChunk(block);
  if (rc::Failed(result)) Release();
  return result;
}

Result ProtocolUploadStream::Cancel() {
  Release();
  return rc::kOk;
}

FlashUploadWriter::FlashUploadWriter(uint16_t storage, SardaneChannel* channel,
                                     UsbHardware* transport, Clock* clock, uint32_t block_size)
    : ProtocolUploadStream(storage, transport, clock, block_size), channel_(channel) {}

Result FlashUploadWriter::FinishFile(PropertyHolder& file) {
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  RefPtr<PropertySet> props = file.GetSet();
  Result result = props ? channel_->EncodeFileRecord(record.data(), *props) : rc::kOutOfMemory;
  if (rc::Succeeded(result)) result = session().SendInfo(record.data());
  Release();
  return result;
}

Result CreateUploadWriter(uint32_t storage, SardaneChannel* channel, UsbHardware* transport,
                          Clock* clock, OutputStream** out) {
  if (channel == nullptr || transport == nullptr || out == nullptr) return rc::kInvalidArg;
  if (storage > 0xFFFF) return rc::kBadIndex;
  return OpenUploadWriter(new (std::nothrow) FlashUploadWriter(static_cast<uint16_t>(storage),
                                                               channel, transport, clock),
                          out);
}

Result OpenUploadWriter(FlashUploadWriter* writer, OutputStream** out) {
  if (writer == nullptr) return rc::kOutOfMemory;
  Result result = writer->Open();
  if (rc::Failed(result)) {
    delete writer;
    return result;
  }
  *out = writer;
  return rc::kOk;
}
