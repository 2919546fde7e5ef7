#include "wmdm/qel_device_ptr.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "devices/device_results.h"
#include "devices/output_stream.h"
#include "devices/predictor.h"
#include "devices/visitors.h"
#include "support/debug_trace.h"
#include "wmdm/no_throw.h"
#include "wmdm/wmdm_conventions.h"
#include "wmdm/wmdm_log.h"

namespace {

// The device library gives a player in recovery mode this code.
constexpr Result kPlayerInRecovery = rc::kNoDeviceDescriptor;

int32_t HolderInt(const PropertyHolder& holder, const char* name) {
  RefPtr<PropertySet> set = holder.GetSet();
  return set ? set->GetInt(name) : 0;
}

Result Traced(const char* method, Result check, Result status) {
  return WmdmLogResult(method, MapDeviceStatus(check, status));
}

class StorageCounter : public HolderVisitor {
 public:
  bool Visit(PropertyHolder&) override {
    ++count;
    return true;
  }
  uint32_t count = 0;
};

// Every file goes into the predictor's accounting; only tracks are listed for WMDM.
class TrackCollector : public HolderVisitor {
 public:
  explicit TrackCollector(Predictor& predictor) : predictor_(predictor) {}

  bool Visit(PropertyHolder& file) override {
    status = CallNoThrow([&] {
      predictor_.AddExistingFile(file);
      if (file.GetString("type") == "tune") {
        // A copy: channels may reuse and clear the holder they hand out.
        std::unique_ptr<PropertyHolder> copy(new PropertyHolder(PropertyHolder::CloneFrom(file)));
        if (!copy->GetSet()) return rc::kOutOfMemory;
        tracks.push_back(std::move(copy));
      }
      return rc::kOk;
    });
    return rc::Succeeded(status);
  }

  Result status = rc::kOk;
  FileHolderList tracks;

 private:
  Predictor& predictor_;
};

}  // namespace

QelDevicePtrEx::QelDevicePtrEx(const RefPtr<Device>& device) : device_(device) {}

QelDevicePtrEx::~QelDevicePtrEx() {
  delete predictor_;
  delete channel_;
}

Result QelDevicePtrEx::CheckDeviceInfo(Channel& channel) {
  PropertyHolder info;
  const Result status = channel.GetDeviceInfo(info);
  if (rc::Failed(status)) return status;
  if (HolderInt(info, "recovery") != 0) return kPlayerInRecovery;
  if (device_generation_ != 0 &&
      static_cast<uint32_t>(HolderInt(info, "device_generation")) != device_generation_) {
    return rc::kGenerationChanged;
  }
  return rc::kOk;
}

Result QelDevicePtrEx::OpenChannel(Channel** channel) {
  if (channel_) {
    ++open_count_;
    if (channel) *channel = channel_;
    return rc::kOk;
  }
  if (!device_) return rc::kFail;
  Channel* opened = nullptr;
  Result status = CallNoThrow([&] { return device_->OpenChannel(&opened); });
  if (rc::Failed(status)) return status;
  if (!opened) return rc::kFail;
  status = CallNoThrow([&] { return CheckDeviceInfo(*opened); });
  if (rc::Failed(status)) {
    delete opened;
    return status;
  }
  channel_ = opened;
  open_count_ = 1;
  if (channel) *channel = channel_;
  return rc::kOk;
}

Result QelDevicePtrEx::CloseChannel(Channel** channel) {
  if (open_count_ == 0) return rc::kFail;
  if (channel) *channel = nullptr;
  if (--open_count_ == 0) {
    // What the player says now is what the next first open compares against.
    CallNoThrow([&] {
      PropertyHolder info;
      if (rc::Succeeded(channel_->GetDeviceInfo(info))) {
        device_generation_ = static_cast<uint32_t>(HolderInt(info, "device_generation"));
      }
      return rc::kOk;
    });
    delete channel_;
    channel_ = nullptr;
  }
  return rc::kOk;
}

Result QelDevicePtrEx::OpenOrCloseChannel(bool open) {
  return MapDeviceStatus(rc::kOk, open ? OpenChannel() : CloseChannel());
}

Result QelDevicePtrEx::OpenReporting() {
  const Result status = OpenChannel();
  if (rc::Failed(status)) {
    char line[64];
    std::snprintf(line, sizeof line, "Failed to open channel, status=0x%08" PRIx32 "\n",
                  static_cast<uint32_t>(status));
    DebugTrace::Emit(line);
  }
  return status;
}

template <typename Call>
Result QelDevicePtrEx::OnChannel(bool report_open_failure, Call&& call) {
  Result status = report_open_failure ? OpenReporting() : OpenChannel();
  if (rc::Failed(status)) return status;
  status = CallNoThrow([&] { return call(*channel_); });
  CloseChannel();
  return status;
}

Result QelDevicePtrEx::GetCanonicalName(std::string* name) {
  const Result check = CheckOutPointer(rc::kOk, name);
  Result status = rc::kOk;
  if (rc::Succeeded(check)) {
    status = device_ ? CallNoThrow([&] { return device_->GetCanonicalName(name); }) : rc::kFail;
  }
  return Traced("QelDevicePtrEx::GetCanonicalName", check, status);
}

Result QelDevicePtrEx::GetDeviceInfo(PropertyHolder* info) {
  const Result check = CheckOutPointer(rc::kOk, info);
  Result status = rc::kOk;
  if (rc::Succeeded(check)) {
    status = OnChannel(false, [&](Channel& channel) { return channel.GetDeviceInfo(*info); });
  }
  return Traced("QelDevicePtrEx::GetDeviceInfo", check, status);
}

Result QelDevicePtrEx::SetClock() {
  const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
  return OnChannel(false, [&](Channel& channel) { return channel.SetClock(now); });
}

Result QelDevicePtrEx::EnumFiles(PropertyHolder& storage, FileHolderList* files) {
  const Result check = CheckOutPointer(rc::kOk, files);
  Result status = rc::kOk;
  if (rc::Succeeded(check)) {
    status = OnChannel(true, [&](Channel& channel) {
      // Without a predictor the files could not be accounted; refuse rather than crash.
      if (!predictor_) return rc::kFail;
      Result result = predictor_->Reset(storage);
      if (rc::Failed(result)) return result;
      const uint32_t index = static_cast<uint32_t>(HolderInt(storage, "storage_index"));
      TrackCollector collector(*predictor_);
      result = channel.EnumFiles(index, &collector);
      if (rc::Failed(collector.status)) return collector.status;
      if (rc::Succeeded(result)) files->swap(collector.tracks);
      return result;
    });
  }
  return Traced("QelDevicePtrEx::EnumFiles", check, status);
}

Result QelDevicePtrEx::EnumStorages(uint32_t* count) {
  const Result check = CheckOutPointer(rc::kOk, count);
  Result status = rc::kOk;
  if (rc::Succeeded(check)) {
    status = OnChannel(true, [&](Channel& channel) {
      StorageCounter counter;
      const Result result = channel.EnumStorages(&counter);
      if (rc::Succeeded(result)) *count = counter.count;
      return result;
    });
  }
  return Traced("QelDevicePtrEx::EnumStorages", check, status);
}

Result QelDevicePtrEx::GetDeviceID(uint32_t* product_id) {
  const Result check = CheckOutPointer(rc::kOk, product_id);
  Result status = rc::kOk;
  if (rc::Succeeded(check)) {
    status = OnChannel(false, [&](Channel& channel) { return channel.GetDeviceID(product_id); });
  }
  return Traced("QelDevicePtrEx::GetDeviceID", check, status);
}

Result QelDevicePtrEx::GetStorageInfo(uint32_t storage, PropertyHolder* info) {
  const Result check = CheckOutPointer(rc::kOk, info);
  Result status = rc::kOk;
  if (rc::Succeeded(check)) {
    status = OnChannel(false, [&](Channel& channel) {
      return channel.GetStorageInfo(storage, *info);
    });
  }
  return Traced("QelDevicePtrEx::GetStorageInfo", check, status);
}

Result QelDevicePtrEx::ConvertFileInfo(PropertyHolder* file, const uint8_t* record,
                                       uint32_t length) {
  Result check = CheckOutPointer(rc::kOk, file);
  if (rc::Succeeded(check) && !record && length != 0) check = rc::kInvalidArg;
  Result status = rc::kOk;
  if (rc::Succeeded(check)) {
    status = OnChannel(false, [&](Channel& channel) {
      return channel.ConvertFileInfo(*file, record, length);
    });
  }
  return Traced("QelDevicePtrEx::ConvertFileInfo", check, status);
}

Result QelDevicePtrEx::CreatePredictor(uint32_t storage) {
  const Result status = OnChannel(false, [&](Channel& channel) {
    Predictor* created = nullptr;
    const Result result = channel.CreatePredictor(storage, &created);
    if (rc::Succeeded(result) && created) {
      delete predictor_;
      predictor_ = created;
    }
    return rc::Succeeded(result) && !created ? rc::kFail : result;
  });
  return Traced("QelDevicePtrEx::CreatePredictor", rc::kOk, status);
}

Result QelDevicePtrEx::FormatStorage(uint32_t storage) {
  const Result status = OnChannel(false, [&](Channel& channel) {
    return channel.FormatStorage(storage, nullptr);
  });
  return Traced("QelDevicePtrEx::FormatStorage", rc::kOk, status);
}

Result QelDevicePtrEx::DeleteFile(uint32_t storage, PropertyHolder& file) {
  const Result status = OnChannel(true, [&](Channel& channel) {
    const Result deleted = channel.DeleteFile(storage, file);
    if (rc::Failed(deleted)) return deleted;
    const Result accounted = predictor_ ? predictor_->RemoveFile(file) : rc::kFail;
    const Result committed = channel.Commit(1);
    return rc::Failed(accounted) ? accounted : committed;
  });
  return Traced("QelDevicePtrEx::DeleteFile", rc::kOk, status);
}

Result QelDevicePtrEx::CreateNewFile(uint32_t storage, OutputStream** stream) {
  const Result check = CheckOutPointer(rc::kOk, stream);
  Result status = rc::kOk;
  if (rc::Succeeded(check)) {
    *stream = nullptr;
    status = OpenChannel();
    if (rc::Failed(status)) {
      WmdmLogResult("Unable to OpenChannel", status);
    } else {
      status = CallNoThrow([&] { return channel_->CreateNewFile(storage, stream); });
      if (rc::Succeeded(status) && !*stream) status = rc::kFail;
      if (rc::Failed(status)) {
        WmdmLogResult("Unable to CreateNewFile", status);
        CloseChannel();
      }
    }
  }
  return Traced("QelDevicePtrEx::CreateNewFile", check, status);
}

Result QelDevicePtrEx::CommitNewFile(OutputStream*& stream) {
  // Without the upload's open channel there is nothing to commit on.
  const Result status =
      channel_ ? CallNoThrow([&] { return channel_->Commit(1); }) : rc::kFail;
  delete stream;
  stream = nullptr;
  if (channel_) CloseChannel();
  return MapDeviceStatus(rc::kOk, status);
}

Result QelDevicePtrEx::CountStorages(const RefPtr<Device>& device, uint32_t* count) {
  QelDevicePtrEx handle(device);
  return handle.EnumStorages(count);
}
