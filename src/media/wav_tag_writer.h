// Rewrites the RIFF LIST INFO chunk of a WAV file: every other chunk is copied as it is and a
// new INFO list goes to the end, keeping the old entries that no value replaces.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/tag_writer.h"

class WavTagWriter : public TagWriter {
 public:
  explicit WavTagWriter(std::string path) : path_(std::move(path)) {}
  Result SetProperty(const char* key, const char* value) override;
  // rc::kNoTagHandler for a file that is no RIFF WAVE or whose chunks run past the RIFF size;
  // rc::kShortTransfer when it ends early.
  Result Write() override;

 private:
  std::string path_;
  std::map<std::string, std::string> values_;  // ANSI code page
};

// The LIST chunk of the INFO values (with its header), in the writer's fixed order, followed by
// the entries of the old INFO lists (`old_lists`: each list's body behind its type) that the
// values do not replace.
std::string BuildInfoList(const std::map<std::string, std::string>& values,
                          const std::vector<std::string>& old_lists);

Result CreateWavTagWriter(const std::string& path, std::unique_ptr<TagWriter>* out);
