#include "devices/network/network_channel.h"

#include <algorithm>
#include <new>
#include <vector>

#include "devices/device.h"
#include "devices/device_results.h"
#include "devices/flash_predictor.h"
#include "devices/fid_enumerator.h"
#include "devices/tarnu_row_collector.h"
#include "devices/network/network_results.h"
#include "devices/progress_sink.h"
#include "devices/tags_differ.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "support/stream_io.h"

namespace {

constexpr uint32_t kBlockShift = 12;  // the players count storage in 4096-byte blocks
constexpr uint32_t kMaxPlaylistBytes = RemoteProtocolClient::kMaxTextBytes / 4;

uint32_t ClampTo32(uint64_t value) {
  return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

void Report(ProgressSink* progress, uint64_t done, uint64_t total) {
  if (progress) progress->Report(ClampTo32(done), ClampTo32(total));
}

// Passes the player's progress notices to one operation's sink while it runs.
class NoticesTo {
 public:
  NoticesTo(RemoteProtocolClient& client, ProgressSink* progress) : client_(client) {
    client_.set_progress(progress);
  }
  ~NoticesTo() { client_.set_progress(nullptr); }

 private:
  RemoteProtocolClient& client_;
};

// Hands each listed record to the collector as one row.
class RecordsToCollector : public RemoteRecordVisitor {
 public:
  explicit RecordsToCollector(TarnuRowCollector* collector) : collector_(collector) {}
  Result OnRecord(const RefPtr<PropertySet>& record) override {
    return collector_->AddRow(record.Get());
  }

 private:
  TarnuRowCollector* collector_;
};

// Hands each storage to the contents visitor.
class StoragesToContents : public HolderVisitor {
 public:
  explicit StoragesToContents(ContentsVisitor* visitor) : visitor_(visitor) {}
  bool Visit(PropertyHolder& storage) override { return visitor_->Storage(storage); }

 private:
  ContentsVisitor* visitor_;
};

}  // namespace

NetworkChannel::NetworkChannel(const NetworkLink& link) : socket_(link.winsock), client_(&socket_) {
  socket_.set_io_timeout_ms(link.io_timeout_ms);
}

NetworkChannel::~NetworkChannel() { socket_.Close(); }

Result NetworkChannel::Create(const NetAddress& peer, const std::string& password,
                              Channel** channel, const NetworkLink& link) {
  *channel = nullptr;
  NetworkChannel* made = new (std::nothrow) NetworkChannel(link);
  if (made == nullptr) return rc::kOutOfMemory;
  const Result connected = made->Connect(peer, password);
  if (rc::Failed(connected)) {
    delete made;
    return connected;
  }
  *channel = made;
  return connected;
}

Result NetworkChannel::Connect(const NetAddress& peer, const std::string& password) {
  Result result = socket_.Create();
  // The socket stays non-blocking: every transfer waits for it, at most the I/O time-out.
  if (rc::Succeeded(result)) result = socket_.SetNonBlocking(true);
  if (rc::Succeeded(result)) result = socket_.ConnectWithTimeout(peer, kConnectTimeoutMs);
  if (rc::Succeeded(result)) result = socket_.SetNoDelay(true);
  if (rc::Succeeded(result)) result = client_.CheckVersion();
  if (rc::Succeeded(result)) result = ReadDeviceInfo(nullptr);
  if (rc::Succeeded(result) && !password.empty()) result = Login(password);
  if (rc::Failed(result)) socket_.Close();
  return rc::Failed(result) ? result : rc::kOk;
}

int32_t NetworkChannel::GetState() { return socket_.IsOpen() ? kStateReady : kStateGone; }

Result NetworkChannel::BeginChanges() {
  if (changes_begun_) return rc::kOk;
  const Result begun = client_.BeginChanges(1);
  if (rc::Failed(begun)) return begun;
  changes_begun_ = true;
  return rc::kOk;
}

Result NetworkChannel::BeginReading() {
  if (changes_begun_ || reading_begun_) return rc::kOk;
  const Result begun = client_.BeginChanges(0);
  if (rc::Failed(begun)) return begun;
  reading_begun_ = true;
  return rc::kOk;
}

Result NetworkChannel::EnumFiles(uint32_t storage, HolderVisitor* visitor) {
  const Result begun = BeginReading();
  if (rc::Failed(begun)) return begun;
  TarnuRowCollector collector(visitor, nullptr);
  RecordsToCollector records(&collector);
  return client_.ListFiles(&records);
}

Result NetworkChannel::EnumContents(ContentsVisitor* visitor) {
  Result result = BeginReading();
  if (rc::Failed(result)) return result;
  TarnuRowCollector collector(nullptr, visitor);
  collector.set_nested_playlists(nested_playlists_);
  StoragesToContents storages(visitor);
  result = EnumStorages(&storages);
  if (rc::Failed(result)) return result;
  RecordsToCollector records(&collector);
  result = client_.ListFiles(&records);
  return rc::Failed(result) ? result : collector.WalkPlaylists();
}

Result NetworkChannel::EnumFids(RefPtr<FidList>* list) {
  FidEnumerator* fids = new (std::nothrow) FidEnumerator();
  if (fids == nullptr) return rc::kOutOfMemory;
  *list = fids;
  return rc::kOk;
}

Result NetworkChannel::EnumStorages(HolderVisitor* visitor) {
  if (!identity_known_) {
    const Result known = ReadDeviceInfo(nullptr);
    if (rc::Failed(known)) return known;
  }
  for (uint32_t index = 0; index < storage_count_; ++index) {
    PropertyHolder storage;
    const Result read = GetStorageInfo(index, storage);
    if (rc::Failed(read)) return read;
    if (!visitor->Visit(storage)) return rc::kEnumerationStopped;
  }
  return rc::kOk;
}

Result NetworkChannel::GetStorageInfo(uint32_t storage, PropertyHolder& info) {
  RemoteStorageInfo reply;
  const Result read = client_.GetStorageInfo(storage, &reply);
  if (rc::Failed(read)) return read;
  // The player's counts are not trusted to agree: free space beyond the size is no space used.
  const uint64_t used = reply.size_bytes > reply.free_bytes ? reply.size_bytes - reply.free_bytes
                                                            : 0;
  const uint32_t size_blocks = ClampTo32(reply.size_bytes >> kBlockShift);
  const uint32_t free_blocks = ClampTo32(reply.free_bytes >> kBlockShift);
  Result result = info.SetInt("files", static_cast<int32_t>(reply.files));
  if (rc::Succeeded(result)) result = info.SetInt64("size_in_bytes", int64_t(reply.size_bytes));
  if (rc::Succeeded(result)) result = info.SetInt64("free_in_bytes", int64_t(reply.free_bytes));
  if (rc::Succeeded(result)) result = info.SetInt64("used_in_bytes", static_cast<int64_t>(used));
  if (rc::Succeeded(result)) result = info.SetInt("bad_in_bytes", 0);
  if (rc::Succeeded(result)) result = info.SetInt("storage_index", static_cast<int32_t>(storage));
  if (rc::Succeeded(result)) result = info.SetInt("storage_type", 1);
  if (rc::Succeeded(result)) result = info.SetInt("block_size", 1 << kBlockShift);
  if (rc::Succeeded(result)) result = info.SetInt64("size_in_blocks", size_blocks);
  if (rc::Succeeded(result)) result = info.SetInt64("free_in_blocks", free_blocks);
  if (rc::Succeeded(result)) {
    result = info.SetInt64("used_in_blocks", size_blocks > free_blocks ? size_blocks - free_blocks
                                                                       : 0);
  }
  if (rc::Succeeded(result)) result = info.SetInt("bad_in_blocks", 0);
  if (rc::Succeeded(result)) {
    result = info.SetString("name", storage == 0 ? storage_name_ : std::to_string(storage));
  }
  return result;
}

Result NetworkChannel::ReadDeviceInfo(PropertyHolder* info) {
  std::string type, firmware;
  uint32_t storages = 0;
  Result result = client_.GetIdentity(&type, &firmware, &storages);
  if (rc::Failed(result)) return result;
  device_type_ = type;
  storage_count_ = std::min(storages, kMaxStorages);
  identity_known_ = true;
  if (info) {
    result = info->SetString("type", type);
    if (rc::Succeeded(result)) result = info->SetString("firmware_version", firmware);
    if (rc::Failed(result)) return result;
  }

  PropertyHolder owner;
  result = client_.ReadOwnerText(*owner.GetSet());
  if (rc::Failed(result)) return result;
  const std::string storage_name = owner.GetString("storage_name");
  if (!storage_name.empty()) storage_name_ = storage_name;
  if (!owner.GetString("nested_playlists").empty()) {
    nested_playlists_ = owner.GetSet()->GetInt("nested_playlists") != 0;
  }
  const std::string capabilities = owner.GetString("capabilities");
  if (info && !capabilities.empty()) result = info->SetString("capabilities", capabilities);
  return rc::Failed(result) ? result : rc::kOk;
}

Result NetworkChannel::GetDeviceInfo(PropertyHolder& info) { return ReadDeviceInfo(&info); }

Result NetworkChannel::DeleteFile(uint32_t storage, PropertyHolder& file) {
  const Result begun = BeginChanges();
  if (rc::Failed(begun)) return begun;
  return client_.DeleteFile(static_cast<uint32_t>(file.GetSet()->GetInt("fid")));
}

Result NetworkChannel::RewriteFileInfo(uint32_t storage, PropertySet& file) {
  return SendFileInformation(file, std::string());
}

Result NetworkChannel::MetadataDiffers(PropertySet& old_file, PropertySet& new_file,
                                       bool* differs) {
  return TagsDiffer(old_file, new_file, differs);
}

Result NetworkChannel::SendFileInformation(PropertySet& file, const std::string& playlist) {
  Result result = BeginChanges();
  RefPtr<PropertySet> text;
  if (rc::Succeeded(result)) result = file.Clone(&text);
  if (rc::Succeeded(result)) result = text->SetString("playlist", playlist);
  if (rc::Succeeded(result)) result = text->SetInt("fid_generation", file.GetInt("fid_generation"));
  if (rc::Failed(result)) return result;
  return client_.WriteFileProperties(static_cast<uint32_t>(file.GetInt("fid")), *text);
}

Result NetworkChannel::SendPlaylist(PropertySet& file, Stream* source) {
  std::string members;
  for (;;) {
    char chunk[4096];
    uint32_t got = 0;
    const Result read = ReadUpTo(source, chunk, sizeof chunk, &got);
    if (rc::Failed(read)) return read;
    members.append(chunk, got);
    if (members.size() > kMaxPlaylistBytes) return rc::kSizeMismatch;
    if (got < sizeof chunk) break;
  }
  return SendFileInformation(file, members);
}

Result NetworkChannel::SendContent(uint32_t storage, uint32_t* fid, uint64_t size, Stream* source,
                                   ProgressSink* progress) {
  client_.DeleteFile(*fid);  // the old file may not exist: its answer does not matter
  Result result = client_.CreateFile(fid, size, storage);
  if (rc::Failed(result)) return result;
  std::vector<uint8_t> block(kBlockBytes);
  uint64_t sent = 0;
  while (rc::Succeeded(result) && sent < size) {
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kBlockBytes, size - sent));
    uint32_t got = 0;
    result = ReadUpTo(source, block.data(), want, &got);
    if (rc::Succeeded(result) && got < want) result = rc::kSizeMismatch;
    if (rc::Succeeded(result)) result = client_.WriteBlock(*fid, sent, block.data(), got, storage);
    if (rc::Succeeded(result)) {
      sent += got;
      Report(progress, sent, size);
    }
  }
  if (rc::Succeeded(result)) {
    // The size was announced: a source with more bytes than that is not the file described.
    uint8_t more = 0;
    uint32_t got = 0;
    result = ReadUpTo(source, &more, 1, &got);
    if (rc::Succeeded(result) && got != 0) result = rc::kSizeMismatch;
  }
  // Leave no partial file behind while the player still listens.
  if (rc::Failed(result) && socket_.IsOpen()) client_.DeleteFile(*fid);
  return result;
}

Result NetworkChannel::SendFile(uint32_t storage, PropertySet& file, Stream* source,
                                ProgressSink* progress) {
  Result result = BeginChanges();
  if (rc::Failed(result)) return result;
  if (file.GetString("type") == "playlist") return SendPlaylist(file, source);

  int64_t size = file.GetInt64("length");
  if (size < 0) return rc::kInvalidArg;
  if (size == 0) {
    if (auto* seekable = dynamic_cast<SeekableStream*>(source)) {
      uint32_t position = 0, end = 0;
      result = seekable->GetPosition(&position);
      if (rc::Succeeded(result)) result = seekable->GetSize(&end);
      if (rc::Failed(result)) return result;
      size = end > position ? end - position : 0;
    }
  }
  uint32_t fid = static_cast<uint32_t>(file.GetInt("fid"));
  result = SendContent(storage, &fid, static_cast<uint64_t>(size), source, progress);
  if (rc::Succeeded(result)) result = file.SetInt("fid", static_cast<int32_t>(fid));
  if (rc::Failed(result)) return result;
  return SendFileInformation(file, std::string());
}

Result NetworkChannel::SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                                            ProgressSink* progress) {
  return SendFile(storage, file, source, progress);
}

Result NetworkChannel::ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                                   ProgressSink* progress) {
  Result result = BeginReading();
  if (rc::Failed(result)) return result;
  const int64_t total = file.GetInt64("length");
  if (total < 0) return rc::kInvalidArg;
  const uint32_t fid = static_cast<uint32_t>(file.GetInt("fid"));
  std::vector<uint8_t> block(kBlockBytes);
  Report(progress, 0, static_cast<uint64_t>(total));
  for (uint64_t done = 0; done < static_cast<uint64_t>(total);) {
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kBlockBytes, total - done));
    result = client_.ReadBlock(fid, done, want, block.data());
    if (rc::Succeeded(result)) result = WriteExact(sink, block.data(), want);
    if (rc::Failed(result)) return result;
    done += want;
    Report(progress, done, static_cast<uint64_t>(total));
  }
  return rc::kOk;
}

Result NetworkChannel::FormatStorage(uint32_t storage, ProgressSink* progress) {
  const Result begun = BeginChanges();
  if (rc::Failed(begun)) return begun;
  NoticesTo notices(client_, progress);
  return client_.FormatStorage(storage);
}

Result NetworkChannel::GetOwnerInfo(PropertyHolder& owner) {
  return client_.ReadOwnerText(*owner.GetSet());
}

Result NetworkChannel::SetOwnerInfo(PropertySet& owner) {
  const Result begun = BeginChanges();
  if (rc::Failed(begun)) return begun;
  return client_.WriteOwnerText(owner);
}

Result NetworkChannel::GetDeviceID(uint32_t* product_id) {
  if (device_type_ == "quarn") {
    *product_id = 0x5210;
  } else if (device_type_ == "velto-car") {
    *product_id = 1;
  } else {
    *product_id = 0;
  }
  return rc::kOk;
}

Result NetworkChannel::CreatePredictor(uint32_t storage, Predictor** predictor) {
  return CreateOmfsPredictor(predictor);
}

Result NetworkChannel::Login(const std::string& password) {
  bool granted = false;
  return client_.Login(password, &granted);
}
