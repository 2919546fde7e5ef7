// PLS playlists: an ini-style "[playlist]" section with FileN, TitleN and LengthN keys.
#pragma once

#include "media/playlist.h"

class PlsPlaylistReader : public PlaylistReader {
 public:
  using PlaylistReader::PlaylistReader;
  // Delivers every FileN key present, in the order of N, whatever NumberOfEntries says; a
  // "Version" above 2 delivers nothing.
  Result Read(PlaylistEntrySink* sink) override;
};

class PlsPlaylistWriter : public PlaylistWriter {
 public:
  using PlaylistWriter::PlaylistWriter;
  void AddEntry(const std::string& path, const std::string& title, const std::string& artist,
                uint32_t duration) override;
  Result Finish() override;
  uint32_t EstimatedSize() const override { return static_cast<uint32_t>(body_.size() + 40); }

 private:
  int count_ = 0;
  std::string body_;
};
