#include "devices/flash/end_to_end/end_to_end_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "devices/flash/type_codes.h"
#include "wmdm/wmdm_types.h"

namespace {

constexpr uint32_t kMiB = 1 << 20;

template <size_t N>
void PutText(std::array<uint8_t, N>& block, size_t at, const std::string& text) {
  std::memcpy(&block[at], text.data(), text.size());
}

// The device information block: name, manufacturer and the 16-byte serial.
void Identify(SimFlashPlayer& player, const std::string& name, const std::string& serial) {
  PutText(player.info_block, 128, name + std::string(16, '\0'));
  PutText(player.info_block, 192, std::string("Sim Works") + '\0');
  PutText(player.info_block, 96, serial);
}

void Size(SimStorage& storage, uint32_t total, uint32_t used, const std::string& serial) {
  storage.total_blocks = total;
  storage.used_blocks = used;
  storage.free_blocks = total - used;
  std::copy(serial.begin(), serial.end(), storage.serial.begin());
}

// A track the player already holds, listed under its name.
void AddTrack(SimDirectoryPlayer& player, uint32_t storage, uint32_t fid, const std::string& name) {
  SimFile& file = player.AddFile(storage, fid, "already there", name);
  SimPutLe32(&file.record[kSimFlagsAt], 0x110 | 0xA01);
  SimPutLe32(&file.record[kSimTypeAt], TypeCode("MPG3"));
}

}  // namespace

std::string UsbPath(uint32_t product_id, int instance) {
  char path[64];
  std::snprintf(path, sizeof path, "\\\\?\\usb#vid_0e21&pid_%04x#%d", product_id, instance);
  return path;
}

EndToEndTest::EndToEndTest() {
  seams_.usb = &usb_;
  seams_.clock = &listing_clock_;
  family_d_ = std::make_shared<SimDirectoryPlayer>(false, kFamilyD);
  family_d_->SetCapabilities(kSimCapUtf8 | kSimCapFileReplace);
  Identify(*family_d_, "Pavo Sim", "PAVO-SERIAL-0001");
  family_d_->storages[0].name = "Internal";
  Size(family_d_->Storage(0), 64 * kMiB, kMiB, "INTERNAL-SERIAL1");
  Size(family_d_->Storage(1), 32 * kMiB, 0, "CARD-SERIAL-0001");
  AddTrack(*family_d_, 0, 0x10, "Old_Song.mp3");

  second_d_ = std::make_shared<SimDirectoryPlayer>(false, kSecondFamilyD);
  second_d_->storages.resize(1);
  Identify(*second_d_, "Pavo Two", "PAVO-SERIAL-0002");
  Size(second_d_->Storage(0), 16 * kMiB, 0, "TWO-SERIAL-00001");

  family_c_ = std::make_shared<SimDirectoryPlayer>(true, kFamilyC);
  Identify(*family_c_, "", "SORN-SERIAL-0001");
  Size(family_c_->Storage(0), 32 * kMiB, kMiB, "SORN-INTERNAL-01");
  Size(family_c_->Storage(1), 16 * kMiB, 0, "SORN-CARD-000001");
  AddTrack(*family_c_, 0, 1, "Old_Song.mp3");

  family_e_ = std::make_shared<SimDirectoryPlayer>(false, kFamilyE);

  family_a_ = std::make_shared<SimFlashPlayerA>();
  SimPutLe32(&family_a_->info_block[4], kFamilyA << 16 | 0x0123);
  Identify(*family_a_, "", "PIRN-SERIAL-0001");
  Size(family_a_->Storage(0), 8192, 0, "PIRN-STORAGE-001");  // 1 KiB units
  // A player without a database is not listed: this one holds a track.
  std::vector<uint8_t> slot(256, 0);
  SimPutLe32(&slot[0], 0x110 | 0xA01);
  std::memcpy(&slot[12], "Old_Song.mp3", 12);
  std::memcpy(&slot[44], "Old Song", 8);
  SimPutLe32(&slot[244], 13);
  SimPutLe32(&slot[252], TypeCode("MPG3"));
  family_a_->AddSlot(slot);

  // Attached in the reverse of the provider's order, which must not depend on it.
  usb_.Attach(kFamilyA, UsbPath(kFamilyA, 1), family_a_);
  usb_.Attach(kFamilyE, UsbPath(kFamilyE, 1), family_e_);
  usb_.Attach(kFamilyC, UsbPath(kFamilyC, 1), family_c_);
  usb_.Attach(kSecondFamilyD, UsbPath(kSecondFamilyD, 1), second_d_);
  usb_.Attach(kFamilyD, UsbPath(kFamilyD, 1), family_d_);
}

EndToEndTest::~EndToEndTest() = default;

std::vector<IMDSPDevice*> EndToEndTest::List() {
  std::vector<IMDSPDevice*> devices;
  EXPECT_EQ(S_OK, host_.CreateDevices(usb_.PnpNames(), &devices));
  return devices;
}

std::vector<IMDSPDevice*> EndToEndTest::DevicesOf(const std::string& path) {
  std::vector<IMDSPDevice*> devices;
  EXPECT_EQ(S_OK, host_.CreateDevices(PnpNamesOf(path), &devices));
  return devices;
}

std::vector<std::string> EndToEndTest::PnpNamesOf(const std::string& path) const {
  std::vector<std::string> names = usb_.PnpNames();
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const std::string& name) {
                               return name.compare(0, path.size(), path) != 0 ||
                                      name[path.size()] != '$';
                             }),
              names.end());
  return names;
}

std::vector<IMDSPDevice*> EndToEndTest::Enumerate() {
  std::vector<IMDSPDevice*> devices;
  EXPECT_EQ(S_OK, host_.ListDevices(&devices));
  return devices;
}

ComRef<IMDSPStorageGlobals> EndToEndTest::Globals(IMDSPDevice* device) {
  ComRef<IMDSPStorageGlobals> globals;
  ComRef<IMDSPStorage> root = Root(device);
  if (root.Get()) {
    EXPECT_EQ(S_OK, root->GetStorageGlobals(globals.Out()));
  }
  return globals;
}

uint64_t EndToEndTest::FreeBytes(IMDSPDevice* device) {
  DWORD low = 0, high = 0;
  ComRef<IMDSPStorageGlobals> globals = Globals(device);
  if (globals.Get()) {
    EXPECT_EQ(S_OK, globals->GetTotalFree(&low, &high));
  }
  return uint64_t{high} << 32 | low;
}

StoredFile EndToEndTest::LastFile(SimStorage& storage) {
  if (storage.files.empty()) return StoredFile();
  const SimFile& file = storage.files.back();
  return {file.record, file.data};
}

StoredFile EndToEndTest::LastSlot() const {
  if (family_a_->slots.empty()) return StoredFile();
  const SimDatabaseSlot& slot = family_a_->slots.back();
  return {slot.file_record, slot.data};
}

std::string RecordText(const std::vector<uint8_t>& record, uint32_t offset, uint32_t width) {
  if (record.size() < offset + width) return std::string();
  const char* start = reinterpret_cast<const char*>(&record[offset]);
  return std::string(start, strnlen(start, width));
}

uint32_t RecordLe32(const std::vector<uint8_t>& record, uint32_t offset) {
  return record.size() < offset + 4 ? 0 : SimGetLe32(&record[offset]);
}
