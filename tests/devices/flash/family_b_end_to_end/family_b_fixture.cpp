#include "devices/flash/family_b_end_to_end/family_b_fixture.h"

#include <cstring>

#include "devices/flash/packed_track_database.h"
#include "wmdm/wmdm_types.h"

const char kFamilyBPath[] = "\\\\?\\usb#vid_0e21&pid_5220#1";

namespace {


template <size_t N>
void PutText(std::array<uint8_t, N>& block, size_t at, const std::string& text) {
  std::memcpy(&block[at], text.data(), text.size());
}

void Size(SimStorage& storage, uint32_t total, const std::string& serial) {
  storage.total_blocks = storage.free_blocks = total;
  std::copy(serial.begin(), serial.end(), storage.serial.begin());
}

uint32_t Number(const packed::ImageReader& reader, uint32_t id, int field) {
  packed::FieldValue value;
  EXPECT_EQ(packed::kOk, reader.GetField(id, field, &value)) << "field " << field;
  return value.integer;
}

std::string Text(const packed::ImageReader& reader, uint32_t id, int field) {
  packed::FieldValue value;
  EXPECT_EQ(packed::kOk, reader.GetField(id, field, &value)) << "field " << field;
  return value.text ? value.text : "";
}

}  // namespace

void FlakyDatabasePlayer::TakePiece(const std::vector<uint8_t>& piece) {
  const bool first_block = upload_ == Upload::kDatabase && accepted_pieces_ == 0;
  if (first_block && unplug_at_database) unplugged = true;
  const bool fail = first_block && database_failures > 0;
  if (fail) {
    --database_failures;
    fail_database_block = 1;
  }
  SimFlashPlayerB::TakePiece(piece);
  if (fail) fail_database_block = 0;
}

FamilyBEndToEndTest::FamilyBEndToEndTest() : host_(new WmdmHost) { ReplacePlayer(); }

void FamilyBEndToEndTest::ReplacePlayer() {
  player_ = std::make_shared<FlakyDatabasePlayer>();
  PutText(player_->info_block, 128, std::string("Bellis Sim") + '\0');
  PutText(player_->info_block, 192, std::string("Sim Works") + '\0');
  PutText(player_->info_block, 96, "BELL-SERIAL-0001");
  Size(player_->Storage(0), 64u << 20, "BELL-INTERNAL-01");
  Size(player_->Storage(1), 32u << 20, "BELL-CARD-000001");
  usb_.Detach(kFamilyBPath);
  usb_.Attach(kFamilyB, kFamilyBPath, player_);
}

// The host goes before the environment it was made in (members end in reverse order).
FamilyBEndToEndTest::~FamilyBEndToEndTest() = default;

void FamilyBEndToEndTest::Reopen() {
  host_.reset();
  host_.reset(new WmdmHost);
  ASSERT_EQ(S_OK, host_->Load());
}

std::vector<IMDSPDevice*> FamilyBEndToEndTest::List() {
  std::vector<IMDSPDevice*> devices;
  EXPECT_EQ(S_OK, host_->CreateDevices(usb_.PnpNames(), &devices));
  return devices;
}

std::vector<std::wstring> FamilyBEndToEndTest::DeviceNames() {
  const std::vector<IMDSPDevice*> devices = List();
  std::vector<std::wstring> names;
  for (IMDSPDevice* device : devices) names.push_back(WmdmHost::NameOf(device));
  return names;
}

IMDSPDevice* FamilyBEndToEndTest::Device(const std::wstring& name) {
  for (IMDSPDevice* device : List())
    if (WmdmHost::NameOf(device) == name) return device;
  ADD_FAILURE() << "no device named " << std::string(name.begin(), name.end());
  return nullptr;
}

std::vector<DatabaseRow> FamilyBEndToEndTest::PlayerRows() const {
  std::vector<DatabaseRow> rows;
  if (!player_->has_database) return rows;
  std::unique_ptr<PackedTrackDatabase> database = PackedTrackDatabase::Create();
  const auto* image = reinterpret_cast<const uint8_t*>(player_->database.data());
  const auto size = static_cast<uint32_t>(player_->database.size());
  EXPECT_EQ(rc::kOk, database->Rebuild(image, size)) << "the player's image does not decode";
  // Read from the player's own bytes, not from the records rebuilt out of them.
  packed::ImageReader reader;
  if (reader.Attach(image, size) != packed::kOk) return rows;
  for (const auto& track : database->Tracks()) {
    DatabaseRow row;
    row.fid = track.first;
    row.title = Text(reader, row.fid, 0);
    row.source = Text(reader, row.fid, 1);
    row.artist = Text(reader, row.fid, 2);
    row.length = Number(reader, row.fid, 8) * 1048576 + Number(reader, row.fid, 9);
    row.duration_s = Number(reader, row.fid, 10);
    row.bitrate = Number(reader, row.fid, 11) & (packed::kItemFlag - 1);
    row.channels = Number(reader, row.fid, 12);
    row.type_code = Number(reader, row.fid, 13);
    packed::FieldValue rid;
    EXPECT_EQ(packed::kOk, reader.GetField(row.fid, 15, &rid));
    char pair[3];
    for (uint32_t i = 0; rid.bytes && i < packed::kRidSize; ++i) {
      std::snprintf(pair, sizeof pair, "%02x", rid.bytes[i]);
      row.rid += pair;
    }
    rows.push_back(row);
  }
  return rows;
}

std::string FamilyBEndToEndTest::StoredBytes(uint32_t fid) const {
  for (SimStorage& storage : player_->storages)
    for (const SimFile& file : storage.files)
      if (file.fid() == fid) return file.data;
  return std::string();
}
