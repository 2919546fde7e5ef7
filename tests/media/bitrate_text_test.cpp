#include "media/bitrate_text.h"

#include <gtest/gtest.h>

namespace {

struct GetCase {
  const char* text;
  Result variable_result;
  bool variable;
  Result channels_result;
  uint32_t channels;
  Result bits_result;
  uint32_t bits;
};

const GetCase kGetCases[] = {
    {"fs128", rc::kOk, false, rc::kOk, 2, rc::kOk, 128000},
    {"VM96", rc::kOk, true, rc::kOk, 1, rc::kOk, 96000},
    {"fs0x80", rc::kOk, false, rc::kOk, 2, rc::kOk, 128000},  // base from the prefix
    {"fs010", rc::kOk, false, rc::kOk, 2, rc::kOk, 8000},     // octal, as strtoul reads it
    {"v?320", rc::kOk, true, rc::kBadData, 0, rc::kOk, 320000},
    {"xs128", rc::kBadData, false, rc::kOk, 2, rc::kOk, 128000},
    {"fsabc", rc::kOk, false, rc::kOk, 2, rc::kBadData, 0},
    {"fs", rc::kBadData, false, rc::kBadData, 0, rc::kBadData, 0},
    {"f", rc::kBadData, false, rc::kBadData, 0, rc::kBadData, 0},
    {"", rc::kBadData, false, rc::kBadData, 0, rc::kBadData, 0},
    // Rates whose bit/s do not fit 32 bits would wrap into a plausible value.
    {"fs4294968", rc::kOk, false, rc::kOk, 2, rc::kBadData, 0},
    {"fs4294967", rc::kOk, false, rc::kOk, 2, rc::kOk, 4294967000u},
    {"fs-1", rc::kOk, false, rc::kOk, 2, rc::kBadData, 0},
};

TEST(BitrateTextTest, Getters) {
  for (const GetCase& c : kGetCases) {
    SCOPED_TRACE(c.text);
    bool variable = false;
    uint32_t channels = 0;
    uint32_t bits = 0;
    EXPECT_EQ(c.variable_result, BitrateText::IsVariable(c.text, &variable));
    EXPECT_EQ(c.variable, variable);
    EXPECT_EQ(c.channels_result, BitrateText::GetChannels(c.text, &channels));
    EXPECT_EQ(c.channels, channels);
    EXPECT_EQ(c.bits_result, BitrateText::GetBitsPerSecond(c.text, &bits));
    EXPECT_EQ(c.bits, bits);
  }
}

TEST(BitrateTextTest, Setters) {
  struct Case {
    const char* before;
    void (*edit)(std::string*);
    const char* after;
  };
  const Case cases[] = {
      {"", [](std::string* t) { BitrateText::SetVariable(t, true); }, "v"},
      {"fs128", [](std::string* t) { BitrateText::SetVariable(t, true); }, "vs128"},
      {"vm96", [](std::string* t) { BitrateText::SetVariable(t, false); }, "fm96"},
      {"", [](std::string* t) { BitrateText::SetChannels(t, 1); }, "?m"},
      {"f", [](std::string* t) { BitrateText::SetChannels(t, 2); }, "fs"},
      {"fs128", [](std::string* t) { BitrateText::SetChannels(t, 6); }, "f?128"},
      {"", [](std::string* t) { BitrateText::SetBitsPerSecond(t, 128999); }, "??128"},
      {"vs320", [](std::string* t) { BitrateText::SetBitsPerSecond(t, 64000); }, "vs64"},
      {"v", [](std::string* t) { BitrateText::SetBitsPerSecond(t, 999); }, "v?0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    std::string text = c.before;
    c.edit(&text);
    EXPECT_EQ(c.after, text);
  }
}

TEST(BitrateTextTest, SettersBuildWhatGettersRead) {
  std::string text;
  BitrateText::SetVariable(&text, true);
  BitrateText::SetChannels(&text, 1);
  BitrateText::SetBitsPerSecond(&text, 192000);
  EXPECT_EQ("vm192", text);
  bool variable = false;
  uint32_t channels = 0, bits = 0;
  EXPECT_EQ(rc::kOk, BitrateText::IsVariable(text, &variable));
  EXPECT_EQ(rc::kOk, BitrateText::GetChannels(text, &channels));
  EXPECT_EQ(rc::kOk, BitrateText::GetBitsPerSecond(text, &bits));
  EXPECT_TRUE(variable);
  EXPECT_EQ(1u, channels);
  EXPECT_EQ(192000u, bits);
}

}  // namespace
