// The one trace sink through which every diagnostic line of the device library leaves.
// Lines go to the debugger output and the standard error stream; an output file and a sink
// object can be added (tests use the sink to capture lines).
#pragma once

#include <cstdarg>
#include <cstdio>

// Source location of a trace line.
struct TraceLocation {
  const char* file;
  int line;
};

// Receives every emitted text, unchanged.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Write(const char* text) = 0;
};

class DebugTrace {
 public:
  // Writes the text as it stands (callers end their lines with "\n"). Never fails and leaves
  // the calling thread's last Win32 error as it found it. Takes no lock: lines of several
  // threads may interleave.
  static void Emit(const char* text);

  // Emits "file(line) : " followed by the formatted message, as one piece.
  static void FormatV(const char* file, int line, const char* format, va_list args);
  static void Format(const char* file, int line, const char* format, ...)
      __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)));

  // Both are empty unless set; pass null to remove. The caller keeps ownership and must
  // clear them before the object goes away.
  static void SetOutputFile(FILE* file);
  static void SetSink(TraceSink* sink);
};

void TracePrintf(const TraceLocation& where, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

#define TORVEX_TRACE(...) DebugTrace::Format(__FILE__, __LINE__, __VA_ARGS__)
