#include "fs/fs_requests.h"

#include <atomic>

#include "platform/ir_time.h"
#include "platform/win32_sync.h"

using namespace win32sync;

uint32_t FsNewWaitChannel() {
  static std::atomic<uint32_t> counter{1};
  for (;;) {
    uint32_t id = counter.fetch_add(1);
    if (id != 0) return id;
  }
}

FsScheduler::FsScheduler(IRTime* time) : time_(time) {}

FsScheduler::~FsScheduler() = default;

int64_t FsScheduler::Now() const {
  int64_t now = 0;
  if (time_) time_->Now(&now);
  return now;
}

void FsScheduler::Prepare(FsRequest* request, const char* name, int op_class, FsMount* volume,
                          const FsTiming* timing) {
  request->name = name;
  request->op_class = op_class;
  request->volume = volume;
  request->start_time = Now();
  request->deadline = 0;
  request->has_deadline = false;
  if (timing && (timing->flags & fs_timing::kAbsolute)) {
    request->deadline = timing->time;
    request->has_deadline = true;
  } else if (timing && (timing->flags & fs_timing::kRelative)) {
    request->deadline = request->start_time + timing->time;
    request->has_deadline = true;
  }
}

bool FsScheduler::Conflict(const FsRequest* a, const FsRequest* b) {
  return !a->volume || !b->volume || a->volume == b->volume;
}

// A running request holds its volume; a started one holds it against requests for all volumes,
// and one for all volumes holds everything from its start to its release.
bool FsScheduler::Holds(const FsRequest* holder, const FsRequest* request) {
  if (!Conflict(holder, request)) return false;
  return holder->running || (holder->started && (!holder->volume || !request->volume));
}

bool FsScheduler::Eligible(const FsRequest* request) const {
  if (request->running || request->in_io || request->sleeping_on != 0) return false;
  for (const FsRequest* other : deadline_queue_)
    if (other != request && Holds(other, request)) return false;
  bool earlier = true;
  for (const FsRequest* other : plain_queue_) {
    if (other == request) {
      earlier = false;
      continue;
    }
    if (Holds(other, request)) return false;
    // New plain requests keep their order against one another where they conflict, so a
    // waiting request for all volumes holds back those that came after it.
    if (earlier && !request->has_deadline && !request->started && !other->started &&
        Conflict(request, other))
      return false;
  }
  return true;
}

FsRequest* FsScheduler::ChooseOne() {
  int64_t now = Now();
  FsRequest* chosen = nullptr;
  int64_t chosen_latest_start = 0;
  // Deadline requests: one whose deadline minus its cost has passed is taken; otherwise the
  // first eligible one.
  for (FsRequest* candidate : deadline_queue_) {
    if (!Eligible(candidate)) continue;
    int64_t latest_start = candidate->deadline - candidate->cost;
    for (FsRequest* earlier : deadline_queue_) {
      if (earlier == candidate) break;
      if (!earlier->running && earlier->volume == candidate->volume)
        latest_start -= earlier->cost;
    }
    if (!chosen || candidate->deadline - candidate->cost <= now) {
      bool urgent = candidate->deadline - candidate->cost <= now;
      chosen = candidate;
      chosen_latest_start = latest_start;
      if (urgent) break;
    }
  }
  for (FsRequest* candidate : plain_queue_) {
    if (!Eligible(candidate)) continue;
    if (!chosen) return candidate;
    // A plain request goes first when it can finish before the deadline request must start.
    if (now + candidate->cost < chosen_latest_start) return candidate;
    break;
  }
  return chosen;
}

void FsScheduler::ChooseNext() {
  while (FsRequest* next = ChooseOne()) {
    next->running = true;
    next->started = true;
    if (next->event) EventSet(next->event);
  }
}

void FsScheduler::WaitForTurn(FsRequest* request) {
  while (!request->running) {
    if (!request->event) request->event = EventCreate();
    EventReset(request->event);
    mutex_.Unlock();
    EventWait(request->event, 0);
    mutex_.Lock();
  }
}

void FsScheduler::Admit(FsRequest* request) {
  LocalMutexHold hold(mutex_);
  if (request->has_deadline) {
    auto place = deadline_queue_.begin();
    while (place != deadline_queue_.end() && (*place)->deadline <= request->deadline) ++place;
    deadline_queue_.insert(place, request);
  } else {
    plain_queue_.push_back(request);
  }
  request->queued = true;
  if (Eligible(request)) request->running = request->started = true;
  WaitForTurn(request);
}

void FsScheduler::Release(FsRequest* request) {
  {
    LocalMutexHold hold(mutex_);
    if (request->queued) {
      (request->has_deadline ? deadline_queue_ : plain_queue_).remove(request);
      request->queued = false;
    }
    request->running = false;
    ChooseNext();
  }
  if (request->event) HandleClose(request->event);
  request->event = nullptr;
}

void FsScheduler::EnterVolume(FsRequest* request, FsMount* volume) {
  if (!request || !request->volume || request->volume == volume) return;
  LocalMutexHold hold(mutex_);
  request->running = false;
  request->volume = volume;
  ChooseNext();
  if (Eligible(request)) request->running = true;
  WaitForTurn(request);
}

void FsScheduler::BeginIo(FsRequest* request) {
  if (!request || !request->volume) return;
  LocalMutexHold hold(mutex_);
  request->running = false;
  request->in_io = true;
  ChooseNext();
}

void FsScheduler::EndIo(FsRequest* request, int64_t elapsed) {
  if (!request) return;
  request->cost = request->cost > elapsed ? request->cost - elapsed : 0;
  if (!request->volume) return;
  LocalMutexHold hold(mutex_);
  request->in_io = false;
  if (Eligible(request)) request->running = true;
  WaitForTurn(request);
}

void FsScheduler::Sleep(FsRequest* request, uint32_t channel) {
  LocalMutexHold hold(mutex_);
  request->running = false;
  request->sleeping_on = channel;
  ChooseNext();
  WaitForTurn(request);
}

void FsScheduler::Wake(uint32_t channel) {
  LocalMutexHold hold(mutex_);
  bool woke = false;
  for (std::list<FsRequest*>* queue : {&deadline_queue_, &plain_queue_})
    for (FsRequest* request : *queue)
      if (request->sleeping_on == channel) {
        request->sleeping_on = 0;
        woke = true;
      }
  if (woke) ChooseNext();
}

int FsScheduler::Pending() {
  LocalMutexHold hold(mutex_);
  return static_cast<int>(deadline_queue_.size() + plain_queue_.size());
}
