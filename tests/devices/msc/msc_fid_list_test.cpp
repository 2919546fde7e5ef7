#include "devices/msc/msc_fid_list.h"

#include <gtest/gtest.h>

#include <memory>

#include "media/property_holder.h"
#include "support/memory_stream.h"

namespace {

void AddFid(MscFidList& list, int32_t fid) {
  PropertyHolder file;
  file.SetInt("fid", fid);
  file.SetInt("fid_generation", 77);  // not kept
  ASSERT_EQ(list.Add(file), rc::kOk);
}

TEST(MscFidListTest, SerialisesPlainLittleEndianFids) {
  MscFidList list;
  AddFid(list, 0x110);
  AddFid(list, 0x01020304);
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.SerializedSize(), 2u * 4096);
  SeekableStream* raw = nullptr;
  ASSERT_EQ(list.Serialize(&raw), rc::kOk);
  std::unique_ptr<SeekableStream> stream(raw);
  char bytes[16] = {};
  uint32_t count = 0;
  stream->Read(bytes, sizeof bytes, &count);
  EXPECT_EQ(std::string(bytes, count), std::string("\x10\x01\0\0\x04\x03\x02\x01", 8));
  EXPECT_NE(list.TimeStamp(), 0u);
}

TEST(MscFidListTest, NewListCopiesAndReadingTakesWholeWords) {
  MscFidList list;
  AddFid(list, 5);
  RefPtr<FidList> copy;
  ASSERT_EQ(list.NewList(&copy), rc::kOk);
  AddFid(list, 6);
  EXPECT_EQ(copy->Count(), 1u);

  MemoryStream stream(std::string("\x01\0\0\0\x02\0\0\0\x03\0", 10));
  ASSERT_EQ(list.ReadFrom(&stream), rc::kOk);
  EXPECT_EQ(list.fids(), (std::vector<uint32_t>{1, 2}));
}

}  // namespace
