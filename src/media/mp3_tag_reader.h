// The tag reader of MP3 and MP2 files: ID3v2 (2.2 to 2.4) at the front, ID3v1/1.1 and Lyrics3
// at the end, the file name as the last resort for the title, and the MPEG stream analysis.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/id3_frames.h"
#include "media/mp3_tag_values.h"
#include "media/tag_reader.h"

class Mp3TagReader : public TagReader, private Id3FrameVisitor {
 public:
  explicit Mp3TagReader(std::string path) : TagReader(std::move(path)) {}

  // Tags only (for FLAC files that carry ID3v2 tags): no ID3v1, no Lyrics3, no MPEG analysis.
  void SetTagsOnly(bool tags_only) { tags_only_ = tags_only; }

  // Delivers "codec", "offset", "trailer", the tag keys, "options" 4096 for an embedded
  // picture, "rid", then the MPEG values. Unreadable or damaged tags deliver what they can;
  // the result is that of the fingerprint when it fails, else of the MPEG analysis.
  Result Read(SeekableStream* stream, TagSink* sink) override;
  // Over the audio between the ID3v2 tag and the tags at the end.
  Result Fingerprint(SeekableStream* stream, std::string* fingerprint) override;
  // The bytes of the last attached picture of the ID3v2 tag, or null.
  Result GetAlbumArt(SeekableStream* stream, std::unique_ptr<SeekableStream>* picture) override;

  // From the last operation: where the audio begins and how many bytes at the end are tags.
  uint32_t AudioStart() const { return audio_start_; }
  uint32_t Trailer() const { return trailer_; }

 private:
  void OnFrame(SeekableStream* stream, const Id3Frame& frame) override;
  // Notes where the picture data of a picture frame lies (or keeps it, when decoded).
  void OnPicture(SeekableStream* stream, const Id3Frame& frame);
  // Bytes at the end that belong to tags; gathers the ID3v1 fields into `values` when given.
  uint32_t FindTrailer(SeekableStream* stream, uint32_t size, Mp3TagValues* values);
  // Sets the audio start from the ID3v2 header and, when `walk`, visits its frames.
  void ReadId3v2(SeekableStream* stream, uint32_t size, bool walk);
  Result ComputeFingerprint(SeekableStream* stream, uint32_t size, std::string* fingerprint);
  void ClearContext();

  bool tags_only_ = false;
  uint32_t audio_start_ = 0;
  uint32_t trailer_ = 0;

  // The tag context of one Read or GetAlbumArt.
  bool pictures_only_ = false;
  Mp3TagValues values_;
  bool has_picture_ = false;
  uint32_t picture_start_ = 0;
  uint32_t picture_length_ = 0;
  // The decoded picture, for one that was unsynchronised in the file.
  std::string picture_bytes_;
  bool picture_decoded_ = false;
};

// The ID3v2 tags in front of a stream of another format (FLAC, Ogg): an Mp3TagReader in
// tags-only mode, without a fingerprint of its own, over the stream from its start.
// *audio_start receives where the tag ends (0 without one).
Result ReadFrontId3Tags(const std::string& path, SeekableStream* stream, TagSink* sink,
                        uint32_t* audio_start);

// The factory's creator for "mp2" and "mp3": rc::kOutOfMemory (and no reader) when the
// reader cannot be allocated.
Result CreateMp3TagReader(const std::string& path, std::unique_ptr<TagReader>* out);
