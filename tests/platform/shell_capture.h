// Keeps everything the platform's shell commands and shell log entries print while it lives.
#pragma once

#include <mutex>
#include <string>

#include "platform/shell_output.h"

class ShellCapture : public ShellSink {
 public:
  ShellCapture() { SetShellSink(this); }
  ~ShellCapture() override { SetShellSink(nullptr); }
  void Write(const char* text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    text_ += text;
  }
  // What was printed since the last call.
  std::string Take() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::string taken;
    taken.swap(text_);
    return taken;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};
