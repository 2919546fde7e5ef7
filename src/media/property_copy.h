// Copies the columns of one record into a property set: all of them, all but some names, or
// only some names. Names compare byte for byte.
#pragma once

#include <set>
#include <string>

#include "media/property_set.h"
#include "media/record_set.h"

typedef std::set<std::string> PropertyNames;

// 1 when every column was visited; rc::kBadIndex for a column of an unknown type, or the first
// other failure of a type query or a setter (a setter's rc::kNotFound counts as success).
Result CopyProperties(RefPtr<PropertySet> destination, RefPtr<RecordSet> source);
// Into the current row of any record set: names it has no column for are passed over.
Result CopyPropertiesIntoRecord(RecordSet* destination, RecordSet* source);
Result CopyPropertiesExcept(RefPtr<PropertySet> destination, RefPtr<RecordSet> source,
                            const PropertyNames& names);
Result CopyPropertiesOnly(RefPtr<PropertySet> destination, RefPtr<RecordSet> source,
                          const PropertyNames& names);
