// Where the platform's shell commands and shell log entries print: standard output unless a
// caller (a console, a test) installs its own sink.
#pragma once

#include <cstdarg>
#include <cstdio>

class ShellSink {
 public:
  virtual ~ShellSink() = default;
  virtual void Write(const char* text) = 0;
};

// Null restores standard output. The caller keeps ownership.
void SetShellSink(ShellSink* sink);
void ShellPrint(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
void ShellPrintV(const char* format, va_list args);
