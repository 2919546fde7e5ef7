// A new upload's ID3 tag growing in place, cut short part-way (the drive pulled while the
// audio moves): the damaged file is left hidden, so that no library pass lists it as a track;
// a growth that completes leaves the file as it was shown.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "media/id3_tag_writer.h"
#include "support/file_stream.h"
#include "testlib/id3_builder.h"
#include "testlib/temp_dir.h"

namespace {

constexpr Result kDriveGone = static_cast<Result>(0x80070015);  // ERROR_NOT_READY

// The real file stream, failing every write from the nth on, as a drive pulled then would.
class CutShortFileStream : public FileStream {
 public:
  CutShortFileStream(std::unique_ptr<FileStream> file, int failing_write)
      : file_(std::move(file)), failing_write_(failing_write) {}

  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    return file_->Read(buffer, length, count);
  }
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override {
    if (failing_write_ != 0 && ++writes_ >= failing_write_) return kDriveGone;
    return file_->Write(buffer, length, count);
  }
  Result Flush() override { return file_->Flush(); }
  Result GetPosition(uint32_t* position) override { return file_->GetPosition(position); }
  Result Seek(uint32_t position) override { return file_->Seek(position); }
  Result Skip(int32_t delta) override { return file_->Skip(delta); }
  Result GetSize(uint32_t* size) override { return file_->GetSize(size); }
  Result SetSize(uint32_t size) override { return file_->SetSize(size); }
  Result Rewind() override { return file_->Rewind(); }
  Result LoadInfo() override { return file_->LoadInfo(); }
  Result Open(const std::string& path, uint32_t flags, int mode) override {
    return file_->Open(path, flags, mode);
  }
  Result Close() override { return file_->Close(); }

 private:
  std::unique_ptr<FileStream> file_;
  int failing_write_;
  int writes_ = 0;
};

bool Hidden(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
}

// Grows the tag of a new upload (no tag yet) with the nth write failing (0: none).
Result GrowWithWriteFailing(const std::string& path, int failing_write) {
  Id3TagWriter writer(path);
  writer.SetProperty("title", std::string(3000, 'g').c_str());
  writer.PermitGrowthInPlace();
  writer.SetFileOpener(
      [failing_write](const std::string& name, uint32_t flags, std::unique_ptr<FileStream>* out) {
        std::unique_ptr<FileStream> file;
        const Result opened = OpenFileStream(name.c_str(), flags, &file);
        if (rc::Succeeded(opened)) out->reset(new CutShortFileStream(std::move(file), failing_write));
        return opened;
      });
  return writer.Write();
}

// Whether the folder's file system keeps a hidden mark (the 32-bit Wine under emulation here
// does not), without which the rule cannot be seen.
bool KeepsHiddenMark(const TempDir& dir) {
  const std::string probe = dir.WriteFile("probe", "x");
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_HIDDEN);
  const bool kept = Hidden(probe);
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(probe.c_str());
  return kept;
}

TEST(Id3GrowthCutShort, ADamagedUploadIsLeftHiddenAndAWholeOneShown) {
  TempDir dir;
  if (!KeepsHiddenMark(dir)) GTEST_SKIP() << "this file system does not keep a hidden mark";
  const std::string audio = id3test::Audio(400);
  // 400 frames are three copy blocks: the first write moves the last block, the fourth writes
  // the tag in front.
  const struct {
    const char* what;
    int failing_write;
  } cases[] = {{"cut at the first block", 1}, {"cut at the second block", 2},
               {"cut at the tag", 4}};
  for (const auto& c : cases) {
    const std::string path = dir.WriteFile("upload.mp3", audio);
    EXPECT_EQ(GrowWithWriteFailing(path, c.failing_write), kDriveGone) << c.what;
    EXPECT_NE(TempDir::ReadFile(path), audio) << c.what << ": the test must damage the file";
    EXPECT_TRUE(Hidden(path)) << c.what;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  }

  const std::string path = dir.WriteFile("upload.mp3", audio);
  ASSERT_EQ(GrowWithWriteFailing(path, 0), rc::kOk);
  const std::string grown = TempDir::ReadFile(path);
  EXPECT_EQ(grown.substr(grown.size() - audio.size()), audio);
  EXPECT_FALSE(Hidden(path));
}

}  // namespace
