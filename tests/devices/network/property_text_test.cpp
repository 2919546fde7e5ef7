// The text form of property sets on the wire: what cannot be written is left out, and reading
// back keeps only complete lines.
#include "devices/network/property_text.h"

#include <gtest/gtest.h>

#include "media/property_holder.h"

namespace {

TEST(PropertyTextTest, NamesThatWouldBreakTheLinesAreLeftOut) {
  PropertyHolder holder;
  holder.SetString("title", "a=b\nc");
  holder.SetString("x=y", "injected");
  holder.SetString("two\nlines", "injected");
  holder.SetString(std::string("nul\0name", 8), "injected");
  holder.SetString("track", "7");
  EXPECT_EQ(EncodePropertyText(*holder.GetSet()), "title=a=b\\nc\ntrack=7\n");
}

TEST(PropertyTextTest, ReadingKeepsCompleteLinesOnly) {
  PropertyHolder holder;
  ASSERT_EQ(DecodePropertyText("title=a=b\\nc\n=nameless\nempty=\nno equals\nlast=\\x41\\\\",
                               *holder.GetSet()),
            rc::kOk);
  RefPtr<PropertySet> set = holder.GetSet();
  EXPECT_EQ(set->GetString("title"), "a=b\nc");
  EXPECT_EQ(set->GetString("last"), "A\\");
  EXPECT_EQ(set->FindColumn("empty"), -1);
  EXPECT_EQ(set->FindColumn(""), -1);
  EXPECT_EQ(set->GetColumnName(2), "");
}

}  // namespace
