#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/harddisk/tarnu_channel.h"
#include "media/property_set.h"

namespace {

struct SettingsCase {
  const char* what;
  std::string text;
  std::vector<std::pair<std::string, std::string>> entries;  // in order
};

TEST(SettingsTextTest, LinesQuotesAndEscapes) {
  const SettingsCase cases[] = {
      {"plain lines, the last without a line end", "name=Tarnu\nserial=0042",
       {{"name", "Tarnu"}, {"serial", "0042"}}},
      {"a line without a separator is ignored", "junk\nkey=value\n", {{"key", "value"}}},
      {"only the first separator splits", "a=b=c\n", {{"a", "b=c"}}},
      {"a quoted value keeps its separator", "k=\"x=y\"\n", {{"k", "x=y"}}},
      {"a quoted line feed stays in one line", "k=\"one\ntwo\"\nnext=1\n",
       {{"k", "one\ntwo"}, {"next", "1"}}},
      {"backslashes are removed, keeping what follows", "k=\"a\\\"b\\\\c\"\n",
       {{"k", "a\"b\\c"}}},
      {"an escaped backslash before the closing quote", "a=\"ends with backslash\\\\\"\nb=1\n",
       {{"a", "ends with backslash\\"}, {"b", "1"}}},
      {"a Windows folder keeps the keys after it",
       "dir=\"C:\\\\Music\\\\\"\ncapabilities=firmware;tracks\n",
       {{"dir", "C:\\Music\\"}, {"capabilities", "firmware;tracks"}}},
      {"escapes count in pairs", "k=\"x\\\\\\\"y\"\nm=2\n", {{"k", "x\\\"y"}, {"m", "2"}}},
      {"two quotes give an empty value", "k=\"\"\n", {{"k", ""}}},
      {"one quote stays as it is", "k=\"", {{"k", "\""}}},
      {"a quote inside a value opens nothing", "k=a\"b\nm=2\n", {{"k", "a\"b"}, {"m", "2"}}},
      {"a quoted key", "\"a\nb\"=1\n", {{"\"a\nb\"", "1"}}},
      {"empty text", "", {}},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.what);
    RefPtr<PropertySet> set;
    ASSERT_EQ(PropertySet::Create(&set), rc::kOk);
    set->AddNew();
    EXPECT_EQ(ParseSettingsText(c.text, '=', '\n', *set), rc::kOk);
    std::vector<std::pair<std::string, std::string>> got;
    for (int32_t i = 0; !set->GetColumnName(i).empty(); ++i)
      got.emplace_back(set->GetColumnName(i), set->GetString(i));
    EXPECT_EQ(got, c.entries);
  }
}

}  // namespace
