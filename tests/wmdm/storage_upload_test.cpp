// Uploads through the root storage of a scripted player: the bytes at the player, the
// temporary copy and its tags, the metadata the file is finished with, the accounting, and
// what is left behind when an upload fails or is dropped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "devices/device_results.h"
#include "support/text_convert.h"
#include "testlib/recording_wmdm_logger.h"
#include "testlib/temp_dir.h"
#include "wmdm/cmdsp_file.h"
#include "wmdm/cmdsp_storage.h"
#include "wmdm/storage_test_player.h"
#include "wmdm_upload_fixtures.inc"

namespace {

constexpr Result kPlayerFull = static_cast<Result>(0xC0049002);
constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

CMDSPFile* AsFile(IMDSPStorage* storage) {
  return static_cast<CMDSPFile*>(static_cast<IMDSPStorage3*>(storage));
}

class StorageUploadTest : public testing::Test {
 protected:
  StorageUploadTest() : player_(script_) {
    // The temporary copies go to a folder of the test's own.
    char previous[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableA("TMP", previous, sizeof previous);
    had_tmp_ = length > 0 && length < sizeof previous;
    if (had_tmp_) previous_tmp_ = previous;
    SetEnvironmentVariableA("TMP", temp_.Path().c_str());
    EXPECT_EQ(rc::kOk, player_.init_result());
    EXPECT_EQ(S_OK, CreateRootStorage(player_.device(), root_.Out()));
  }
  ~StorageUploadTest() override {
    SetEnvironmentVariableA("TMP", had_tmp_ ? previous_tmp_.c_str() : nullptr);
  }

  std::string TempCopy(const std::string& extension) const {
    return temp_.File(std::string("TorvexTmp") + extension);
  }

  // Creates and opens an upload named `name`.
  void Begin(const std::wstring& name, ComRef<IMDSPStorage>* file, ComRef<IMDSPObject>* object) {
    ASSERT_EQ(S_OK, root_->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr,
                                         const_cast<LPWSTR>(name.c_str()), file->Out()));
    *object->Out() = file->As<IMDSPObject>(IID_IMDSPObject);
    ASSERT_EQ(S_OK, (*object)->Open(MDSP_WRITE));
  }

  // Writes in blocks of `block` bytes, as WMDM does.
  void WriteAll(IMDSPObject* object, const std::string& bytes, size_t block = 8192) {
    for (size_t at = 0; at < bytes.size(); at += block) {
      std::string part = bytes.substr(at, block);
      DWORD size = static_cast<DWORD>(part.size());
      ASSERT_EQ(S_OK, object->Write(reinterpret_cast<BYTE*>(&part[0]), &size, nullptr));
    }
  }

  void ExpectNothingLeft() {
    EXPECT_EQ(0, script_.channels_alive);
    EXPECT_EQ(0, script_.streams_alive);
    EXPECT_EQ(0, CMDSPDevice::BusyCount());
    DWORD status = 0;
    EXPECT_EQ(S_OK, player_.device()->GetStatus(&status));
    EXPECT_EQ(WMDM_STATUS_READY, status);
  }

  TempDir temp_;
  bool had_tmp_ = false;
  std::string previous_tmp_;
  PlayerScript script_;
  ScriptedPlayerTest player_;
  ComRef<IMDSPStorage> root_;
};

TEST_F(StorageUploadTest, ToolMadeFilesGoUpWithTheirTags) {
  for (const UploadFixture& fixture : kUploadFixtures) {
    SCOPED_TRACE(fixture.file_name);
    script_ = PlayerScript();
    const std::string bytes(fixture.bytes, fixture.size);
    const std::string name = fixture.file_name;
    const std::string extension = name.substr(name.rfind('.'));
    const bool wma = extension == ".WMA";

    ComRef<IMDSPStorage> file;
    ComRef<IMDSPObject> object;
    Begin(Utf8ToWideString(name), &file, &object);
    // Open: the player's stream, the device busy, the temporary copy by extension.
    EXPECT_EQ(1, script_.channels_alive);
    EXPECT_EQ(1, CMDSPDevice::BusyCount());
    EXPECT_EQ(TempCopy(extension), AsFile(file.Get())->temp_path());
    EXPECT_TRUE(FileExists(TempCopy(extension)));
    WriteAll(object.Get(), bytes, wma ? 5000 : 8192);
    EXPECT_EQ(bytes, TempDir::ReadFile(TempCopy(extension)));

    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(S_OK, object->Close());
    EXPECT_EQ(bytes, script_.written);
    ASSERT_NE(nullptr, script_.finished);
    Properties& finished = *script_.finished;
    EXPECT_EQ("tune", finished["type"]);
    EXPECT_EQ(wma ? "wma" : "mp3", finished["codec"]);
    EXPECT_EQ(fixture.title, finished["title"]);
    EXPECT_EQ(fixture.artist, finished["artist"]);
    EXPECT_EQ(fixture.album, finished["source"]);
    EXPECT_EQ(fixture.genre, finished["genre"]);
    EXPECT_EQ(std::atoi(fixture.year), std::atoi(finished["year"].c_str()));
    EXPECT_EQ(fixture.track, static_cast<uint32_t>(std::atoi(finished["tracknr"].c_str())));
    EXPECT_EQ(fixture.rid, finished["rid"]);
    EXPECT_EQ(name, finished["name"]);
    EXPECT_EQ(std::to_string(fixture.size), finished["length"]);
    EXPECT_LE(before, std::atoll(finished["ctime"].c_str()));
    EXPECT_EQ(0u, finished.count("drm"));

    EXPECT_EQ(std::vector<std::string>{"AccountNew " + std::to_string(fixture.size)},
              std::vector<std::string>(script_.predictor_calls.end() - 1,
                                       script_.predictor_calls.end()));
    EXPECT_EQ(1, script_.commits);
    EXPECT_EQ(0, script_.aborts);
    EXPECT_FALSE(FileExists(TempCopy(extension)));
    EXPECT_TRUE(AsFile(file.Get())->on_player());
    EXPECT_FALSE(AsFile(file.Get())->dead());
    EXPECT_EQ(fixture.title, player_.device()->files().back()->GetString("title"));
    ExpectNothingLeft();
  }
}

TEST_F(StorageUploadTest, UnknownExtensionGoesUpAsBinaryWithoutTags) {
  ComRef<IMDSPStorage> file;
  ComRef<IMDSPObject> object;
  Begin(L"my_notes.xyz", &file, &object);
  EXPECT_TRUE(FileExists(TempCopy(".xyz")));
  WriteAll(object.Get(), "plain bytes");
  ASSERT_EQ(S_OK, object->Close());
  ASSERT_NE(nullptr, script_.finished);
  const Properties expected = {{"name", "my_notes.xyz"}, {"type", "binary"},
                               {"length", "11"},         {"ctime", (*script_.finished)["ctime"]},
                               {"fid", "28672"},         {"title", "my notes"}};
  EXPECT_EQ(expected, *script_.finished);
  EXPECT_EQ("plain bytes", script_.written);
  EXPECT_FALSE(FileExists(TempCopy(".xyz")));
  wchar_t shown[32];
  EXPECT_EQ(S_OK, file->GetName(shown, 32));
  EXPECT_EQ(std::wstring(L"my notes.binary"), shown);
  ExpectNothingLeft();
}

TEST_F(StorageUploadTest, ReleasingAnOpenUploadAbortsAndCleansUp) {
  {
    ComRef<IMDSPStorage> file;
    ComRef<IMDSPObject> object;
    Begin(L"dropped.mp3", &file, &object);
    WriteAll(object.Get(), "some audio");
    EXPECT_TRUE(FileExists(TempCopy(".mp3")));
    EXPECT_EQ(1, CMDSPDevice::BusyCount());
  }
  EXPECT_FALSE(FileExists(TempCopy(".mp3")));
  EXPECT_EQ(1, script_.aborts);
  EXPECT_EQ(nullptr, script_.finished);
  EXPECT_TRUE(player_.device()->files().empty());
  ExpectNothingLeft();
}

TEST_F(StorageUploadTest, PendingMetadataSparesTheTemporaryCopy) {
  const char text[] = "title=Sent Title\nname=sent.mp3\nartist=Sent Artist";
  OPAQUECOMMAND command = {};
  command.guidCommand = kOpaqueMetadataText;
  command.pData = reinterpret_cast<BYTE*>(const_cast<char*>(text));
  command.dwDataLen = sizeof(text) - 1;
  ASSERT_EQ(S_OK, root_->SendOpaqueCommand(&command));

  ComRef<IMDSPStorage> file;
  ComRef<IMDSPObject> object;
  Begin(L"a.MP3", &file, &object);
  EXPECT_EQ("", AsFile(file.Get())->temp_path());
  EXPECT_FALSE(FileExists(TempCopy(".MP3")));
  WriteAll(object.Get(), "not even audio");
  ASSERT_EQ(S_OK, object->Close());
  ASSERT_NE(nullptr, script_.finished);
  Properties& finished = *script_.finished;
  EXPECT_EQ("Sent Title", finished["title"]);
  EXPECT_EQ("Sent Artist", finished["artist"]);
  EXPECT_EQ("a.MP3", finished["name"]);
  EXPECT_EQ("tune", finished["type"]);
  EXPECT_EQ("mp3", finished["codec"]);
  EXPECT_EQ(0u, finished.count("rid"));
  ExpectNothingLeft();
}

TEST_F(StorageUploadTest, FixedRecordMetadataWithTheGivenName) {
  std::vector<uint8_t> record(kFixedMetadataSize, 0);
  std::memcpy(&record[0x000], "Record Title", 12);
  std::memcpy(&record[0x0B0], "record.mp3", 10);
  record[0x118] = 99;  // the record's length gives way to the bytes written
  OPAQUECOMMAND command = {};
  command.guidCommand = kOpaqueFixedMetadata;
  command.pData = record.data();
  command.dwDataLen = kFixedMetadataSize;
  ASSERT_EQ(S_OK, root_->SendOpaqueCommand(&command));

  ComRef<IMDSPStorage> file;
  ComRef<IMDSPObject> object;
  Begin(L"given.wma", &file, &object);
  EXPECT_FALSE(FileExists(TempCopy(".wma")));
  WriteAll(object.Get(), "wma bytes");
  ASSERT_EQ(S_OK, object->Close());
  ASSERT_NE(nullptr, script_.finished);
  Properties& finished = *script_.finished;
  EXPECT_EQ("Record Title", finished["title"]);
  EXPECT_EQ("given.wma", finished["name"]);
  EXPECT_EQ("tune", finished["type"]);
  EXPECT_EQ("wma", finished["codec"]);
  EXPECT_EQ("9", finished["length"]);
  ExpectNothingLeft();
}

TEST_F(StorageUploadTest, TitleFromTheFileNameWhenTheTagsHaveNone) {
  ComRef<IMDSPStorage> file;
  ComRef<IMDSPObject> object;
  // The tool-made MP3 without its ID3v2 tag.
  const UploadFixture& mp3 = kUploadFixtures[0];
  const uint8_t* header = reinterpret_cast<const uint8_t*>(mp3.bytes);
  const size_t tag_size = 10 + (header[6] << 21 | header[7] << 14 | header[8] << 7 | header[9]);
  Begin(L"No_Tags_Here.mp3", &file, &object);
  WriteAll(object.Get(), std::string(mp3.bytes + tag_size, mp3.size - tag_size));
  ASSERT_EQ(S_OK, object->Close());
  ASSERT_NE(nullptr, script_.finished);
  EXPECT_EQ("No Tags Here", (*script_.finished)["title"]);
  EXPECT_EQ(32u, (*script_.finished)["rid"].size());
}

struct FailureCase {
  const char* what;
  Result account;
  Result write;
  Result finish;
  Result commit;
  HRESULT close;
  std::vector<std::string> predictor_calls;  // after the listing's
  int aborts;
  size_t listed;  // tracks in the device's list afterwards
};

class UploadFailureTest : public StorageUploadTest,
                          public testing::WithParamInterface<FailureCase> {};

TEST_P(UploadFailureTest, FailedCloseCommitsCleansUpAndKillsTheObject) {
  const FailureCase& c = GetParam();
  ComRef<IMDSPStorage> file;
  ComRef<IMDSPObject> object;
  Begin(L"x.dat", &file, &object);
  script_.account_result = c.account;
  script_.write_result = c.write;
  script_.finish_result = c.finish;
  script_.commit_result = c.commit;
  const size_t listed_calls = script_.predictor_calls.size();
  BYTE data[4] = {1, 2, 3, 4};
  DWORD size = 4;
  EXPECT_EQ(c.write, object->Write(data, &size, nullptr));
  EXPECT_EQ(c.write, object->Write(data, &size, nullptr));  // a failed write stops nothing

  EXPECT_EQ(c.close, object->Close());
  EXPECT_EQ(c.predictor_calls,
            std::vector<std::string>(script_.predictor_calls.begin() + listed_calls,
                                     script_.predictor_calls.end()));
  EXPECT_EQ(c.aborts, script_.aborts);
  EXPECT_EQ(1, script_.commits);
  EXPECT_FALSE(FileExists(TempCopy(".dat")));
  EXPECT_TRUE(AsFile(file.Get())->dead());
  EXPECT_EQ(c.listed, player_.device()->files().size());
  DWORD attributes = 0;
  EXPECT_EQ(WMDM_E_INTERFACEDEAD, file->GetAttributes(&attributes, nullptr));
  EXPECT_EQ(WMDM_E_INTERFACEDEAD, object->Close());
  ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    UploadFailures, UploadFailureTest,
    testing::Values(
        FailureCase{"player full at finish", rc::kOk, rc::kOk, kPlayerFull, rc::kOk, kDiskFull,
                    {"AccountNew 8", "Remove 28672"}, 1, 0},
        FailureCase{"predictor refuses", kPlayerFull, rc::kOk, rc::kOk, rc::kOk, kDiskFull,
                    {"AccountNew 8"}, 1, 0},
        FailureCase{"write fails", rc::kOk, rc::kShortTransfer, rc::kOk, rc::kOk,
                    rc::kShortTransfer, {}, 1, 0},
        FailureCase{"commit fails", rc::kOk, rc::kOk, rc::kOk, rc::kBadData, rc::kBadData,
                    {"AccountNew 8"}, 0, 1}));  // finished, so listed

TEST_F(StorageUploadTest, ExceptionsFromBelowBecomeResults) {
  for (const bool in_finish : {false, true}) {
    SCOPED_TRACE(in_finish ? "finish" : "write");
    script_ = PlayerScript();
    ComRef<IMDSPStorage> file;
    ComRef<IMDSPObject> object;
    Begin(L"x.dat", &file, &object);
    script_.throw_on_write = !in_finish;
    script_.throw_on_finish = in_finish;
    BYTE data[2] = {1, 2};
    DWORD size = 2;
    EXPECT_EQ(in_finish ? S_OK : E_OUTOFMEMORY, object->Write(data, &size, nullptr));
    EXPECT_EQ(E_OUTOFMEMORY, object->Close());
    const std::vector<std::string> accounting = {"AccountNew 2", "Remove 28672"};
    EXPECT_EQ(in_finish ? accounting : std::vector<std::string>(), script_.predictor_calls);
    EXPECT_EQ(1, script_.aborts);
    EXPECT_EQ(1, script_.commits);
    EXPECT_FALSE(FileExists(TempCopy(".dat")));
    ExpectNothingLeft();
  }
}

TEST_F(StorageUploadTest, OpenFailuresLeaveNothingBehind) {
  script_.create_result = rc::kBadData;
  ComRef<IMDSPStorage> file;
  ASSERT_EQ(S_OK, root_->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr,
                                       const_cast<LPWSTR>(L"x.mp3"), file.Out()));
  ComRef<IMDSPObject> object(file.As<IMDSPObject>(IID_IMDSPObject));
  EXPECT_EQ(rc::kBadData, object->Open(MDSP_WRITE));
  EXPECT_FALSE(FileExists(TempCopy(".mp3")));
  EXPECT_FALSE(AsFile(file.Get())->is_open());
  ExpectNothingLeft();

  // A temporary folder that does not exist: the Win32 error, and no stream asked for. The
  // path goes into the log as it is, though it looks like a format.
  RecordedWmdmLog log;
  const std::string missing = temp_.File("100%s missing");
  SetEnvironmentVariableA("TMP", missing.c_str());
  script_.create_result = rc::kOk;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), object->Open(MDSP_WRITE));
  const std::vector<std::string> lines = log.Texts();
  const std::vector<std::string> expected = {
      "Cannot CreateFile", missing + "\\TorvexTmp.mp3", "CreateFile::LastError was 0x00000003",
      "CMDSPFile::StartTempFile returned 0x80070003", "CMDSPFile::Open returned 0x80070003"};
  EXPECT_EQ(expected, lines);
  ExpectNothingLeft();
}

// One upload at a time on a device, whatever the second one is called: names of the same or
// another extension, with or without a temporary copy, get "too many open files", and the
// first upload goes on undisturbed.
TEST_F(StorageUploadTest, SecondOpenUploadIsRefused) {
  constexpr HRESULT kTooMany = HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
  ComRef<IMDSPStorage> first;
  ComRef<IMDSPObject> first_object;
  Begin(L"First.xyz", &first, &first_object);
  std::vector<uint8_t> record(kFixedMetadataSize, 0);
  std::memcpy(&record[0x000], "Second", 6);
  for (const wchar_t* name : {L"First.xyz", L"Other.mp3", L"Other.wma", L"Other.bin"}) {
    for (bool with_metadata : {false, true}) {
      SCOPED_TRACE(std::string(name, name + wcslen(name)) + (with_metadata ? " metadata" : ""));
      if (with_metadata) {
        OPAQUECOMMAND command = {};
        command.guidCommand = kOpaqueFixedMetadata;
        command.pData = record.data();
        command.dwDataLen = static_cast<DWORD>(record.size());
        ASSERT_EQ(S_OK, root_->SendOpaqueCommand(&command));
      }
      ComRef<IMDSPStorage> second;
      ASSERT_EQ(S_OK, root_->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr,
                                           const_cast<LPWSTR>(name), second.Out()));
      ComRef<IMDSPObject> object(second.As<IMDSPObject>(IID_IMDSPObject));
      EXPECT_EQ(kTooMany, object->Open(MDSP_WRITE));
    }
  }
  EXPECT_EQ(1, script_.streams_alive);
  WriteAll(first_object.Get(), "first upload's bytes");
  EXPECT_EQ(S_OK, first_object->Close());
  ExpectNothingLeft();
  // Once it is closed the next one opens.
  ComRef<IMDSPStorage> next;
  ComRef<IMDSPObject> next_object;
  Begin(L"Next.xyz", &next, &next_object);
  WriteAll(next_object.Get(), "next");
  EXPECT_EQ(S_OK, next_object->Close());
}

TEST_F(StorageUploadTest, WriteAndOpenArguments) {
  ComRef<IMDSPStorage> file;
  ComRef<IMDSPObject> object;
  Begin(L"x.bin", &file, &object);
  DWORD size = 4;
  EXPECT_EQ(E_INVALIDARG, object->Write(nullptr, &size, nullptr));
  BYTE data[1] = {7};
  EXPECT_EQ(E_INVALIDARG, object->Write(data, nullptr, nullptr));
  size = 0;
  EXPECT_EQ(S_OK, object->Write(nullptr, &size, nullptr));
  EXPECT_EQ(WMDM_E_CALL_OUT_OF_SEQUENCE, object->Open(MDSP_WRITE));  // already open
  EXPECT_EQ(1, CMDSPDevice::BusyCount());
  EXPECT_EQ(S_OK, object->Close());
  EXPECT_EQ(WMDM_E_CALL_OUT_OF_SEQUENCE, object->Close());
  ExpectNothingLeft();
}

}  // namespace
