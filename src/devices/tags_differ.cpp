#include "devices/tags_differ.h"

#include <string>

#include "media/property_set.h"

namespace {

const char* const kTagKeys[] = {"artist", "genre", "source", "title", "tracknr", "year"};

bool IsTagKey(const std::string& name) {
  for (const char* key : kTagKeys)
    if (name == key) return true;
  return false;
}

// True when both sets hold `key` under the same comparable type with different values.
bool KeyDiffers(PropertySet& a, PropertySet& b, const char* key) {
  ColumnKind kind_a, kind_b;
  if (rc::Failed(a.GetColumnType(key, &kind_a)) || rc::Failed(b.GetColumnType(key, &kind_b)) ||
      kind_a != kind_b)
    return false;
  switch (kind_a) {
    case kColumnInt: return a.GetInt(key) != b.GetInt(key);
    case kColumnInt64: return a.GetInt64(key) != b.GetInt64(key);
    case kColumnText: return a.GetString(key) != b.GetString(key);
    default: return false;
  }
}

// The tag entries of `source` into `destination` by name, with their types.
Result CopyTags(PropertySet& destination, PropertySet& source) {
  for (int32_t index = 0;; ++index) {
    const std::string name = source.GetColumnName(index);
    if (name.empty()) return rc::kOk;
    ColumnKind kind;
    Result result = source.GetColumnType(index, &kind);
    if (result == rc::kBadIndex) return rc::kOk;
    if (rc::Failed(result)) return result;
    if (!IsTagKey(name)) continue;
    switch (kind) {
      case kColumnInt: result = destination.SetInt(name, source.GetInt(index)); break;
      case kColumnInt64: result = destination.SetInt64(name, source.GetInt64(index)); break;
      case kColumnText: result = destination.SetString(name, source.GetString(index)); break;
      case kColumnBinary: {
        uint32_t length = 0;
        const uint8_t* data = source.GetBlob(index, &length);
        result = destination.SetBlob(name, data, length);
        break;
      }
      default: return rc::kBadIndex;
    }
    if (rc::Failed(result) && result != rc::kNotFound) return result;
  }
}

}  // namespace

Result TagsDiffer(PropertySet& old_file, PropertySet& new_file, bool* differs) {
  if (differs == nullptr) return rc::kInvalidArg;
  *differs = false;
  for (const char* key : kTagKeys) {
    if (KeyDiffers(old_file, new_file, key)) {
      *differs = true;
      break;
    }
  }
  return *differs ? CopyTags(old_file, new_file) : rc::kOk;
}
