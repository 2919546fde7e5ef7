// WorkerThread: a thread object with a start-up step that the starter waits for, a work loop
// and a finish step. CurrentWorkerThread finds the object a thread runs for.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

class WorkerThread {
 public:
  explicit WorkerThread(const char* name);
  virtual void Destroy();
  // Ends the thread abruptly (exit code -1); subclasses give it a gentler meaning.
  virtual void Terminate();
  virtual void Hook() {}
  virtual Result StartUp() { return 0; }
  virtual Result Work() = 0;
  virtual Result Run() { return Work(); }
  virtual void Finish() {}

  // Creates the thread, lets it run its start-up step and returns that step's code, or
  // 0x80004005 when no thread can be made.
  Result Start();
  // Waits for the thread to end: its exit code, 0x80040802 on time-out, 0x80040803 when the
  // exit code cannot be read.
  Result Wait(uint32_t milliseconds);
  void* ThreadHandle() const { return thread_; }
  uint32_t ThreadId() const { return thread_id_; }

 protected:
  virtual ~WorkerThread();

 private:
  static unsigned __stdcall Body(void* self);

  void* thread_ = nullptr;
  uint32_t thread_id_ = 0;
  Result startup_code_ = 0;
  void* start_event_;
};

// The WorkerThread whose body the calling thread runs, or null.
WorkerThread* CurrentWorkerThread();
