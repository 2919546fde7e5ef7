// The shell commands' option parser and number reader.
#pragma once

#include <cstdint>

struct OptionParser {
  int argc;
  char** argv;
  const char* letters;  // a letter followed by ':' takes an argument
  int index = 0;        // of the next argument
  const char* position = nullptr;  // inside the current argument

  OptionParser(int count, char** arguments, const char* option_letters)
      : argc(count), argv(arguments), letters(option_letters) {}

  // The next option letter, or 0 when the options end (index then stands at the first
  // argument that is not an option). Prints the shell's complaints about unknown options and
  // missing arguments.
  int NextOption(const char** argument);
};

// Reads digits of the base (0 means 10; a "0x" prefix means 16 whatever the base) and then
// one multiplier letter k, m or g (1024, 0x100000, 0x40000000). Never fails; wraps at 64 bits.
// The end, when asked for, is the first character not read (the multiplier is not counted).
uint64_t ParseNumber(const char* text, const char** end, int base);
