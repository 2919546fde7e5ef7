// The operations on open handles: Close, the transfers, Seek, Pop, listing, attributes, Flush
// and Debug.
#include <cstring>

#include "fs/fs_manager.h"
#include "platform/ir_block_device.h"

namespace {

bool IsFile(const FsHandle* handle) { return handle->node->kind == fs_node::kFile; }
bool IsDirectory(const FsHandle* handle) { return handle->node->kind == fs_node::kDirectory; }
bool CanWrite(const FsHandle* handle) {
  return (handle->flags & fs_open::kWrite) && !handle->Volume()->ReadOnly();
}

// The position that an offset from base 0 (start), 1 (current) or 2 (end) names; false for
// another base or a position before the start of the file.
bool Resolve(const FsHandle* handle, int64_t offset, int base, uint64_t* position) {
  int64_t origin = base == 0   ? 0
                   : base == 1 ? static_cast<int64_t>(handle->position)
                   : base == 2 ? static_cast<int64_t>(handle->node->size)
                               : -1;
  if (origin < 0 || origin + offset < 0) return false;
  *position = static_cast<uint64_t>(origin + offset);
  return true;
}

uint64_t Cost(FsHandle* handle, int slot, uint64_t a = 0, uint64_t b = 0) {
  FsCostFn cost = handle->Volume()->type->costs[slot];
  return cost ? cost(nullptr, handle, handle->Volume(), a, b) : 0;
}

}  // namespace

Result FsManager::Close(FsHandle* handle, const FsTiming* timing) {
  if (!handle) return fsrc::kInvalidArgument;
  FsRequestScope scope(scheduler_, "Close", 2, handle->Volume(), timing,
                  Cost(handle, fs_cost::kFlush) + Cost(handle, fs_cost::kClose) +
                      Cost(handle, fs_cost::kCloseNode));
  // The handle is freed whatever the flush reports; the caller learns of a failed write.
  return CloseHandle(scope.request(), handle);
}

Result FsManager::ReadFile(FsHandle* handle, void* buffer, uint32_t length, uint32_t* count,
                           const FsTiming* timing) {
  Transfer record = {buffer, length, 0, 0};
  Result result = RunTransfers(false, handle, &record, 1, nullptr, timing);
  if (!fsrc::Failed(result) && count) *count = record.transferred;
  return result;
}

Result FsManager::WriteFile(FsHandle* handle, const void* buffer, uint32_t length,
                            uint32_t* count, const FsTiming* timing) {
  Transfer record = {const_cast<void*>(buffer), length, 0, 0};
  Result result = RunTransfers(true, handle, &record, 1, nullptr, timing);
  if (!fsrc::Failed(result) && count) *count = record.transferred;
  return result;
}

Result FsManager::VReadFile(FsHandle* handle, Transfer* records, uint32_t count,
                            uint32_t* processed, const FsTiming* timing) {
  return RunTransfers(false, handle, records, count, processed, timing);
}

Result FsManager::VWriteFile(FsHandle* handle, Transfer* records, uint32_t count,
                             uint32_t* processed, const FsTiming* timing) {
  return RunTransfers(true, handle, records, count, processed, timing);
}

Result FsManager::RunTransfers(bool write, FsHandle* handle, Transfer* records, uint32_t count,
                           uint32_t* processed, const FsTiming* timing) {
  if (processed) *processed = 0;
  if (!handle || (count > 0 && !records)) return fsrc::kInvalidArgument;
  if (write ? !CanWrite(handle) : !(handle->flags & fs_open::kRead)) return fsrc::kReadOnly;
  if (!IsFile(handle)) return fsrc::kNotAFile;
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) total += records[i].length;
  FsRequestScope scope(scheduler_, write ? "WriteFile" : "ReadFile", 1, handle->Volume(), timing,
                  Cost(handle, write ? fs_cost::kWrite : fs_cost::kRead, total));
  const FsType* type = handle->Volume()->type;
  for (uint32_t i = 0; i < count; ++i) {
    Transfer& record = records[i];
    record.transferred = 0;
    record.result = write ? type->write(scope.request(), handle, record.buffer, record.length,
                                        &record.transferred)
                          : type->read(scope.request(), handle, record.buffer, record.length,
                                       &record.transferred);
    if (processed) ++*processed;
    if (record.result != fsrc::kOk) return record.result;
  }
  return fsrc::kOk;
}

Result FsManager::Seek(FsHandle* handle, int64_t offset, int base, uint64_t* position) {
  if (!handle) return fsrc::kInvalidArgument;
  if (!IsFile(handle)) return fsrc::kNotAFile;
  FsRequestScope scope(scheduler_, "Seek", 1, handle->Volume(), nullptr, Cost(handle, fs_cost::kSeek));
  // A position before the start of the file is refused rather than wrapped to a huge one.
  uint64_t target = 0;
  if (!Resolve(handle, offset, base, &target)) return fsrc::kInvalidArgument;
  handle->position = target;
  if (position) *position = target;
  return fsrc::kOk;
}

Result FsManager::Pop(FsHandle* handle, int64_t position, int base, uint64_t length,
                      uint64_t hint, uint32_t word, uint32_t populate, const FsTiming* timing) {
  if (!handle) return fsrc::kInvalidArgument;
  if (!IsFile(handle)) return fsrc::kNotAFile;
  if (!CanWrite(handle)) return fsrc::kReadOnly;
  FsRequestScope scope(scheduler_, "Pop", 1, handle->Volume(), timing, Cost(handle, fs_cost::kPop));
  uint64_t target = 0;
  if (!Resolve(handle, position, base, &target)) return fsrc::kInvalidArgument;
  return handle->Volume()->type->pop(scope.request(), handle, target, length, hint, word,
                                     populate);
}

Result FsManager::ReadDir(FsHandle* handle, char* buffer, uint32_t size,
                          const FsTiming* timing) {
  if (!handle || !buffer) return fsrc::kInvalidArgument;
  if (!IsDirectory(handle)) return fsrc::kNotADirectory;
  FsRequestScope scope(scheduler_, "ReadDir", 2, handle->Volume(), timing,
                  Cost(handle, fs_cost::kReadDir));
  return handle->Volume()->type->read_dir(scope.request(), handle, buffer, size);
}

Result FsManager::RewindDir(FsHandle* handle, const FsTiming* timing) {
  if (!handle) return fsrc::kInvalidArgument;
  if (!IsDirectory(handle)) return fsrc::kNotADirectory;
  FsRequestScope scope(scheduler_, "RewindDir", 2, handle->Volume(), timing,
                  Cost(handle, fs_cost::kRewindDir));
  return handle->Volume()->type->rewind_dir(scope.request(), handle);
}

Result FsManager::SetAttr(FsHandle* handle, uint32_t id, const void* value,
                          uint32_t value_length, void* out, uint32_t out_size,
                          const FsTiming* timing) {
  if (!handle) return fsrc::kInvalidArgument;
  if (id == 0) return fsrc::kInvalidArgument;
  FsRequestScope scope(scheduler_, "SetAttr", 2, handle->Volume(), timing,
                  Cost(handle, fs_cost::kSeek, id, value ? 1 : 0));
  FsMount* volume = handle->Volume();
  uint8_t word[8];
  uint32_t width = 0;
  switch (id) {
    case 1:
      memcpy(word, &handle->node->kind, 4);
      width = 4;
      break;
    case 2:
      if (!IsFile(handle)) return fsrc::kNotAFile;
      if (!out) {
        if (!value) return fsrc::kOk;
        if (value_length != 8) return fsrc::kBufferTooSmall;
        if (!CanWrite(handle)) return fsrc::kReadOnly;
        return volume->type->attr(scope.request(), handle, id, value, value_length, out,
                                  out_size);
      }
      if (out_size < 8) return fsrc::kBufferTooSmall;
      memcpy(out, &handle->node->size, 8);
      return fsrc::kOk;
    case 3:
      memcpy(word, &volume->attribute3, 4);
      width = 4;
      break;
    case 6: {
      if (!volume->device) return fsrc::kInvalidArgument;
      uint32_t sector_size = devices_->SectorSize(volume->device);
      memcpy(word, &sector_size, 4);
      width = 4;
      break;
    }
    default:
      return volume->type->attr(scope.request(), handle, id, value, value_length, out,
                                out_size);
  }
  if (value) return fsrc::kReadOnlyAttribute;
  if (!out) return fsrc::kOk;
  if (out_size < width) return fsrc::kBufferTooSmall;
  memcpy(out, word, width);
  return fsrc::kOk;
}

Result FsManager::Flush(FsHandle* handle, const FsTiming* timing) {
  if (handle) {
    FsRequestScope scope(scheduler_, "Flush", 2, handle->Volume(), timing,
                    Cost(handle, fs_cost::kFlush));
    return handle->Volume()->type->flush_file(scope.request(), handle);
  }
  FsRequestScope scope(scheduler_, "Flush", 2, nullptr, timing, 0);
  // Every volume is synced even when one fails; the first failure is reported.
  Result result = fsrc::kOk;
  for (FsMount* volume : volumes_) {
    Result synced = volume->type->sync_volume(scope.request(), volume);
    if (!fsrc::Failed(result) && synced != fsrc::kNotSupported) result = synced;
  }
  return result;
}

Result FsManager::Debug(FsHandle* handle, uint32_t mode, void* first, void* second) {
  if (!handle) return fsrc::kInvalidArgument;
  FsRequestScope scope(scheduler_, "Debug", 2, handle->Volume(), nullptr, 0);
  if (mode == 1) return fsrc::kOk;
  return handle->Volume()->type->debug(scope.request(), handle, mode, first, second);
}
