#include "testlib/fault_injecting_stream.h"

#include <algorithm>

Result FaultInjectingStream::Read(void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  if (read_.Next()) return read_.code;
  if (read_cap_ == 0) return rc::kOk;
  const Result result = base_->Read(buffer, std::min(length, read_cap_), count);
  if (rc::Succeeded(result) && read_.calls == end_at_read_) return rc::kEndOfData;
  return result;
}

Result FaultInjectingStream::Write(const void* buffer, uint32_t length, uint32_t* count) {
  *count = 0;
  if (write_.Next()) return write_.code;
  if (write_cap_ == 0) return rc::kOk;
  return base_->Write(buffer, std::min(length, write_cap_), count);
}

Result FaultInjectingStream::Seek(uint32_t position) {
  return seek_.Next() ? seek_.code : base_->Seek(position);
}

Result FaultInjectingStream::Skip(int32_t delta) {
  return seek_.Next() ? seek_.code : base_->Skip(delta);
}
