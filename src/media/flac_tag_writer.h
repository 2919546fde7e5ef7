// Rewrites the Vorbis comments of a FLAC file through libFLAC's metadata chain (and an ID3v2
// tag in front of the stream, when there is one).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "media/tag_writer.h"

class FlacTagWriter : public TagWriter {
 public:
  explicit FlacTagWriter(std::string path) : path_(std::move(path)) {}
  Result SetProperty(const char* key, const char* value) override;
  // The new metadata is written into a copy that then replaces the file; a file libFLAC
  // cannot read or write gives a failure and stays as it was.
  Result Write() override;
  // The metadata is then edited in the file itself where it fits its room (padding included);
  // only metadata that outgrows it is written into a new file.
  void PermitGrowthInPlace() override { grow_in_place_ = true; }

 private:
  Result WriteComments();

  std::string path_;
  std::map<std::string, std::string> values_;
  bool grow_in_place_ = false;
};

Result CreateFlacTagWriter(const std::string& path, std::unique_ptr<TagWriter>* out);
