// Writers that rewrite the tags of one audio file from keyed UTF-8 values, and the safe
// rewrite they share: new content goes to a sibling file ("<path>.new") that takes the
// original's place in one step, so a failure at any point leaves the original as it was.
#pragma once

#include <memory>
#include <string>

#include "support/result_codes.h"

class FileStream;

class TagWriter {
 public:
  virtual ~TagWriter() = default;
  // A later value for a key replaces the earlier one.
  virtual Result SetProperty(const char* key, const char* value) = 0;
  // Rewrites the file given at creation.
  virtual Result Write() = 0;
  // The file is new and no one's yet (an upload not yet recorded): where the new tags outgrow
  // their room, a writer that can may move the audio inside the file instead of copying the
  // whole file through the sibling, so a drive with room for the file once is enough. A failure
  // part-way then leaves the file damaged, which costs only the upload.
  virtual void PermitGrowthInPlace() {}
};

// The sibling of one rewrite; deleted again unless Commit put it in the original's place.
class SiblingFile {
 public:
  // `trace_source` names the writer in traces.
  SiblingFile(std::string path, const char* trace_source);
  ~SiblingFile();
  SiblingFile(const SiblingFile&) = delete;
  SiblingFile& operator=(const SiblingFile&) = delete;

  // Creates (or truncates) the sibling for reading and writing.
  Result Open();
  FileStream* Stream() { return stream_.get(); }
  const std::string& Name() const { return name_; }
  // Closes the sibling and puts it in the original's place in one step.
  Result Commit();

 private:
  std::string path_;
  std::string name_;
  const char* trace_source_;
  std::unique_ptr<FileStream> stream_;
  bool committed_ = false;
};

// Writes through DebugTrace with `source` in place of the file name.
void TraceWriter(const char* source, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
