#include "devices/fid_enumerator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "devices/row_flags.h"
#include "media/property_holder.h"
#include "support/stream.h"

namespace {

void Fill(PropertyHolder* file, int32_t fid, int32_t generation) {
  file->SetInt("fid", fid);
  file->SetInt("fid_generation", generation);
}

std::string Serialised(FidList* list) {
  SeekableStream* raw = nullptr;
  EXPECT_EQ(list->Serialize(&raw), rc::kOk);
  std::unique_ptr<SeekableStream> stream(raw);
  uint32_t position = 99;
  EXPECT_EQ(stream->GetPosition(&position), rc::kOk);
  EXPECT_EQ(position, 0u);
  std::string bytes(list->SerializedSize() + 16, '\0');
  uint32_t got = 0;
  stream->Read(&bytes[0], static_cast<uint32_t>(bytes.size()), &got);
  bytes.resize(got);
  return bytes;
}

TEST(FidEnumeratorTest, SerialisesHeaderAndPairsInTheOrderAdded) {
  RefPtr<FidEnumerator> list(new FidEnumerator);
  EXPECT_EQ(Serialised(list.Get()), std::string("\xFF\x02\0\0", 4));
  EXPECT_EQ(list->SerializedSize(), 4u);
  PropertyHolder a, b;
  Fill(&a, 0x130, 2);
  Fill(&b, 0x120, -1);
  ASSERT_EQ(list->Add(a), rc::kOk);
  ASSERT_EQ(list->Add(b), rc::kOk);
  EXPECT_EQ(list->Count(), 2u);
  EXPECT_EQ(list->SerializedSize(), 20u);
  EXPECT_EQ(Serialised(list.Get()),
            std::string("\xFF\x02\0\0\x30\x01\0\0\x02\0\0\0\x20\x01\0\0\xFF\xFF\xFF\xFF", 20));
  EXPECT_NE(list->TimeStamp(), 0u);

  RefPtr<FidList> fresh;
  ASSERT_EQ(list->NewList(&fresh), rc::kOk);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->Count(), 0u);
  EXPECT_EQ(list->Count(), 2u);
}

TEST(RowFlagsTest, AutoSyncIsBit0x400) {
  EXPECT_EQ(FlagsFromOptions(0x400), ";autosync;");
  EXPECT_EQ(FlagsFromOptions(0x7FF), ";autosync;");
  EXPECT_EQ(FlagsFromOptions(0x3FF), "");

  struct Case {
    const char* flags;
    uint32_t options, expected;
  } cases[] = {
      {";autosync;", 0x3, 0x403},       {"autosync", 0, 0x400},
      {";shuffle;autosync;", 0, 0x400}, {"", 0x401, 0x1},
      {";autosyncs;", 0x400, 0},        {";shuffle;", 0xFFFFFFFF, 0xFFFFFBFF},
  };
  for (const Case& c : cases) {
    PropertyHolder holder;
    holder.SetString("flags", c.flags);
    EXPECT_EQ(ApplyFlagsToOptions(*holder.GetSet(), c.options), c.expected) << c.flags;
  }
}

}  // namespace
