#include <gtest/gtest.h>

#include <string>

#include "support/config_store.h"
#include "support/dynamic_config_file.h"
#include "support/time_val.h"
#include "support/token_set.h"

namespace {

TEST(ConfigStore, ParseAndWriteBack) {
  ConfigStore store;
  store.Parse("a=1\n[s]\nb=2\n");
  ASSERT_EQ(store.Count(), 2u);
  std::string text;
  store.Write(&text);
  EXPECT_EQ(text, "a=1\n[s]\nb=2\n");
  store.SetString("t", "k", "v");
  store.SetString("s", "c", "3");
  store.Write(&text);
  EXPECT_EQ(text, "a=1\n[s]\nb=2\n[t]\nk=v\n[s]\nc=3\n");
}

TEST(ConfigStore, LookupsAndOddLines) {
  ConfigStore store;
  store.Parse("[Sec]\nKey=1\nKey=2\n#x=0x1F\nnoequals\nw=abc\n\xC3\xA9=1\n[s]\r\nv=1\r\n");
  std::string value;
  ASSERT_TRUE(store.GetString("sec", "KEY", &value));
  EXPECT_EQ(value, "2");  // a repeated key replaces
  int32_t number = -1;
  ASSERT_TRUE(store.GetInt("Sec", "#x", &number));
  EXPECT_EQ(number, 31);
  ASSERT_TRUE(store.GetInt("Sec", "w", &number));
  EXPECT_EQ(number, 0);
  EXPECT_FALSE(store.GetString("Sec", "\xC3\xA9", &value));
  EXPECT_FALSE(store.GetString("s", "v", &value));  // "[s]\r" is no header
  ASSERT_TRUE(store.GetString("Sec", "v", &value));
  EXPECT_EQ(value, "1\r");
  EXPECT_FALSE(store.GetString("Se", "Key", &value));
}

TEST(DynamicConfigFile, KeepsLinesAndEditsInPlace) {
  DynamicConfigFile file;
  file.Load("  [playlist]  \nfoo\nFile1=a.mp3\r\n; note\n[other]\nx = 1");
  const auto lines = file.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].kind, DynamicConfigFile::kSection);
  EXPECT_EQ(lines[0].text, "[playlist]");
  EXPECT_EQ(lines[1].text, "; ??? foo");
  EXPECT_EQ(lines[1].kind, DynamicConfigFile::kOther);
  std::string value;
  ASSERT_TRUE(file.GetString("PLAYLIST", "file1", &value));
  EXPECT_EQ(value, "a.mp3");
  EXPECT_FALSE(file.GetString("other", "x", &value));  // the key is "x "
  ASSERT_TRUE(file.GetString("other", "x ", &value));
  EXPECT_EQ(value, " 1");
  file.SetString("playlist", "Version", "2");
  EXPECT_EQ(file.Lines()[1].text, "Version=2");
  file.SetInt("new", "n", 5);
  EXPECT_EQ(file.Lines().back().text, "n=5");
  EXPECT_EQ(file.Lines()[file.Lines().size() - 2].text, "[new]");
  file.SetString("playlist", "file1", "b");
  ASSERT_TRUE(file.GetString("playlist", "File1", &value));
  EXPECT_EQ(value, "b");
}

TEST(DynamicConfigFile, Numbers) {
  DynamicConfigFile file;
  file.Load("[s]\nhex=0x1F\nword=abc\n[s]\nlater=4");
  int32_t value = -1;
  ASSERT_TRUE(file.GetInt("s", "hex", &value));
  EXPECT_EQ(value, 31);
  EXPECT_FALSE(file.GetInt("s", "word", &value));
  EXPECT_EQ(value, 31);
  ASSERT_TRUE(file.GetInt("s", "later", &value));  // a second run of the section
  EXPECT_EQ(value, 4);
  file.Load("");
  EXPECT_TRUE(file.Lines().empty());
}

TEST(TokenSet, AddContainsRemove) {
  std::string set;
  TokenSetAdd(&set, "a");
  EXPECT_EQ(set, ";a;");
  set = "a";
  TokenSetAdd(&set, "a");
  EXPECT_EQ(set, ";a;");
  set = ";a;b;c;";
  TokenSetRemove(&set, "b");
  EXPECT_EQ(set, ";a;c;");
  EXPECT_FALSE(TokenSetContains("a;b", "a"));
  EXPECT_FALSE(TokenSetContains("", ""));
  EXPECT_TRUE(TokenSetContains(";format;firmware;", "firmware"));
  EXPECT_FALSE(TokenSetContains(";format;", "form"));
}

TEST(TimeVal, NormalizeAndCompare) {
  struct Case {
    TimeVal in;
    TimeVal out;
  } cases[] = {{{5, -1}, {4, 999999}}, {{5, -1000000}, {4, 0}}, {{5, 2500000}, {7, 500000}},
               {{5, 3}, {5, 3}}};
  for (Case c : cases) {
    TimeValNormalize(&c.in);
    EXPECT_EQ(c.in.seconds, c.out.seconds);
    EXPECT_EQ(c.in.microseconds, c.out.microseconds);
  }
  EXPECT_TRUE(TimeValLessEqual({1, 5}, {1, 5}));
  EXPECT_TRUE(TimeValGreater({2, 0}, {1, 999999}));
  EXPECT_FALSE(TimeValGreaterEqual({1, 4}, {1, 5}));
}

}  // namespace
