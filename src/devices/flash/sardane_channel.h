// The base of every flash-player channel: what the command protocol gives for the whole player
// (state, storages, device information, clock, suspend, format, firmware, owner record, the
// small numbered requests). The families say how their file records look and who they are
// through the pure operations below. Every operation that talks to the player makes its own
// ProtocolSession, so the locks it takes are released when it returns, whatever happened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/channel.h"
#include "devices/flash/protocol_session.h"
#include "devices/usb_hardware.h"
#include "support/clock.h"

class SardaneChannel : public Channel {
 public:
  // Owns `transport` (open); the channel's waits sleep on `clock`.
  SardaneChannel(UsbHardware* transport, uint32_t product_id, Clock* clock = Clock::System());
  // Closes and deletes the transport.
  ~SardaneChannel() override;
  SardaneChannel(const SardaneChannel&) = delete;
  SardaneChannel& operator=(const SardaneChannel&) = delete;

  int32_t GetState() override;
  Result EnumStorages(HolderVisitor* visitor) override;
  Result GetStorageInfo(uint32_t storage, PropertyHolder& info) override;
  Result GetDeviceInfo(PropertyHolder& info) override;

  Result DeleteFile(uint32_t storage, PropertyHolder& file) override;
  Result RewriteFileInfo(uint32_t storage, PropertySet& file) override;
  Result MetadataDiffers(PropertySet& old_file, PropertySet& new_file, bool* differs) override;
  Result SendFile(uint32_t storage, PropertySet& file, Stream* source,
                  ProgressSink* progress) override;
  Result SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                              ProgressSink* progress) override;
  Result ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                     ProgressSink* progress) override;

  Result FormatStorage(uint32_t storage, ProgressSink* progress) override;
  Result UpgradeFirmware(SeekableStream* image, uint32_t flags, ProgressSink* progress) override;
  Result GetOwnerInfo(PropertyHolder& owner) override;
  Result SetOwnerInfo(PropertySet& owner) override;
  Result SetClock(uint32_t utc_seconds) override;
  Result SetDeviceTime(uint32_t local_seconds, uint32_t utc_seconds) override;
  Result GetDeviceID(uint32_t* product_id) override;

  Result Commit(uint32_t flags) override;
  Result HoldStorage(bool hold) override;

  Result GetButtonCounters(PropertyHolder& counters) override;
  Result ReservedOperation(uint32_t argument) override;
  Result Request119(uint32_t value, uint8_t index) override;
  Result Request128(std::vector<uint32_t>* words) override;
  Result Request137(uint32_t value, uint32_t index) override;
  Result GetHardwareInfo(PropertyHolder& info) override;
  Result GetBatteryInfo(PropertyHolder& battery) override;
  Result Request142(const std::string& text, uint32_t index) override;
  Result Request140(uint32_t* value) override;
  Result Request145(uint32_t value) override;
  Result ListStateFiles() override;
  Result ConvertFileInfo(PropertyHolder& file, const uint8_t* record, uint32_t length) override;
  Result Suspend(bool suspend) override;
  Result Login(const std::string& password) override;
  Result ReloadDatabase(Stream* sink) override;
  Result Request146(uint16_t value, uint16_t index) override;

  // --- what the families supply or refine ----------------------------------------------
  // Storage properties of one 256-byte storage block (families call FillStorageProps).
  virtual Result MakeStorageProps(PropertyHolder& props, const uint8_t* block,
                                  uint32_t storage) = 0;
  virtual Result DecodeFileRecord(PropertyHolder& file, const uint8_t* record,
                                  uint32_t length) = 0;
  // The 2048-byte record of file `fid` on `storage`.
  virtual Result ReadRecordBlock(uint8_t* record, uint32_t storage, uint32_t fid) = 0;
  // The 2048-byte record that names `file` to the player for a delete.
  virtual Result FindFileRecord(uint8_t* record, PropertyHolder& file) = 0;
  // Request 120; `value` is the family's (the storage index by default).
  virtual Result DeleteFileRecord(uint32_t value, const uint8_t* record);
  // Appends the words of the family's fixed capabilities to a ";"-delimited list.
  virtual void AddCapabilities(std::string* list);
  // Whether the player's text fields are UTF-8 (else Latin-1).
  virtual Result UsesUtf8(bool* utf8);
  // ";"-delimited codec names of the player's formats (";mp3;wma;").
  virtual Result GetSupportedFormats(std::string* codecs);
  virtual Result SetIdentity(PropertyHolder& info);
  virtual Result EncodeFileRecord(uint8_t* record, PropertySet& file) = 0;
  // Request 133; needs the capability "file_replace".
  virtual Result WriteFileRecord(uint32_t value, const uint8_t* record);
  // Request 112: the file named by the record into `sink`.
  virtual Result ReceiveFileByRecord(uint32_t value, const uint8_t* record, Stream* sink,
                                     ProgressSink* progress);

  // Reads the device information once to learn the capabilities; a failure leaves them
  // unknown, so the next call asks again.
  Result HasCapability(const std::string& word, bool* has);

 protected:
  // The storage properties of a block whose counts are in units of `device_unit` bytes,
  // reported in blocks of `block_size` bytes.
  static Result FillStorageProps(PropertyHolder& props, const uint8_t* block,
                                 uint32_t device_unit, uint32_t block_size);

  // Request 108 or 136, the chunks of `source`, then the record.
  Result Upload(uint8_t request, uint32_t storage, PropertySet& file, Stream* source,
                ProgressSink* progress);

  UsbHardware* transport() const { return transport_; }
  uint32_t product_id() const { return product_id_; }
  Clock* clock() const { return clock_; }

 private:
  std::string capabilities_ = "NOT_CHECKED";
  UsbHardware* transport_;
  uint32_t product_id_;
  Clock* clock_;
};
