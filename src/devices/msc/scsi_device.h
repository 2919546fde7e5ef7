// A drive-letter addressed SCSI path to mass-storage players: the typed queries every back end
// shares (built on Run) and the operations each back end supplies. A device keeps no state
// between calls; channels make one per operation through Create and release it afterwards.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/msc/msc_drive_record.h"
#include "support/result_codes.h"

class ProgressSink;
class PropertyHolder;
class ScsiCommand;
class SeekableStream;
class VolumeIoApi;

class ScsiDevice {
 public:
  // The full entry may pick the COM back end (never configured here); the short one is what
  // most channel operations use.
  enum class Entry { kFull, kShort };

  // The back end of the running Windows, initialised. `api`: null for the system's functions;
  // it must outlive the device.
  static Result Create(Entry entry, VolumeIoApi* api, std::unique_ptr<ScsiDevice>* out);

  virtual ~ScsiDevice() = default;

  // --- back end -------------------------------------------------------------------------
  // Every player among the removable drives, one record per player, in ascending serial.
  virtual Result EnumerateDrives(std::vector<MscDriveRecord>* records) = 0;
  virtual Result UpgradeFirmware(char drive, const std::vector<MscDriveEntry>& entries,
                                 uint32_t flags, SeekableStream* image,
                                 ProgressSink* progress) = 0;
  virtual Result FlushVolumes(char drive, const std::vector<MscDriveEntry>& entries) = 0;
  virtual Result Execute(HANDLE handle, ScsiCommand* command) = 0;
  virtual Result Initialize() = 0;
  virtual Result Open(char drive, HANDLE* handle) = 0;
  virtual Result Close(HANDLE handle) = 0;
  virtual Result QueryPlayer(char drive, MscDriveRecord* record);

  // --- shared ---------------------------------------------------------------------------
  // Open, Execute, Close; Execute's result (an open failure is returned as it is).
  Result Run(char drive, ScsiCommand* command);
  // Success when the unit serial page holds a non-empty text.
  virtual Result CheckUnitSerial(char drive);
  virtual Result SetTime(char drive, uint32_t first, uint32_t second);
  Result Request119(char drive, uint16_t value, uint8_t index);
  // Index b << 14 | a.
  Result Request117(char drive, uint32_t value, uint16_t a, uint16_t b);
  // At most 96 bytes of the text, in a 96-byte block; the value is the length sent.
  Result SendText(char drive, const std::string& text, uint32_t index);
  Result Request145(char drive, uint32_t value);
  Result Request137(char drive, uint32_t value, uint32_t index);
  Result Request146(char drive, uint32_t value, uint32_t index);
  Result Request134(char drive);
  // Request 138: the first 124 bytes of the drive's ATA identify data.
  Result GetDiskIdentity(char drive, PropertyHolder& info);
  Result GetButtonCounters(char drive, PropertyHolder& counters);
  // Request 128: up to four words.
  Result GetValueList(char drive, std::vector<uint32_t>* values);
  Result GetSensors(char drive, PropertyHolder& sensors);
  // Request 140's value divided by 60.
  Result Request140Value(char drive, uint32_t* value);

 protected:
  // WRITE BUFFER blocks of 8192 bytes, the last one zero-padded, through Execute; buffer id 1
  // for flags bit 3, else 2 for bit 5, else 0; progress gets (bytes sent, size).
  Result SendFirmwareImage(HANDLE handle, uint32_t flags, SeekableStream* image, uint32_t size,
                           ProgressSink* progress);

 private:
  // A vendor request with a reply of `reply_length` bytes, copied to `reply`.
  Result RunRequest(char drive, uint32_t request, uint32_t value, uint32_t index,
                    uint8_t reply_length, uint8_t* reply);
  // A request of no arguments whose `Length`-byte reply goes to `decode`.
  template <uint8_t Length, typename Decode>
  Result RunQuery(char drive, uint32_t request, Decode decode);
};

// True when the back end of this system reaches `drive` and it answers its unit serial page:
// the state probe of the mass-storage device and channel.
bool PlayerAnswers(VolumeIoApi* api, char drive);

// --- reply decoders (shared with the simulated player's tests) -----------------------------
void DecodeDiskIdentity(const uint8_t* reply, PropertyHolder& info);
void DecodeButtonCounters(const uint8_t* reply, PropertyHolder& counters);
void DecodeValueList(const uint8_t* reply, std::vector<uint32_t>* values);
void DecodeSensors(const uint8_t* reply, PropertyHolder& sensors);
