#include "platform/shell_output.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace {
std::atomic<ShellSink*> shell_sink{nullptr};
}  // namespace

void SetShellSink(ShellSink* sink) { shell_sink.store(sink); }

void ShellPrintV(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  if (ShellSink* sink = shell_sink.load()) {
    sink->Write(text.c_str());
  } else {
    fputs(text.c_str(), stdout);
    fflush(stdout);
  }
}

void ShellPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ShellPrintV(format, args);
  va_end(args);
}
