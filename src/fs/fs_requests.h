// Request admission: every file-system operation runs as a request that is admitted per
// volume. At most one request runs per volume, a request for all volumes runs alone (it waits
// until every started request is released, and new requests wait behind it), requests with a
// deadline are chosen by how late they may still start. A running request of one volume gives
// up its turn while it waits for the device or sleeps on a wait channel.
#pragma once

#include <cstdint>
#include <list>

#include "fs/fs_type.h"
#include "platform/win32_sync.h"

class IRTime;

struct FsRequest {
  const char* name = "";
  int op_class = 2;  // 1 data transfer, 2 metadata
  int64_t cost = 0;
  int64_t start_time = 0;
  int64_t deadline = 0;
  bool has_deadline = false;
  // The volume the request works on; null means all volumes.
  FsMount* volume = nullptr;
  // Scheduler state, under the scheduler's mutex.
  void* event = nullptr;
  bool queued = false;
  bool running = false;
  bool started = false;  // has run; it holds its volume until released
  bool in_io = false;
  uint32_t sleeping_on = 0;
};

class FsScheduler {
 public:
  explicit FsScheduler(IRTime* time);
  ~FsScheduler();
  FsScheduler(const FsScheduler&) = delete;
  FsScheduler& operator=(const FsScheduler&) = delete;

  // Fills the record: name, class, volume (null = all), start time and deadline.
  void Prepare(FsRequest* request, const char* name, int op_class, FsMount* volume,
               const FsTiming* timing);
  // Queues the request and returns once it runs.
  void Admit(FsRequest* request);
  // Unlinks the request and hands the turn on.
  void Release(FsRequest* request);
  // Moves a running request to another volume (a path walk that crosses volumes); it waits
  // when that volume is busy. A request for all volumes stays as it is.
  void EnterVolume(FsRequest* request, FsMount* volume);
  // Around a device transfer: the turn is given up during it (not by requests for all
  // volumes), and taken back afterwards.
  void BeginIo(FsRequest* request);
  void EndIo(FsRequest* request, int64_t elapsed);
  // Gives up the turn until Wake of the channel, then waits for the turn again.
  void Sleep(FsRequest* request, uint32_t channel);
  void Wake(uint32_t channel);

  int64_t Now() const;
  // Requests admitted and not released (for tests and diagnostics).
  int Pending();

 private:
  static bool Conflict(const FsRequest* a, const FsRequest* b);
  static bool Holds(const FsRequest* holder, const FsRequest* request);
  bool Eligible(const FsRequest* request) const;
  // Under the mutex: marks every request that may run now as running and signals it.
  void ChooseNext();
  FsRequest* ChooseOne();
  // Under the mutex: waits until the request is marked running.
  void WaitForTurn(FsRequest* request);

  IRTime* time_;
  win32sync::LocalMutex mutex_;
  std::list<FsRequest*> deadline_queue_;  // by deadline, equal deadlines in arrival order
  std::list<FsRequest*> plain_queue_;     // in arrival order
};

// One request admitted for a scope.
class FsRequestScope {
 public:
  FsRequestScope(FsScheduler& scheduler, const char* name, int op_class, FsMount* volume,
                 const FsTiming* timing, uint64_t cost = 0)
      : scheduler_(scheduler) {
    scheduler_.Prepare(&request_, name, op_class, volume, timing);
    request_.cost += static_cast<int64_t>(cost);
    scheduler_.Admit(&request_);
  }
  ~FsRequestScope() { scheduler_.Release(&request_); }
  FsRequestScope(const FsRequestScope&) = delete;
  FsRequestScope& operator=(const FsRequestScope&) = delete;
  FsRequest* request() { return &request_; }

 private:
  FsScheduler& scheduler_;
  FsRequest request_;
};

// Opaque channel ids for Sleep and Wake: a process-wide counter from 1 that skips 0.
uint32_t FsNewWaitChannel();
