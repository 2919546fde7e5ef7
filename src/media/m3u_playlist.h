// M3U playlists: one path a line, "#" lines are comments ("#EXTM3U", "#EXTINF:").
#pragma once

#include "media/playlist.h"

class M3uPlaylistReader : public PlaylistReader {
 public:
  using PlaylistReader::PlaylistReader;
  // A negative result of the sink ends the read with that result.
  Result Read(PlaylistEntrySink* sink) override;
};

class M3uPlaylistWriter : public PlaylistWriter {
 public:
  using PlaylistWriter::PlaylistWriter;
  // The first entry decides: with a title, an artist or a duration the file is extended.
  void AddEntry(const std::string& path, const std::string& title, const std::string& artist,
                uint32_t duration) override;
  Result Finish() override;
  uint32_t EstimatedSize() const override { return static_cast<uint32_t>(body_.size()); }

 private:
  bool started_ = false;
  bool extended_ = false;
  std::string body_;
};
