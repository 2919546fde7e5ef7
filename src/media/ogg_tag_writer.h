// Rewrites the comment header of an Ogg Vorbis file: the old comments are kept except the
// fields being written, and every other page is copied (pages of other logical streams too).
// An ID3v2 tag in front of the stream stays there, with the values written into it as well.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "media/tag_writer.h"

class OggVorbisTagWriter : public TagWriter {
 public:
  explicit OggVorbisTagWriter(std::string path) : path_(std::move(path)) {}
  Result SetProperty(const char* key, const char* value) override;
  // rc::kNoTagHandler when the first logical stream does not begin with the three Vorbis
  // header packets; rc::kBadData for a file that ends inside a page. A failure leaves the file
  // as it was.
  Result Write() override;

 private:
  // Writes the values into the ID3 tag in front of the stream in the file at `path`.
  Result WriteId3Tag(const std::string& path) const;

  std::string path_;
  std::map<std::string, std::string> values_;
};

Result CreateOggVorbisTagWriter(const std::string& path, std::unique_ptr<TagWriter>* out);
