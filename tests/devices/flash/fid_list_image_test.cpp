#include "devices/flash/fid_list_image.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "media/property_holder.h"

namespace {

#include "fid_list_images.inc"

std::string ImageOf(const FidImageCase& c) { return std::string(c.image, c.size); }

std::vector<std::pair<uint32_t, uint32_t>> Entries(FidListImage& list) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const FidEntry& e : list.Entries()) out.emplace_back(e.fid, e.generation);
  return out;
}

// What decoding a case's image gives: its values cut to 24 bits.
std::vector<std::pair<uint32_t, uint32_t>> Decoded(const FidImageCase& c) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (uint32_t i = 0; i < c.count; ++i) {
    out.emplace_back(c.entries[i][0] & 0xFFFFFF, c.entries[i][1] & 0xFFFFFF);
  }
  return out;
}

RefPtr<FidListImage> NewList() {
  RefPtr<FidList> list;
  EXPECT_EQ(rc::kOk, CreateFidList(&list));
  return RefPtr<FidListImage>(static_cast<FidListImage*>(list.Get()));
}

RefPtr<FidListImage> ListOf(const FidImageCase& c) {
  RefPtr<FidListImage> list = NewList();
  for (uint32_t i = 0; i < c.count; ++i) {
    PropertyHolder file;
    file.SetInt("fid", static_cast<int32_t>(c.entries[i][0]));
    file.SetInt("fid_generation", static_cast<int32_t>(c.entries[i][1]));
    EXPECT_EQ(rc::kOk, list->Add(file));
  }
  return list;
}

std::unique_ptr<SeekableStream> StreamOf(FidListImage& list) {
  SeekableStream* stream = nullptr;
  EXPECT_EQ(rc::kOk, list.Serialize(&stream));
  return std::unique_ptr<SeekableStream>(stream);
}

// Reads the stream dry through reads of `chunk` bytes; each read's size is recorded.
std::string ReadAll(SeekableStream& stream, uint32_t chunk, std::vector<uint32_t>* sizes) {
  std::string out;
  std::vector<char> buffer(chunk);
  for (;;) {
    uint32_t done = 99;
    const Result result = stream.Read(buffer.data(), chunk, &done);
    if (sizes) sizes->push_back(done);
    if (result == rc::kEndOfData) {
      EXPECT_EQ(0u, done);
      return out;
    }
    EXPECT_EQ(rc::kOk, result);
    if (result != rc::kOk || done == 0) return out;
    out.append(buffer.data(), done);
  }
}

Result WritePiece(SeekableStream& stream, const std::string& bytes, size_t from, size_t to) {
  uint32_t used = 99;
  const Result result =
      stream.Write(bytes.data() + from, static_cast<uint32_t>(to - from), &used);
  EXPECT_EQ(result == rc::kOk ? to - from : 0u, used);
  return result;
}

TEST(FidListImageTest, EncodesAsTheOracle) {
  for (const auto& c : kFidImageCases) {
    RefPtr<FidListImage> list = ListOf(c);
    EXPECT_EQ(c.size, list->SerializedSize()) << c.name;
    auto stream = StreamOf(*list);
    uint32_t size = 0;
    EXPECT_EQ(rc::kOk, stream->GetSize(&size));
    EXPECT_EQ(c.size, size);
    EXPECT_EQ(ImageOf(c), ReadAll(*stream, 4096, nullptr)) << c.name;
  }
}

TEST(FidListImageTest, ReadsNeverSplitAnEntry) {
  RefPtr<FidListImage> list = ListOf(kFidImageCases[1]);
  auto stream = StreamOf(*list);
  std::vector<uint32_t> sizes;
  EXPECT_EQ(ImageOf(kFidImageCases[1]), ReadAll(*stream, 17, &sizes));
  EXPECT_EQ((std::vector<uint32_t>{12, 6, 0}), sizes);

  // Rewinding encodes the header again; only position 0 can be sought.
  EXPECT_EQ(rc::kNotImplemented, stream->Seek(5));
  EXPECT_EQ(rc::kOk, stream->Seek(0));
  sizes.clear();
  EXPECT_EQ(ImageOf(kFidImageCases[1]), ReadAll(*stream, 18, &sizes));
  EXPECT_EQ((std::vector<uint32_t>{18, 0}), sizes);
}

TEST(FidListImageTest, HeaderNeedsABufferThatHoldsIt) {
  RefPtr<FidListImage> list = ListOf(kFidImageCases[2]);
  auto stream = StreamOf(*list);
  char buffer[12] = {};
  uint32_t done = 99;
  EXPECT_EQ(rc::kInvalidArg, stream->Read(buffer, 11, &done));
  EXPECT_EQ(0u, done);
  EXPECT_EQ(ImageOf(kFidImageCases[2]), ReadAll(*stream, 12, nullptr));
}

TEST(FidListImageTest, DecodesTheOracleWhole) {
  for (const auto& c : kFidImageCases) {
    RefPtr<FidListImage> list = NewList();
    auto stream = StreamOf(*list);
    const std::string image = ImageOf(c);
    EXPECT_EQ(rc::kOk, WritePiece(*stream, image, 0, image.size())) << c.name;
    EXPECT_EQ(Decoded(c), Entries(*list)) << c.name;
  }
}

TEST(FidListImageTest, DecodesInTwoPiecesAtEverySplit) {
  const FidImageCase& c = kFidImageCases[2];
  const std::string image = ImageOf(c);
  for (size_t split = 0; split <= image.size(); ++split) {
    RefPtr<FidListImage> list = NewList();
    auto stream = StreamOf(*list);
    if (split < FidListImage::kHeaderSize) {
      // A header cut in two is refused, and nothing is taken.
      EXPECT_EQ(rc::kFail, WritePiece(*stream, image, 0, split)) << split;
      EXPECT_EQ(0u, list->Count());
      continue;
    }
    EXPECT_EQ(rc::kOk, WritePiece(*stream, image, 0, split)) << split;
    EXPECT_EQ(rc::kOk, WritePiece(*stream, image, split, image.size())) << split;
    EXPECT_EQ(Decoded(c), Entries(*list)) << split;
  }
}

TEST(FidListImageTest, DecodesByteByByteAfterTheHeader) {
  const FidImageCase& c = kFidImageCases[3];
  const std::string image = ImageOf(c);
  RefPtr<FidListImage> list = NewList();
  auto stream = StreamOf(*list);
  EXPECT_EQ(rc::kOk, WritePiece(*stream, image, 0, 12));
  for (size_t at = 12; at < image.size(); ++at) {
    EXPECT_EQ(rc::kOk, WritePiece(*stream, image, at, at + 1));
  }
  EXPECT_EQ(Decoded(c), Entries(*list));
}

TEST(FidListImageTest, BadImages) {
  const std::string good = ImageOf(kFidImageCases[1]);
  std::string wrong_magic = good;
  wrong_magic[5] = 'X';
  std::string version_two = good;
  version_two[6] = 0x02;
  const struct {
    const char* name;
    std::string image;
  } cases[] = {
      {"nothing", ""},
      {"short", good.substr(0, 5)},
      {"header less one", good.substr(0, 11)},
      {"wrong magic", wrong_magic},
      {"version bit clear", version_two},
  };
  for (const auto& c : cases) {
    RefPtr<FidListImage> list = NewList();
    auto stream = StreamOf(*list);
    EXPECT_EQ(rc::kFail, WritePiece(*stream, c.image, 0, c.image.size())) << c.name;
    EXPECT_EQ(0u, list->Count()) << c.name;
    // Refused before the header was taken: a good image still goes in.
    EXPECT_EQ(rc::kOk, WritePiece(*stream, good, 0, good.size())) << c.name;
    EXPECT_EQ(1u, list->Count()) << c.name;
  }
}

TEST(FidListImageTest, AnyOddVersionAndAnyCountAreTaken) {
  std::string image = ImageOf(kFidImageCases[2]);
  image[6] = 0x03;
  image[9] = static_cast<char>(0xE8);  // claims 1000 entries
  image[10] = 0x03;
  image += std::string("\x01\x02\x03", 3);  // and ends inside a fourth
  RefPtr<FidListImage> list = NewList();
  auto stream = StreamOf(*list);
  EXPECT_EQ(rc::kOk, WritePiece(*stream, image, 0, image.size()));
  EXPECT_EQ(Decoded(kFidImageCases[2]), Entries(*list));
}

TEST(FidListImageTest, UnsupportedStreamOperations) {
  RefPtr<FidListImage> list = NewList();
  auto stream = StreamOf(*list);
  uint32_t position = 0;
  EXPECT_EQ(rc::kNotImplemented, stream->GetPosition(&position));
  EXPECT_EQ(rc::kNotImplemented, stream->Skip(1));
  EXPECT_EQ(rc::kNotImplemented, stream->SetSize(0));
  EXPECT_EQ(rc::kOk, stream->Flush());
}

TEST(FidListImageTest, StreamKeepsItsListAlive) {
  RefPtr<FidListImage> list = ListOf(kFidImageCases[2]);
  auto stream = StreamOf(*list);
  list.Reset();
  EXPECT_EQ(ImageOf(kFidImageCases[2]), ReadAll(*stream, 64, nullptr));
}

TEST(FidListImageTest, NewListCopiesEntriesAndProgress) {
  const FidImageCase& c = kFidImageCases[2];
  const std::string image = ImageOf(c);
  RefPtr<FidListImage> list = NewList();
  auto stream = StreamOf(*list);
  EXPECT_EQ(rc::kOk, WritePiece(*stream, image, 0, 20));  // one entry and 2 carried bytes

  RefPtr<FidList> copy_base = ListOf(kFidImageCases[1]);  // held before: replaced
  EXPECT_EQ(rc::kOk, list->NewList(&copy_base));
  RefPtr<FidListImage> copy(static_cast<FidListImage*>(copy_base.Get()));
  ASSERT_NE(copy.Get(), list.Get());
  FidListStream copy_stream(copy.Get());
  EXPECT_EQ(rc::kOk, WritePiece(copy_stream, image, 20, image.size()));
  EXPECT_EQ(Decoded(c), Entries(*copy));
  EXPECT_EQ(1u, list->Count());
}

TEST(FidListImageTest, CreateReplacesWhatTheOutHeld) {
  RefPtr<FidList> list = ListOf(kFidImageCases[2]);
  FidList* old = list.Get();
  old->AddRef();
  EXPECT_EQ(rc::kOk, CreateFidList(&list));
  EXPECT_NE(old, list.Get());
  EXPECT_EQ(1, old->RefCount());
  old->Release();
  EXPECT_EQ(0u, list->Count());
  EXPECT_EQ(12u, list->SerializedSize());
}

TEST(FidListImageTest, GenerationStamps) {
  const struct {
    uint32_t seconds, microseconds, stamp;
  } cases[] = {
      {0, 0, 1},                   // never 0
      {0, 99999, 1},
      {0, 200000, 2},
      {1677721, 500000, 0xFFFFFF},
      {1677721, 600000, 1},        // wraps to 0, which becomes 1
      {1700000000, 250000, static_cast<uint32_t>(17000000002ull & 0xFFFFFF)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.stamp, GenerationStamp(c.seconds, c.microseconds)) << c.seconds;
  }
  RefPtr<FidListImage> list = NewList();
  const uint32_t now = list->TimeStamp();
  EXPECT_GE(now, 1u);
  EXPECT_LE(now, 0xFFFFFFu);
}

}  // namespace
