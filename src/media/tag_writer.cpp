#include "media/tag_writer.h"

#include <cstdarg>

#include "support/debug_trace.h"
#include "support/file_helpers.h"
#include "support/file_stream.h"

void TraceWriter(const char* source, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugTrace::FormatV(source, 0, format, args);
  va_end(args);
}

SiblingFile::SiblingFile(std::string path, const char* trace_source)
    : path_(std::move(path)), name_(path_ + ".new"), trace_source_(trace_source) {}

SiblingFile::~SiblingFile() {
  if (committed_) return;
  if (stream_) stream_->Close();
  if (FileExists(name_)) UnlinkFile(name_);
}

Result SiblingFile::Open() {
  return OpenFileStream(name_.c_str(),
                        OpenRead | OpenWrite | OpenCreate | OpenTruncate | OpenSequential,
                        &stream_);
}

Result SiblingFile::Commit() {
  Result r = stream_ ? stream_->Close() : rc::kOk;
  if (rc::Failed(r)) return r;
  r = ReplaceFileWith(name_, path_);
  if (rc::Failed(r)) {
    TraceWriter(trace_source_, "Disaster, can't rename new to old (%x)\n",
                static_cast<unsigned>(r));
    return r;
  }
  committed_ = true;
  return rc::kOk;
}
