// A channel double: every operation answers E_NOTIMPL unless a test overrides it, and the
// destructor reports itself so tests can check who deletes the channel.
#pragma once

#include "devices/channel.h"
#include "devices/device.h"

class FakeChannel : public Channel {
 public:
  explicit FakeChannel(int32_t state = kStateReady, int* deletions = nullptr)
      : state_(state), deletions_(deletions) {}
  ~FakeChannel() override {
    if (deletions_) ++*deletions_;
  }

  int32_t GetState() override { return state_; }
  Result EnumFiles(uint32_t, HolderVisitor*) override { return rc::kNotImplemented; }
  Result EnumContents(ContentsVisitor*) override { return rc::kNotImplemented; }
  Result EnumStorages(HolderVisitor*) override { return rc::kNotImplemented; }
  Result GetStorageInfo(uint32_t, PropertyHolder&) override { return rc::kNotImplemented; }
  Result GetDeviceInfo(PropertyHolder&) override { return rc::kNotImplemented; }
  Result DeleteFile(uint32_t, PropertyHolder&) override { return rc::kNotImplemented; }
  Result RewriteFileInfo(uint32_t, PropertySet&) override { return rc::kNotImplemented; }
  Result MetadataDiffers(PropertySet&, PropertySet&, bool*) override {
    return rc::kNotImplemented;
  }
  Result SendFile(uint32_t, PropertySet&, Stream*, ProgressSink*) override {
    return rc::kNotImplemented;
  }
  Result SendFileByRequest136(uint32_t, PropertySet&, Stream*, ProgressSink*) override {
    return rc::kNotImplemented;
  }
  Result ReceiveFile(uint32_t, PropertySet&, Stream*, ProgressSink*) override {
    return rc::kNotImplemented;
  }
  Result FormatStorage(uint32_t, ProgressSink*) override { return rc::kNotImplemented; }
  Result UpgradeFirmware(SeekableStream*, uint32_t, ProgressSink*) override {
    return rc::kNotImplemented;
  }
  Result GetOwnerInfo(PropertyHolder&) override { return rc::kNotImplemented; }
  Result SetOwnerInfo(PropertySet&) override { return rc::kNotImplemented; }
  Result SetClock(uint32_t) override { return rc::kNotImplemented; }
  Result SetDeviceTime(uint32_t, uint32_t) override { return rc::kNotImplemented; }
  Result GetDeviceID(uint32_t*) override { return rc::kNotImplemented; }
  Result CreateNewFile(uint32_t, OutputStream**) override { return rc::kNotImplemented; }
  Result CreatePredictor(uint32_t, Predictor**) override { return rc::kNotImplemented; }
  Result EnumFids(RefPtr<FidList>*) override { return rc::kNotImplemented; }
  Result Commit(uint32_t) override { return rc::kNotImplemented; }
  Result HoldStorage(bool) override { return rc::kNotImplemented; }
  Result GetButtonCounters(PropertyHolder&) override { return rc::kNotImplemented; }
  Result ReservedOperation(uint32_t) override { return rc::kNotImplemented; }
  Result Request119(uint32_t, uint8_t) override { return rc::kNotImplemented; }
  Result Request128(std::vector<uint32_t>*) override { return rc::kNotImplemented; }
  Result Request137(uint32_t, uint32_t) override { return rc::kNotImplemented; }
  Result GetHardwareInfo(PropertyHolder&) override { return rc::kNotImplemented; }
  Result GetBatteryInfo(PropertyHolder&) override { return rc::kNotImplemented; }
  Result Request117(uint32_t, uint32_t, uint32_t) override { return rc::kNotImplemented; }
  Result Request142(const std::string&, uint32_t) override { return rc::kNotImplemented; }
  Result Request140(uint32_t*) override { return rc::kNotImplemented; }
  Result Request145(uint32_t) override { return rc::kNotImplemented; }
  Result ListStateFiles() override { return rc::kNotImplemented; }
  Result ConvertFileInfo(PropertyHolder&, const uint8_t*, uint32_t) override {
    return rc::kNotImplemented;
  }
  Result Suspend(bool) override { return rc::kNotImplemented; }
  Result Login(const std::string&) override { return rc::kNotImplemented; }
  Result ReloadDatabase(Stream*) override { return rc::kNotImplemented; }
  Result Request146(uint16_t, uint16_t) override { return rc::kNotImplemented; }

 private:
  int32_t state_;
  int* deletions_;
};

// A device whose OpenChannel answers a scripted result and, on success, a FakeChannel.
class FakeDevice : public Device {
 public:
  FakeDevice(Result open_result, int32_t channel_state, int* channel_deletions = nullptr)
      : open_result_(open_result),
        channel_state_(channel_state),
        channel_deletions_(channel_deletions) {}

  UsbHardware* GetHardware() override { return nullptr; }
  Result OpenChannel(Channel** channel) override {
    if (rc::Failed(open_result_)) return open_result_;
    *channel = new FakeChannel(channel_state_, channel_deletions_);
    return rc::kOk;
  }
  Result GetUniqueId(std::string* id) override { return rc::kNotImplemented; }
  Result GetCanonicalName(std::string* name) override { return rc::kNotImplemented; }
  Result GetProperties(RefPtr<PropertySet>* properties) override { return rc::kNotImplemented; }
  Result GetProductId(uint32_t* product_id) override { return rc::kNotImplemented; }

 private:
  Result open_result_;
  int32_t channel_state_;
  int* channel_deletions_;
};
