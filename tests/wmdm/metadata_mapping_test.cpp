#include "wmdm/metadata_mapping.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "wmdm/wmdm_interfaces.h"
#include "wmdm_text_limits.inc"

namespace {

// WMDM's metadata object as far as the provider uses it: items in the order added; what it
// hands out is allocated with CoTaskMemAlloc, and the test counts what was handed out.
class FakeMetaData : public IWMDMMetaData {
 public:
  struct Item {
    std::wstring name;
    WMDM_TAG_DATATYPE type;
    std::vector<uint8_t> value;
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IWMDMMetaData) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE AddItem(WMDM_TAG_DATATYPE type, LPCWSTR name, BYTE* value,
                                    UINT length) override {
    if (fail_add_at >= 0 && static_cast<int>(items.size()) == fail_add_at) return E_OUTOFMEMORY;
    items.push_back({name, type, std::vector<uint8_t>(value, value + length)});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryByName(LPCWSTR name, WMDM_TAG_DATATYPE* type, BYTE** value,
                                        UINT* length) override {
    for (const Item& item : items) {
      if (item.name == name) return HandOut(item, nullptr, type, value, length);
    }
    return E_INVALIDARG;  // what WMDM answers for a tag it does not hold
  }
  HRESULT STDMETHODCALLTYPE QueryByIndex(UINT index, WCHAR** name, WMDM_TAG_DATATYPE* type,
                                         BYTE** value, UINT* length) override {
    if (index >= items.size()) return E_INVALIDARG;
    if (static_cast<int>(index) == fail_index_at) return E_OUTOFMEMORY;
    return HandOut(items[index], name, type, value, length);
  }
  HRESULT STDMETHODCALLTYPE GetItemCount(UINT* count) override {
    *count = static_cast<UINT>(items.size());
    return S_OK;
  }

  void Add(const std::wstring& name, WMDM_TAG_DATATYPE type, const void* value, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(value);
    items.push_back({name, type, std::vector<uint8_t>(bytes, bytes + length)});
  }
  void AddString(const std::wstring& name, const std::wstring& text) {
    Add(name, WMDM_TYPE_STRING, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  void AddDword(const std::wstring& name, uint32_t value) {
    Add(name, WMDM_TYPE_DWORD, &value, sizeof value);
  }
  void AddQword(const std::wstring& name, uint64_t value) {
    Add(name, WMDM_TYPE_QWORD, &value, sizeof value);
  }
  const Item* Find(const std::wstring& name) const {
    for (const Item& item : items) {
      if (item.name == name) return &item;
    }
    return nullptr;
  }
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (const Item& item : items) names.push_back(item.name);
    return names;
  }

  std::vector<Item> items;
  int fail_add_at = -1;
  int fail_index_at = -1;
  int handed_out = 0;

 private:
  HRESULT HandOut(const Item& item, WCHAR** name, WMDM_TAG_DATATYPE* type, BYTE** value,
                  UINT* length) {
    *type = item.type;
    *length = static_cast<UINT>(item.value.size());
    *value = static_cast<BYTE*>(CoTaskMemAlloc(item.value.size() + 1));
    std::memcpy(*value, item.value.data(), item.value.size());
    ++handed_out;
    if (name) {
      const size_t bytes = (item.name.size() + 1) * sizeof(wchar_t);
      *name = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
      std::memcpy(*name, item.name.c_str(), bytes);
      ++handed_out;
    }
    return S_OK;
  }
};

// Counts CoTaskMemAlloc blocks that are still out, so a leak of what WMDM hands out shows.
class AllocationSpy : public IMallocSpy {
 public:
  AllocationSpy() { registered_ = SUCCEEDED(CoRegisterMallocSpy(this)); }
  ~AllocationSpy() {
    if (registered_) CoRevokeMallocSpy();
  }
  bool registered() const { return registered_; }
  long outstanding() const { return outstanding_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
    if (actual) ++outstanding_;
    return actual;
  }
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
    if (request) --outstanding_;
    return request;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** new_request,
                                      BOOL) override {
    *new_request = request;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  bool registered_ = false;
  long outstanding_ = 0;
};

class MetadataTest : public ::testing::Test {
 protected:
  MetadataTest() {
    PropertySet::Create(&set_);
    set_->AddNew();
  }

  static std::wstring Text(const FakeMetaData::Item& item) {
    return std::wstring(reinterpret_cast<const wchar_t*>(item.value.data()),
                        item.value.size() / 2 - 1);
  }
  static uint64_t Qword(const FakeMetaData::Item& item) {
    uint64_t value = 0;
    EXPECT_EQ(item.value.size(), sizeof value);
    std::memcpy(&value, item.value.data(), sizeof value);
    return value;
  }

  RefPtr<PropertySet> set_;
  FakeMetaData wmdm_;
};

// --- to WMDM -------------------------------------------------------------------------------

TEST_F(MetadataTest, FullSetGivesEveryTagInOrderWithItsType) {
  set_->SetString("title", "Song");
  set_->SetString("artist", "Band");
  set_->SetString("source", "Album");
  set_->SetString("genre", "Rock");
  set_->SetInt("duration", 200000);
  set_->SetInt("year", 1999);
  set_->SetInt("tracknr", 3);
  set_->SetInt("bitrate", 128000);
  set_->SetString("rating", "5");
  ASSERT_EQ(MetadataToWmdm(set_.Get(), &wmdm_), S_OK);

  EXPECT_EQ(wmdm_.Names(),
            (std::vector<std::wstring>{L"WMDM/Title", L"WMDM/Author", L"WMDM/AlbumTitle",
                                       L"WMDM/Genre", L"WMDM/Duration", L"WMDM/Year",
                                       L"WMDM/Track"}));
  const struct {
    const wchar_t* tag;
    const wchar_t* text;
  } texts[] = {{L"WMDM/Title", L"Song"},     {L"WMDM/Author", L"Band"},
               {L"WMDM/AlbumTitle", L"Album"}, {L"WMDM/Genre", L"Rock"},
               {L"WMDM/Year", L"1999"},      {L"WMDM/Track", L"2"}};
  for (const auto& expected : texts) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(expected.tag)));
    const FakeMetaData::Item* item = wmdm_.Find(expected.tag);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->type, WMDM_TYPE_STRING);
    EXPECT_EQ(Text(*item), expected.text);
    EXPECT_EQ(item->value.size(), (std::wcslen(expected.text) + 1) * 2);
  }
  const FakeMetaData::Item* duration = wmdm_.Find(L"WMDM/Duration");
  ASSERT_NE(duration, nullptr);
  EXPECT_EQ(duration->type, WMDM_TYPE_QWORD);
  EXPECT_EQ(Qword(*duration), 2000000000u);  // 100-nanosecond units
}

TEST_F(MetadataTest, EmptySetGivesEmptyTextsAndZeroDurationOnly) {
  ASSERT_EQ(MetadataToWmdm(set_.Get(), &wmdm_), S_OK);
  EXPECT_EQ(wmdm_.Names(), (std::vector<std::wstring>{L"WMDM/Title", L"WMDM/Author",
                                                      L"WMDM/AlbumTitle", L"WMDM/Genre",
                                                      L"WMDM/Duration"}));
  EXPECT_EQ(wmdm_.Find(L"WMDM/Title")->value.size(), 2u);  // just the terminator
  EXPECT_EQ(Qword(*wmdm_.Find(L"WMDM/Duration")), 0u);
}

TEST_F(MetadataTest, YearAndTrackOnlyWhenTheyMeanSomething) {
  const struct {
    const char* year;
    const char* tracknr;
    const wchar_t* wmdm_year;   // null: no item
    const wchar_t* wmdm_track;
  } cases[] = {
      {"0", "1", nullptr, L"0"},    {"2004", "0", L"2004", nullptr},
      {"-5", "-1", L"-5", nullptr}, {"0x7D0", "0x10", L"2000", L"15"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.year) + "/" + c.tracknr);
    FakeMetaData wmdm;
    set_->SetString("year", c.year);
    set_->SetString("tracknr", c.tracknr);
    ASSERT_EQ(MetadataToWmdm(set_.Get(), &wmdm), S_OK);
    const FakeMetaData::Item* year = wmdm.Find(L"WMDM/Year");
    const FakeMetaData::Item* track = wmdm.Find(L"WMDM/Track");
    if (c.wmdm_year) {
      ASSERT_NE(year, nullptr);
      EXPECT_EQ(Text(*year), c.wmdm_year);
    } else {
      EXPECT_EQ(year, nullptr);
    }
    if (c.wmdm_track) {
      ASSERT_NE(track, nullptr);
      EXPECT_EQ(Text(*track), c.wmdm_track);
    } else {
      EXPECT_EQ(track, nullptr);
    }
  }
}

TEST_F(MetadataTest, TextsAreConvertedAndCutAtCharacterBoundaries) {
  for (const WmdmTextCase& c : kWmdmTextCases) {
    SCOPED_TRACE(c.name);
    FakeMetaData wmdm;
    set_->SetString("title", c.utf8);
    ASSERT_EQ(MetadataToWmdm(set_.Get(), &wmdm), S_OK);
    const FakeMetaData::Item* title = wmdm.Find(L"WMDM/Title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->value, std::vector<uint8_t>(c.utf16, c.utf16 + c.utf16_bytes));
  }
}

TEST_F(MetadataTest, AFailedAddItemEndsTheMapping) {
  set_->SetInt("tracknr", 4);
  wmdm_.fail_add_at = 2;  // the album title
  EXPECT_EQ(MetadataToWmdm(set_.Get(), &wmdm_), E_OUTOFMEMORY);
  EXPECT_EQ(wmdm_.Names(), (std::vector<std::wstring>{L"WMDM/Title", L"WMDM/Author"}));
}

TEST_F(MetadataTest, NullArgumentsAreRefused) {
  EXPECT_EQ(MetadataToWmdm(nullptr, &wmdm_), E_INVALIDARG);
  EXPECT_EQ(MetadataToWmdm(set_.Get(), nullptr), E_INVALIDARG);
  EXPECT_EQ(MetadataFromWmdm(nullptr, set_.Get()), E_INVALIDARG);
  EXPECT_EQ(MetadataFromWmdm(&wmdm_, nullptr), E_INVALIDARG);
}

// --- from WMDM -----------------------------------------------------------------------------

TEST_F(MetadataTest, EveryMappedTagIsStored) {
  wmdm_.AddString(L"WMDM/Title", L"Ch\u00e2teau \U0001F3B5");
  wmdm_.AddString(L"WMDM/Author", L"Band");
  wmdm_.AddString(L"WMDM/AlbumTitle", L"Album");
  wmdm_.AddString(L"WMDM/Genre", L"Jazz");
  wmdm_.AddString(L"WMDM/Year", L"1987");
  wmdm_.AddQword(L"WMDM/Duration", 2000000000);
  wmdm_.AddDword(L"WMDM/Track", 0);
  wmdm_.AddDword(L"WMDM/Bitrate", 192000);
  ASSERT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), S_OK);
  EXPECT_EQ(set_->GetString("title"), "Ch\xc3\xa2teau \xf0\x9f\x8e\xb5");
  EXPECT_EQ(set_->GetString("artist"), "Band");
  EXPECT_EQ(set_->GetString("source"), "Album");
  EXPECT_EQ(set_->GetString("genre"), "Jazz");
  EXPECT_EQ(set_->GetString("year"), "1987");
  EXPECT_EQ(set_->GetString("duration"), "200000");
  EXPECT_EQ(set_->GetString("tracknr"), "1");
  EXPECT_EQ(set_->GetString("bitrate"), "192000");
}

TEST_F(MetadataTest, AbsentTagsLeaveTheirKeys) {
  set_->SetString("title", "Kept");
  set_->SetString("duration", "1234");
  wmdm_.AddString(L"WMDM/Genre", L"Pop");
  ASSERT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), S_OK);
  EXPECT_EQ(set_->GetString("title"), "Kept");
  EXPECT_EQ(set_->GetString("duration"), "1234");
  EXPECT_EQ(set_->GetString("genre"), "Pop");
  EXPECT_LT(set_->FindColumn("tracknr"), 0);
}

TEST_F(MetadataTest, NumbersAreReadFromEachType) {
  const struct {
    const char* name;
    WMDM_TAG_DATATYPE type;
    std::vector<uint8_t> value;
    HRESULT result;
    const char* tracknr;  // null: not stored
  } cases[] = {
      {"dword", WMDM_TYPE_DWORD, {4, 0, 0, 0}, S_OK, "5"},
      {"dword max", WMDM_TYPE_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, S_OK, "4294967296"},
      {"qword", WMDM_TYPE_QWORD, {9, 0, 0, 0, 0, 0, 0, 0}, S_OK, "10"},
      {"string", WMDM_TYPE_STRING, {'1', 0, '2', 0, 0, 0}, S_OK, "13"},
      {"string with tail", WMDM_TYPE_STRING, {'7', 0, 'x', 0, 0, 0}, S_OK, "8"},
      {"string not a number", WMDM_TYPE_STRING, {'x', 0, 0, 0}, E_FAIL, nullptr},
      {"empty string", WMDM_TYPE_STRING, {0, 0}, E_FAIL, nullptr},
      {"short dword", WMDM_TYPE_DWORD, {4, 0}, E_FAIL, nullptr},
      {"short qword", WMDM_TYPE_QWORD, {4, 0, 0, 0}, E_FAIL, nullptr},
      {"bool counts as 0", WMDM_TYPE_BOOL, {1, 0, 0, 0}, S_OK, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMetaData wmdm;
    RefPtr<PropertySet> set;
    PropertySet::Create(&set);
    set->AddNew();
    wmdm.Add(L"WMDM/Track", c.type, c.value.data(), c.value.size());
    EXPECT_EQ(MetadataFromWmdm(&wmdm, set.Get()), c.result);
    if (c.tracknr) {
      EXPECT_EQ(set->GetString("tracknr"), c.tracknr);
    } else {
      EXPECT_LT(set->FindColumn("tracknr"), 0);
    }
  }
}

TEST_F(MetadataTest, AFailedNumberEndsTheWalk) {
  wmdm_.AddString(L"WMDM/Title", L"T");
  wmdm_.AddString(L"WMDM/Duration", L"long");
  wmdm_.AddDword(L"WMDM/Track", 1);
  wmdm_.AddDword(L"Qel/info_rating", 5);
  EXPECT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), E_FAIL);
  EXPECT_EQ(set_->GetString("title"), "T");
  EXPECT_LT(set_->FindColumn("tracknr"), 0);
  EXPECT_LT(set_->FindColumn("rating"), 0);
}

TEST_F(MetadataTest, TextValuesAreReadOnlyWithinTheirLength) {
  // No terminator inside the value: the length bounds the text.
  const uint8_t unterminated[] = {'A', 0, 'B', 0};
  wmdm_.Add(L"WMDM/Title", WMDM_TYPE_STRING, unterminated, sizeof unterminated);
  const uint8_t odd[] = {'C', 0, 'D'};
  wmdm_.Add(L"WMDM/Genre", WMDM_TYPE_STRING, odd, sizeof odd);
  wmdm_.Add(L"WMDM/Author", WMDM_TYPE_STRING, nullptr, 0);
  ASSERT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), S_OK);
  EXPECT_EQ(set_->GetString("title"), "AB");
  EXPECT_EQ(set_->GetString("genre"), "C");
  EXPECT_EQ(set_->GetString("artist"), "");
}

TEST_F(MetadataTest, NumberForATextTagIsKeptAsDecimal) {
  wmdm_.AddDword(L"WMDM/Year", 2001);
  const uint8_t binary[] = {1, 2, 3, 4};
  wmdm_.Add(L"WMDM/Title", WMDM_TYPE_BINARY, binary, sizeof binary);
  ASSERT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), S_OK);
  EXPECT_EQ(set_->GetString("year"), "2001");
  EXPECT_LT(set_->FindColumn("title"), 0);
}

TEST_F(MetadataTest, CustomKeysAreStoredByType) {
  wmdm_.AddDword(L"Qel/info_rating", 5);
  wmdm_.AddString(L"Qel/info_rid", L"0123456789abcdef0123456789abcdef");
  wmdm_.AddQword(L"Qel/info_ctime", 0x100000000ull);
  wmdm_.AddDword(L"Qel/info_negative", 0xFFFFFFFF);
  const uint8_t binary[] = {1, 2};
  wmdm_.Add(L"Qel/info_blob", WMDM_TYPE_BINARY, binary, sizeof binary);
  wmdm_.AddDword(L"qel/info_case", 1);  // the prefix is compared exactly
  wmdm_.AddDword(L"Qel/infoX", 1);
  wmdm_.AddDword(L"Qel/info_", 1);      // no key left
  wmdm_.AddString(L"Qel/info_\u00e9t\u00e9", L"summer");
  ASSERT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), S_OK);
  EXPECT_EQ(set_->GetString("rating"), "5");
  EXPECT_EQ(set_->GetString("rid"), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(set_->GetString("ctime"), "4294967296");
  EXPECT_EQ(set_->GetString("negative"), "-1");
  EXPECT_EQ(set_->GetString("\xc3\xa9t\xc3\xa9"), "summer");
  EXPECT_LT(set_->FindColumn("blob"), 0);
  EXPECT_LT(set_->FindColumn("case"), 0);
  EXPECT_EQ(set_->GetColumnName(5), "");  // nothing else was stored
}

TEST_F(MetadataTest, CustomKeysNeverGoBackToWmdm) {
  wmdm_.AddDword(L"Qel/info_rating", 5);
  ASSERT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), S_OK);
  FakeMetaData out;
  ASSERT_EQ(MetadataToWmdm(set_.Get(), &out), S_OK);
  for (const auto& name : out.Names()) EXPECT_EQ(name.rfind(L"WMDM/", 0), 0u);
}

TEST_F(MetadataTest, AFailedQueryByIndexIsTheResult) {
  wmdm_.AddDword(L"Qel/info_a", 1);
  wmdm_.AddDword(L"Qel/info_b", 2);
  wmdm_.AddDword(L"Qel/info_c", 3);
  wmdm_.fail_index_at = 1;
  EXPECT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), E_OUTOFMEMORY);
  EXPECT_EQ(set_->GetString("a"), "1");
  EXPECT_LT(set_->FindColumn("c"), 0);
}

TEST_F(MetadataTest, EverythingHandedOutIsFreed) {
  AllocationSpy spy;
  if (!spy.registered()) GTEST_SKIP() << "no malloc spy in this COM";
  wmdm_.AddString(L"WMDM/Title", L"T");
  wmdm_.AddQword(L"WMDM/Duration", 10000);
  wmdm_.AddDword(L"Qel/info_rating", 5);
  wmdm_.AddString(L"WMDM/Track", L"not a number");  // fails midway
  const long before = spy.outstanding();
  void* probe = CoTaskMemAlloc(4);  // the spy sees what is handed out
  EXPECT_EQ(spy.outstanding(), before + 1);
  CoTaskMemFree(probe);
  EXPECT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), E_FAIL);
  EXPECT_GT(wmdm_.handed_out, 0);
  EXPECT_EQ(spy.outstanding(), before);

  wmdm_.items.pop_back();
  const int handed_before = wmdm_.handed_out;
  EXPECT_EQ(MetadataFromWmdm(&wmdm_, set_.Get()), S_OK);
  EXPECT_EQ(wmdm_.handed_out - handed_before, 2 + 2 * 3);  // by name, then name and value each
  EXPECT_EQ(spy.outstanding(), before);
}

TEST_F(MetadataTest, DurationRoundTrips) {
  for (const int32_t ms : {0, 1, 200000, 3599999, 0x7FFFFFFF}) {
    SCOPED_TRACE(ms);
    FakeMetaData wmdm;
    set_->SetInt("duration", ms);
    ASSERT_EQ(MetadataToWmdm(set_.Get(), &wmdm), S_OK);
    EXPECT_EQ(Qword(*wmdm.Find(L"WMDM/Duration")), static_cast<uint64_t>(ms) * 10000);
    set_->SetString("duration", "");
    ASSERT_EQ(MetadataFromWmdm(&wmdm, set_.Get()), S_OK);
    EXPECT_EQ(set_->GetInt("duration"), ms);
  }
}

TEST_F(MetadataTest, TrackAndTextsRoundTrip) {
  set_->SetString("title", "\xe6\x9d\xb1\xe4\xba\xac");
  set_->SetString("artist", "A");
  set_->SetString("source", "S");
  set_->SetString("genre", "G");
  set_->SetInt("year", 1970);
  set_->SetInt("tracknr", 12);
  ASSERT_EQ(MetadataToWmdm(set_.Get(), &wmdm_), S_OK);
  RefPtr<PropertySet> back;
  PropertySet::Create(&back);
  back->AddNew();
  ASSERT_EQ(MetadataFromWmdm(&wmdm_, back.Get()), S_OK);
  for (const char* key : {"title", "artist", "source", "genre", "year", "tracknr"}) {
    EXPECT_EQ(back->GetString(key), set_->GetString(key)) << key;
  }
}

// --- tag sink ------------------------------------------------------------------------------

TEST(HolderTagSinkTest, StoresTagsButNeverDrm) {
  PropertyHolder file;
  HolderTagSink sink(file);
  sink.SetString("title", "Song");
  sink.SetString("drm", "1");
  sink.SetInt("samplerate", 44100);
  sink.SetInt("length", 3000000000u);  // above the signed range
  EXPECT_EQ(file.GetString("title"), "Song");
  EXPECT_EQ(file.GetString("samplerate"), "44100");
  EXPECT_EQ(file.GetString("length"), "3000000000");
  EXPECT_LT(file.GetSet()->FindColumn("drm"), 0);
  EXPECT_EQ(sink.status(), S_OK);
}

}  // namespace
