#include "db/simple_group_rs.h"

#include <cstdio>

#include "db/simple_layout.h"
#include "support/debug_trace.h"

using namespace simple_layout;

SimpleGroupRecordSet::SimpleGroupRecordSet(SimpleDB* db, SimpleQuery* query,
                                           const std::string& key, size_t prefix_length,
                                           bool matches_nothing)
    : db_(db),
      query_(query),
      query_hold_(query),
      cursor_(db->Db()),
      key_(key),
      prefix_length_(prefix_length),
      matches_nothing_(matches_nothing),
      filter_needed_(query->FilterNeeded()),
      inner_(new SimpleTableRecordSet(db, nullptr)) {
  for (const std::string& name : query->GroupColumns()) {
    GroupColumn group;
    group.name = name;
    group.number = db->FindColumn(name);
    db->GetColumnKind(group.number, &group.kind);
    groups_.push_back(std::move(group));
  }
}

bool SimpleGroupRecordSet::InPrefix() const {
  const std::string& key = cursor_.Key();
  return !cursor_.AtEnd() && key.size() >= prefix_length_ &&
         key.compare(0, prefix_length_, key_, 0, prefix_length_) == 0;
}

bool SimpleGroupRecordSet::LoadMember(uint32_t record) {
  if (rc::Succeeded(inner_->LoadRecord(record))) return true;
  TORVEX_TRACE("Can't load expected record %d\n", static_cast<int>(record));
  return false;
}

void SimpleGroupRecordSet::LoadGroup() {
  std::vector<uint32_t> numbers;
  if (!DecodeNumberList(cursor_.Value(), &numbers)) db_->MarkInconsistent();
  // The group's values come from its first record that can be read.
  bool have_values = false;
  for (size_t i = 0; i < numbers.size() && !have_values; ++i) have_values = LoadMember(numbers[i]);
  for (GroupColumn& group : groups_) {
    group.text = have_values ? inner_->GetString(group.number) : std::string();
    group.value = have_values ? inner_->GetInt(group.number) : 0;
  }
  if (!filter_needed_) {
    count_ = have_values ? static_cast<int32_t>(numbers.size()) : 0;
    return;
  }
  count_ = 0;
  for (uint32_t record : numbers) {
    if (LoadMember(record) && query_->Passes(inner_.Get())) ++count_;
  }
}

Result SimpleGroupRecordSet::MoveFirst() {
  ScopedEnter<SimpleDB> hold(*db_);
  end_ = true;
  if (matches_nothing_) return rc::kOk;
  db_->MakeQueuedChanges(key_.substr(0, prefix_length_));
  cursor_ = BerkeleyDbCursor(db_->Db());
  cursor_.Seek(key_, false);
  if (!InPrefix()) return rc::kOk;
  LoadGroup();
  end_ = false;
  return count_ == 0 ? MoveNext() : rc::kOk;
}

Result SimpleGroupRecordSet::MoveNext() {
  if (end_) return rc::kOk;
  ScopedEnter<SimpleDB> hold(*db_);
  for (;;) {
    db_->MakeQueuedChanges(key_.substr(0, prefix_length_));
    cursor_.Next();
    if (!InPrefix()) {
      end_ = true;
      return rc::kOk;
    }
    LoadGroup();
    if (count_ != 0) return rc::kOk;
  }
}

int32_t SimpleGroupRecordSet::FindColumn(const std::string& name) {
  if (name == "count") return static_cast<int32_t>(groups_.size());
  for (size_t i = 0; i < groups_.size(); ++i) {
    if (groups_[i].name == name) return static_cast<int32_t>(i);
  }
  return -1;
}

std::string SimpleGroupRecordSet::GetColumnName(int32_t index) {
  if (index >= 0 && static_cast<size_t>(index) < groups_.size()) return groups_[index].name;
  return static_cast<size_t>(index) == groups_.size() ? "count" : "";
}

Result SimpleGroupRecordSet::GetColumnType(int32_t index, ColumnKind* kind) {
  if (index >= 0 && static_cast<size_t>(index) < groups_.size()) {
    *kind = groups_[index].kind;
    return rc::kOk;
  }
  if (static_cast<size_t>(index) != groups_.size()) return rc::kBadIndex;
  *kind = kColumnInt;
  return rc::kOk;
}

Result SimpleGroupRecordSet::GetColumnType(const std::string& name, ColumnKind* kind) {
  const int32_t index = FindColumn(name);
  return index < 0 ? rc::kBadIndex : GetColumnType(index, kind);
}

int32_t SimpleGroupRecordSet::GetInt(int32_t index) {
  if (static_cast<size_t>(index) == groups_.size()) return count_;
  if (index < 0 || static_cast<size_t>(index) >= groups_.size()) return 0;
  return groups_[index].kind == kColumnInt ? groups_[index].value : 0;
}

std::string SimpleGroupRecordSet::GetString(int32_t index) {
  if (index >= 0 && static_cast<size_t>(index) < groups_.size() &&
      groups_[index].kind == kColumnText) {
    return groups_[index].text;
  }
  char text[16];
  std::snprintf(text, sizeof(text), "%d", GetInt(index));
  return text;
}
