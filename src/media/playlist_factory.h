// Picks the playlist reader or writer for a file by its extension ("m3u", "pls", "asx", "wax",
// "wmx", in any case).
#pragma once

#include <memory>
#include <string>

#include "media/playlist.h"
#include "media/tag_reader.h"  // rc::kNoTagHandler

// rc::kNoTagHandler (0x80048001) when no row matches, rc::kOutOfMemory when the object cannot
// be had; the out pointer is set only on success.
Result PlaylistReaderFactory(const std::string& path, std::unique_ptr<PlaylistReader>* reader);
Result PlaylistWriterFactory(const std::string& path, std::unique_ptr<PlaylistWriter>* writer);
