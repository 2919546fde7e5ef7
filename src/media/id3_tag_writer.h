// Rewrites the ID3v2 tag in front of an MP3 file as version 2.3 (in place when the new frames
// fit the old tag, else through a sibling file, or by moving the audio back inside the file
// when growth in place is permitted) and updates an ID3v1 trailer in place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "media/id3_frames.h"
#include "media/id3v23_frames.h"
#include "media/tag_writer.h"
#include "support/file_stream.h"

class Id3TagWriter : public TagWriter, private Id3FrameVisitor {
 public:
  explicit Id3TagWriter(std::string path);
  // A key of the frame table replaces its frame (an empty value, or "0" for a number, only
  // removes it); the ID3v1 fields take title, artist, source, year, comment, tracknr, genre.
  Result SetProperty(const char* key, const char* value) override;
  Result Write() override;
  void PermitGrowthInPlace() override { grow_in_place_ = true; }
  // How the file is opened for its rewrite (OpenFileStream unless a test puts a stream that
  // fails part-way in its place).
  using FileOpener = std::function<Result(const std::string& path, uint32_t flags,
                                          std::unique_ptr<FileStream>* out)>;
  void SetFileOpener(FileOpener opener) { open_file_ = std::move(opener); }

 private:
  // Whether an old frame gives way to a new value: any frame of a replaced id, but of the
  // comments only the first without a description.
  bool Replaces(const std::string& id, const std::string& body);
  void OnFrame(SeekableStream* stream, const Id3Frame& frame) override;
  // Compressed and encrypted frames are kept as stored (2.4 ones in 2.3's frame layout).
  void OnSealedFrame(SeekableStream* stream, const Id3Frame& frame) override;
  void KeepId3v23Frame(const Id3Frame& frame, uint8_t format_flags, const std::string& body);
  // Writes the new tag behind the old one's place through the sibling file.
  Result RewriteThroughSibling(FileStream* original, uint32_t old_size, const std::string& frames);
  // Moves everything behind the old tag back by the growth, last block first, and writes the
  // new tag in front; the file is cut back to its old size when it cannot grow.
  Result GrowInPlace(FileStream* file, uint32_t file_size, uint32_t old_size,
                     const std::string& frames);
  Result UpdateId3v1InPlace();

  std::string path_;
  std::set<std::string> replaced_;
  struct NewFrame {
    std::string id;
    std::string bytes;  // empty: the frame only goes
  };
  std::vector<NewFrame> new_frames_;  // in call order
  std::string kept_frames_;
  uint8_t id3v1_[128] = {};
  uint8_t id3v1_mask_ = 0;
  bool grow_in_place_ = false;
  FileOpener open_file_;
  bool comment_replaced_ = false;  // during a walk
};

Result CreateId3TagWriter(const std::string& path, std::unique_ptr<TagWriter>* out);
