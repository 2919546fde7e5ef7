#include "devices/tags_differ.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "media/property_set.h"

namespace {

// A property set reports text for every column; this one reports the kind each value was
// stored with, as other record sets do.
class TypedSet : public PropertySet {
 public:
  using PropertySet::SetInt;
  using PropertySet::SetInt64;
  using PropertySet::SetBlob;
  Result GetColumnType(int32_t index, ColumnKind* kind) override {
    Result result = PropertySet::GetColumnType(index, kind);
    auto it = kinds_.find(GetColumnName(index));
    if (rc::Succeeded(result) && it != kinds_.end()) *kind = it->second;
    return result;
  }
  Result SetInt(const std::string& name, int32_t value) override {
    kinds_[name] = kColumnInt;
    return PropertySet::SetInt(name, value);
  }
  Result SetInt64(const std::string& name, int64_t value) override {
    kinds_[name] = kColumnInt64;
    return PropertySet::SetInt64(name, value);
  }
  Result SetBlob(const std::string& name, const void* data, uint32_t length) override {
    kinds_[name] = kColumnBinary;
    return PropertySet::SetBlob(name, data, length);
  }

 private:
  std::map<std::string, ColumnKind> kinds_;
};

RefPtr<PropertySet> NewSet() {
  RefPtr<PropertySet> set(new TypedSet);
  EXPECT_EQ(rc::kOk, set->AddNew());
  return set;
}

using Fill = std::function<void(PropertySet&)>;

TEST(TagsDifferTest, ComparesTheTagKeysOfTheSameType) {
  const struct {
    const char* what;
    Fill old_fill, new_fill;
    bool differs;
  } cases[] = {
      {"nothing to compare", [](PropertySet&) {}, [](PropertySet&) {}, false},
      {"same title", [](PropertySet& s) { s.SetString("title", "A"); },
       [](PropertySet& s) { s.SetString("title", "A"); }, false},
      {"other title", [](PropertySet& s) { s.SetString("title", "A"); },
       [](PropertySet& s) { s.SetString("title", "a"); }, true},
      {"key in one set only", [](PropertySet& s) { s.SetString("artist", "X"); },
       [](PropertySet&) {}, false},
      {"other year", [](PropertySet& s) { s.SetInt("year", 1999); },
       [](PropertySet& s) { s.SetInt("year", 2000); }, true},
      {"same tracknr as 64 bits", [](PropertySet& s) { s.SetInt64("tracknr", 3); },
       [](PropertySet& s) { s.SetInt64("tracknr", 3); }, false},
      {"other 64-bit tracknr", [](PropertySet& s) { s.SetInt64("tracknr", 1LL << 40); },
       [](PropertySet& s) { s.SetInt64("tracknr", 1); }, true},
      {"plain set: a number and its text are alike",
       [](PropertySet& s) { s.PropertySet::SetInt("year", 1999); },
       [](PropertySet& s) { s.SetString("year", "1999"); }, false},
      {"types differ", [](PropertySet& s) { s.SetInt("year", 1999); },
       [](PropertySet& s) { s.SetString("year", "2000"); }, false},
      {"other keys are not tags", [](PropertySet& s) { s.SetString("album", "A"); },
       [](PropertySet& s) { s.SetString("album", "B"); }, false},
      {"binary is not compared",
       [](PropertySet& s) { s.SetBlob("genre", "ab", 2); },
       [](PropertySet& s) { s.SetBlob("genre", "cd", 2); }, false},
      {"last key differs",
       [](PropertySet& s) { s.SetString("artist", "A"); s.SetInt("year", 1); },
       [](PropertySet& s) { s.SetString("artist", "A"); s.SetInt("year", 2); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RefPtr<PropertySet> old_file = NewSet(), new_file = NewSet();
    c.old_fill(*old_file);
    c.new_fill(*new_file);
    bool differs = !c.differs;
    EXPECT_EQ(rc::kOk, TagsDiffer(*old_file, *new_file, &differs));
    EXPECT_EQ(c.differs, differs);
  }
}

TEST(TagsDifferTest, ADifferenceBringsTheNewTagsOver) {
  RefPtr<PropertySet> old_file = NewSet(), new_file = NewSet();
  old_file->SetString("title", "Old");
  old_file->SetString("artist", "Same");
  old_file->SetString("album", "Old album");
  new_file->SetString("artist", "Same");
  new_file->SetString("title", "New");
  new_file->SetInt("year", 2001);
  new_file->SetString("album", "New album");
  new_file->SetString("Genre", "case matters");
  bool differs = false;
  ASSERT_EQ(rc::kOk, TagsDiffer(*old_file, *new_file, &differs));
  EXPECT_TRUE(differs);
  EXPECT_EQ("New", old_file->GetString("title"));
  EXPECT_EQ(2001, old_file->GetInt("year"));
  ColumnKind kind;
  ASSERT_EQ(rc::kOk, old_file->GetColumnType("year", &kind));
  EXPECT_EQ(kColumnInt, kind);
  EXPECT_EQ("Old album", old_file->GetString("album"));  // not a tag key
  EXPECT_EQ(-1, old_file->FindColumn("Genre"));
  EXPECT_EQ("New", new_file->GetString("title"));

  // No difference copies nothing.
  old_file->SetString("source", "kept");
  new_file->SetString("source", "kept");
  new_file->SetString("album", "Other");
  ASSERT_EQ(rc::kOk, TagsDiffer(*old_file, *new_file, &differs));
  EXPECT_FALSE(differs);
  EXPECT_EQ(rc::kInvalidArg, TagsDiffer(*old_file, *new_file, nullptr));
}

}  // namespace
