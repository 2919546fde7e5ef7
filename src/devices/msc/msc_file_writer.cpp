#include "devices/msc/msc_file_writer.h"

#include <windows.h>

#include <cstring>

#include "devices/msc/msc_file_source.h"
#include "devices/msc/track_path.h"
#include "media/property_holder.h"
#include "support/file_helpers.h"
#include "support/path_helpers.h"
#include "support/stream_io.h"
#include "support/text_convert.h"

MscFileWriter::MscFileWriter(const std::string& drive_root, MscFileSource* file_source,
                             RefCounted* owner)
    : BlockWriter(kBlockSize), owner_(owner), drive_root_(drive_root), file_source_(file_source) {}

MscFileWriter::~MscFileWriter() { Abort(); }

Result MscFileWriter::Begin() {
  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(drive_root_.c_str(), "TKMSC", 0, name) == 0) {
    DWORD error = GetLastError();
    return error == 0 ? rc::kFail : rc::FromWin32(error);
  }
  temporary_path_ = name;
  return OpenFileStream(name, OpenWrite | OpenCreate, &temporary_);
}

Result MscFileWriter::WriteBlock(const uint8_t* block, uint32_t length) {
  if (!temporary_) return rc::kFail;
  return WriteExact(temporary_.get(), block, length);
}

void MscFileWriter::CloseTemporary() {
  if (temporary_) temporary_->Close();
  temporary_.reset();
}

Result MscFileWriter::Cancel() {
  CloseTemporary();
  if (!temporary_path_.empty()) UnlinkFile(temporary_path_);
  temporary_path_.clear();
  return rc::kOk;
}

Result MscFileWriter::Destination(PropertyHolder& file, std::string* path) const {
  std::string name = Utf8ToLatin1(file.GetString("name"));
  // The WMDM upload hands over the bare file name: only a full path on this drive is taken.
  if (name.size() > drive_root_.size() &&
      _strnicmp(name.c_str(), drive_root_.c_str(), drive_root_.size()) == 0) {
    *path = name;
    return rc::kOk;
  }
  return BuildTrackPath(*file.GetSet(), drive_root_[0], path);
}

Result MscFileWriter::FinishFile(PropertyHolder& file) {
  CloseTemporary();
  std::string destination;
  Result result = Destination(file, &destination);
  if (rc::Failed(result)) return result;
  result = RenameFile(temporary_path_, destination);
  if (rc::Failed(result)) return result;
  temporary_path_.clear();
  file.SetString("name", Latin1ToUtf8(destination));
  file.SetString("directory", Latin1ToUtf8(DirectoryPart(destination)));
  return file_source_->RecordNewFile(file);
}
