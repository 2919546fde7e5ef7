#include "devices/channel_factory.h"

#include <iterator>
#include <memory>

#include "devices/channel.h"
#include "devices/device.h"
#include "devices/device_results.h"
#include "devices/flash/sardane_channel_a.h"
#include "devices/flash/sardane_channel_b.h"
#include "devices/flash/sardane_channel_c.h"
#include "devices/flash/sardane_channel_d.h"
#include "devices/harddisk/tarnu_channel.h"
#include "devices/usb_hardware.h"

namespace {

// Every product id a channel class is meant for; ids whose class is not in this build keep a
// null creator.
const ChannelFactoryRow kPlayerRows[] = {
    // family C
    {0x5001, CreateSardaneChannelC},
    {0x5002, CreateSardaneChannelC},
    {0x5003, CreateSardaneChannelC},
    {0x5008, CreateSardaneChannelC},
    // family D
    {0x5005, CreateSardaneChannelD},
    {0x5006, CreateSardaneChannelD},
    {0x5007, CreateSardaneChannelD},
    {0x5009, CreateSardaneChannelD},
    {0x500C, CreateSardaneChannelD},
    {0x500D, CreateSardaneChannelD},
    {0x500E, CreateSardaneChannelD},
    {0x500F, CreateSardaneChannelD},
    {0x5010, CreateSardaneChannelD},
    {0x501D, CreateSardaneChannelD},
    {0x501E, CreateSardaneChannelD},
    {0x501F, CreateSardaneChannelD},
    // family E: the family D channel with the partner identity
    {0x501C, CreateSardaneChannelE},
    // family A
    {0x5202, CreateSardaneChannelA},
    {0x5801, CreateSardaneChannelA},
    // family B
    {0x5220, CreateSardaneChannelB},
    {0x5221, CreateSardaneChannelB},
    // hard-disk player
    {0x5210, CreateTarnuChannel},
};

}  // namespace

const ChannelFactory& ChannelFactory::Default() {
  static const ChannelFactory factory(kPlayerRows, std::size(kPlayerRows));
  return factory;
}

const ChannelFactoryRow* ChannelFactory::Find(uint32_t product_id) const {
  for (size_t i = 0; i < count_; ++i)
    if (rows_[i].product_id == product_id) return &rows_[i];
  return nullptr;
}

Result ChannelFactory::Create(uint32_t product_id, UsbHardware* transport, Channel** out) const {
  *out = nullptr;
  const ChannelFactoryRow* row = Find(product_id);
  if (row == nullptr || row->create == nullptr) {
    if (transport) transport->Close();
    delete transport;
    return rc::kUnknownProduct;
  }
  Channel* created = nullptr;
  const Result result = row->create(transport, product_id, &created);
  if (rc::Failed(result)) return result;
  std::unique_ptr<Channel> channel(created);
  if (!channel || channel->GetState() != kStateReady) return rc::kPlayerNotReady;
  *out = channel.release();
  return rc::kOk;
}
