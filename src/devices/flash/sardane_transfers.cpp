// Whole-file transfers of the flash players: upload (requests 108 and 136) and download
// (request 112), both built on the 2048-byte file record.
#include <algorithm>
#include <vector>

#include "devices/device_results.h"
#include "devices/progress_sink.h"
#include "devices/flash/sardane_channel.h"
#include "devices/flash/sardane_records.h"
#include "support/debug_trace.h"
#include "support/stream.h"
#include "support/stream_io.h"

namespace {

Result WriteAll(Stream* sink, const uint8_t* data, uint32_t length) {
  while (length > 0) {
    uint32_t n = 0;
    Result result = sink->Write(data, length, &n);
    if (rc::Failed(result)) return result;
    if (n == 0 || n > length) return rc::kShortTransfer;
    data += n;
    length -= n;
  }
  return rc::kOk;
}

}  // namespace

Result SardaneChannel::SendFile(uint32_t storage, PropertySet& file, Stream* source,
                                ProgressSink* progress) {
  return Upload(108, storage, file, source, progress);
}

Result SardaneChannel::SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                                            ProgressSink* progress) {
  return Upload(136, storage, file, source, progress);
}

Result SardaneChannel::Upload(uint8_t request, uint32_t storage, PropertySet& file,
                              Stream* source, ProgressSink* progress) {
  if (source == nullptr) return rc::kInvalidArg;
  if (storage > 0xFFFF) return rc::kBadIndex;
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  Result result = EncodeFileRecord(record.data(), file);
  if (rc::Failed(result)) return result;
  const uint32_t size = sardane::GetLe32(record.data() + 8);
  // A source that knows its size is checked before anything is sent; the others are held to
  // the record's length while their bytes go out.
  if (auto* seekable = dynamic_cast<SeekableStream*>(source)) {
    uint32_t source_size = 0;
    result = seekable->GetSize(&source_size);
    if (rc::Failed(result)) return result;
    if (source_size != size) return rc::kSizeMismatch;
  }

  ProtocolSession session(transport_, clock_);
  result = session.Lock();
  if (rc::Succeeded(result))
    result = request == 136 ? session.BeginSend136(static_cast<uint16_t>(storage))
                            : session.BeginSend(static_cast<uint16_t>(storage));
  if (rc::Failed(result)) return result;

  std::vector<uint8_t> chunk(qel::kChunkSize);
  uint32_t sent = 0;
  while (rc::Succeeded(result)) {
    if (progress != nullptr) {
      result = progress->Report(sent, size);
      if (rc::Failed(result)) break;
    }
    uint32_t got = 0;
    result = ReadUpTo(source, chunk.data(), qel::kChunkSize, &got);
    if (rc::Failed(result)) break;
    if (got > size - sent) {
      result = rc::kSizeMismatch;
      break;
    }
    if (got == 0) break;
    std::fill(chunk.begin() + got, chunk.end(), 0);
    // The session sends a chunk again itself when the player rejects its checksum.
    result = session.SendChunk(chunk.data());
    if (rc::Succeeded(result)) sent += got;
  }
  if (progress != nullptr) progress->Report(size, size);
  if (rc::Succeeded(result) && sent != size) result = rc::kSizeMismatch;
  if (rc::Succeeded(result))
    result = session.SendInfo(record.data());
  else
    session.AbortIfData();
  return result;
}

Result SardaneChannel::ReceiveFileByRecord(uint32_t value, const uint8_t* record, Stream* sink,
                                           ProgressSink* progress) {
  if (record == nullptr || sink == nullptr) return rc::kInvalidArg;
  ProtocolSession session(transport_, clock_);
  Result result = session.Lock();
  if (rc::Failed(result)) return result;
  result = session.RequestDownload(static_cast<uint16_t>(value), record);
  const uint32_t length = sardane::GetLe32(record + 8);
  uint32_t received = 0;
  std::vector<uint8_t> chunk(qel::kChunkSize);
  while (rc::Succeeded(result) && received < length) {
    if (progress != nullptr) {
      result = progress->Report(received, length);
      if (rc::Failed(result)) break;
    }
    result = session.ReceiveDownloadChunk(chunk.data());
    if (rc::Failed(result)) break;
    const uint32_t n = std::min(length - received, qel::kChunkSize);
    result = WriteAll(sink, chunk.data(), n);
    received += n;
  }
  if (progress != nullptr) progress->Report(length, length);
  if (rc::Failed(result)) {
    TORVEX_TRACE("Something failed with result 0x%x so we're trying to forcibly stop the "
                 "transfer\n",
                 static_cast<unsigned>(result));
    session.Abort();
  }
  return result;
}
