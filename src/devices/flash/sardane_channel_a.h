// The flash players that keep a database of their files (product ids 0x5202 and 0x5801). The
// listing is a database query whose 256-byte records the channel decodes; a file's id is the
// position of its record in that database, and the 2048-byte file record carries a copy of
// the database record, which the player files under that id. Text is Latin-1.
#pragma once

#include <cstdint>
#include <functional>

#include "devices/flash/sardane_channel.h"

namespace sardane {
constexpr uint32_t kDatabaseRecordSize = 256;
}  // namespace sardane

class SardaneChannelA : public SardaneChannel {
 public:
  SardaneChannelA(UsbHardware* transport, uint32_t product_id, Clock* clock = Clock::System());

  int32_t GetState() override;
  // Only storage 0 exists; the callback may be absent.
  Result EnumFiles(uint32_t storage, HolderVisitor* visitor) override;
  Result EnumContents(ContentsVisitor* visitor) override;
  Result GetDeviceInfo(PropertyHolder& info) override;
  Result CreateNewFile(uint32_t storage, OutputStream** stream) override;
  Result CreatePredictor(uint32_t storage, Predictor** predictor) override;
  // The player keeps no file-id list: clears *list and answers E_NOTIMPL.
  Result EnumFids(RefPtr<FidList>* list) override;
  Result Request117(uint32_t value, uint32_t a, uint32_t b) override;

  Result MakeStorageProps(PropertyHolder& props, const uint8_t* block,
                          uint32_t storage) override;
  Result DecodeFileRecord(PropertyHolder& file, const uint8_t* record,
                          uint32_t length) override;
  // Nothing is read: the player needs only the fid inside the database part.
  Result ReadRecordBlock(uint8_t* record, uint32_t storage, uint32_t fid) override;
  Result FindFileRecord(uint8_t* record, PropertyHolder& file) override;
  void AddCapabilities(std::string* list) override;
  Result UsesUtf8(bool* utf8) override;
  Result EncodeFileRecord(uint8_t* record, PropertySet& file) override;

  // Properties of one 256-byte database record (the host has put the fid at offset 4).
  virtual Result DecodeDatabaseRecord(PropertyHolder& file, const uint8_t* record);

  // Where the player filed the database record of a file it has just taken: the player alone
  // chooses the position, so the host learns it from the database. Records are compared
  // without their flags and fid words; among equal ones the `predicted` position wins, else
  // the last (a player that appends puts a copy of an older file after it). 0xC0040002 when
  // no record matches.
  Result FindFiledPosition(const uint8_t* record, uint32_t predicted, uint32_t* position);

 private:
  // Reads the whole database under the lock and hands each non-empty record with its position
  // to `visit`; a false answer skips the rest of that chunk. 0xC0049024 when there is none.
  Result WalkDatabase(const std::function<bool(uint32_t position, uint8_t* record)>& visit);
};

// Takes the transport (deleted on failure); 0 with *out set, or E_OUTOFMEMORY.
Result CreateSardaneChannelA(UsbHardware* transport, uint32_t product_id, Channel** out);
