// Flash family C: Latin-1 directory records whose titles outside plain ASCII travel as a small
// picture, files deleted and fetched by name and folder, and a second storage (a card).
#pragma once

#include <cstdint>

#include "devices/flash/sardane_directory_channel.h"

class SardaneChannelC : public SardaneDirectoryChannel {
 public:
  using SardaneDirectoryChannel::SardaneDirectoryChannel;

  // Storages, then the files of each; family C keeps no playlists.
  Result EnumContents(ContentsVisitor* visitor) override;
  // The base information, with the model's name.
  Result GetDeviceInfo(PropertyHolder& info) override;
  Result CreatePredictor(uint32_t storage, Predictor** predictor) override;
  Result EnumFids(RefPtr<FidList>* list) override;
  Result Request117(uint32_t value, uint32_t a, uint32_t b) override;

  Result MakeStorageProps(PropertyHolder& props, const uint8_t* block,
                          uint32_t storage) override;
  // The entry of `fid` on `storage`; the end of the directory's code when there is none.
  Result ReadRecordBlock(uint8_t* record, uint32_t storage, uint32_t fid) override;
  // The player finds the file by its name and folder.
  Result FindFileRecord(uint8_t* record, PropertyHolder& file) override;
  Result UsesUtf8(bool* utf8) override;
  // The directory record, with a picture of a title the player cannot draw; artist and
  // source it cannot draw are left empty.
  Result EncodeFileRecord(uint8_t* record, PropertySet& file) override;
};

Result CreateSardaneChannelC(UsbHardware* transport, uint32_t product_id, Channel** out);
