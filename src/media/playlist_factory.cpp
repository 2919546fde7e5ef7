#include "media/playlist_factory.h"

#include <cstring>

#include "media/asx_playlist.h"
#include "media/create_for_path.h"
#include "media/m3u_playlist.h"
#include "media/pls_playlist.h"
#include "support/path_helpers.h"

namespace {

template <typename Base>
struct Row {
  const char* extension;
  Result (*create)(const std::string& path, std::unique_ptr<Base>* out);
};

const Row<PlaylistReader> kReaders[] = {
    {"m3u", CreateForPath<PlaylistReader, M3uPlaylistReader>},
    {"pls", CreateForPath<PlaylistReader, PlsPlaylistReader>},
    {"asx", CreateForPath<PlaylistReader, AsxPlaylistReader>},
    {"wax", CreateForPath<PlaylistReader, AsxPlaylistReader>},
    {"wmx", CreateForPath<PlaylistReader, AsxPlaylistReader>},
};

const Row<PlaylistWriter> kWriters[] = {
    {"m3u", CreateForPath<PlaylistWriter, M3uPlaylistWriter>},
    {"pls", CreateForPath<PlaylistWriter, PlsPlaylistWriter>},
    {"asx", CreateForPath<PlaylistWriter, AsxPlaylistWriter>},
    {"wax", CreateForPath<PlaylistWriter, AsxPlaylistWriter>},
    {"wmx", CreateForPath<PlaylistWriter, AsxPlaylistWriter>},
};

template <typename Base, size_t N>
Result CreateFor(const Row<Base> (&table)[N], const std::string& path,
                 std::unique_ptr<Base>* out) {
  const std::string extension = FileExtension(path);
  for (const Row<Base>& row : table) {
    if (_stricmp(row.extension, extension.c_str()) == 0) return row.create(path, out);
  }
  return rc::kNoTagHandler;
}

}  // namespace

Result PlaylistReaderFactory(const std::string& path, std::unique_ptr<PlaylistReader>* reader) {
  return CreateFor(kReaders, path, reader);
}

Result PlaylistWriterFactory(const std::string& path, std::unique_ptr<PlaylistWriter>* writer) {
  return CreateFor(kWriters, path, writer);
}
