#include "media/property_copy.h"

namespace {

enum class Filter { kAll, kExcept, kOnly };

Result CopyColumn(RecordSet* destination, RecordSet* source, int32_t index,
                  const std::string& name, ColumnKind kind) {
  switch (kind) {
    case kColumnInt: return destination->SetInt(name, source->GetInt(index));
    case kColumnInt64: return destination->SetInt64(name, source->GetInt64(index));
    case kColumnText: return destination->SetString(name, source->GetString(index));
    case kColumnBinary: {
      uint32_t length = 0;
      const uint8_t* data = source->GetBlob(index, &length);
      return destination->SetBlob(name, data, length);
    }
    default: return rc::kBadIndex;
  }
}

Result Copy(RecordSet* destination, RecordSet* source, Filter filter,
            const PropertyNames& names) {
  for (int32_t index = 0;; ++index) {
    const std::string name = source->GetColumnName(index);
    if (name.empty()) return 1;
    ColumnKind kind = kColumnText;
    const Result typed = source->GetColumnType(index, &kind);
    if (typed == rc::kBadIndex) return 1;
    if (rc::Failed(typed)) return typed;
    const bool listed = names.count(name) != 0;
    if ((filter == Filter::kExcept && listed) || (filter == Filter::kOnly && !listed)) continue;
    const Result set = CopyColumn(destination, source, index, name, kind);
    if (set != rc::kOk && set != rc::kNotFound) return set;
  }
}

}  // namespace

Result CopyProperties(RefPtr<PropertySet> destination, RefPtr<RecordSet> source) {
  return Copy(destination.Get(), source.Get(), Filter::kAll, PropertyNames());
}

Result CopyPropertiesIntoRecord(RecordSet* destination, RecordSet* source) {
  return Copy(destination, source, Filter::kAll, PropertyNames());
}

Result CopyPropertiesExcept(RefPtr<PropertySet> destination, RefPtr<RecordSet> source,
                            const PropertyNames& names) {
  return Copy(destination.Get(), source.Get(), Filter::kExcept, names);
}

Result CopyPropertiesOnly(RefPtr<PropertySet> destination, RefPtr<RecordSet> source,
                          const PropertyNames& names) {
  return Copy(destination.Get(), source.Get(), Filter::kOnly, names);
}
