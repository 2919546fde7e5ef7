#include "media/property_set.h"

#include <new>

Result PropertySet::Create(RefPtr<PropertySet>* out) {
  if (!out) return rc::kInvalidArg;
  PropertySet* set = new (std::nothrow) PropertySet;
  if (!set) return rc::kOutOfMemory;
  *out = set;
  return rc::kOk;
}

bool PropertySet::IsEOF() { return past_row_; }

Result PropertySet::MoveNext() {
  past_row_ = true;
  return rc::kOk;
}

Result PropertySet::MoveFirst() {
  past_row_ = false;
  return rc::kOk;
}

Result PropertySet::AddNew() {
  if (row_added_) return rc::kNotImplemented;
  row_added_ = true;
  return rc::kOk;
}

int32_t PropertySet::FindColumn(const std::string& name) {
  const auto found = index_.find(name);
  return found == index_.end() ? -1 : found->second;
}

std::string PropertySet::GetColumnName(int32_t index) {
  return ValueAt(index) ? entries_[index].name : std::string();
}

Result PropertySet::GetColumnType(int32_t index, ColumnKind* kind) {
  if (!ValueAt(index)) return rc::kBadIndex;
  if (kind) *kind = kColumnText;
  return rc::kOk;
}

Result PropertySet::GetColumnType(const std::string& name, ColumnKind* kind) {
  const int32_t index = FindColumn(name);
  return index < 0 ? rc::kNotFound : GetColumnType(index, kind);
}

std::string PropertySet::GetString(int32_t index) {
  const std::string* value = ValueAt(index);
  return value ? *value : std::string();
}

std::string PropertySet::GetString(const std::string& name) { return GetString(FindColumn(name)); }

int32_t PropertySet::GetInt(int32_t index) {
  const std::string* value = ValueAt(index);
  return value ? TextToInt32(*value) : 0;
}

int32_t PropertySet::GetInt(const std::string& name) { return GetInt(FindColumn(name)); }

int64_t PropertySet::GetInt64(int32_t index) {
  const std::string* value = ValueAt(index);
  return value ? TextToInt64(*value) : 0;
}

int64_t PropertySet::GetInt64(const std::string& name) { return GetInt64(FindColumn(name)); }

const uint8_t* PropertySet::GetBlob(int32_t index, uint32_t* length) {
  const std::string* value = ValueAt(index);
  if (length) *length = value ? static_cast<uint32_t>(value->size()) : 0;
  return value ? reinterpret_cast<const uint8_t*>(value->data()) : nullptr;
}

const uint8_t* PropertySet::GetBlob(const std::string& name, uint32_t* length) {
  return GetBlob(FindColumn(name), length);
}

Result PropertySet::SetString(int32_t index, const std::string& value) {
  if (!ValueAt(index)) return rc::kBadIndex;
  entries_[index].value = value;
  return rc::kOk;
}

Result PropertySet::SetString(const std::string& name, const std::string& value) {
  return SetString(FindOrAppend(name), value);
}

Result PropertySet::SetInt(int32_t index, int32_t value) {
  return SetString(index, std::to_string(value));
}

Result PropertySet::SetInt(const std::string& name, int32_t value) {
  return SetString(name, std::to_string(value));
}

Result PropertySet::SetInt64(int32_t index, int64_t value) {
  return SetString(index, std::to_string(static_cast<long long>(value)));
}

Result PropertySet::SetInt64(const std::string& name, int64_t value) {
  return SetString(name, std::to_string(static_cast<long long>(value)));
}

Result PropertySet::SetBlob(int32_t index, const void* data, uint32_t length) {
  if (!data && length) return rc::kInvalidArg;
  return SetString(index, length ? std::string(static_cast<const char*>(data), length)
                                 : std::string());
}

Result PropertySet::SetBlob(const std::string& name, const void* data, uint32_t length) {
  // Refuse before appending, so a bad call leaves no empty entry behind.
  if (!data && length) return rc::kInvalidArg;
  return SetBlob(FindOrAppend(name), data, length);
}

Result PropertySet::Update() { return rc::kOk; }

Result PropertySet::Delete(int32_t) { return rc::kNotImplemented; }

std::string PropertySet::GetRowKey() { return std::string(); }

Result PropertySet::Clone(RefPtr<PropertySet>* out) {
  if (!out) return rc::kInvalidArg;
  RefPtr<PropertySet> copy;
  const Result result = Create(&copy);
  if (rc::Failed(result)) return result;
  try {
    copy->entries_ = entries_;
    copy->index_ = index_;
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  *out = copy;
  return rc::kOk;
}

void PropertySet::RemoveAll() {
  entries_.clear();
  index_.clear();
  row_added_ = false;
}

const std::string* PropertySet::ValueAt(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return nullptr;
  return &entries_[index].value;
}

int32_t PropertySet::FindOrAppend(const std::string& name) {
  const auto inserted = index_.emplace(name, static_cast<int32_t>(entries_.size()));
  if (inserted.second) entries_.push_back(Entry{name, std::string()});
  return inserted.first->second;
}

// The text form. Items end at line feeds outside quoted stretches; a stretch opens only at a
// double quote that starts an item or follows an equals sign, and a backslash keeps the next
// double quote from closing it.
namespace {

bool IsQuoted(const std::string& value) {
  return value.size() >= 2 && value.front() == '"' && value.back() == '"';
}

// Drops the surrounding quotes and every backslash, keeping the byte behind each one.
std::string Unquote(const std::string& value) {
  std::string out;
  for (size_t i = 1; i + 1 < value.size(); ++i) {
    if (value[i] == '\\') ++i;
    if (i + 1 < value.size()) out += value[i];
  }
  return out;
}

// \" \\ and \n; any other backslash stays as it is. Replaced bytes are not read again.
std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const char next = i + 1 < value.size() ? value[i + 1] : '\0';
    if (value[i] == '\\' && (next == '"' || next == '\\' || next == 'n')) {
      out += next == 'n' ? '\n' : next;
      ++i;
    } else {
      out += value[i];
    }
  }
  return out;
}

Result StoreItem(const std::string& item, PropertySet& target) {
  const size_t equals = item.find('=');
  if (equals == std::string::npos) return rc::kOk;
  std::string value = item.substr(equals + 1);
  if (IsQuoted(value)) value = Unquote(value);
  return target.SetString(item.substr(0, equals), Unescape(value));
}

}  // namespace

Result PropertySet::FromText(const std::string& text, const RefPtr<PropertySet>& target) {
  if (!target) return rc::kInvalidArg;
  bool in_quotes = false;
  bool after_separator = true;
  bool after_backslash = false;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool at_end = i == text.size();
    const char c = at_end ? '\0' : text[i];
    if (c == '"') {
      if (!in_quotes && after_separator) {
        in_quotes = true;
      } else if (in_quotes && !after_backslash) {
        in_quotes = false;
      }
    }
    if (at_end || (c == '\n' && !in_quotes)) {
      const Result result = StoreItem(text.substr(start, i - start), *target);
      if (rc::Failed(result)) return result;
      start = i + 1;
      after_separator = true;
      after_backslash = false;
    } else {
      after_separator = c == '=';
      after_backslash = c == '\\';
    }
  }
  return rc::kOk;
}
