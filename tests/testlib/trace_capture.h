// Keeps every trace line written while it lives.
#pragma once

#include <string>

#include "support/debug_trace.h"

class TraceCapture : public TraceSink {
 public:
  TraceCapture() { DebugTrace::SetSink(this); }
  ~TraceCapture() override { DebugTrace::SetSink(nullptr); }
  void Write(const char* text) override { lines += text; }
  std::string lines;
};
