// Picks a USB player's channel class by its product id and builds the channel over an opened
// transport. Families join the table through one creator function each, so a family that is
// not built yet simply has no creator and its ids are answered like unknown ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/result_codes.h"

class Channel;
class UsbHardware;

// Takes ownership of `transport` (deletes it on failure); 0 with *out set, or E_OUTOFMEMORY.
using ChannelCreator = Result (*)(UsbHardware* transport, uint32_t product_id, Channel** out);

struct ChannelFactoryRow {
  uint32_t product_id;
  ChannelCreator create;  // null: the channel class is not available in this build
};

class ChannelFactory {
 public:
  ChannelFactory(const ChannelFactoryRow* rows, size_t count) : rows_(rows), count_(count) {}

  // The players' table.
  static const ChannelFactory& Default();

  // Takes ownership of the open `transport` in every case. rc::kUnknownProduct for an id
  // without a creator (the transport is closed and deleted); rc::kPlayerNotReady when the
  // new channel's state is not kStateReady (the channel, and with it the transport, is
  // deleted); else the creator's failure.
  Result Create(uint32_t product_id, UsbHardware* transport, Channel** out) const;

  // The row of a product id; null when there is none.
  const ChannelFactoryRow* Find(uint32_t product_id) const;

 private:
  const ChannelFactoryRow* rows_;
  size_t count_;
};
