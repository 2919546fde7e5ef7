#include "media/playlist_factory.h"

#include <cstring>
#include <new>

#include "media/asx_playlist.h"
#include "media/m3u_playlist.h"
#include "media/pls_playlist.h"
#include "support/path_helpers.h"

namespace {

template <typename Base, typename T>
Result Create(const std::string& path, std::unique_ptr<Base>* out) {
  T* object = new (std::nothrow) T(path);
  if (object == nullptr) return rc::kOutOfMemory;
  out->reset(object);
  return rc::kOk;
}

template <typename Base>
struct Row {
  const char* extension;
  Result (*create)(const std::string& path, std::unique_ptr<Base>* out);
};

const Row<PlaylistReader> kReaders[] = {
    {"m3u", Create<PlaylistReader, M3uPlaylistReader>},
    {"pls", Create<PlaylistReader, PlsPlaylistReader>},
    {"asx", Create<PlaylistReader, AsxPlaylistReader>},
    {"wax", Create<PlaylistReader, AsxPlaylistReader>},
    {"wmx", Create<PlaylistReader, AsxPlaylistReader>},
};

const Row<PlaylistWriter> kWriters[] = {
    {"m3u", Create<PlaylistWriter, M3uPlaylistWriter>},
    {"pls", Create<PlaylistWriter, PlsPlaylistWriter>},
    {"asx", Create<PlaylistWriter, AsxPlaylistWriter>},
    {"wax", Create<PlaylistWriter, AsxPlaylistWriter>},
    {"wmx", Create<PlaylistWriter, AsxPlaylistWriter>},
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
