#include "support/file_stream.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "testlib/temp_dir.h"

namespace {

// What differs between the two classes: the family of their failure codes.
template <typename T>
struct Codes;
template <>
struct Codes<CrtFileStream> {
  static Result NotFound() { return rc::FromErrno(ENOENT); }
  static Result Exists() { return rc::FromErrno(EEXIST); }
};
template <>
struct Codes<Win32FileStream> {
  static Result NotFound() { return rc::FromWin32(ERROR_FILE_NOT_FOUND); }
  static Result Exists() { return rc::FromWin32(ERROR_FILE_EXISTS); }
};

constexpr uint32_t kReadWrite = OpenRead | OpenWrite;
constexpr uint32_t kWriteAnew = OpenWrite | OpenCreate | OpenTruncate;  // 0x26

template <typename T>
class FileStreamTest : public ::testing::Test {
 protected:
  // Opens `name`, first written with `bytes` unless they are null.
  Result OpenFile(const char* bytes, uint32_t flags, const std::string& name = "f.bin") {
    path_ = bytes ? dir_.WriteFile(name, bytes) : dir_.File(name);
    return stream_.Open(path_, flags, kFileStreamMode);
  }
  uint32_t Position() {
    uint32_t position = 0;
    EXPECT_EQ(stream_.GetPosition(&position), rc::kOk);
    return position;
  }
  uint32_t Size() {
    uint32_t size = 0;
    EXPECT_EQ(stream_.GetSize(&size), rc::kOk);
    return size;
  }
  void Write(const std::string& bytes) {
    uint32_t count = 0;
    ASSERT_EQ(stream_.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &count), rc::kOk);
    ASSERT_EQ(count, bytes.size());
  }
  std::string Read(uint32_t length, Result expected = rc::kOk) {
    std::string bytes(length, '\0');
    uint32_t count = 0;
    EXPECT_EQ(stream_.Read(&bytes[0], length, &count), expected);
    bytes.resize(count);
    return bytes;
  }
  // The file's bytes once the stream has let go of it (the Win32 stream shares nothing).
  std::string Contents() {
    EXPECT_EQ(stream_.Close(), rc::kOk);
    return TempDir::ReadFile(path_);
  }

  TempDir dir_;
  std::string path_;
  T stream_;  // after dir_, so it closes its file before the folder goes
};

using FileStreamTypes = ::testing::Types<CrtFileStream, Win32FileStream>;
TYPED_TEST_SUITE(FileStreamTest, FileStreamTypes);

TYPED_TEST(FileStreamTest, FlagsWithoutAccessAreNotImplemented) {
  for (uint32_t flags : {0u, uint32_t{OpenCreate}, uint32_t{OpenCreate | OpenTruncate}}) {
    EXPECT_EQ(this->OpenFile(nullptr, flags), rc::kNotImplemented) << flags;
    EXPECT_FALSE(this->stream_.IsOpen());
    EXPECT_EQ(GetFileAttributesA(this->path_.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TYPED_TEST(FileStreamTest, ShortReadIsTheEndOfData) {
  ASSERT_EQ(this->OpenFile("0123456789", OpenRead), rc::kOk);
  EXPECT_EQ(this->Read(16, rc::kEndOfData), "0123456789");
  EXPECT_EQ(this->Position(), 10u);
  EXPECT_EQ(this->Read(4, rc::kEndOfData), "");
}

TYPED_TEST(FileStreamTest, FullReadAnswersZero) {
  ASSERT_EQ(this->OpenFile("0123456789", OpenRead), rc::kOk);
  EXPECT_EQ(this->Read(4), "0123");
  EXPECT_EQ(this->Read(6), "456789");
}

TYPED_TEST(FileStreamTest, OpenFlagsChooseHowTheFileIsMet) {
  enum Outcome { kOpens, kNotFound, kExists };
  struct Case {
    uint32_t flags;
    bool exists;
    Outcome outcome;
    const char* contents;  // after opening and closing
  };
  const Case cases[] = {
      {OpenRead, false, kNotFound, nullptr},
      {OpenRead, true, kOpens, "old"},
      {kWriteAnew, false, kOpens, ""},
      {kWriteAnew, true, kOpens, ""},
      {OpenWrite | OpenCreate, false, kOpens, ""},
      {OpenWrite | OpenCreate, true, kOpens, "old"},
      {OpenCreate | OpenExclusive | kReadWrite, false, kOpens, ""},
      {OpenCreate | OpenExclusive | kReadWrite, true, kExists, "old"},
      {OpenCreate | OpenExclusive | OpenTruncate | OpenWrite, true, kExists, "old"},
      {OpenWrite | OpenTruncate, true, kOpens, ""},
      {OpenWrite | OpenTruncate, false, kNotFound, nullptr},
      {OpenRead | OpenSequential, true, kOpens, "old"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags << " exists " << c.exists);
    const std::string name = "case" + std::to_string(index++);
    const Result expected = c.outcome == kOpens      ? rc::kOk
                            : c.outcome == kNotFound ? Codes<TypeParam>::NotFound()
                                                     : Codes<TypeParam>::Exists();
    EXPECT_EQ(this->OpenFile(c.exists ? "old" : nullptr, c.flags, name), expected);
    EXPECT_EQ(this->stream_.IsOpen(), c.outcome == kOpens);
    if (c.contents) {
      EXPECT_EQ(this->Contents(), c.contents);
    } else {
      EXPECT_EQ(GetFileAttributesA(this->path_.c_str()), INVALID_FILE_ATTRIBUTES);
    }
  }
}

// The first position or size query once rewound the Win32 file, so the next write overwrote
// the head of the file.
TYPED_TEST(FileStreamTest, FirstQueryKeepsTheFilePosition) {
  struct Case {
    const char* name;
    std::function<Result(FileStream&)> action;
    uint32_t position;
    const char* contents;  // after writing "AB" there
  };
  const Case cases[] = {
      {"GetPosition", [](FileStream& s) { uint32_t p; return s.GetPosition(&p); }, 4,
       "0123AB6789"},
      {"GetSize", [](FileStream& s) { uint32_t n; return s.GetSize(&n); }, 4, "0123AB6789"},
      {"Skip", [](FileStream& s) { return s.Skip(1); }, 5, "01234AB789"},
      {"Skip back", [](FileStream& s) { return s.Skip(-1); }, 3, "012AB56789"},
      {"Seek", [](FileStream& s) { return s.Seek(6); }, 6, "012345AB89"},
      {"LoadInfo", [](FileStream& s) { return s.LoadInfo(); }, 4, "0123AB6789"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(this->OpenFile("0123456789", kReadWrite), rc::kOk);
    EXPECT_EQ(this->Read(4), "0123");
    EXPECT_EQ(c.action(this->stream_), rc::kOk);
    EXPECT_EQ(this->Position(), c.position);
    EXPECT_EQ(this->Size(), 10u);
    this->Write("AB");
    EXPECT_EQ(this->Contents(), c.contents);
  }
}

TYPED_TEST(FileStreamTest, WritePastTheEndGrowsTheSize) {
  ASSERT_EQ(this->OpenFile("abc", kReadWrite), rc::kOk);
  EXPECT_EQ(this->Size(), 3u);
  ASSERT_EQ(this->stream_.Seek(2), rc::kOk);
  this->Write("0123456789");
  EXPECT_EQ(this->Size(), 12u);
  EXPECT_EQ(this->Position(), 12u);
}

// With the size left stale by Write, a Win32 SetSize once took a cut for growth and appended.
TYPED_TEST(FileStreamTest, SetSizeAfterWritesCutsTheFile) {
  ASSERT_EQ(this->OpenFile(nullptr, kReadWrite | OpenCreate), rc::kOk);
  EXPECT_EQ(this->Size(), 0u);
  this->Write(std::string(100, 'x'));
  EXPECT_EQ(this->stream_.SetSize(50), rc::kOk);
  EXPECT_EQ(this->Size(), 50u);
  EXPECT_EQ(this->Contents(), std::string(50, 'x'));
}

// SetSize leaves the file pointer at the new end; a cached position left behind once made a
// later Seek to it a no-op, so the next write landed in the wrong place.
TYPED_TEST(FileStreamTest, SetSizeKeepsPositionAndSizeTrue) {
  ASSERT_EQ(this->OpenFile(nullptr, kReadWrite | OpenCreate), rc::kOk);
  EXPECT_EQ(this->Size(), 0u);
  this->Write("0123456789");
  ASSERT_EQ(this->stream_.SetSize(4), rc::kOk);
  EXPECT_EQ(this->Position(), 4u);
  EXPECT_EQ(this->Size(), 4u);
  ASSERT_EQ(this->stream_.Seek(10), rc::kOk);
  this->Write("Z");
  EXPECT_EQ(this->Size(), 11u);
  EXPECT_EQ(this->Contents(), std::string("0123\0\0\0\0\0\0Z", 11));
}

TYPED_TEST(FileStreamTest, SetSizeGrowsWithZeros) {
  ASSERT_EQ(this->OpenFile("hello", kReadWrite), rc::kOk);
  ASSERT_EQ(this->stream_.SetSize(13), rc::kOk);
  EXPECT_EQ(this->Size(), 13u);
  EXPECT_EQ(this->Position(), 13u);
  this->Write("!");
  EXPECT_EQ(this->Contents(), std::string("hello\0\0\0\0\0\0\0\0!", 14));
}

TYPED_TEST(FileStreamTest, FailedReadKeepsThePosition) {
  ASSERT_EQ(this->OpenFile(nullptr, kWriteAnew), rc::kOk);
  this->Write("abc");
  char byte;
  uint32_t count = 99;
  EXPECT_LT(this->stream_.Read(&byte, 1, &count), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(this->Position(), 3u);
}

TYPED_TEST(FileStreamTest, FailedSeekAndSkipKeepThePosition) {
  ASSERT_EQ(this->OpenFile("0123456789", OpenRead), rc::kOk);
  ASSERT_EQ(this->stream_.Seek(5), rc::kOk);
  EXPECT_LT(this->stream_.Seek(0x80000000u), 0);  // a negative offset to the system
  EXPECT_LT(this->stream_.Skip(-6), 0);
  EXPECT_EQ(this->Position(), 5u);
  EXPECT_EQ(this->stream_.Skip(-3), rc::kOk);
  EXPECT_EQ(this->Position(), 2u);
  EXPECT_EQ(this->Read(2), "23");
}

TYPED_TEST(FileStreamTest, ReopenForgetsTheOldFile) {
  ASSERT_EQ(this->OpenFile("0123456789", OpenRead, "a.bin"), rc::kOk);
  const std::string first = this->path_;
  ASSERT_EQ(this->stream_.Seek(7), rc::kOk);
  EXPECT_EQ(this->Size(), 10u);
  ASSERT_EQ(this->OpenFile("xyz", OpenRead, "b.bin"), rc::kOk);
  EXPECT_EQ(this->Size(), 3u);
  EXPECT_EQ(this->Position(), 0u);
  EXPECT_EQ(this->Read(3), "xyz");
  TypeParam other;  // the first file was let go, even by a stream that shares nothing
  EXPECT_EQ(other.Open(first, OpenRead, kFileStreamMode), rc::kOk);
}

TYPED_TEST(FileStreamTest, CloseLetsGoOnceAndAgainDoesNothing) {
  ASSERT_EQ(this->OpenFile(nullptr, kWriteAnew), rc::kOk);
  this->Write("data");
  EXPECT_EQ(this->stream_.Flush(), rc::kOk);
  EXPECT_EQ(this->stream_.Close(), rc::kOk);
  EXPECT_FALSE(this->stream_.IsOpen());
  EXPECT_EQ(this->stream_.Close(), rc::kOk);
  EXPECT_EQ(TempDir::ReadFile(this->path_), "data");
}

TYPED_TEST(FileStreamTest, DestructionClosesTheFile) {
  const std::string path = this->dir_.File("d.bin");
  {
    TypeParam stream;
    ASSERT_EQ(stream.Open(path, kWriteAnew, kFileStreamMode), rc::kOk);
    uint32_t count = 0;
    ASSERT_EQ(stream.Write("kept", 4, &count), rc::kOk);
  }
  EXPECT_EQ(TempDir::ReadFile(path), "kept");
  TypeParam again;
  EXPECT_EQ(again.Open(path, kReadWrite, kFileStreamMode), rc::kOk);
}

// ---- what only one of the classes does ----

using CrtFileStreamTest = FileStreamTest<CrtFileStream>;
using Win32FileStreamTest = FileStreamTest<Win32FileStream>;

TEST_F(CrtFileStreamTest, RewindReloadsThePositionWithoutMoving) {
  ASSERT_EQ(OpenFile("0123456789", OpenRead), rc::kOk);
  EXPECT_EQ(Read(4), "0123");
  EXPECT_EQ(stream_.Rewind(), 4);
  EXPECT_EQ(Read(2), "45");
}

// An appending descriptor writes at the end wherever it stood; the cached position once
// ignored that.
TEST_F(CrtFileStreamTest, AppendKeepsThePositionTrue) {
  ASSERT_EQ(OpenFile("abc", OpenWrite | OpenAppend), rc::kOk);
  EXPECT_EQ(Position(), 0u);
  Write("xy");
  EXPECT_EQ(Position(), 5u);
  EXPECT_EQ(Size(), 5u);
  EXPECT_EQ(Contents(), "abcxy");
}

TEST_F(Win32FileStreamTest, RewindMovesToTheStart) {
  ASSERT_EQ(OpenFile("0123456789", OpenRead), rc::kOk);
  EXPECT_EQ(Read(4), "0123");
  EXPECT_EQ(stream_.Rewind(), 0);
  EXPECT_EQ(Position(), 0u);
  EXPECT_EQ(Read(2), "01");
}

TEST_F(Win32FileStreamTest, FileIsNotShared) {
  ASSERT_EQ(OpenFile("abc", OpenRead), rc::kOk);
  Win32FileStream other;
  EXPECT_EQ(other.Open(path_, OpenRead, kFileStreamMode), rc::FromWin32(ERROR_SHARING_VIOLATION));
}

class RecordingWin32FileStream : public Win32FileStream {
 public:
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override {
    lengths.push_back(length);
    return Win32FileStream::Write(buffer, length, count);
  }
  std::vector<uint32_t> lengths;
};

TEST(Win32FileStreamSetSizeTest, GrowthIsWrittenInPiecesOf4096) {
  TempDir dir;
  const std::string before(5000, 'q');
  const std::string path = dir.WriteFile("big.bin", before);
  {
    RecordingWin32FileStream stream;
    ASSERT_EQ(stream.Open(path, kReadWrite, kFileStreamMode), rc::kOk);
    ASSERT_EQ(stream.SetSize(13000), rc::kOk);
    EXPECT_EQ(stream.lengths, (std::vector<uint32_t>{4096, 3904}));
    uint32_t size = 0;
    EXPECT_EQ(stream.GetSize(&size), rc::kOk);
    EXPECT_EQ(size, 13000u);
  }
  EXPECT_EQ(TempDir::ReadFile(path), before + std::string(8000, '\0'));
}

// ---- OpenFileStream ----

TEST(OpenFileStreamTest, PicksTheClassByTheWin32Flag) {
  TempDir dir;
  const std::string path = dir.WriteFile("f.bin", "abc");
  std::unique_ptr<FileStream> stream;
  ASSERT_EQ(OpenFileStream(path.c_str(), OpenRead, &stream), rc::kOk);
  EXPECT_NE(dynamic_cast<CrtFileStream*>(stream.get()), nullptr);
  stream.reset();
  ASSERT_EQ(OpenFileStream(path.c_str(), OpenRead | OpenWin32, &stream), rc::kOk);
  EXPECT_NE(dynamic_cast<Win32FileStream*>(stream.get()), nullptr);
  char buffer[3];
  uint32_t count = 0;
  EXPECT_EQ(stream->Read(buffer, 3, &count), rc::kOk);
  EXPECT_EQ(std::string(buffer, count), "abc");
}

TEST(OpenFileStreamTest, FailureClearsTheOutStream) {
  TempDir dir;
  const std::string missing = dir.File("missing.bin");
  struct Case {
    uint32_t flags;
    Result expected;
  };
  for (const Case& c : {Case{OpenRead, rc::FromErrno(ENOENT)},
                        Case{OpenRead | OpenWin32, rc::FromWin32(ERROR_FILE_NOT_FOUND)},
                        Case{OpenCreate, rc::kNotImplemented}}) {
    std::unique_ptr<FileStream> stream(new CrtFileStream);
    EXPECT_EQ(OpenFileStream(missing.c_str(), c.flags, &stream), c.expected) << c.flags;
    EXPECT_EQ(stream, nullptr);
  }
}

}  // namespace
