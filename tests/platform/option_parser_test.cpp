#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/option_parser.h"
#include "platform/shell_capture.h"

namespace {

TEST(ParseNumberTest, ReadsDigitsOfTheBaseThenOneMultiplier) {
  struct Case {
    const char* text;
    int base;
    uint64_t value;
    size_t read;
  };
  const Case cases[] = {
      {"10", 16, 0x10, 2},          {"0x10", 10, 0x10, 4},        {"0X10", 16, 0, 1},
      {"2k", 16, 0x800, 1},         {"1G", 16, 0x40000000, 1},    {"3m", 10, 0x300000, 1},
      {"g", 16, 0, 0},              {"", 16, 0, 0},               {"129", 0, 129, 3},
      {"12a", 10, 12, 2},           {"ff", 16, 255, 2},           {"FFz", 16, 255, 2},
      {"10000000000000001", 16, 1, 17},  // wraps at 64 bits
      {"ffffffffffffffffk", 16, 0xFFFFFFFFFFFFFC00ull, 16},
  };
  for (const Case& c : cases) {
    const char* end = nullptr;
    EXPECT_EQ(c.value, ParseNumber(c.text, &end, c.base)) << c.text;
    EXPECT_EQ(c.read, static_cast<size_t>(end - c.text)) << c.text;
  }
  EXPECT_EQ(0x10u, ParseNumber("10", nullptr, 16));
}

struct Parsed {
  std::string letters;  // each option letter, with "=value" after one that took an argument
  int index;
  std::string printed;
};

Parsed Parse(std::vector<const char*> words, const char* letters, bool give_place = true) {
  ShellCapture shell;
  std::vector<char*> argv;
  for (const char* word : words) argv.push_back(const_cast<char*>(word));
  OptionParser options(static_cast<int>(argv.size()), argv.data(), letters);
  options.index = 1;
  Parsed parsed;
  const char* value = nullptr;
  while (int letter = options.NextOption(give_place ? &value : nullptr)) {
    parsed.letters += static_cast<char>(letter);
    if (value) parsed.letters += std::string("=") + value + ",";
    value = nullptr;
  }
  parsed.index = options.index;
  parsed.printed = shell.Take();
  return parsed;
}

TEST(OptionParserTest, GroupsLettersAndStopsAtTheFirstWordWithoutADash) {
  Parsed parsed = Parse({"cmd", "-fs", "-o", "name", "-f"}, "fos");
  EXPECT_EQ("fso", parsed.letters);
  EXPECT_EQ(3, parsed.index);
  parsed = Parse({"cmd", "-", "x"}, "f");
  EXPECT_EQ("", parsed.letters);
  EXPECT_EQ(1, parsed.index);
}

TEST(OptionParserTest, ArgumentsComeFromTheRestOfTheWordOrTheNextWord) {
  EXPECT_EQ("e=12,f", Parse({"cmd", "-e12", "-f"}, "e:f").letters);
  Parsed parsed = Parse({"cmd", "-fe", "34", "msg"}, "e:f");
  EXPECT_EQ("fe=34,", parsed.letters);
  EXPECT_EQ(3, parsed.index);
}

TEST(OptionParserTest, ComplainsAboutUnknownAndIncompleteOptions) {
  Parsed parsed = Parse({"cmd", "-x?"}, "f");
  EXPECT_EQ("x?", parsed.letters);
  EXPECT_EQ("-x: unknown option\n", parsed.printed) << "'?' is answered silently";
  parsed = Parse({"cmd", "-e"}, "e:");
  EXPECT_EQ("", parsed.letters);
  EXPECT_EQ("-e requires argument\n", parsed.printed);
  parsed = Parse({"cmd", "-e5"}, "e:", false);
  EXPECT_EQ("BUG: no pointer to store -e option\n", parsed.printed);
}

}  // namespace
