// A minimal flash family over the simulated player, for the tests of the channel base.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>

#include "devices/device.h"
#include "devices/flash/protocol_sim/session_fixture.h"
#include "devices/flash/sardane_channel.h"
#include "devices/flash/sardane_file_record.h"
#include "devices/flash/set_text_property.h"
#include "devices/flash/upload_writer.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"

using Reports = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr uint32_t Code(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

// The smallest family: storages in 512-byte units, the fid at offset 0 of its records.
class TestFamily : public SardaneChannel {
 public:
  TestFamily(UsbHardware* transport, uint32_t product_id, Clock* clock)
      : SardaneChannel(transport, product_id, clock) {}

  Result EnumFiles(uint32_t, HolderVisitor*) override { return rc::kNotImplemented; }
  Result EnumContents(ContentsVisitor*) override { return rc::kNotImplemented; }
  // As the families do: the text mode must be known before a record can be made.
  Result CreateNewFile(uint32_t storage, OutputStream** out) override {
    bool utf8 = false;
    Result result = UsesUtf8(&utf8);
    return rc::Succeeded(result) ? CreateUploadWriter(storage, this, transport(), clock(), out)
                                 : result;
  }
  Result CreatePredictor(uint32_t, Predictor**) override { return rc::kNotImplemented; }
  Result EnumFids(RefPtr<FidList>*) override { return rc::kNotImplemented; }
  Result Request117(uint32_t, uint32_t, uint32_t) override { return rc::kNotImplemented; }

  Result MakeStorageProps(PropertyHolder& props, const uint8_t* block,
                          uint32_t storage) override {
    Result result = FillStorageProps(props, block, device_unit, block_size);
    return rc::Succeeded(result) ? props.SetInt("storage_index", static_cast<int32_t>(storage))
                                 : result;
  }
  // The common fields and, like the families, a file name in the player's text mode.
  Result DecodeFileRecord(PropertyHolder& file, const uint8_t* record,
                          uint32_t length) override {
    Result result = sardane::DecodeCommonFields(file, record, length);
    return rc::Succeeded(result)
               ? SetTextProperty(file, "name", record + kNameOffset, kNameWidth, utf8_text)
               : result;
  }
  Result ReadRecordBlock(uint8_t*, uint32_t, uint32_t) override { return rc::kNotImplemented; }
  Result FindFileRecord(uint8_t* record, PropertyHolder& file) override {
    SimPutLe32(record, static_cast<uint32_t>(atoi(file.GetString("fid").c_str())));
    return rc::kOk;
  }
  Result EncodeFileRecord(uint8_t* record, PropertySet& file) override {
    sardane::EncodeCommonFields(record, file);
    sardane::PutFileNameField(record + kNameOffset, kNameWidth, file.GetString("name"),
                              utf8_text);
    return encode_result;
  }
  Result UsesUtf8(bool* utf8) override {
    *utf8 = utf8_text;
    return utf8_result;
  }

  static constexpr uint32_t kNameOffset = 192, kNameWidth = 64;
  uint32_t device_unit = 512, block_size = 512;
  Result encode_result = rc::kOk;
  bool utf8_text = true;
  Result utf8_result = rc::kOk;
};

class RecordingVisitor : public HolderVisitor {
 public:
  explicit RecordingVisitor(size_t stop_after = SIZE_MAX) : stop_after_(stop_after) {}
  bool Visit(PropertyHolder& item) override {
    items.push_back(item.GetSet());
    return items.size() < stop_after_;
  }
  std::vector<RefPtr<PropertySet>> items;

 private:
  size_t stop_after_;
};

inline RefPtr<PropertySet> NewSet() {
  RefPtr<PropertySet> set;
  EXPECT_EQ(rc::kOk, PropertySet::Create(&set));
  EXPECT_EQ(rc::kOk, set->AddNew());
  return set;
}

class SardaneChannelTest : public ::testing::Test {
 protected:
  SardaneChannelTest() { MakeChannel(0x5003); }

  void MakeChannel(uint32_t product_id) {
    channel.reset();
    auto* transport = new SimUsbHardware(player, product_id);
    EXPECT_EQ(rc::kOk, transport->Open());
    channel.reset(new TestFamily(transport, product_id, &clock));
    player->ClearLog();
  }

  // Every operation leaves the player unlocked, whatever happened.
  void TearDown() override { EXPECT_EQ(0, player->lock_depth); }

  Lines Log() const { return player->LogLines(); }
  bool Sent(const std::string& line) const {
    for (const auto& l : Log())
      if (l == line) return true;
    return false;
  }

  std::shared_ptr<SimFlashPlayer> player = std::make_shared<SimFlashPlayer>();
  FakeClock clock;
  std::unique_ptr<TestFamily> channel;
};
