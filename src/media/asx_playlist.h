// ASX playlists ("asx", "wax", "wmx"): an <asx> root with a <title> and <entry> elements, each
// with a <ref href="..."/>.
#pragma once

#include "media/playlist.h"

class AsxPlaylistReader : public PlaylistReader {
 public:
  using PlaylistReader::PlaylistReader;
  // Delivers the title directly inside the root and every ref's href, made absolute.
  Result Read(PlaylistEntrySink* sink) override;
};

class AsxPlaylistWriter : public PlaylistWriter {
 public:
  using PlaylistWriter::PlaylistWriter;
  void AddEntry(const std::string& path, const std::string& title, const std::string& artist,
                uint32_t duration) override;
  Result Finish() override;
  uint32_t EstimatedSize() const override { return static_cast<uint32_t>(body_.size() + 40); }

 private:
  std::string body_;
};
