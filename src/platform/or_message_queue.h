// ORMessageQueueImpl: messages addressed by channel bits. Posting returns at once, sending
// waits until the receiver has finished the message, and one receiver at a time takes the
// first message that shares a bit with its mask (a mask of 0 takes any message).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform_interface.h"

// What a sender waits on: its event, and how the message ended (finished by a receiver, or
// dropped with its queue). Whoever ends the message stores the outcome and then sets the
// event, the last touch before the sender may return.
struct SendCompletion {
  void* event;
  Result outcome;
};

struct QueueMessage {
  uintptr_t payload;
  uint32_t mask;
  SendCompletion* completion;  // the sender's, null for a posted message
};

class ORMessageQueueImpl final : public PlatformObject {
 public:
  ORMessageQueueImpl();
  void Destroy() override;
  // 0 once a receiver has finished the message; prc::kMessageDropped when the queue was
  // destroyed before that.
  virtual Result Send(uint32_t mask, uintptr_t payload);
  virtual Result Post(uint32_t mask, uintptr_t payload);
  // Null on time-out or failure; a time-out of 0 waits without limit.
  virtual QueueMessage* Receive(uint32_t mask, uint64_t timeout_ns);
  virtual QueueMessage* Poll(uint32_t mask);
  // Tells the sender (if any) and deletes the message.
  virtual Result Done(QueueMessage* message);
  virtual uint32_t AllocChannel();
  virtual void FreeChannel(uint32_t bit);
  // Lock and Unlock hold the queue's mutex for the list operations below.
  virtual Result Lock();
  virtual Result Unlock();
  virtual uint32_t Count();
  virtual QueueMessage* At(uint32_t index);
  virtual Result Replace(uint32_t index, QueueMessage* message);
  virtual Result Remove(uint32_t index);
  virtual Result Insert(uint32_t index, QueueMessage* message);
  virtual Result Append(QueueMessage* message);

 protected:
  ~ORMessageQueueImpl();

 private:
  static bool Matches(uint32_t wanted, uint32_t mask) { return wanted == 0 || (wanted & mask); }
  Result Enqueue(uint32_t mask, uintptr_t payload, SendCompletion* completion);
  // Deletes the message and lets its sender, if any, go with `outcome`.
  static void Finish(QueueMessage* message, Result outcome);
  QueueMessage* TakeFirstMatch(uint32_t mask);

  void* mutex_;
  void* receiver_event_;
  bool receiver_waiting_ = false;
  uint32_t receiver_mask_ = 0;
  uint32_t channels_ = 0;
  std::vector<QueueMessage*> queue_;
};
