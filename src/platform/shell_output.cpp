#include "platform/shell_output.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "support/format_string.h"

namespace {
std::atomic<ShellSink*> shell_sink{nullptr};
}  // namespace

void SetShellSink(ShellSink* sink) { shell_sink.store(sink); }

void ShellPrintV(const char* format, va_list args) {
  std::string text = FormatStringV(format, args);
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
