// The root storage, the file objects outside an upload, the storage enumerators and the
// opaque commands that send a file's metadata ahead, on a scripted player.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "wmdm/cmdsp_enum_storage.h"
#include "wmdm/cmdsp_file.h"
#include "wmdm/cmdsp_storage.h"
#include "wmdm/storage_test_player.h"

namespace {

CMDSPFile* AsFile(IMDSPStorage* storage) {
  return static_cast<CMDSPFile*>(static_cast<IMDSPStorage3*>(storage));
}
CMDSPStorage* AsStorage(IMDSPStorage* storage) {
  return static_cast<CMDSPStorage*>(static_cast<IMDSPStorage3*>(storage));
}

class StorageObjectsTest : public testing::Test {
 protected:
  StorageObjectsTest() : player_(Script()) {
    EXPECT_EQ(rc::kOk, player_.init_result());
    EXPECT_EQ(S_OK, CreateRootStorage(player_.device(), root_.Out()));
  }

  PlayerScript& Script() {
    script_.files = {
        {{"fid", "16"}, {"type", "tune"}, {"title", "First"}, {"codec", "mp3"},
         {"length", "1000"}},
        {{"fid", "17"}, {"type", "binary"}, {"name", "notes"}},  // not a track: not listed
        {{"fid", "18"}, {"type", "tune"}, {"title", "Second.wma"}, {"codec", "wma"}},
    };
    return script_;
  }

  // The next file created on the root storage.
  HRESULT Create(const wchar_t* name, ComRef<IMDSPStorage>* file) {
    return root_->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr, const_cast<LPWSTR>(name),
                                file->Out());
  }

  HRESULT Send(const GUID& id, const void* data, DWORD length) {
    OPAQUECOMMAND command = {};
    command.guidCommand = id;
    command.pData = static_cast<BYTE*>(const_cast<void*>(data));
    command.dwDataLen = length;
    return root_->SendOpaqueCommand(&command);
  }

  PlayerScript script_;
  ScriptedPlayerTest player_;
  ComRef<IMDSPStorage> root_;
};

std::wstring NameOf(IMDSPStorage* storage, UINT length = 260) {
  std::vector<wchar_t> buffer(length + 1, L'#');
  storage->GetName(buffer.data(), length);
  return buffer.data();
}

TEST_F(StorageObjectsTest, DeviceEnumeratesItsOneRootStorage) {
  ComRef<IMDSPEnumStorage> storages;
  ASSERT_EQ(S_OK, player_.device()->EnumStorage(storages.Out()));
  IMDSPStorage* got[2] = {nullptr, nullptr};
  ULONG fetched = 9;
  EXPECT_EQ(S_FALSE, storages->Next(2, got, &fetched));
  ASSERT_EQ(1u, fetched);
  ComRef<IMDSPStorage> storage(got[0]);
  DWORD attributes = 0;
  EXPECT_EQ(S_OK, storage->GetAttributes(&attributes, nullptr));
  EXPECT_EQ(WMDM_FILE_ATTR_FOLDER, attributes);
  EXPECT_EQ(L"Internal", NameOf(storage.Get()));
  DWORD low = 0, high = 0;
  EXPECT_EQ(S_OK, storage->GetSize(&low, &high));
  EXPECT_EQ(0x23456789u, low);
  EXPECT_EQ(1u, high);

  EXPECT_EQ(S_FALSE, storages->Next(1, got, &fetched));
  EXPECT_EQ(0u, fetched);
  ComRef<IMDSPEnumStorage> clone;
  ASSERT_EQ(S_OK, storages->Clone(clone.Out()));
  EXPECT_EQ(S_FALSE, clone->Next(1, got, &fetched));  // the clone keeps the cursor
  EXPECT_EQ(S_OK, storages->Reset());
  ULONG skipped = 9;
  EXPECT_EQ(S_FALSE, storages->Skip(3, &skipped));
  EXPECT_EQ(1u, skipped);
  EXPECT_EQ(E_INVALIDARG, storages->Next(1, nullptr, &fetched));
  EXPECT_EQ(E_INVALIDARG, storages->Skip(1, nullptr));
}

TEST_F(StorageObjectsTest, FileEnumerationListsTracksSharingTheDeviceList) {
  ComRef<IMDSPEnumStorage> files;
  ASSERT_EQ(S_OK, root_->EnumStorage(files.Out()));
  ULONG skipped = 0;
  EXPECT_EQ(S_OK, files->Skip(1, &skipped));
  EXPECT_EQ(1u, skipped);
  EXPECT_EQ(S_OK, files->Reset());

  IMDSPStorage* got[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, files->Next(3, got, &fetched));
  ASSERT_EQ(2u, fetched);
  ComRef<IMDSPStorage> first(got[0]), second(got[1]);
  EXPECT_EQ(L"First.mp3", NameOf(first.Get()));
  EXPECT_EQ(L"Second.wma", NameOf(second.Get()));
  EXPECT_TRUE(AsFile(first.Get())->on_player());

  // A change through the file shows in the device's list.
  ScriptedMetaData metadata;
  metadata.AddString(L"WMDM/Title", L"Renamed");
  ComRef<IMDSPStorage3> first3(first.As<IMDSPStorage3>(IID_IMDSPStorage3));
  EXPECT_EQ(S_OK, first3->SetMetadata(&metadata));
  EXPECT_EQ("Renamed", player_.device()->files()[0]->GetString("title"));
}

TEST_F(StorageObjectsTest, StorageNameIntoBuffersOfEverySize) {
  struct Case {
    UINT length;
    const wchar_t* name;
    HRESULT result;
  };
  const Case cases[] = {
      {0, L"##", E_INVALIDARG},  // nothing written, not even before the buffer
      {1, L"", WMDM_E_BUFFERTOOSMALL},
      {4, L"Int", WMDM_E_BUFFERTOOSMALL},
      {8, L"Interna", WMDM_E_BUFFERTOOSMALL},
      {9, L"Internal", S_OK},
  };
  for (const Case& c : cases) {
    wchar_t buffer[12];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    buffer[2] = L'\0';
    EXPECT_EQ(c.result, root_->GetName(buffer, c.length)) << c.length;
    EXPECT_EQ(std::wstring(c.name), buffer) << c.length;
  }
  EXPECT_EQ(E_INVALIDARG, root_->GetName(nullptr, 10));
}

TEST_F(StorageObjectsTest, WhatTheRootStorageDoesNotDo) {
  ComRef<IMDSPObject> object(root_.As<IMDSPObject>(IID_IMDSPObject));
  ComRef<IMDSPObjectInfo> info(root_.As<IMDSPObjectInfo>(IID_IMDSPObjectInfo));
  ComRef<IMDSPStorage3> storage3(root_.As<IMDSPStorage3>(IID_IMDSPStorage3));
  ScriptedMetaData metadata;
  BYTE data[4] = {};
  DWORD size = 4, value = 0;
  WMDMRIGHTS* rights = nullptr;
  UINT count = 0;
  WMDMDATETIME date;
  const struct {
    const char* call;
    HRESULT result;
  } cases[] = {
      {"SetAttributes", root_->SetAttributes(0, nullptr)},
      {"GetRights", root_->GetRights(&rights, &count, nullptr)},
      {"GetRights null", root_->GetRights(nullptr, &count, nullptr)},
      {"GetDate", root_->GetDate(&date)},
      {"GetMetadata", storage3->GetMetadata(&metadata)},
      {"SetMetadata null", storage3->SetMetadata(nullptr)},
      {"SetAttributes2", storage3->SetAttributes2(0, 0, nullptr, nullptr)},
      {"Open read", object->Open(MDSP_READ)},
      {"Open write", object->Open(MDSP_WRITE)},
      {"Open neither", object->Open(0)},
      {"Read", object->Read(data, &size, nullptr)},
      {"Write", object->Write(data, &size, nullptr)},
      {"Write null size", object->Write(data, nullptr, nullptr)},
      {"Seek", object->Seek(0, 0)},
      {"Move", object->Move(0, nullptr, nullptr)},
      {"GetPlayLength", info->GetPlayLength(&value)},
      {"GetTotalLength", info->GetTotalLength(&value)},
      {"GetPlayLength null", info->GetPlayLength(nullptr)},
      {"SetPlayOffset", info->SetPlayOffset(1)},
      {"GetPlayOffset", info->GetPlayOffset(&value)},
      {"GetAttributes null", root_->GetAttributes(nullptr, nullptr)},
      {"GetSize null", root_->GetSize(nullptr, nullptr)},
  };
  const HRESULT expected[] = {
      WMDM_E_NOTSUPPORTED, WMDM_E_NOTSUPPORTED, E_INVALIDARG,        E_NOTIMPL,
      WMDM_E_NOTSUPPORTED, E_INVALIDARG,        WMDM_E_NOTSUPPORTED, WMDM_E_NOTSUPPORTED,
      WMDM_E_NOTSUPPORTED, E_INVALIDARG,        WMDM_E_NOTSUPPORTED, WMDM_E_NOTSUPPORTED,
      E_INVALIDARG,        WMDM_E_NOTSUPPORTED, WMDM_E_NOTSUPPORTED, S_OK,
      S_OK,                E_INVALIDARG,        WMDM_E_NOTSUPPORTED, WMDM_E_NOTSUPPORTED,
      E_INVALIDARG,        E_INVALIDARG,
  };
  static_assert(sizeof(cases) / sizeof(cases[0]) == sizeof(expected) / sizeof(expected[0]),
                "one expectation a call");
  for (size_t i = 0; i < sizeof(expected) / sizeof(expected[0]); ++i) {
    EXPECT_EQ(expected[i], cases[i].result) << cases[i].call;
  }
}

TEST_F(StorageObjectsTest, CreateStorageMakesFilesOnly) {
  ComRef<IMDSPStorage> file;
  const struct {
    DWORD attributes;
    const wchar_t* name;
    HRESULT result;
  } cases[] = {
      {WMDM_FILE_ATTR_FOLDER | WMDM_FILE_ATTR_FILE, L"a.mp3", WMDM_E_NOTSUPPORTED},
      {WMDM_FILE_ATTR_AUDIO, L"a.mp3", WMDM_E_NOTSUPPORTED},
      {WMDM_FILE_ATTR_FILE, nullptr, E_INVALIDARG},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, root_->CreateStorage(c.attributes, nullptr, const_cast<LPWSTR>(c.name),
                                             file.Out()));
    EXPECT_EQ(nullptr, file.Get());
  }
  EXPECT_EQ(E_INVALIDARG, root_->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr,
                                               const_cast<LPWSTR>(L"a.mp3"), nullptr));

  ASSERT_EQ(S_OK, Create(L"Song_1.mp3", &file));
  CMDSPFile* created = AsFile(file.Get());
  EXPECT_EQ("Song_1.mp3", created->metadata().GetString("name"));
  EXPECT_TRUE(created->reads_tags());
  EXPECT_FALSE(created->on_player());
  EXPECT_EQ(2u, player_.device()->files().size());  // nothing listed before the upload
}

// WMDM requires CreateStorage2 and GetAttributes2 of every provider: they answer as
// CreateStorage and GetAttributes do, on the root storage and on a file.
TEST_F(StorageObjectsTest, SecondVersionsAnswerAsTheFirst) {
  ComRef<IMDSPStorage2> root2(root_.As<IMDSPStorage2>(IID_IMDSPStorage2));
  WMDM_WAVEFORMATEX format = {};
  format.wFormatTag = 0x55;
  const struct {
    DWORD attributes;
    HRESULT result;
  } cases[] = {
      {WMDM_FILE_ATTR_FILE | WMDM_STORAGECONTROL_INSERTINTO | WMDM_FILE_ATTR_AUDIO, S_OK},
      {WMDM_FILE_ATTR_FOLDER | WMDM_FILE_ATTR_FILE, WMDM_E_NOTSUPPORTED},
      {WMDM_FILE_ATTR_AUDIO, WMDM_E_NOTSUPPORTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.attributes);
    ComRef<IMDSPStorage> file;
    EXPECT_EQ(c.result, root2->CreateStorage2(c.attributes, 0, &format, nullptr,
                                              const_cast<LPWSTR>(L"Song_2.mp3"), 4096,
                                              file.Out()));
    EXPECT_EQ(SUCCEEDED(c.result), file.Get() != nullptr);
    if (!file.Get()) continue;
    EXPECT_EQ("Song_2.mp3", AsFile(file.Get())->metadata().GetString("name"));
    ComRef<IMDSPStorage2> file2(file.As<IMDSPStorage2>(IID_IMDSPStorage2));
    DWORD attributes = 0, extended = 7;
    EXPECT_EQ(S_OK, file2->GetAttributes2(&attributes, &extended, nullptr, nullptr));
    DWORD first = 0;
    EXPECT_EQ(S_OK, file->GetAttributes(&first, nullptr));
    EXPECT_EQ(first, attributes);
    EXPECT_EQ(0u, extended);
  }
  DWORD attributes = 0, extended = 7;
  EXPECT_EQ(S_OK, root2->GetAttributes2(&attributes, &extended, nullptr, nullptr));
  EXPECT_EQ(WMDM_FILE_ATTR_FOLDER, attributes);
  EXPECT_EQ(0u, extended);
  EXPECT_EQ(E_INVALIDARG, root2->GetAttributes2(nullptr, &extended, nullptr, nullptr));
  EXPECT_EQ(E_INVALIDARG, root2->GetAttributes2(&attributes, nullptr, nullptr, nullptr));
  EXPECT_EQ(E_INVALIDARG, root2->CreateStorage2(WMDM_FILE_ATTR_FILE, 0, nullptr, nullptr,
                                                const_cast<LPWSTR>(L"a.mp3"), 0, nullptr));
}

// The fixed record: ANSI texts in fixed fields, little-endian numbers.
std::vector<uint8_t> FixedRecord() {
  std::vector<uint8_t> record(kFixedMetadataSize, 0);
  auto text = [&](size_t offset, const char* value) {
    std::memcpy(record.data() + offset, value, std::strlen(value));
  };
  auto number = [&](size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  text(0x000, "R\xe9" "cord Title");  // ANSI: e acute
  std::memset(record.data() + 0x030, 'A', 48);  // a field without its NUL ends at its end
  text(0x060, "Record Album");
  text(0x0B0, "record.mp3");
  text(0x0F0, "Folk");
  text(0x106, "1998");
  number(0x10C, 215000);
  number(0x110, 1000000000);
  number(0x114, 0xFFFFFFFF);
  number(0x118, 4096);
  return record;
}

TEST_F(StorageObjectsTest, FixedRecordBecomesTheNextFilesMetadataOnce) {
  const std::vector<uint8_t> record = FixedRecord();
  ASSERT_EQ(S_OK, Send(kOpaqueFixedMetadata, record.data(), kFixedMetadataSize));
  const PropertyHolder* pending = AsStorage(root_.Get())->pending_metadata();
  ASSERT_NE(nullptr, pending);
  const Properties expected = {
      {"title", "R\xc3\xa9" "cord Title"}, {"artist", std::string(48, 'A')},
      {"source", "Record Album"},          {"name", "record.mp3"},
      {"genre", "Folk"},                   {"year", "1998"},
      {"duration", "215000"},              {"ctime", "1000000000"},
      {"length", "4096"}};
  EXPECT_EQ(expected, PropertiesOf(*pending));

  ComRef<IMDSPStorage> file;
  ASSERT_EQ(S_OK, Create(L"given.mp3", &file));
  EXPECT_EQ(nullptr, AsStorage(root_.Get())->pending_metadata());
  CMDSPFile* created = AsFile(file.Get());
  EXPECT_FALSE(created->reads_tags());
  EXPECT_EQ("given.mp3", created->metadata().GetString("name"));
  EXPECT_EQ("Folk", created->metadata().GetString("genre"));

  ComRef<IMDSPStorage> next;
  ASSERT_EQ(S_OK, Create(L"next.mp3", &next));
  EXPECT_TRUE(AsFile(next.Get())->reads_tags());
  EXPECT_EQ("", AsFile(next.Get())->metadata().GetString("genre"));
}

TEST_F(StorageObjectsTest, TextAndDeviceRecordCommands) {
  const char text[] = "title=Text Title\nartist=\"Quoted \\\"Artist\\\"\"\ntracknr=4";
  ASSERT_EQ(S_OK, Send(kOpaqueMetadataText, text, sizeof(text)));  // with its NUL
  const Properties from_text = {
      {"title", "Text Title"}, {"artist", "Quoted \"Artist\""}, {"tracknr", "4"}};
  EXPECT_EQ(from_text, PropertiesOf(*AsStorage(root_.Get())->pending_metadata()));

  const char record[] = "Player Title";
  ASSERT_EQ(S_OK, Send(kOpaqueDeviceFileRecord, record, 12));
  EXPECT_EQ(std::string(record, 12), std::string(script_.converted_record.begin(),
                                                 script_.converted_record.end()));
  EXPECT_EQ((Properties{{"title", "Player Title"}, {"type", "tune"}}),
            PropertiesOf(*AsStorage(root_.Get())->pending_metadata()));
  EXPECT_EQ(0, CMDSPDevice::BusyCount());

  // A command that fails leaves nothing pending.
  script_.convert_result = rc::kBadData;
  EXPECT_EQ(rc::kBadData, Send(kOpaqueDeviceFileRecord, record, 12));
  EXPECT_EQ(nullptr, AsStorage(root_.Get())->pending_metadata());
}

TEST_F(StorageObjectsTest, OpaqueCommandsRefuseBadData) {
  const std::vector<uint8_t> record = FixedRecord();
  const GUID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  const struct {
    const char* what;
    const GUID* id;
    const void* data;
    DWORD length;
    HRESULT result;
  } cases[] = {
      {"short fixed record", &kOpaqueFixedMetadata, record.data(), kFixedMetadataSize - 1,
       E_INVALIDARG},
      {"fixed record without data", &kOpaqueFixedMetadata, nullptr, kFixedMetadataSize,
       E_INVALIDARG},
      {"text without data", &kOpaqueMetadataText, nullptr, 10, E_INVALIDARG},
      {"device record without data", &kOpaqueDeviceFileRecord, nullptr, 10, E_INVALIDARG},
      {"unknown command", &unknown, record.data(), kFixedMetadataSize, WMDM_E_NOTSUPPORTED},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(S_OK, Send(kOpaqueFixedMetadata, record.data(), kFixedMetadataSize));
    EXPECT_EQ(c.result, Send(*c.id, c.data, c.length)) << c.what;
    // A refused command drops what was pending; an unknown one leaves it.
    EXPECT_EQ(c.result == WMDM_E_NOTSUPPORTED,
              AsStorage(root_.Get())->pending_metadata() != nullptr)
        << c.what;
  }
  EXPECT_TRUE(script_.converted_record.empty());
  EXPECT_EQ(E_INVALIDARG, root_->SendOpaqueCommand(nullptr));
}

// --- file objects ----------------------------------------------------------------------

struct NameCase {
  Properties metadata;
  UINT length;
  std::wstring name;
};

class FileNameTest : public StorageObjectsTest,
                     public testing::WithParamInterface<NameCase> {};

TEST_P(FileNameTest, NameWithTheKindOfFile) {
  const NameCase& c = GetParam();
  player_.device()->files().clear();
  std::unique_ptr<PropertyHolder> entry(new PropertyHolder);
  for (const auto& item : c.metadata) entry->SetString(item.first, item.second);
  player_.device()->files().push_back(std::move(entry));
  ComRef<IMDSPEnumStorage> files;
  ASSERT_EQ(S_OK, root_->EnumStorage(files.Out()));
  ComRef<IMDSPStorage> file;
  ASSERT_EQ(S_OK, files->Next(1, file.Out(), nullptr));
  std::vector<wchar_t> buffer(c.length + 1, L'#');
  EXPECT_EQ(S_OK, file->GetName(buffer.data(), c.length));
  EXPECT_EQ(c.name, buffer.data());
  EXPECT_EQ(L'#', buffer[c.length]);
}

const std::string kLongTitle(200, 'x');

INSTANTIATE_TEST_SUITE_P(
    FileNames, FileNameTest,
    testing::Values(
        NameCase{{{"title", "Song"}, {"type", "tune"}, {"codec", "mp3"}}, 64, L"Song.mp3"},
        NameCase{{{"title", "Song.WMA"}, {"type", "tune"}, {"codec", "mp3"}}, 64, L"Song.WMA"},
        NameCase{{{"title", "Song.ogg"}, {"type", "tune"}, {"codec", "ogg"}}, 64, L"Song.ogg"},
        NameCase{{{"title", "Song.flac"}, {"type", "tune"}}, 64, L"Song.wav"},
        NameCase{{{"title", ""}, {"name", "x"}, {"type", "binary"}}, 64, L"x.binary"},
        NameCase{{{"name", "Music\\a.b\\track"}, {"type", "tune"}, {"codec", "mp3"}}, 64,
                 L"Music\\a.b\\track.mp3"},
        NameCase{{{"title", "Caf\xc3\xa9"}, {"type", "tune"}, {"codec", "wma"}}, 64,
                 L"Caf\xe9.wma"},
        // Cut names keep their extension.
        NameCase{{{"title", "Longer name"}, {"type", "tune"}, {"codec", "mp3"}}, 8, L"Lon.mp3"},
        NameCase{{{"title", "Longer name"}, {"type", "tune"}, {"codec", "mp3"}}, 2, L"L"},
        NameCase{{{"title", "Longer name"}, {"type", "tune"}, {"codec", "mp3"}}, 4, L"L.m"},
        NameCase{{{"title", kLongTitle}, {"type", "tune"}, {"codec", "mp3"}}, 260,
                 std::wstring(123, L'x') + L".mp3"}));

TEST_F(StorageObjectsTest, FileNameRejectsBuffersTooSmallForAName) {
  ComRef<IMDSPStorage> file;
  ASSERT_EQ(S_OK, Create(L"a.mp3", &file));
  wchar_t buffer[2] = {L'#', L'#'};
  EXPECT_EQ(E_INVALIDARG, file->GetName(buffer, 0));
  EXPECT_EQ(E_INVALIDARG, file->GetName(buffer, 1));
  EXPECT_EQ(E_INVALIDARG, file->GetName(nullptr, 10));
  EXPECT_EQ(L'#', buffer[0]);
  EXPECT_EQ(L'#', buffer[1]);
}

TEST_F(StorageObjectsTest, FileDateSizeAttributesAndMetadata) {
  ComRef<IMDSPStorage> file;
  ASSERT_EQ(S_OK, Create(L"a.mp3", &file));
  PropertyHolder metadata;
  metadata = AsFile(file.Get())->metadata();
  metadata.SetInt("ctime", 1000000000);  // 2001-09-09 01:46:40 UTC
  metadata.SetInt64("length", 0x100000010LL);
  metadata.SetString("title", "Meta Title");
  metadata.SetInt("tracknr", 3);

  WMDMDATETIME date = {};
  ASSERT_EQ(S_OK, file->GetDate(&date));
  EXPECT_EQ(2001, date.wYear);
  EXPECT_EQ(9, date.wMonth);
  EXPECT_EQ(9, date.wDay);
  EXPECT_EQ(1, date.wHour);
  EXPECT_EQ(46, date.wMinute);
  EXPECT_EQ(40, date.wSecond);
  DWORD low = 0, high = 0, attributes = 0;
  ASSERT_EQ(S_OK, file->GetSize(&low, &high));
  EXPECT_EQ(0x10u, low);
  EXPECT_EQ(1u, high);
  ASSERT_EQ(S_OK, file->GetAttributes(&attributes, nullptr));
  EXPECT_EQ(0x89022u, attributes);

  ComRef<IMDSPStorage3> storage3(file.As<IMDSPStorage3>(IID_IMDSPStorage3));
  ScriptedMetaData out;
  ASSERT_EQ(S_OK, storage3->GetMetadata(&out));
  EXPECT_EQ(L"Meta Title", out.Text(L"WMDM/Title"));
  EXPECT_EQ(L"2", out.Text(L"WMDM/Track"));
  EXPECT_EQ(E_INVALIDARG, storage3->GetMetadata(nullptr));
  EXPECT_EQ(E_INVALIDARG, file->GetDate(nullptr));
}

TEST_F(StorageObjectsTest, SetMetadataSparesTagReadingOnlyWithAllThree) {
  ComRef<IMDSPStorage> file;
  ASSERT_EQ(S_OK, Create(L"a.mp3", &file));
  ComRef<IMDSPStorage3> storage3(file.As<IMDSPStorage3>(IID_IMDSPStorage3));
  CMDSPFile* object = AsFile(file.Get());

  ScriptedMetaData partial;
  partial.AddString(L"WMDM/Title", L"Given");
  partial.AddString(L"Qel/info_rid", L"0123456789abcdef0123456789abcdef");
  ASSERT_EQ(S_OK, storage3->SetMetadata(&partial));
  EXPECT_TRUE(object->reads_tags());

  ScriptedMetaData complete = partial;
  complete.AddDword(L"Qel/info_samplerate", 44100);
  ASSERT_EQ(S_OK, storage3->SetMetadata(&complete));
  EXPECT_FALSE(object->reads_tags());
  EXPECT_EQ("Given", object->metadata().GetString("title"));

  ScriptedMetaData zero_rate;
  zero_rate.AddDword(L"Qel/info_samplerate", 0);
  ASSERT_EQ(S_OK, storage3->SetMetadata(&zero_rate));
  EXPECT_TRUE(object->reads_tags());
}

TEST_F(StorageObjectsTest, DeleteRemovesTheTrackAndKillsTheObject) {
  ComRef<IMDSPEnumStorage> files;
  ASSERT_EQ(S_OK, root_->EnumStorage(files.Out()));
  ComRef<IMDSPStorage> file;
  ASSERT_EQ(S_OK, files->Next(1, file.Out(), nullptr));
  ComRef<IMDSPObject> object(file.As<IMDSPObject>(IID_IMDSPObject));

  script_.delete_result = rc::kBadData;
  EXPECT_EQ(rc::kBadData, object->Delete(0, nullptr));
  EXPECT_FALSE(AsFile(file.Get())->dead());

  script_.delete_result = rc::kOk;
  ASSERT_EQ(S_OK, object->Delete(0, nullptr));
  EXPECT_EQ(std::vector<std::string>{"16"}, script_.deleted_fids);
  ASSERT_EQ(1u, player_.device()->files().size());
  EXPECT_EQ("18", player_.device()->files()[0]->GetString("fid"));
  DWORD attributes = 0;
  EXPECT_EQ(WMDM_E_INTERFACEDEAD, file->GetAttributes(&attributes, nullptr));
  EXPECT_EQ(WMDM_E_INTERFACEDEAD, object->Delete(0, nullptr));
  wchar_t name[16];
  EXPECT_EQ(WMDM_E_INTERFACEDEAD, file->GetName(name, 16));
}

TEST_F(StorageObjectsTest, FileCallsOutOfSequenceAndUnsupported) {
  ComRef<IMDSPStorage> file;
  ASSERT_EQ(S_OK, Create(L"a.mp3", &file));
  ComRef<IMDSPObject> object(file.As<IMDSPObject>(IID_IMDSPObject));
  BYTE data[4] = {};
  DWORD size = 4;
  EXPECT_EQ(WMDM_E_CALL_OUT_OF_SEQUENCE, object->Write(data, &size, nullptr));
  EXPECT_EQ(WMDM_E_CALL_OUT_OF_SEQUENCE, object->Close());
  EXPECT_EQ(WMDM_E_NOTSUPPORTED, object->Open(MDSP_READ));
  EXPECT_EQ(WMDM_E_NOTSUPPORTED, object->Open(MDSP_READ | MDSP_WRITE));
  EXPECT_EQ(E_INVALIDARG, object->Open(0));
  ComRef<IMDSPEnumStorage> enumerator;
  EXPECT_EQ(WMDM_E_NOTSUPPORTED, file->EnumStorage(enumerator.Out()));
  ComRef<IMDSPStorage> child;
  EXPECT_EQ(WMDM_E_NOTSUPPORTED, file->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr,
                                                     const_cast<LPWSTR>(L"c.mp3"), child.Out()));
  EXPECT_FALSE(AsFile(file.Get())->dead());
  EXPECT_EQ(0, CMDSPDevice::BusyCount());
}

}  // namespace
