#include "devices/flash/sardane_channel_d.h"

#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "devices/block_predictor.h"
#include "devices/device_results.h"
#include "devices/flash/fid_list_image.h"
#include "devices/flash/sardane_file_record.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/byte_order.h"
#include "support/debug_trace.h"

namespace {

// A listed file, kept so that playlists can name their members by the visitor's handles.
struct KeptFile {
  uint32_t generation;
  RefPtr<PropertySet> props;
  bool playlist;
  uint32_t handle;
};
// Keyed by (storage index, fid): the order in which playlists are walked.
using FileTable = std::map<std::pair<uint32_t, uint32_t>, KeptFile>;

class FileKeeper : public HolderVisitor {
 public:
  FileKeeper(ContentsVisitor* visitor, uint32_t storage, bool playlists, FileTable* table)
      : visitor_(visitor), storage_(storage), playlists_(playlists), table_(table) {}

  bool Visit(PropertyHolder& file) override {
    RefPtr<PropertySet> props = file.GetSet();
    if (!props) return false;
    const bool playlist = props->GetString("type") == "playlist";
    if (playlist && !playlists_) return true;
    uint32_t handle = 0;
    if (visitor_ != nullptr && !visitor_->File(storage_, file, &handle)) return false;
    const auto fid = static_cast<uint32_t>(props->GetInt("fid"));
    (*table_)[{storage_, fid}] =
        KeptFile{static_cast<uint32_t>(props->GetInt("fid_generation")), props, playlist, handle};
    return true;
  }

 private:
  ContentsVisitor* visitor_;
  uint32_t storage_;
  bool playlists_;
  FileTable* table_;
};

// A FIDLST entry holds the low 24 bits of a generation.
constexpr uint32_t kGenerationMask = 0xFFFFFF;
// The storage index of a fid.
constexpr uint32_t kStorageShift = 14;

}  // namespace

Result SardaneChannelD::EnumContents(ContentsVisitor* visitor) {
  bool playlists = false;
  Result result = HasCapability("playlists", &playlists);
  if (rc::Failed(result)) return result;
  uint32_t count = 0;
  result = CountStorages(visitor, &count);
  if (rc::Failed(result)) return result;

  FileTable table;
  for (uint32_t storage = 0; storage < count; ++storage) {
    FileKeeper keeper(visitor, storage, playlists, &table);
    result = EnumFiles(storage, &keeper);
    if (result != rc::kOk) return result;
  }

  for (const auto& [key, playlist] : table) {
    if (!playlist.playlist) continue;
    if (static_cast<uint32_t>(playlist.props->GetInt("length")) > kMaxPlaylistBytes) {
      TORVEX_TRACE("A playlist of %u bytes is beyond any player's.\n",
                   static_cast<unsigned>(playlist.props->GetInt("length")));
      return rc::kBadData;
    }
    RefPtr<FidListImage> list(new (std::nothrow) FidListImage());
    if (!list) return rc::kOutOfMemory;
    SeekableStream* raw_stream = nullptr;
    result = list->Serialize(&raw_stream);
    if (rc::Failed(result)) return result;
    std::unique_ptr<SeekableStream> stream(raw_stream);
    result = ReceiveFile(key.first, *playlist.props, stream.get(), nullptr);
    if (rc::Failed(result)) return result;

    std::vector<uint32_t> members;
    for (const FidEntry& entry : list->Entries()) {
      auto member = table.find({entry.fid >> kStorageShift, entry.fid});
      // A member replaced since the playlist was written is not the file it named.
      if (member != table.end() && (member->second.generation & kGenerationMask) == entry.generation)
        members.push_back(member->second.handle);
    }
    if (visitor != nullptr && !visitor->PlaylistMembers(playlist.handle, members)) return 1;
  }
  return rc::kOk;
}

Result SardaneChannelD::CreatePredictor(uint32_t, Predictor** predictor) {
  return CreateBlockPredictorDE(predictor);
}

Result SardaneChannelD::EnumFids(RefPtr<FidList>* list) {
  return list != nullptr ? CreateFidList(list) : rc::kInvalidArg;
}

Result SardaneChannelD::Request117(uint32_t value, uint32_t index, uint32_t flag) {
  if (value > 0xFFFF || index > 4000 || flag > 3) return rc::kBadIndex;
  ProtocolSession session(transport(), clock());
  return session.Request117(static_cast<uint16_t>(value),
                            static_cast<uint16_t>(index | flag << 14));
}

Result SardaneChannelD::Request145(uint32_t value) {
  if (value > 0xFFFF) return rc::kBadIndex;
  ProtocolSession session(transport(), clock());
  return session.Request145(static_cast<uint16_t>(value));
}

Result SardaneChannelD::ListStateFiles() {
  ProtocolSession session(transport(), clock());
  return session.Request134();
}

Result SardaneChannelD::MakeStorageProps(PropertyHolder& props, const uint8_t* block,
                                         uint32_t storage) {
  Result result = FillStorageProps(props, block, 1, 512);
  return rc::Succeeded(result) ? props.SetInt("storage_index", static_cast<int32_t>(storage))
                               : result;
}

Result SardaneChannelD::ReadRecordBlock(uint8_t* record, uint32_t, uint32_t fid) {
  if (record == nullptr) return rc::kInvalidArg;
  memset(record, 0, qel::kRecordSize);
  bytes::PutLe32(record + sardane::kFidOffset, fid);
  return rc::kOk;
}

Result SardaneChannelD::FindFileRecord(uint8_t* record, PropertyHolder& file) {
  RefPtr<PropertySet> set = file.GetSet();
  if (!set) return rc::kOutOfMemory;
  return ReadRecordBlock(record, 0, static_cast<uint32_t>(set->GetInt("fid")));
}

Result SardaneChannelD::UsesUtf8(bool* utf8) {
  return utf8 != nullptr ? HasCapability("utf8", utf8) : rc::kInvalidArg;
}

Result SardaneChannelD::GetSupportedFormats(std::string* codecs) {
  Result result = SardaneChannel::GetSupportedFormats(codecs);
  if (result != rc::kProtocolError && result != rc::kUnknownRequest) return result;
  *codecs = ";mp3;wma;";
  return rc::kOk;
}

Result SardaneChannelE::SetIdentity(PropertyHolder& info) {
  Result result = info.SetString("name", "Yarl Player");
  return rc::Succeeded(result) ? info.SetString("manufacturer", "Yarl Pulse") : result;
}

namespace {

template <typename Family>
Result CreateFamily(UsbHardware* transport, uint32_t product_id, Channel** out) {
  auto* channel = new (std::nothrow) Family(transport, product_id);
  if (channel == nullptr) {
    delete transport;
    return rc::kOutOfMemory;
  }
  *out = channel;
  return rc::kOk;
}

}  // namespace

Result CreateSardaneChannelD(UsbHardware* transport, uint32_t product_id, Channel** out) {
  return CreateFamily<SardaneChannelD>(transport, product_id, out);
}

Result CreateSardaneChannelE(UsbHardware* transport, uint32_t product_id, Channel** out) {
  return CreateFamily<SardaneChannelE>(transport, product_id, out);
}
