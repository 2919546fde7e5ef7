#include "wmdm/metadata_mapping.h"

#include <objbase.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "support/text_convert.h"
#include "wmdm/no_throw.h"
#include "wmdm/wmdm_tags.h"

namespace {

constexpr wchar_t kCustomPrefix[] = L"Qel/info_";
constexpr size_t kCustomPrefixLength = 9;

// What WMDM hands out is ours to free, however the walk ends.
class TaskMemory {
 public:
  TaskMemory() = default;
  ~TaskMemory() { CoTaskMemFree(pointer_); }
  TaskMemory(const TaskMemory&) = delete;
  TaskMemory& operator=(const TaskMemory&) = delete;
  template <typename T>
  T** Receive() {
    return reinterpret_cast<T**>(&pointer_);
  }
  template <typename T>
  const T* As() const {
    return static_cast<const T*>(pointer_);
  }

 private:
  void* pointer_ = nullptr;
};

// One item as WMDM handed it out.
struct Item {
  WMDM_TAG_DATATYPE type = WMDM_TYPE_DWORD;
  TaskMemory value;
  UINT length = 0;
};

// --- to WMDM -------------------------------------------------------------------------------

Result AddText(IWMDMMetaData* metadata, const wchar_t* tag, const std::string& utf8) {
  std::wstring text = Utf8ToWideString(utf8);
  if (text.size() > kWmdmTextLimit) {
    size_t keep = kWmdmTextLimit;
    const wchar_t last = text[keep - 1];
    if (last >= 0xD800 && last <= 0xDBFF) --keep;  // a pair's first half goes with its second
    text.resize(keep);
  }
  const UINT length = static_cast<UINT>((text.size() + 1) * sizeof(wchar_t));
  return metadata->AddItem(WMDM_TYPE_STRING, tag,
                           reinterpret_cast<BYTE*>(const_cast<wchar_t*>(text.c_str())), length);
}

std::string Decimal(long value) {
  char text[24];
  std::snprintf(text, sizeof text, "%ld", value);
  return text;
}

Result ToWmdm(PropertySet& file, IWMDMMetaData* metadata) {
  static constexpr struct {
    const char* key;
    const wchar_t* tag;
  } kTexts[] = {{"title", g_wszWMDMTitle},
                {"artist", g_wszWMDMAuthor},
                {"source", g_wszWMDMAlbumTitle},
                {"genre", g_wszWMDMGenre}};
  for (const auto& text : kTexts) {
    const Result status = AddText(metadata, text.tag, file.GetString(text.key));
    if (rc::Failed(status)) return status;
  }
  // Milliseconds here, 100-nanosecond units in WMDM: the scale that MetadataFromWmdm undoes.
  uint64_t duration = static_cast<uint64_t>(static_cast<int64_t>(file.GetInt("duration")));
  duration *= 10000;
  Result status = metadata->AddItem(WMDM_TYPE_QWORD, g_wszWMDMDuration,
                                    reinterpret_cast<BYTE*>(&duration), sizeof duration);
  const int32_t year = file.GetInt("year");
  if (rc::Succeeded(status) && year != 0) {
    status = AddText(metadata, g_wszWMDMYear, Decimal(year));
  }
  // WMDM counts tracks from 0, the players from 1.
  const int32_t track = file.GetInt("tracknr");
  if (rc::Succeeded(status) && track > 0) {
    status = AddText(metadata, g_wszWMDMTrack, Decimal(track - 1));
  }
  return status;
}

// --- from WMDM -----------------------------------------------------------------------------

// A STRING value as UTF-8, read no further than the length WMDM gave.
std::string ValueText(const Item& item) {
  if (!item.value.As<void>()) return std::string();
  return WideToUtf8String(WideFromCountedBuffer(item.value.As<void>(), item.length / 2));
}

// DWORD and QWORD give their value, a STRING its one decimal number; other types give 0.
// A value shorter than its type, or a text that is not a number, is E_FAIL.
Result ReadNumber(const Item& item, int64_t* number) {
  *number = 0;
  const void* value = item.value.As<void>();
  switch (item.type) {
    case WMDM_TYPE_DWORD: {
      if (!value || item.length < sizeof(uint32_t)) return rc::kFail;
      uint32_t dword;
      std::memcpy(&dword, value, sizeof dword);
      *number = dword;
      return rc::kOk;
    }
    case WMDM_TYPE_QWORD:
      if (!value || item.length < sizeof(int64_t)) return rc::kFail;
      std::memcpy(number, value, sizeof *number);
      return rc::kOk;
    case WMDM_TYPE_STRING:
      return std::sscanf(ValueText(item).c_str(), "%" SCNd64, number) == 1 ? rc::kOk : rc::kFail;
    default:
      return rc::kOk;
  }
}

enum class FromKind { kText, kDuration, kTrack, kBitrate };

struct MappedTag {
  const char* key;
  const wchar_t* tag;
  FromKind kind;
};

constexpr MappedTag kMappedTags[] = {
    {"title", g_wszWMDMTitle, FromKind::kText},
    {"artist", g_wszWMDMAuthor, FromKind::kText},
    {"source", g_wszWMDMAlbumTitle, FromKind::kText},
    {"genre", g_wszWMDMGenre, FromKind::kText},
    {"year", g_wszWMDMYear, FromKind::kText},
    {"duration", g_wszWMDMDuration, FromKind::kDuration},
    {"tracknr", g_wszWMDMTrack, FromKind::kTrack},
    {"bitrate", g_wszWMDMBitrate, FromKind::kBitrate},
};

Result StoreMapped(const MappedTag& mapped, const Item& item, PropertySet& file) {
  if (mapped.kind == FromKind::kText) {
    if (item.type == WMDM_TYPE_STRING) return file.SetString(mapped.key, ValueText(item));
    // A number where a text belongs (a DWORD year) is kept as its decimal text.
    if (item.type != WMDM_TYPE_DWORD && item.type != WMDM_TYPE_QWORD) return rc::kOk;
  }
  int64_t number;
  const Result status = ReadNumber(item, &number);
  if (rc::Failed(status)) return status;
  switch (mapped.kind) {
    case FromKind::kDuration:
      return file.SetInt64(mapped.key, number / 10000);
    case FromKind::kTrack:
      return file.SetInt64(mapped.key, number + 1);
    default:
      return file.SetString(mapped.key, std::to_string(number));
  }
}

Result StoreCustom(const wchar_t* name, const Item& item, PropertySet& file) {
  if (!name || std::wcsncmp(name, kCustomPrefix, kCustomPrefixLength) != 0) return rc::kOk;
  const std::string key = WideToUtf8String(name + kCustomPrefixLength);
  if (key.empty()) return rc::kOk;
  int64_t number;
  switch (item.type) {
    case WMDM_TYPE_STRING:
      return file.SetString(key, ValueText(item));
    case WMDM_TYPE_DWORD: {
      const Result status = ReadNumber(item, &number);
      return rc::Failed(status) ? status : file.SetInt(key, static_cast<int32_t>(number));
    }
    case WMDM_TYPE_QWORD: {
      const Result status = ReadNumber(item, &number);
      return rc::Failed(status) ? status : file.SetInt64(key, number);
    }
    default:
      return rc::kOk;
  }
}

Result FromWmdm(IWMDMMetaData* metadata, PropertySet& file) {
  for (const MappedTag& mapped : kMappedTags) {
    Item item;
    // Any failure of the query means the tag is not there.
    if (FAILED(metadata->QueryByName(mapped.tag, &item.type, item.value.Receive<BYTE>(),
                                     &item.length))) {
      continue;
    }
    const Result status = StoreMapped(mapped, item, file);
    if (rc::Failed(status)) return status;
  }
  UINT count = 0;
  Result status = metadata->GetItemCount(&count);
  for (UINT index = 0; rc::Succeeded(status) && index < count; ++index) {
    TaskMemory name;
    Item item;
    status = metadata->QueryByIndex(index, name.Receive<WCHAR>(), &item.type,
                                    item.value.Receive<BYTE>(), &item.length);
    if (rc::Succeeded(status)) status = StoreCustom(name.As<wchar_t>(), item, file);
  }
  return status;
}

}  // namespace

Result MetadataToWmdm(PropertySet* file, IWMDMMetaData* metadata) {
  if (!file || !metadata) return rc::kInvalidArg;
  return CallNoThrow([&] { return ToWmdm(*file, metadata); });
}

Result MetadataFromWmdm(IWMDMMetaData* metadata, PropertySet* file) {
  if (!file || !metadata) return rc::kInvalidArg;
  return CallNoThrow([&] { return FromWmdm(metadata, *file); });
}

void HolderTagSink::SetInt(const char* key, uint32_t value) {
  const Result status = CallNoThrow([&] {
    // A value above the signed range keeps its own decimal text, not a negative one.
    return value > INT32_MAX ? file_.SetInt64(key, value)
                             : file_.SetInt(key, static_cast<int32_t>(value));
  });
  if (rc::Failed(status) && rc::Succeeded(status_)) status_ = status;
}

void HolderTagSink::SetString(const char* key, const char* value) {
  if (std::strcmp(key, "drm") == 0) return;
  const Result status = CallNoThrow([&] { return file_.SetString(key, value); });
  if (rc::Failed(status) && rc::Succeeded(status_)) status_ = status;
}
