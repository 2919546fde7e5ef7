#include "devices/flash/family_b_end_to_end/family_b_fixture.h"

#include <cstdio>
#include <cstring>

#include "devices/flash/family_b_end_to_end/track_image_decoder.h"
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

FamilyBEndToEndTest::FamilyBEndToEndTest() : host_(new WmdmHost) {
  seams_.usb = &usb_;
  ReplacePlayer();
}

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
  ASSERT_EQ(S_OK, host_->LoadRegistered(seams_));
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
  // The product must take back what it wrote ...
  std::unique_ptr<PackedTrackDatabase> database = PackedTrackDatabase::Create();
  EXPECT_EQ(rc::kOk, database->Rebuild(reinterpret_cast<const uint8_t*>(player_->database.data()),
                                       static_cast<uint32_t>(player_->database.size())))
      << "the product does not take back its image";
  // ... and the rows are read by a decoder of its own.
  const DecodedImage image = DecodeTrackImage(player_->database);
  EXPECT_EQ("", image.error) << "the player's image does not decode";
  for (const DecodedTrack& track : image.tracks) {
    DatabaseRow row;
    row.fid = track.id;
    row.title = track.text[0];
    row.source = track.text[1];
    row.artist = track.text[2];
    row.length = track.number[8] * 1048576 + track.number[9];
    row.duration_s = track.number[10];
    row.bitrate = track.number[11] & 0x7FFFFF;
    row.channels = track.number[12];
    row.type_code = track.number[13];
    char pair[3];
    for (uint8_t byte : track.rid) {
      std::snprintf(pair, sizeof pair, "%02x", byte);
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
