#include "devices/flash/sardane_directory_channel.h"

#include <cstring>
#include <vector>

#include "devices/contents_walk.h"
#include "devices/flash/directory_record.h"
#include "devices/flash/sardane_file_record.h"
#include "devices/flash/upload_writer.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/byte_order.h"
#include "support/debug_trace.h"

namespace {

// Fields the player compares and shows, each kTextFieldWidth bytes.
constexpr uint32_t kTagFields[] = {sardane::kTitleOffset, sardane::kArtistOffset,
                                   sardane::kSourceOffset};

}  // namespace

Result SardaneDirectoryChannel::ForEachEntry(
    uint32_t storage, const std::function<Result(const uint8_t*)>& take) {
  if (storage > 0xFFFF) return rc::kBadIndex;
  ProtocolSession session(transport(), clock());
  Result result = session.Lock();
  if (rc::Failed(result)) return result;
  std::vector<uint8_t> record(qel::kRecordSize);
  for (uint32_t entry = 0; entry < kMaxEntries; ++entry) {
    result = session.ReadRecordBlock(static_cast<uint16_t>(storage), static_cast<uint16_t>(entry),
                                     record.data());
    // An empty entry follows the last one.
    if (result == rc::kShortTransfer) return rc::kOk;
    if (rc::Failed(result)) return result;
    result = take(record.data());
    if (result != rc::kOk) return result;
  }
  TORVEX_TRACE("The player lists more than %u directory entries.\n", kMaxEntries);
  return rc::kBadData;
}

Result SardaneDirectoryChannel::EnumFiles(uint32_t storage, HolderVisitor* visitor) {
  return ForEachEntry(storage, [this, visitor](const uint8_t* record) {
    PropertyHolder file;
    Result result = DecodeFileRecord(file, record, qel::kRecordSize);
    if (rc::Failed(result)) return result;
    return visitor == nullptr || visitor->Visit(file) ? rc::kOk : Result{1};
  });
}

Result SardaneDirectoryChannel::CountStorages(ContentsVisitor* visitor, uint32_t* count) {
  return PassStorages(*this, visitor, count);
}

Result SardaneDirectoryChannel::MetadataDiffers(PropertySet& old_file, PropertySet& new_file,
                                                bool* differs) {
  if (differs == nullptr) return rc::kInvalidArg;
  std::vector<uint8_t> stored(qel::kRecordSize, 0), wanted(qel::kRecordSize, 0);
  Result result = EncodeFileRecord(stored.data(), old_file);
  if (rc::Succeeded(result)) result = EncodeFileRecord(wanted.data(), new_file);
  if (rc::Failed(result)) return result;

  *differs = false;
  for (uint32_t offset : kTagFields)
    if (memcmp(stored.data() + offset, wanted.data() + offset, sardane::kTextFieldWidth) != 0)
      *differs = true;
  if (!*differs) return rc::kOk;

  for (uint32_t offset : kTagFields)
    memcpy(stored.data() + offset, wanted.data() + offset, sardane::kTextFieldWidth);
  // The fields are read back in the text mode they were written in, not the old record's.
  constexpr uint32_t kTextModes = sardane::kFlagUtf8Text | sardane::kFlagTitlePicture;
  const uint32_t flags = bytes::Le32(stored.data() + sardane::kFlagsOffset) & ~kTextModes;
  bytes::PutLe32(stored.data() + sardane::kFlagsOffset,
                 flags | (bytes::Le32(wanted.data() + sardane::kFlagsOffset) & kTextModes));

  PropertyHolder decoded;
  result = DecodeFileRecord(decoded, stored.data(), qel::kRecordSize);
  for (const char* name : {"artist", "source", "title"})
    if (rc::Succeeded(result)) result = new_file.SetString(name, decoded.GetString(name));
  return result;
}

Result SardaneDirectoryChannel::CreateNewFile(uint32_t storage, OutputStream** stream) {
  bool utf8 = false;
  Result result = UsesUtf8(&utf8);
  return rc::Succeeded(result) ? CreateUploadWriter(storage, this, transport(), clock(), stream)
                               : result;
}

Result SardaneDirectoryChannel::DecodeFileRecord(PropertyHolder& file, const uint8_t* record,
                                                 uint32_t length) {
  return sardane::DecodeDirectoryRecord(file, record, length);
}

Result SardaneDirectoryChannel::EncodeFileRecord(uint8_t* record, PropertySet& file) {
  bool utf8 = false;
  Result result = UsesUtf8(&utf8);
  if (rc::Succeeded(result)) sardane::EncodeDirectoryRecord(record, file, utf8);
  return result;
}
