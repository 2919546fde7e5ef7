// Flash families D and E: directory records in UTF-8 on players that say so, playlists kept
// as FIDLST files, the small numbered requests 117, 134 and 145. Family E is family D under a
// partner's name.
#pragma once

#include <cstdint>

#include "devices/flash/sardane_directory_channel.h"

class SardaneChannelD : public SardaneDirectoryChannel {
 public:
  using SardaneDirectoryChannel::SardaneDirectoryChannel;

  // Storages, files, then each playlist with the members whose files are still the ones it
  // names (same fid generation).
  Result EnumContents(ContentsVisitor* visitor) override;
  Result CreatePredictor(uint32_t storage, Predictor** predictor) override;
  // An empty list for the caller to fill.
  Result EnumFids(RefPtr<FidList>* list) override;
  // rc::kBadIndex (nothing sent) for a value beyond 16 bits, an index above 4000 or a flag
  // beyond 2 bits.
  Result Request117(uint32_t value, uint32_t index, uint32_t flag) override;
  Result Request145(uint32_t value) override;
  Result ListStateFiles() override;

  Result MakeStorageProps(PropertyHolder& props, const uint8_t* block,
                          uint32_t storage) override;
  // The player finds a file by its fid alone.
  Result ReadRecordBlock(uint8_t* record, uint32_t storage, uint32_t fid) override;
  Result FindFileRecord(uint8_t* record, PropertyHolder& file) override;
  Result UsesUtf8(bool* utf8) override;
  // Older firmware does not list its formats; those players play mp3 and wma.
  Result GetSupportedFormats(std::string* codecs) override;

  // Largest playlist image taken from the player: one entry for every fid of 16 storages.
  static constexpr uint32_t kMaxPlaylistBytes = 12 + 6 * 16 * 0x4000;
};

class SardaneChannelE : public SardaneChannelD {
 public:
  using SardaneChannelD::SardaneChannelD;
  Result SetIdentity(PropertyHolder& info) override;
};

Result CreateSardaneChannelD(UsbHardware* transport, uint32_t product_id, Channel** out);
Result CreateSardaneChannelE(UsbHardware* transport, uint32_t product_id, Channel** out);
