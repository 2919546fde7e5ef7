// Picks the tag reader for a file by its extension.
#pragma once

#include <memory>
#include <string>

#include "media/tag_reader.h"
#include "support/path_helpers.h"

// Creates the reader for `path`: 0, or rc::kOutOfMemory when it cannot be allocated (the out
// reference is then not set).
typedef Result (*TagReaderCreator)(const std::string& path, std::unique_ptr<TagReader>* reader);

struct TagReaderRow {
  const char* extension;  // nullptr ends a table
  TagReaderCreator create;
};

// The readers by extension, in the order they are tried; ends with a row of nullptrs.
const TagReaderRow* TagReaderTable();

// Creates the reader of the first row whose extension equals `extension` (or, when that is
// empty, the path's), case-insensitively. rc::kNoTagHandler when no row matches.
Result TagReaderFactory(const std::string& path, const std::string& extension,
                        std::unique_ptr<TagReader>* reader);
// The same over another table (tests).
Result TagReaderFactory(const TagReaderRow* table, const std::string& path,
                        const std::string& extension, std::unique_ptr<TagReader>* reader);
