// One attached player, whatever its transport, for as long as it is listed: it says who it is
// and opens channels. Reference counted (created with count 0, held through RefPtr).
#pragma once

#include <cstdint>
#include <string>

#include "support/ref_counted.h"
#include "support/registered_lock.h"
#include "support/result_codes.h"

class Channel;
class PropertySet;
class UsbHardware;

// Answers of Device::GetState and Channel::GetState.
enum DeviceState : int32_t {
  kStateGone = 0,
  kStateError = 1,
  kStateNotUsable = 2,
  kStateReady = 3,
};

class Device : public RefCounted {
 public:
  // The device's own transport (not a new reference); null for mass-storage and network players.
  virtual UsbHardware* GetHardware() = 0;
  // Opens a channel, answers its state and closes it again. Never fails: a device that cannot
  // be opened answers kStateError when it is busy (0x800700AA), else kStateGone.
  virtual int32_t GetState();
  // A new channel owned by the caller; it owns a clone of the transport, not the device.
  virtual Result OpenChannel(Channel** channel) = 0;
  // Names this player among all attached ones.
  virtual Result GetUniqueId(std::string* id) = 0;
  // How the system addresses the player (USB: the device-interface path).
  virtual Result GetCanonicalName(std::string* name) = 0;
  // A new set with "connection_type" at least.
  virtual Result GetProperties(RefPtr<PropertySet>* properties) = 0;
  // Network players keep a text (their password); the others answer E_NOTIMPL.
  virtual Result SetDescription(const std::string& text) { return rc::kNotImplemented; }
  virtual Result GetProductId(uint32_t* product_id) = 0;

  // Held by whoever talks to the player or changes what is kept of it, so that callers on
  // several threads (the WMDM devices of its storages among them) take turns.
  RegisteredLock& operation_lock() { return operation_lock_; }

 protected:
  // A new set on its row with "connection_type" = `connection_type`: GetProperties' answer.
  static Result ConnectionProperties(const char* connection_type,
                                     RefPtr<PropertySet>* properties);

 private:
  RegisteredLock operation_lock_{"Device"};
};
