// A SeekableStream that forwards to another (not owned) and misbehaves on request: fails the
// Nth read, write or seek, caps the count of each read or write (short transfers), or reports
// the end of the data together with the bytes of the Nth read. Calls are counted from 1;
// Seek and Skip count as seeks together.
#pragma once

#include <cstdint>

#include "support/stream.h"

class FaultInjectingStream : public SeekableStream {
 public:
  explicit FaultInjectingStream(SeekableStream* base) : base_(base) {}

  // The nth call (and every later one when `persistent`) returns `code` and moves nothing.
  void FailRead(int nth, Result code, bool persistent = false) {
    read_.Fail(nth, code, persistent);
  }
  void FailWrite(int nth, Result code, bool persistent = false) {
    write_.Fail(nth, code, persistent);
  }
  void FailSeek(int nth, Result code, bool persistent = false) {
    seek_.Fail(nth, code, persistent);
  }
  // Each read or write asks the base for at most `max` bytes (0: moves nothing, answers 0).
  void CapReads(uint32_t max) { read_cap_ = max; }
  void CapWrites(uint32_t max) { write_cap_ = max; }
  // The nth read answers 1 (end of data) with whatever bytes it moved.
  void EndDataAtRead(int nth) { end_at_read_ = nth; }

  int reads() const { return read_.calls; }
  int writes() const { return write_.calls; }
  int seeks() const { return seek_.calls; }

  Result Read(void* buffer, uint32_t length, uint32_t* count) override;
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override;
  Result Flush() override { return base_->Flush(); }
  Result GetPosition(uint32_t* position) override { return base_->GetPosition(position); }
  Result Seek(uint32_t position) override;
  Result Skip(int32_t delta) override;
  Result GetSize(uint32_t* size) override { return base_->GetSize(size); }
  Result SetSize(uint32_t size) override { return base_->SetSize(size); }

 private:
  struct Plan {
    int calls = 0;
    int fail_at = 0;  // 0: never
    Result code = 0;
    bool persistent = false;

    void Fail(int nth, Result result, bool sticky) {
      fail_at = nth;
      code = result;
      persistent = sticky;
    }
    // Counts a call; true when it is to fail.
    bool Next() {
      ++calls;
      return fail_at != 0 && (calls == fail_at || (persistent && calls > fail_at));
    }
  };

  SeekableStream* base_;
  Plan read_, write_, seek_;
  uint32_t read_cap_ = UINT32_MAX;
  uint32_t write_cap_ = UINT32_MAX;
  int end_at_read_ = 0;
};
