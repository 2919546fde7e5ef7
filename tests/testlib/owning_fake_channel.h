// A channel double that owns its transport the way real channels do (closes and deletes it
// with itself), and a creator for ChannelFactory rows that builds one in a chosen state.
#pragma once

#include <memory>

#include "devices/channel_factory.h"
#include "devices/usb_hardware.h"
#include "testlib/fake_channel.h"

class OwningFakeChannel : public FakeChannel {
 public:
  OwningFakeChannel(UsbHardware* transport, int32_t state)
      : FakeChannel(state), transport_(transport) {}
  ~OwningFakeChannel() override { transport_->Close(); }
  UsbHardware* transport() const { return transport_.get(); }

 private:
  std::unique_ptr<UsbHardware> transport_;
};

// What CreateOwningFakeChannel makes next.
struct FakeChannelScript {
  int32_t state = kStateReady;
  Result result = 0;  // a failure: the creator deletes the transport and answers it
  int created = 0;
  uint32_t product_id = 0;
};

inline FakeChannelScript& FakeChannelNext() {
  static FakeChannelScript script;
  return script;
}

inline Result CreateOwningFakeChannel(UsbHardware* transport, uint32_t product_id,
                                      Channel** out) {
  FakeChannelScript& next = FakeChannelNext();
  next.product_id = product_id;
  if (next.result < 0) {
    delete transport;
    return next.result;
  }
  ++next.created;
  *out = new OwningFakeChannel(transport, next.state);
  return 0;
}
