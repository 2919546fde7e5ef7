// Playlists on a player's drive: the reader and writer interfaces that every format (PLS, M3U,
// ASX) implements, the sink that receives what a reader finds, and the whole-file helpers.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

// Implemented by the caller of a reader.
class PlaylistEntrySink {
 public:
  virtual ~PlaylistEntrySink() = default;
  // The playlist's own title (ASX only), narrow text as found in the file.
  virtual Result SetTitle(const std::string& title) = 0;
  // An entry's absolute path in the ANSI code page; a negative result ends an M3U read.
  virtual Result AddEntry(const std::string& path) = 0;
};

class PlaylistReader {
 public:
  explicit PlaylistReader(std::string path) : path_(std::move(path)) {}
  virtual ~PlaylistReader() = default;
  virtual Result Read(PlaylistEntrySink* sink) = 0;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class PlaylistWriter {
 public:
  explicit PlaylistWriter(std::string path) : path_(std::move(path)) {}
  virtual ~PlaylistWriter() = default;
  // `title` and `artist` are UTF-8; `duration` in milliseconds. An entry whose path cannot be
  // brought to its canonical form is skipped.
  virtual void AddEntry(const std::string& path, const std::string& title,
                        const std::string& artist, uint32_t duration) = 0;
  // Writes the file; a failure leaves the old playlist in place.
  virtual Result Finish() = 0;
  virtual uint32_t EstimatedSize() const = 0;
  const std::string& Path() const { return path_; }
  // The folder that the entries are relative to.
  std::string Folder() const;

 protected:
  // The track's canonical path and the entry text that refers to it; false (nothing to add)
  // when the path has no canonical form.
  bool EntryFor(const std::string& track, std::string* canonical, std::string* entry) const;

 private:
  std::string path_;
};

// Reads a whole file (binary). C-runtime failure code.
Result ReadWholeFile(std::string* text, const std::string& path);
// Writes `text` to a new temporary file of this call's own beside the path and then puts that
// file in the place of the path in one step, so a failure at any point keeps the old file.
Result WriteFileReplacing(const std::string& path, const std::string& text);
// Drops a UTF-8 byte-order mark at the front; true when there was one.
bool StripUtf8ByteOrderMark(std::string* text);

// Makes an entry of a playlist in `folder` absolute (converting it from UTF-8 first when
// `utf8`) and hands it to the sink; the entry ends at a NUL byte, and one that is empty or
// cannot be made absolute is skipped (0).
// Otherwise the sink's result.
Result DeliverPlaylistEntry(PlaylistEntrySink* sink, const std::string& folder,
                            const std::string& entry, bool utf8);

// The canonical form of a track path, or false (paths of 260 characters and more).
bool CanonicalTrackPath(const std::string& path, std::string* canonical);
// The text under which a playlist in `base` refers to `path`: relative, '/' separated (a UNC
// path keeps its leading "\\"); paths with bytes beyond 7 bits go by their 8.3 form.
void PlaylistEntryPath(std::string* text, const std::string& base, const std::string& path);
