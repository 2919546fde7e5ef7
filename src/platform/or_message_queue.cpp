#include "platform/or_message_queue.h"

#include "platform/platform_codes.h"
#include "platform/win32_sync.h"
#include "support/assertions.h"

using namespace win32sync;

ORMessageQueueImpl::ORMessageQueueImpl()
    : mutex_(MutexCreate()), receiver_event_(EventCreate()) {
  TORVEX_ASSERT(mutex_ && receiver_event_);
  queue_.reserve(16);
}

ORMessageQueueImpl::~ORMessageQueueImpl() {
  MutexLock(mutex_);
  TORVEX_ASSERT(!receiver_waiting_);
  // Messages nobody took are deleted; their senders learn that nobody finished them.
  for (QueueMessage* message : queue_) Finish(message, prc::kMessageDropped);
  queue_.clear();
  MutexUnlock(mutex_);
  HandleClose(receiver_event_);
  HandleClose(mutex_);
}

void ORMessageQueueImpl::Destroy() { delete this; }

void ORMessageQueueImpl::Finish(QueueMessage* message, Result outcome) {
  SendCompletion* completion = message->completion;
  delete message;
  if (!completion) return;
  void* event = completion->event;
  completion->outcome = outcome;
  EventSet(event);
}

Result ORMessageQueueImpl::Enqueue(uint32_t mask, uintptr_t payload, SendCompletion* completion) {
  MutexHold hold(mutex_);
  TORVEX_ASSERT(channels_ == 0 || (mask & channels_) != 0);
  queue_.push_back(new QueueMessage{payload, mask, completion});
  if (receiver_waiting_ && Matches(receiver_mask_, mask)) {
    receiver_waiting_ = false;
    EventSet(receiver_event_);
  }
  return prc::kOk;
}

Result ORMessageQueueImpl::Post(uint32_t mask, uintptr_t payload) {
  return Enqueue(mask, payload, nullptr);
}

Result ORMessageQueueImpl::Send(uint32_t mask, uintptr_t payload) {
  SendCompletion completion{EventCreate(), prc::kMessageDropped};
  TORVEX_ASSERT(completion.event != nullptr);
  Enqueue(mask, payload, &completion);
  EventWait(completion.event, 0);
  HandleClose(completion.event);
  return completion.outcome;
}

QueueMessage* ORMessageQueueImpl::TakeFirstMatch(uint32_t mask) {
  for (size_t i = 0; i < queue_.size(); ++i) {
    if (!Matches(mask, queue_[i]->mask)) continue;
    QueueMessage* message = queue_[i];
    queue_.erase(queue_.begin() + static_cast<ptrdiff_t>(i));
    return message;
  }
  return nullptr;
}

QueueMessage* ORMessageQueueImpl::Receive(uint32_t mask, uint64_t timeout_ns) {
  MutexHold hold(mutex_);
  TORVEX_ASSERT(!receiver_waiting_);
  for (;;) {
    if (QueueMessage* message = TakeFirstMatch(mask)) return message;
    receiver_waiting_ = true;
    receiver_mask_ = mask;
    MutexUnlock(mutex_);
    int waited = EventWait(receiver_event_, timeout_ns);
    MutexLock(mutex_);
    EventReset(receiver_event_);
    if (waited != kDone) {
      receiver_waiting_ = false;
      return nullptr;
    }
  }
}

QueueMessage* ORMessageQueueImpl::Poll(uint32_t mask) {
  if (MutexTryLock(mutex_) != kDone) return nullptr;
  QueueMessage* message = receiver_waiting_ ? nullptr : TakeFirstMatch(mask);
  MutexUnlock(mutex_);
  return message;
}

Result ORMessageQueueImpl::Done(QueueMessage* message) {
  if (message) Finish(message, prc::kOk);
  return prc::kOk;
}

uint32_t ORMessageQueueImpl::AllocChannel() {
  MutexHold hold(mutex_);
  for (int i = 0; i < 32; ++i) {
    uint32_t bit = 1u << i;
    if (channels_ & bit) continue;
    channels_ |= bit;
    return bit;
  }
  AssertFailed(__FILE__, __LINE__, kAssertionCode);
}

void ORMessageQueueImpl::FreeChannel(uint32_t bit) {
  MutexHold hold(mutex_);
  TORVEX_ASSERT(bit != 0 && (channels_ & bit) == bit);
  channels_ &= ~bit;
}

Result ORMessageQueueImpl::Lock() {
  MutexLock(mutex_);
  return prc::kOk;
}

Result ORMessageQueueImpl::Unlock() {
  MutexUnlock(mutex_);
  return prc::kOk;
}

uint32_t ORMessageQueueImpl::Count() {
  MutexHold hold(mutex_);
  return static_cast<uint32_t>(queue_.size());
}

QueueMessage* ORMessageQueueImpl::At(uint32_t index) {
  MutexHold hold(mutex_);
  TORVEX_ASSERT(index < queue_.size());
  return queue_[index];
}

Result ORMessageQueueImpl::Replace(uint32_t index, QueueMessage* message) {
  MutexHold hold(mutex_);
  TORVEX_ASSERT(index < queue_.size());
  queue_[index] = message;
  return prc::kOk;
}

Result ORMessageQueueImpl::Remove(uint32_t index) {
  MutexHold hold(mutex_);
  TORVEX_ASSERT(index < queue_.size());
  queue_.erase(queue_.begin() + index);
  return prc::kOk;
}

Result ORMessageQueueImpl::Insert(uint32_t index, QueueMessage* message) {
  MutexHold hold(mutex_);
  TORVEX_ASSERT(index <= queue_.size());
  queue_.insert(queue_.begin() + index, message);
  return prc::kOk;
}

Result ORMessageQueueImpl::Append(QueueMessage* message) {
  MutexHold hold(mutex_);
  queue_.push_back(message);
  return prc::kOk;
}
