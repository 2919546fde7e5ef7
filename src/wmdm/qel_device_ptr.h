// The WMDM layer's handle on one player: it holds the Device, opens the player's Channel on
// first use, counts nested opens and drops the channel when the count returns to 0. Every
// player operation of the COM objects goes through one of its wrappers, which open the
// channel, call one channel operation, close it again, map the status for WMDM and trace it.
//
// While open it also watches the player's device information: "recovery" means the player
// cannot be used at all, and a "device_generation" that moved since the last close means
// someone else changed the player, so the objects WMDM holds are stale.
//
// No lock: a handle is used by one thread at a time (the caller of its COM object, or the
// format worker while that object waits). No C++ exception leaves a method.
#pragma once

// First, so that channel.h's removal of the DeleteFile macro is the last word on it.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/channel.h"
#include "devices/device.h"
#include "media/property_holder.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"

class OutputStream;
class Predictor;

// The tracks of one storage, each a holder of its own copy of the file's properties.
using FileHolderList = std::vector<std::unique_ptr<PropertyHolder>>;

class QelDevicePtrEx {
 public:
  explicit QelDevicePtrEx(const RefPtr<Device>& device);
  // Deletes the predictor, and a channel still open (so the player is not left locked).
  ~QelDevicePtrEx();
  QelDevicePtrEx(const QelDevicePtrEx&) = delete;
  QelDevicePtrEx& operator=(const QelDevicePtrEx&) = delete;

  // Raw open/close with device-library codes (not mapped, not traced). The first open fails
  // with 0xC004900B for a player in recovery and 0xC0049028 when the device generation moved;
  // a close without an open answers E_FAIL. `channel` may be null.
  Result OpenChannel(Channel** channel = nullptr);
  Result CloseChannel(Channel** channel = nullptr);
  // For callers that keep the channel open across several wrappers (true: open). Mapped.
  Result OpenOrCloseChannel(bool open);

  // Wrappers: each opens and closes around one call; results are mapped and traced.
  Result GetCanonicalName(std::string* name);
  Result GetDeviceInfo(PropertyHolder* info);
  // The player's clock set to now; the channel's status unmapped and untraced.
  Result SetClock();
  // Accounts every file of the storage ("storage_index") in the predictor, which
  // CreatePredictor must have made, and lists those of type "tune". `files` is replaced only
  // on success.
  Result EnumFiles(PropertyHolder& storage, FileHolderList* files);
  // `count` is written only on success.
  Result EnumStorages(uint32_t* count);
  Result GetDeviceID(uint32_t* product_id);
  Result GetStorageInfo(uint32_t storage, PropertyHolder* info);
  // Decodes a device-specific file record into `file`.
  Result ConvertFileInfo(PropertyHolder* file, const uint8_t* record, uint32_t length);
  // Replaces the handle's predictor with the storage's new one.
  Result CreatePredictor(uint32_t storage);
  Result FormatStorage(uint32_t storage);
  // Deletes on the player, takes the file out of the predictor and commits. Without a
  // predictor the file is still deleted and committed, and the result is E_FAIL.
  Result DeleteFile(uint32_t storage, PropertyHolder& file);
  // On success the channel stays open for the upload until CommitNewFile.
  Result CreateNewFile(uint32_t storage, OutputStream** stream);
  // Commits, deletes the stream (nulling the caller's pointer) and closes what
  // CreateNewFile opened. Mapped, not traced.
  Result CommitNewFile(OutputStream*& stream);

  // The number of storages of a player, through a short-lived handle.
  static Result CountStorages(const RefPtr<Device>& device, uint32_t* count);

  // Owned by the handle; null until CreatePredictor succeeds.
  Predictor* GetPredictor() const { return predictor_; }
  const RefPtr<Device>& GetDevice() const { return device_; }
  uint32_t open_count() const { return open_count_; }

 private:
  // Opens; on failure writes the "Failed to open channel" line.
  Result OpenReporting();
  // Open, one call on the channel, close. Returns the open's or the call's status.
  template <typename Call>
  Result OnChannel(bool report_open_failure, Call&& call);
  // The first-open checks of the device information.
  Result CheckDeviceInfo(Channel& channel);

  Predictor* predictor_ = nullptr;
  RefPtr<Device> device_;
  uint32_t device_generation_ = 0;  // 0: not known yet
  Channel* channel_ = nullptr;
  uint32_t open_count_ = 0;
};
