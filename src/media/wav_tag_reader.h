// The tag reader of WAV files: format, duration and RIFF LIST INFO tags from the chunk walk.
#pragma once

#include <memory>
#include <string>

#include "media/tag_reader.h"

class WavTagReader : public TagReader {
 public:
  using TagReader::TagReader;
  // rc::kNotWave for another RIFF form, rc::kUnsupportedWaveFormat for a format other than
  // PCM, ADPCM or IMA ADPCM. Without both "fmt " and "data" no codec, duration or "rid".
  Result Read(SeekableStream* stream, TagSink* sink) override;
  Result Fingerprint(SeekableStream* stream, std::string* fingerprint) override;
};

Result CreateWavTagReader(const std::string& path, std::unique_ptr<TagReader>* out);
