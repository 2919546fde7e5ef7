#include "support/debug_trace.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <new>

namespace {

std::atomic<FILE*> g_output_file{nullptr};
std::atomic<TraceSink*> g_sink{nullptr};

}  // namespace

void DebugTrace::Emit(const char* text) {
  if (!text) return;
  const DWORD last_error = GetLastError();
  OutputDebugStringA(text);
  std::fputs(text, stderr);
  if (FILE* file = g_output_file.load()) {
    std::fputs(text, file);
    std::fflush(file);
  }
  if (TraceSink* sink = g_sink.load()) sink->Write(text);
  SetLastError(last_error);
}

void DebugTrace::FormatV(const char* file, int line, const char* format, va_list args) {
  // Most lines fit on the stack; a longer one is formatted again on the heap so that it still
  // leaves whole, and is cut to the stack buffer only when no memory is left.
  if (!format) format = "";
  char small[512];
  va_list again;
  va_copy(again, args);
  const int prefix = std::snprintf(small, sizeof(small), "%s(%d) : ", file, line);
  const bool prefix_fits = prefix >= 0 && static_cast<size_t>(prefix) < sizeof(small);
  const int message = prefix_fits
                          ? std::vsnprintf(small + prefix, sizeof(small) - prefix, format, args)
                          : std::vsnprintf(nullptr, 0, format, args);
  if (prefix < 0 || message < 0) {
    va_end(again);
    Emit(prefix_fits ? small : "");
    return;
  }
  const size_t total = static_cast<size_t>(prefix) + static_cast<size_t>(message) + 1;
  std::unique_ptr<char[]> large;
  if (total > sizeof(small)) large.reset(new (std::nothrow) char[total]);
  if (large) {
    std::snprintf(large.get(), total, "%s(%d) : ", file, line);
    std::vsnprintf(large.get() + prefix, total - prefix, format, again);
  }
  va_end(again);
  Emit(large ? large.get() : small);
}

void DebugTrace::Format(const char* file, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(file, line, format, args);
  va_end(args);
}

void DebugTrace::SetOutputFile(FILE* file) { g_output_file.store(file); }

void DebugTrace::SetSink(TraceSink* sink) { g_sink.store(sink); }

void TracePrintf(const TraceLocation& where, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugTrace::FormatV(where.file, where.line, format, args);
  va_end(args);
}
