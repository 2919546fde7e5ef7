#include "platform/option_parser.h"

#include <cstring>

#include "platform/shell_output.h"

int OptionParser::NextOption(const char** argument) {
  if (!position || *position == '\0') {
    if (index >= argc || !argv[index] || argv[index][0] != '-' || argv[index][1] == '\0')
      return 0;
    position = argv[index++] + 1;
  }
  int letter = static_cast<unsigned char>(*position++);
  const char* found = letter == ':' ? nullptr : strchr(letters, letter);
  if (!found) {
    if (letter != '?') ShellPrint("-%c: unknown option\n", letter);
    return letter;
  }
  if (found[1] != ':') return letter;
  const char* value = nullptr;
  if (*position != '\0') {
    value = position;
  } else if (index < argc) {
    value = argv[index++];
  } else {
    ShellPrint("-%c requires argument\n", letter);
    return 0;
  }
  position = nullptr;
  if (argument) *argument = value;
  else ShellPrint("BUG: no pointer to store -%c option\n", letter);
  return letter;
}

namespace {
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}
}  // namespace

uint64_t ParseNumber(const char* text, const char** end, int base) {
  if (base == 0) base = 10;
  if (text[0] == '0' && text[1] == 'x') {
    base = 16;
    text += 2;
  }
  uint64_t number = 0;
  while (DigitValue(*text) < base) number = number * static_cast<uint64_t>(base) + DigitValue(*text++);
  if (end) *end = text;
  switch (*text) {
    case 'k': case 'K': number *= 1024; break;
    case 'm': case 'M': number *= 0x100000; break;
    case 'g': case 'G': number *= 0x40000000; break;
    default: break;
  }
  return number;
}
