// The tag reader of FLAC files: stream information and Vorbis comments through libFLAC's
// stream decoder (metadata only), with an ID3v2 tag in front taking precedence.
#pragma once

#include <memory>
#include <string>

#include "media/tag_reader.h"

class FlacTagReader : public TagReader {
 public:
  using TagReader::TagReader;
  // Delivers the ID3v2 tags when there are any, else the Vorbis comments; then "codec",
  // "samplerate", "duration", "length", "bitrate" and "rid" over the audio frames.
  Result Read(SeekableStream* stream, TagSink* sink) override;
  // Over the audio frames behind the metadata, so tag edits do not change it.
  Result Fingerprint(SeekableStream* stream, std::string* fingerprint) override;
};

// Runs the decoder to the end of the metadata; `sink` may be null. *audio_start receives where
// the audio frames begin. rc::kOutOfMemory, rc::kBadData when the decoder cannot start or the
// stream is no FLAC stream, else the first read or seek failure.
Result RunFlacMetadata(SeekableStream* stream, TagSink* sink, bool deliver_comments,
                       uint32_t* audio_start);

Result CreateFlacTagReader(const std::string& path, std::unique_ptr<TagReader>* out);
