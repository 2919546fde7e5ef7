#include "setup/error_text.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

DWORD Message(Result code, LANGID language, char** message) {
  return FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                        nullptr, static_cast<DWORD>(code), language,
                        reinterpret_cast<char*>(message), 0, nullptr);
}

}  // namespace

std::string ErrorText(Result code, LANGID language) {
  char* message = nullptr;
  DWORD length = Message(code, language, &message);
  if (length == 0 && language != 0) {
    if (message) LocalFree(message);
    message = nullptr;
    length = Message(code, 0, &message);
  }
  if (length > 0 && message) {
    std::string text(message, length);
    LocalFree(message);
    const size_t end = text.find("\r\n");
    if (end != std::string::npos) text.resize(end);
    return text;
  }
  if (message) LocalFree(message);
  const uint32_t bits = static_cast<uint32_t>(code);
  if (code < 0 && ((bits >> 12) & 0xF) == 1) return std::strerror(static_cast<int>(bits & 0xFFF));
  char text[32];
  std::snprintf(text, sizeof(text), "Error 0x%08x", static_cast<unsigned>(bits));
  return text;
}
