// Picks the tag writer for a file by its extension.
#pragma once

#include <memory>
#include <string>

#include "media/tag_reader.h"  // rc::kNoTagHandler
#include "media/tag_writer.h"

// `extension` empty: the path's. rc::kNoTagHandler when no writer serves it, rc::kOutOfMemory
// when none can be had; the out pointer is set only on success.
Result TagWriterFactory(const std::string& path, const std::string& extension,
                        std::unique_ptr<TagWriter>* writer);
