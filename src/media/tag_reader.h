// Readers that turn one audio file into keyed values of the system's vocabulary ("title",
// "artist", "duration" ...), delivered through a TagSink, and the content fingerprint "rid"
// that recognises the same music in two files whose tags differ.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/result_codes.h"

class SeekableStream;

namespace rc {
constexpr Result kNoTagHandler = static_cast<Result>(0x80048001);  // extension or file kind
}  // namespace rc

// Implemented by the callers; a later value for a key overwrites the earlier one.
class TagSink {
 public:
  virtual ~TagSink() = default;
  virtual void SetInt(const char* key, uint32_t value) = 0;
  // `value` is NUL-terminated UTF-8.
  virtual void SetString(const char* key, const char* value) = 0;
};

// One object per file to be read; used by one thread at a time.
class TagReader {
 public:
  explicit TagReader(std::string path) : path_(std::move(path)) {}
  virtual ~TagReader() = default;

  // Opens the file for reading and calls Read; the file is closed in either case.
  virtual Result ReadFile(const std::string& path, TagSink* sink);
  // Reads the tags of an open stream; also delivers "rid" while fingerprinting is on.
  virtual Result Read(SeekableStream* stream, TagSink* sink) = 0;
  virtual Result FingerprintFile(const std::string& path, std::string* fingerprint);
  virtual Result Fingerprint(SeekableStream* stream, std::string* fingerprint) = 0;
  // A stream over a picture embedded in the file, owned by the caller, or none (null).
  // `stream` must outlive the picture stream.
  virtual Result GetAlbumArt(SeekableStream* stream, std::unique_ptr<SeekableStream>* picture);

  void SetComputeFingerprint(bool compute) { compute_fingerprint_ = compute; }
  bool ComputesFingerprint() const { return compute_fingerprint_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  bool compute_fingerprint_ = true;
};
