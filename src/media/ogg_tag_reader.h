// The tag reader of Ogg Vorbis files: comments and stream information through vorbisfile, an
// ID3v2 tag in front taking precedence over the comments.
#pragma once

#include <memory>
#include <string>

#include "media/tag_reader.h"

class OggTagReader : public TagReader {
 public:
  using TagReader::TagReader;
  // rc::kNoTagHandler when vorbisfile cannot open the stream as Vorbis.
  Result Read(SeekableStream* stream, TagSink* sink) override;
  // Over the audio pages behind the three Vorbis header packets. rc::kBadData when the data
  // ends before them.
  Result Fingerprint(SeekableStream* stream, std::string* fingerprint) override;
};

Result CreateOggTagReader(const std::string& path, std::unique_ptr<TagReader>* out);
