#include "testlib/scripted_player.h"

#include <algorithm>

#include "devices/output_stream.h"
#include "devices/predictor.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "testlib/fake_channel.h"

namespace {

class SimPredictor : public Predictor {
 public:
  SimPredictor(SimPlayer* player, uint32_t storage) : player_(player), storage_(storage) {}
  Result Reset(PropertyHolder&) override {
    ++player_->predictor_resets;
    return rc::kOk;
  }
  Result AddExistingFile(PropertyHolder&) override { return rc::kOk; }
  Result RemoveFile(PropertyHolder&) override { return rc::kOk; }
  Result AccountNewFile(PropertyHolder&, uint32_t* blocks) override {
    if (blocks) *blocks = 1;  // callers may pass no count
    return rc::kOk;
  }
  Result Resize(PropertyHolder&, PropertyHolder&, uint32_t* blocks) override {
    if (blocks) *blocks = 0;
    return rc::kOk;
  }
  Result AccountFile(PropertyHolder&) override { return rc::kOk; }
  Result WouldOverflow(PropertyHolder&) override { return rc::kOk; }
  // Answers "Predictor.GetStorageInfo" (or with "(storage)").
  Result GetStorageInfo(PropertyHolder& info) override {
    const Result result =
        player_->Answer("Predictor.GetStorageInfo", static_cast<int>(storage_));
    if (rc::Failed(result) || storage_ >= player_->storages.size()) return result;
    const ScriptedStorage& storage = player_->storages[storage_];
    info.SetInt64("size_in_bytes", storage.size);
    info.SetInt64("free_in_bytes", storage.free);
    info.SetInt64("bad_in_bytes", storage.bad);
    return result;
  }
  Result GetCounters(uint32_t counters[2]) override {
    counters[0] = counters[1] = 0;
    return rc::kOk;
  }
  uint32_t RoundUp(PropertyHolder&) override { return 0; }

 private:
  SimPlayer* player_;
  uint32_t storage_;
};

class SimOutputStream : public OutputStream {
 public:
  Result Reserved() override { return rc::kNotImplemented; }
  Result Write(const uint8_t*, uint32_t) override { return rc::kOk; }
  Result Finish(PropertyHolder&) override { return rc::kOk; }
  Result Abort() override { return rc::kOk; }
};

Result PutBytes(PropertyHolder& holder, const char* name, const std::string& bytes) {
  RefPtr<PropertySet> set = holder.GetSet();
  return set->SetBlob(name, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

class SimChannel : public FakeChannel {
 public:
  explicit SimChannel(SimPlayer* player)
      : FakeChannel(kStateReady, &player->channel_deletions), player_(player) {}

  Result GetDeviceInfo(PropertyHolder& info) override {
    const Result result = player_->Answer("GetDeviceInfo");
    if (rc::Failed(result)) return result;
    info.SetString("name", player_->name);
    info.SetString("manufacturer", player_->manufacturer);
    info.SetInt("firmware_version_bcd", player_->firmware_bcd);
    info.SetInt("device_generation", static_cast<int32_t>(player_->generation));
    PutBytes(info, "serial_raw", player_->serial);
    if (player_->device_id != 0) info.SetInt("device_id", player_->device_id);
    return result;
  }
  Result EnumStorages(HolderVisitor* visitor) override {
    const Result result = player_->Answer("EnumStorages");
    if (rc::Failed(result)) return result;
    for (size_t i = 0; i < player_->storages.size(); ++i) {
      PropertyHolder storage;
      storage.SetInt("storage_index", static_cast<int32_t>(i));
      if (!visitor->Visit(storage)) break;
    }
    return result;
  }
  Result GetStorageInfo(uint32_t index, PropertyHolder& info) override {
    const Result result = player_->Answer("GetStorageInfo", static_cast<int>(index));
    if (rc::Failed(result)) return result;
    if (index >= player_->storages.size()) return rc::kBadIndex;
    const ScriptedStorage& storage = player_->storages[index];
    info.SetInt("storage_index", static_cast<int32_t>(index));
    info.SetString("name", storage.name);
    info.SetInt64("size_in_bytes", storage.size);
    PutBytes(info, "serial_raw", storage.serial);
    return result;
  }
  Result EnumFiles(uint32_t index, HolderVisitor* visitor) override {
    const Result result = player_->Answer("EnumFiles", static_cast<int>(index));
    if (rc::Failed(result)) return result;
    if (index >= player_->storages.size()) return rc::kBadIndex;
    for (const auto& entry : player_->storages[index].files) {
      PropertyHolder file;
      file.SetInt("fid", entry.first);
      file.SetString("type", entry.second);
      if (!visitor->Visit(file)) break;
    }
    return result;
  }
  Result CreatePredictor(uint32_t index, Predictor** predictor) override {
    const Result result = player_->Answer("CreatePredictor", static_cast<int>(index));
    if (rc::Succeeded(result)) *predictor = new SimPredictor(player_, index);
    return result;
  }
  Result SetClock(uint32_t utc_seconds) override {
    const Result result = player_->Answer("SetClock");
    if (rc::Succeeded(result)) player_->clock = utc_seconds;
    return result;
  }
  Result GetDeviceID(uint32_t* product_id) override {
    const Result result = player_->Answer("GetDeviceID");
    if (rc::Succeeded(result)) *product_id = player_->product_id;
    return result;
  }
  Result FormatStorage(uint32_t index, ProgressSink*) override {
    const Result result = player_->Answer("FormatStorage", static_cast<int>(index));
    if (rc::Succeeded(result) && index < player_->storages.size()) {
      player_->storages[index].files.clear();
    }
    return result;
  }
  Result DeleteFile(uint32_t index, PropertyHolder& file) override {
    const Result result = player_->Answer("DeleteFile", static_cast<int>(index));
    if (rc::Failed(result) || index >= player_->storages.size()) return result;
    const int32_t fid = file.GetSet()->GetInt("fid");
    auto& files = player_->storages[index].files;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const std::pair<int32_t, std::string>& entry) {
                                 return entry.first == fid;
                               }),
                files.end());
    return result;
  }
  Result Commit(uint32_t) override { return player_->Answer("Commit"); }
  Result CreateNewFile(uint32_t index, OutputStream** stream) override {
    const Result result = player_->Answer("CreateNewFile", static_cast<int>(index));
    if (rc::Succeeded(result)) *stream = new SimOutputStream;
    return result;
  }
  Result ConvertFileInfo(PropertyHolder& file, const uint8_t*, uint32_t) override {
    const Result result = player_->Answer("ConvertFileInfo");
    if (rc::Succeeded(result)) file.SetString("title", "converted");
    return result;
  }

 private:
  SimPlayer* player_;
};

}  // namespace

std::shared_ptr<SimPlayer> SimPlayer::WithStorages(const std::vector<std::string>& names) {
  auto player = std::make_shared<SimPlayer>();
  for (size_t i = 0; i < names.size(); ++i) {
    ScriptedStorage storage;
    storage.name = names[i];
    storage.serial = "STORAGE-" + std::to_string(i);
    storage.size = (int64_t{1} << 32) + static_cast<int64_t>(i);
    player->storages.push_back(storage);
  }
  return player;
}

Result SimPlayer::Answer(const std::string& op, int storage) {
  const std::string precise = storage < 0 ? op : op + "(" + std::to_string(storage) + ")";
  calls.push_back(precise);
  if (on_call) on_call(precise);
  auto found = failures.find(precise);
  if (found == failures.end()) found = failures.find(op);
  return found == failures.end() ? rc::kOk : found->second;
}

int SimPlayer::CountCalls(const std::string& call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

Result SimPlayerDevice::OpenChannel(Channel** channel) {
  if (rc::Failed(player_->open_result)) return player_->open_result;
  ++player_->opens;
  *channel = new SimChannel(player_.get());
  return rc::kOk;
}

Result SimPlayerDevice::GetUniqueId(std::string* id) {
  *id = player_->canonical_name;
  return rc::kOk;
}

Result SimPlayerDevice::GetCanonicalName(std::string* name) {
  const Result result = player_->Answer("GetCanonicalName");
  if (rc::Succeeded(result)) *name = player_->canonical_name;
  return result;
}

Result SimPlayerDevice::GetProductId(uint32_t* product_id) {
  *product_id = player_->product_id;
  return rc::kOk;
}
