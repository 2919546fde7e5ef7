#include "devices/device.h"

#include <gtest/gtest.h>

#include "devices/device_results.h"
#include "testlib/fake_channel.h"

namespace {

struct StateCase {
  const char* what;
  Result open_result;
  int32_t channel_state;
  int32_t expected;
};

// GetState opens a channel, answers its state and always closes it again; an unopenable
// device never fails the call.
TEST(DeviceGetStateTest, AnswersTheChannelStateOrTheOpenFailure) {
  const StateCase cases[] = {
      {"ready channel", rc::kOk, kStateReady, kStateReady},
      {"channel not usable now", rc::kOk, kStateNotUsable, kStateNotUsable},
      {"driver reports busy", rc::kWin32Busy, kStateReady, kStateError},
      {"held by another process", rc::kPlayerBusy, kStateReady, kStateGone},
      {"player gone", rc::kPlayerGone, kStateReady, kStateGone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int deletions = 0;
    RefPtr<Device> device(new FakeDevice(c.open_result, c.channel_state, &deletions));
    EXPECT_EQ(device->GetState(), c.expected);
    EXPECT_EQ(deletions, rc::Failed(c.open_result) ? 0 : 1);
  }
}

TEST(DeviceTest, SetDescriptionIsNotOfferedByDefault) {
  RefPtr<Device> device(new FakeDevice(rc::kOk, kStateReady));
  EXPECT_EQ(device->SetDescription("secret"), rc::kNotImplemented);
}

}  // namespace
