// The per-family protocol object of an open player. One owner (the caller of
// Device::OpenChannel), deleted through the virtual destructor; a channel owns its transport.
// Every operation answers an HRESULT-style code; an operation that a family does not offer
// answers E_NOTIMPL, which callers take as "not available", not as a fault. Storages are
// numbered from 0 (the internal memory). A channel is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/ref_counted.h"
#include "support/result_codes.h"

// <windows.h> renames DeleteFile; keep the operation's own name in every translation unit.
#ifdef DeleteFile
#undef DeleteFile
#endif

class FidList;
class OutputStream;
class Predictor;
class ProgressSink;
class PropertyHolder;
class PropertySet;
class SeekableStream;
class Stream;
class HolderVisitor;
class ContentsVisitor;

class Channel {
 public:
  virtual ~Channel() = default;

  // DeviceState: kStateGone, kStateError, kStateNotUsable or kStateReady.
  virtual int32_t GetState() = 0;

  // --- Listing -------------------------------------------------------------------------
  // Every file of one storage, each as a file holder ("fid", "type", "title", "length" ...).
  virtual Result EnumFiles(uint32_t storage, HolderVisitor* visitor) = 0;
  // Every storage, then the files of each storage (and playlists where the family has them).
  virtual Result EnumContents(ContentsVisitor* visitor) = 0;
  // Storages in index order.
  virtual Result EnumStorages(HolderVisitor* visitor) = 0;
  virtual Result GetStorageInfo(uint32_t storage, PropertyHolder& info) = 0;
  virtual Result GetDeviceInfo(PropertyHolder& info) = 0;

  // --- Files ---------------------------------------------------------------------------
  virtual Result DeleteFile(uint32_t storage, PropertyHolder& file) = 0;
  virtual Result RewriteFileInfo(uint32_t storage, PropertySet& file) = 0;
  virtual Result MetadataDiffers(PropertySet& old_file, PropertySet& new_file,
                                 bool* differs) = 0;
  // Uploads a whole file in one call.
  virtual Result SendFile(uint32_t storage, PropertySet& file, Stream* source,
                          ProgressSink* progress) = 0;
  // The same upload, opened with request 136 on flash players.
  virtual Result SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                                      ProgressSink* progress) = 0;
  virtual Result ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                             ProgressSink* progress) = 0;

  // --- Storage and device --------------------------------------------------------------
  virtual Result FormatStorage(uint32_t storage, ProgressSink* progress) = 0;
  // `flags` means nothing to most families.
  virtual Result UpgradeFirmware(SeekableStream* image, uint32_t flags,
                                 ProgressSink* progress) = 0;
  virtual Result GetOwnerInfo(PropertyHolder& owner) = 0;
  virtual Result SetOwnerInfo(PropertySet& owner) = 0;
  // Seconds since 1970 (UTC); converts to local time and calls SetDeviceTime.
  virtual Result SetClock(uint32_t utc_seconds) = 0;
  virtual Result SetDeviceTime(uint32_t local_seconds, uint32_t utc_seconds) = 0;
  // The USB product id the channel was made for.
  virtual Result GetDeviceID(uint32_t* product_id) = 0;

  // --- Uploads and accounting ----------------------------------------------------------
  // A new file whose bytes the caller writes and finishes with its metadata; caller owns it.
  virtual Result CreateNewFile(uint32_t storage, OutputStream** stream) = 0;
  // The free-space predictor of one storage; caller owns it.
  virtual Result CreatePredictor(uint32_t storage, Predictor** predictor) = 0;
  virtual Result EnumFids(RefPtr<FidList>* list) = 0;
  // Ends a batch of changes after deletes and new files (callers pass 1).
  virtual Result Commit(uint32_t flags) = 0;
  // true: mount and hold the player's storage; false: release it.
  virtual Result HoldStorage(bool hold) = 0;

  // --- Player requests -----------------------------------------------------------------
  // The holder is the value sink: each counter arrives through PropertyHolder::SetInt.
  virtual Result GetButtonCounters(PropertyHolder& counters) = 0;
  virtual Result ReservedOperation(uint32_t argument) = 0;
  virtual Result Request119(uint32_t value, uint8_t index) = 0;
  // The reply's 32-bit words up to the first zero word.
  virtual Result Request128(std::vector<uint32_t>* words) = 0;
  virtual Result Request137(uint32_t value, uint32_t index) = 0;
  virtual Result GetHardwareInfo(PropertyHolder& info) = 0;
  virtual Result GetBatteryInfo(PropertyHolder& battery) = 0;
  virtual Result Request117(uint32_t value, uint32_t a, uint32_t b) = 0;
  virtual Result Request142(const std::string& text, uint32_t index) = 0;
  // Request 140's value divided by 60.
  virtual Result Request140(uint32_t* value) = 0;
  virtual Result Request145(uint32_t value) = 0;
  virtual Result ListStateFiles() = 0;
  // Decodes a device-specific file record of `length` bytes into the holder.
  virtual Result ConvertFileInfo(PropertyHolder& file, const uint8_t* record,
                                 uint32_t length) = 0;
  // true: close the transport so other processes may open the player; false: reopen it.
  virtual Result Suspend(bool suspend) = 0;
  virtual Result Login(const std::string& password) = 0;
  // Writes the player's whole database image to the sink (flash family B).
  virtual Result ReloadDatabase(Stream* sink) = 0;
  virtual Result Request146(uint16_t value, uint16_t index) = 0;
};
