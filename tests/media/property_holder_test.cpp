#include "media/property_holder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PropertyHolderTest, NewHolderHoldsAnEmptySetStandingOnItsRow) {
  PropertyHolder holder;
  RefPtr<PropertySet> set = holder.GetSet();
  ASSERT_TRUE(set);
  EXPECT_EQ(set->RefCount(), 2);  // the holder and `set`
  EXPECT_EQ(set->AddNew(), rc::kNotImplemented);
  EXPECT_FALSE(set->IsEOF());
  EXPECT_EQ(set->GetColumnName(0), "");
  EXPECT_NE(PropertyHolder().GetSet().Get(), set.Get());
}

TEST(PropertyHolderTest, SettersStoreTextInTheHeldSet) {
  PropertyHolder holder;
  EXPECT_EQ(holder.SetInt("length", -5), rc::kOk);
  EXPECT_EQ(holder.SetInt64("size_in_bytes", INT64_MIN), rc::kOk);
  EXPECT_EQ(holder.SetString("title", std::string("a\0b", 3)), rc::kOk);
  EXPECT_EQ(holder.GetString("length"), "-5");
  EXPECT_EQ(holder.GetString("size_in_bytes"), "-9223372036854775808");
  EXPECT_EQ(holder.GetString("title"), std::string("a\0b", 3));
  EXPECT_EQ(holder.GetString("absent"), "");
  EXPECT_EQ(holder.GetSet()->GetInt64("size_in_bytes"), INT64_MIN);
  EXPECT_EQ(holder.GetSet()->FindColumn("absent"), -1);
}

TEST(PropertyHolderTest, CloneFromCopiesTheSet) {
  PropertyHolder original;
  original.SetString("title", "t");
  PropertyHolder copy = PropertyHolder::CloneFrom(original);
  EXPECT_NE(copy.GetSet().Get(), original.GetSet().Get());
  EXPECT_EQ(copy.GetString("title"), "t");
  EXPECT_EQ(copy.GetSet()->AddNew(), rc::kOk);  // a clone's row is not yet added

  copy.SetInt("length", 5);
  original.SetString("title", "changed");
  EXPECT_EQ(original.GetSet()->FindColumn("length"), -1);
  EXPECT_EQ(copy.GetString("title"), "t");
  EXPECT_EQ(original.GetSet()->RefCount(), 2);
}

TEST(PropertyHolderTest, AssignmentSharesTheSetAndReleasesTheOldOne) {
  PropertyHolder first;
  PropertyHolder second;
  RefPtr<PropertySet> old_set = second.GetSet();
  EXPECT_EQ(old_set->RefCount(), 2);
  second = first;
  EXPECT_EQ(old_set->RefCount(), 1);
  EXPECT_EQ(second.GetSet().Get(), first.GetSet().Get());
  EXPECT_EQ(first.GetSet()->RefCount(), 3);  // two holders and the temporary

  second.SetInt("length", 5);
  EXPECT_EQ(first.GetString("length"), "5");
  first.SetString("title", "t");
  EXPECT_EQ(second.GetString("title"), "t");

  PropertyHolder& alias = second;
  second = alias;
  EXPECT_EQ(first.GetSet()->RefCount(), 3);
}

TEST(PropertyHolderTest, SetOutlivesTheHoldersThatShareIt) {
  RefPtr<PropertySet> set;
  {
    PropertyHolder first;
    PropertyHolder second;
    second = first;
    first.SetString("kept", "yes");
    set = first.GetSet();
    EXPECT_EQ(set->RefCount(), 3);
  }
  EXPECT_EQ(set->RefCount(), 1);
  EXPECT_EQ(set->GetString("kept"), "yes");
}

TEST(PropertyHolderTest, ClearEmptiesTheSharedSetInPlace) {
  PropertyHolder first;
  PropertyHolder second;
  second = first;
  first.SetString("a", "1");
  first.SetString("b", "2");
  RefPtr<PropertySet> set = first.GetSet();
  set->MoveNext();

  EXPECT_EQ(second.Clear(), rc::kOk);
  EXPECT_EQ(first.GetSet().Get(), set.Get());
  EXPECT_EQ(set->GetColumnName(0), "");
  EXPECT_EQ(first.GetString("a"), "");
  EXPECT_TRUE(set->IsEOF());                     // the row position is left alone
  EXPECT_EQ(set->AddNew(), rc::kNotImplemented);  // Clear stood it on its row again

  first.SetString("b", "3");
  EXPECT_EQ(set->FindColumn("b"), 0);
  EXPECT_EQ(second.GetString("b"), "3");
}

// Channels and the WMDM layer store through the holder's first virtual operation; a derived
// holder must see those stores.
TEST(PropertyHolderTest, SetIntIsOverridable) {
  class Recording : public PropertyHolder {
   public:
    Result SetInt(const std::string& name, int32_t value) override {
      names.push_back(name);
      return PropertyHolder::SetInt(name, value + 1);
    }
    std::vector<std::string> names;
  };
  Recording recording;
  PropertyHolder& holder = recording;
  EXPECT_EQ(holder.SetInt("n", 1), rc::kOk);
  EXPECT_EQ(recording.names, std::vector<std::string>{"n"});
  EXPECT_EQ(holder.GetString("n"), "2");
}

}  // namespace
