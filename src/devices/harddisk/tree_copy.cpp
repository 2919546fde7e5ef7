#include "devices/harddisk/tree_copy.h"

#include "devices/harddisk/harddisk_results.h"

namespace {

bool SafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\:") == std::string::npos;
}

}  // namespace

std::string TreeCopy::Join(const std::string& base, const std::string& relative) {
  std::string joined = base;
  if (joined.empty() || joined.back() != '/') joined += '/';
  joined += !relative.empty() && relative[0] == '/' ? relative.substr(1) : relative;
  if (!joined.empty() && joined.back() == '/') joined.pop_back();
  return joined;
}

Result TreeCopy::Copy(FileSystem* source, const std::string& source_root,
                      FileSystem* destination, const std::string& destination_root,
                      ProgressSink* sink) {
  TreeCopy copy(source, source_root, destination, destination_root, sink);
  return copy.CopyDirectory("/");
}

Result TreeCopy::CopyDirectory(const std::string& relative) {
  std::unique_ptr<FsDirHandle> from, to;
  Result result = source_->OpenDir(Join(source_root_, relative), kFsRead, &from);
  if (rc::Failed(result)) return result;
  result = destination_->OpenDir(Join(destination_root_, relative), kFsCreate, &to);
  if (rc::Failed(result)) return result;
  DirEntryName entry;
  while (rc::Succeeded(from->ReadNext(&entry))) {
    if (!SafeName(entry.name)) return rc::kUnsafeName;
    result = CopyEntry(Join(relative, entry.name));
    if (rc::Failed(result)) return result;
  }
  return rc::kOk;
}

Result TreeCopy::CopyEntry(const std::string& relative) {
  stepper_.Step();
  std::unique_ptr<FsNodeHandle> handle;
  Result result = source_->Open(Join(source_root_, relative), &handle);
  if (rc::Failed(result)) return result;
  FsStat stat;
  result = handle->Stat(&stat);
  if (rc::Failed(result)) return result;
  handle.reset();
  switch (stat.kind) {
    case kFsFile: return CopyFile(relative);
    case kFsDirectory: return CopyDirectory(relative);
    default: return rc::kNotImplemented;
  }
}

Result TreeCopy::CopyFile(const std::string& relative) {
  std::unique_ptr<SeekableStream> from, to;
  Result result = OpenFileSystemStream(source_, Join(source_root_, relative), kFsStreamRead, &from);
  if (rc::Failed(result)) return result;
  result = OpenFileSystemStream(destination_, Join(destination_root_, relative),
                                kFsStreamWrite | kFsStreamCreate | kFsStreamReplace, &to);
  if (rc::Failed(result)) return result;
  return CopyStream(from.get(), to.get(), kChunk);
}
