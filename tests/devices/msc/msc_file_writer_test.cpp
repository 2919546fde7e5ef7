#include "devices/msc/msc_file_writer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/msc/msc_file_source.h"
#include "media/property_holder.h"
#include "support/file_helpers.h"
#include "testlib/temp_dir.h"

namespace {

// Remembers the files it is asked to record; answers `result`.
class RecordingFileSource : public EmptyFileSource {
 public:
  RecordingFileSource() : EmptyFileSource("E:\\") {}
  Result RecordNewFile(PropertyHolder& file) override {
    recorded.push_back(file.GetString("name"));
    if (rc::Succeeded(result)) file.SetInt("fid", 0x120);
    return result;
  }
  std::vector<std::string> recorded;
  Result result = rc::kOk;
};

class MscFileWriterTest : public ::testing::Test {
 protected:
  std::string Root() const { return dir_.Path() + "\\"; }

  std::unique_ptr<MscFileWriter> OpenWriter() {
    auto writer = std::make_unique<MscFileWriter>(Root(), &source_);
    EXPECT_EQ(writer->Open(), rc::kOk);
    return writer;
  }

  // The temporary files in the root.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((Root() + "TKM*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
  }

  static std::string Bytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
  }

  static void WriteInPieces(MscFileWriter& writer, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size(); done += 300000) {
      uint32_t n = static_cast<uint32_t>(std::min<size_t>(300000, bytes.size() - done));
      ASSERT_EQ(writer.Write(reinterpret_cast<const uint8_t*>(bytes.data()) + done, n), rc::kOk);
    }
  }

  TempDir dir_;
  RecordingFileSource source_;
};

TEST_F(MscFileWriterTest, AFullPathOnTheDriveReceivesTheExactBytes) {
  auto writer = OpenWriter();
  std::string temporary = writer->temporary_path();
  EXPECT_EQ(Leftovers().size(), 1u);
  std::string bytes = Bytes(2 * MscFileWriter::kBlockSize + 12345);
  WriteInPieces(*writer, bytes);
  PropertyHolder file;
  file.SetString("name", dir_.File("Song.mp3"));
  ASSERT_EQ(writer->Finish(file), rc::kOk);
  EXPECT_EQ(TempDir::ReadFile(dir_.File("Song.mp3")), bytes);
  EXPECT_EQ(file.GetString("name"), dir_.File("Song.mp3"));
  EXPECT_EQ(file.GetString("directory"), dir_.Path());
  EXPECT_EQ(source_.recorded, std::vector<std::string>{dir_.File("Song.mp3")});
  EXPECT_FALSE(FileExists(temporary));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(MscFileWriterTest, ABareNameGetsTheBuiltPath) {
  auto writer = OpenWriter();
  WriteInPieces(*writer, "tune");
  PropertyHolder file;
  file.SetString("name", "Song.mp3");  // what the WMDM upload hands over
  file.SetString("type", "tune");
  file.SetString("codec", "mp3");
  file.SetString("title", "Song");
  file.SetString("file_format", dir_.Path().substr(3) + "\\Music\\%N");
  ASSERT_EQ(writer->Finish(file), rc::kOk);
  EXPECT_EQ(file.GetString("name"), dir_.File("Music\\Song.mp3"));
  EXPECT_EQ(TempDir::ReadFile(dir_.File("Music\\Song.mp3")), "tune");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(MscFileWriterTest, FailuresLeaveNoTemporaryFileAndNothingLost) {
  struct Case {
    const char* what;
    const char* name;
    bool block_music_folder;
    Result record_result;
  } cases[] = {
      {"destination exists", "Old.mp3", false, rc::kOk},
      {"folder cannot be made", "", true, rc::kOk},
  };
  for (const Case& c : cases) {
    dir_.WriteFile("Old.mp3", "keep me");
    if (c.block_music_folder) dir_.WriteFile("Music", "a file where the folder should be");
    auto writer = OpenWriter();
    WriteInPieces(*writer, "new bytes");
    PropertyHolder file;
    file.SetString("name", *c.name ? dir_.File(c.name) : "");
    file.SetString("type", "tune");
    file.SetString("title", "Song");
    file.SetString("file_format", dir_.Path().substr(3) + "\\Music\\%N");
    source_.recorded.clear();
    EXPECT_TRUE(rc::Failed(writer->Finish(file))) << c.what;
    EXPECT_TRUE(source_.recorded.empty()) << c.what;
    EXPECT_EQ(TempDir::ReadFile(dir_.File("Old.mp3")), "keep me") << c.what;
    EXPECT_TRUE(Leftovers().empty()) << c.what;
  }
}

TEST_F(MscFileWriterTest, ARecordFailureIsReturned) {
  source_.result = rc::kFail;
  auto writer = OpenWriter();
  WriteInPieces(*writer, "x");
  PropertyHolder file;
  file.SetString("name", dir_.File("Song.mp3"));
  EXPECT_EQ(writer->Finish(file), rc::kFail);
  EXPECT_EQ(TempDir::ReadFile(dir_.File("Song.mp3")), "x");  // the file stays for a rescan
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(MscFileWriterTest, AbortAndDestructionRemoveTheTemporaryFile) {
  auto aborted = OpenWriter();
  WriteInPieces(*aborted, Bytes(MscFileWriter::kBlockSize + 1));
  EXPECT_EQ(aborted->Abort(), rc::kOk);
  EXPECT_TRUE(Leftovers().empty());
  auto dropped = OpenWriter();
  WriteInPieces(*dropped, "half an upload");
  dropped.reset();
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(MscFileWriterTest, AMissingRootFailsToOpen) {
  MscFileWriter writer(dir_.File("missing\\"), &source_);
  EXPECT_TRUE(rc::Failed(writer.Open()));
}

}  // namespace
