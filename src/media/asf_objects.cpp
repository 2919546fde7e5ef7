#include "media/asf_objects.h"

#include "support/stream.h"
#include "support/stream_io.h"

Result WalkAsfHeader(SeekableStream* stream, AsfObjectVisitor* visitor, uint32_t* audio_start) {
  Result result = stream->Seek(0);
  if (rc::Failed(result)) return result;
  uint8_t header[asf::kHeaderObjectSize];
  result = ReadExact(stream, header, sizeof(header));
  // Too short to be an ASF file is no failure of the stream.
  if (result == rc::kShortTransfer) return rc::kOk;
  if (rc::Failed(result)) return result;
  AsfGuid guid;
  std::memcpy(guid.bytes, header, sizeof(guid.bytes));
  if (guid != asf::kHeaderObject || header[28] != 1 || header[29] != 2) return rc::kOk;
  const uint32_t count = asf::Le32(header + 24);

  // Without a size the walk is bounded by failing reads alone.
  uint32_t file_size = 0;
  if (rc::Failed(stream->GetSize(&file_size))) file_size = UINT32_MAX;
  uint64_t position = asf::kHeaderObjectSize;
  bool data_seen = false;
  // One object more than the header holds: the Data Object behind it.
  for (uint64_t i = 0; i <= count; ++i) {
    if (rc::Failed(stream->Seek(static_cast<uint32_t>(position)))) return rc::kOk;
    uint8_t raw[asf::kObjectHeadSize];
    if (rc::Failed(ReadExact(stream, raw, sizeof(raw)))) return rc::kOk;
    AsfObjectHead head;
    std::memcpy(head.guid.bytes, raw, sizeof(head.guid.bytes));
    head.size = asf::Le64(raw + 16);
    head.position = static_cast<uint32_t>(position);
    // A size of 0 would visit the same object forever.
    if (head.size < asf::kObjectHeadSize || head.size > file_size - position) return rc::kOk;
    if (visitor != nullptr) {
      result = visitor->OnAsfObject(stream, head);
      if (rc::Failed(result)) return result;
    }
    position += head.size;
    const bool is_data = head.guid == asf::kDataObject;
    if (!is_data && !data_seen && audio_start != nullptr)
      *audio_start = static_cast<uint32_t>(position);
    data_seen = data_seen || is_data;
  }
  return rc::kOk;
}
