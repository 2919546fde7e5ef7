#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/or_event.h"
#include "platform/or_message_queue.h"
#include "platform/or_mutex.h"
#include "platform/platform_codes.h"
#include "platform/win32_sync.h"

namespace {

constexpr uint64_t kMs = 1000000;

template <typename T>
struct Destroyer {
  void operator()(T* object) { object->Destroy(); }
};
template <typename T>
using Owned = std::unique_ptr<T, Destroyer<T>>;

// Polls until the condition holds (or a generous limit passes) so that a second thread can
// be seen waiting before the test acts.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}

TEST(Win32SyncTest, WrappersAnswerTheirResultConvention) {
  using namespace win32sync;
  EXPECT_EQ(kNullHandle, MutexLock(nullptr));
  EXPECT_EQ(kNullHandle, MutexUnlock(nullptr));
  EXPECT_EQ(kNullHandle, EventSet(nullptr));
  EXPECT_EQ(kNullHandle, EventWait(nullptr, 0));
  EXPECT_EQ(kNullHandle, HandleClose(nullptr));
  Handle event = EventCreate();
  EXPECT_EQ(kTimedOut, EventWait(event, 1 * kMs));
  EXPECT_EQ(kDone, EventSet(event));
  EXPECT_EQ(kDone, EventWait(event, 1 * kMs));
  EXPECT_EQ(kDone, EventWait(event, 1 * kMs)) << "manual reset: stays signalled";
  EXPECT_EQ(kDone, EventReset(event));
  EXPECT_EQ(kTimedOut, EventWait(event, 1 * kMs));
  EXPECT_EQ(kDone, HandleClose(event));
  EXPECT_EQ(0xFFFFFFFFu, WaitMilliseconds(0)) << "without limit";
  EXPECT_EQ(0u, WaitMilliseconds(999999)) << "below a millisecond is a zero wait";
}

TEST(ORMutexTest, TryLockFromAnotherThreadTimesOutAndOwnerMayReenter) {
  Owned<ORMutexImpl> mutex(new ORMutexImpl);
  EXPECT_EQ(0, mutex->Lock());
  EXPECT_EQ(0, mutex->TryLock()) << "the owner enters again";
  Result other = 0;
  std::thread([&] { other = mutex->TryLock(); }).join();
  EXPECT_EQ(prc::kTimeout, other);
  mutex->Unlock();
  mutex->Unlock();
  std::thread([&] {
    other = mutex->TryLock();
    mutex->Unlock();
  }).join();
  EXPECT_EQ(0, other);
}

TEST(OREventTest, WaitAnyIsSatisfiedAtOnceByAFlagAlreadySet) {
  Owned<OREventImpl> event(new OREventImpl);
  event->Set(0x2);
  uint32_t flags = 0;
  EXPECT_EQ(0, event->WaitAny(0x6, &flags, 1 * kMs));
  EXPECT_EQ(0x2u, flags);
  EXPECT_EQ(prc::kTimeout, event->WaitAll(0x6, &flags, 1 * kMs));
}

TEST(OREventTest, WaitAllWakesOnlyWhenTheLastBitIsSet) {
  Owned<OREventImpl> event(new OREventImpl);
  event->Set(0x2);
  uint32_t flags = 0;
  Result result = -1;
  std::thread waiter([&] { result = event->WaitAll(0x6, &flags, 0); });
  ASSERT_TRUE(Eventually([&] { return event->WaitingCount() == 1; }));
  event->Set(0x8);
  event->Clear(0x2);
  event->Set(0x2);
  EXPECT_EQ(1, event->WaitingCount()) << "neither Set nor Clear satisfies 0x6 yet";
  event->Set(0x4);
  waiter.join();
  EXPECT_EQ(0, result);
  EXPECT_EQ(0xEu, flags);
  EXPECT_EQ(0, event->WaitingCount());
}

TEST(OREventTest, TimedOutWaitLeavesNoRecordBehind) {
  Owned<OREventImpl> event(new OREventImpl);
  uint32_t flags = 0;
  Result result = 0;
  std::thread([&] { result = event->WaitAny(0x1, &flags, 20 * kMs); }).join();
  EXPECT_EQ(prc::kTimeout, result);
  EXPECT_EQ(0, event->WaitingCount());
  event->Set(0x1);  // wakes nobody and must not touch the closed private event
  EXPECT_EQ(0, event->WaitAny(0x1, &flags, 1 * kMs));
}

// Set and a time-out racing: every round either satisfies the waiter (with the flags) or
// times it out, and never signals a handle the waiter already closed.
TEST(OREventTest, SetRacingATimeOutNeitherLosesTheWakeNorHitsAClosedHandle) {
  for (int round = 0; round < 200; ++round) {
    Owned<OREventImpl> event(new OREventImpl);
    uint32_t flags = 0;
    Result result = -1;
    std::thread waiter([&] { result = event->WaitAny(0x1, &flags, 1 * kMs); });
    std::this_thread::sleep_for(std::chrono::microseconds(round % 7 * 200));
    event->Set(0x1);
    waiter.join();
    if (result == 0) EXPECT_EQ(0x1u, flags);
    else EXPECT_EQ(prc::kTimeout, result);
    EXPECT_EQ(0, event->WaitingCount());
  }
}

TEST(ORMessageQueueTest, ChannelsAreAllocatedLowestFirst) {
  Owned<ORMessageQueueImpl> queue(new ORMessageQueueImpl);
  EXPECT_EQ(1u, queue->AllocChannel());
  EXPECT_EQ(2u, queue->AllocChannel());
  EXPECT_EQ(4u, queue->AllocChannel());
  queue->FreeChannel(2);
  EXPECT_EQ(2u, queue->AllocChannel());
  EXPECT_EQ(8u, queue->AllocChannel());
}

TEST(ORMessageQueueTest, ReceiveTakesTheFirstMatchingMessageAndZeroMeansAny) {
  Owned<ORMessageQueueImpl> queue(new ORMessageQueueImpl);
  queue->Post(0x1, 10);
  queue->Post(0x2, 20);
  queue->Post(0x1, 11);
  QueueMessage* message = queue->Receive(0x2, 1 * kMs);
  ASSERT_NE(nullptr, message);
  EXPECT_EQ(20u, message->payload);
  queue->Done(message);
  message = queue->Poll(0);
  ASSERT_NE(nullptr, message) << "mask 0 takes any message";
  EXPECT_EQ(10u, message->payload);
  queue->Done(message);
  EXPECT_EQ(nullptr, queue->Poll(0x4));
  EXPECT_EQ(nullptr, queue->Receive(0x4, 5 * kMs));
  EXPECT_EQ(1u, queue->Count());
}

TEST(ORMessageQueueTest, PostOnAnotherChannelDoesNotWakeTheReceiver) {
  Owned<ORMessageQueueImpl> queue(new ORMessageQueueImpl);
  QueueMessage* received = nullptr;
  std::thread receiver([&] { received = queue->Receive(0x1, 0); });
  ASSERT_TRUE(Eventually([&] { return queue->Poll(0) == nullptr && queue->Count() == 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  queue->Post(0x2, 7);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(nullptr, received);
  EXPECT_EQ(1u, queue->Count()) << "the message stays queued";
  queue->Post(0x1, 8);
  receiver.join();
  ASSERT_NE(nullptr, received);
  EXPECT_EQ(8u, received->payload);
  queue->Done(received);
  QueueMessage* left = queue->Poll(0x2);
  ASSERT_NE(nullptr, left);
  EXPECT_EQ(7u, left->payload);
  queue->Done(left);
}

TEST(ORMessageQueueTest, ReceiverWaitingOnAnyIsWokenByEveryChannel) {
  Owned<ORMessageQueueImpl> queue(new ORMessageQueueImpl);
  QueueMessage* received = nullptr;
  std::thread receiver([&] { received = queue->Receive(0, 2000 * kMs); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  queue->Post(0x40, 5);
  receiver.join();
  ASSERT_NE(nullptr, received);
  EXPECT_EQ(5u, received->payload);
  queue->Done(received);
}

TEST(ORMessageQueueTest, SendReturnsOnlyAfterTheReceiverIsDone) {
  Owned<ORMessageQueueImpl> queue(new ORMessageQueueImpl);
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    queue->Send(0x1, 42);
    sent = true;
  });
  QueueMessage* message = queue->Receive(0x1, 0);
  ASSERT_NE(nullptr, message);
  EXPECT_EQ(42u, message->payload);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(sent);
  queue->Done(message);
  sender.join();
  EXPECT_TRUE(sent);
}

TEST(ORMessageQueueTest, SendFailsWhenTheQueueIsDestroyedBeforeAnyoneTookTheMessage) {
  Owned<ORMessageQueueImpl> queue(new ORMessageQueueImpl);
  queue->Post(0x1, 1);
  Result sent = prc::kOk;
  std::thread sender([&] { sent = queue->Send(0x1, 2); });
  ASSERT_TRUE(Eventually([&] { return queue->Count() == 2; }));
  queue.reset();  // deletes both messages and lets the sender go
  sender.join();
  EXPECT_EQ(prc::kMessageDropped, sent);
}

TEST(ORMessageQueueTest, ListOperationsEditTheQueueInPlace) {
  Owned<ORMessageQueueImpl> queue(new ORMessageQueueImpl);
  queue->Lock();
  queue->Append(new QueueMessage{1, 1, nullptr});
  queue->Append(new QueueMessage{3, 1, nullptr});
  queue->Insert(1, new QueueMessage{2, 1, nullptr});
  queue->Insert(3, new QueueMessage{4, 1, nullptr});
  ASSERT_EQ(4u, queue->Count());
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(i + 1, queue->At(i)->payload);
  QueueMessage* second = queue->At(1);
  queue->Remove(1);
  delete second;
  queue->Unlock();
  EXPECT_EQ(3u, queue->Count());
  EXPECT_EQ(3u, queue->At(1)->payload);
  // In 20 rounds the list grows past its first 16 places.
  for (int i = 0; i < 20; ++i) queue->Post(1, 100 + i);
  EXPECT_EQ(23u, queue->Count());
}

}  // namespace
