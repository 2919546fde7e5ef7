#include "devices/msc/library_pass_backup.h"

#include <windows.h>

#include "db/simple_db.h"
#include "support/debug_trace.h"
#include "support/file_helpers.h"

namespace {

Result LastError() { return rc::FromWin32(GetLastError()); }

// Copies `from` to the new file `to` and flushes it to the disk. `from` is shared with the
// database's own handle, which writes it.
Result CopyFlushed(const std::string& from, const std::string& to) {
  HANDLE source = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE) return LastError();
  HANDLE target = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    const Result failure = LastError();
    CloseHandle(source);
    return failure;
  }
  static const DWORD kChunk = 1 << 16;
  char* buffer = new char[kChunk];
  Result result = rc::kOk;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source, buffer, kChunk, &read, nullptr)) {
      result = LastError();
      break;
    }
    if (read == 0) break;
    DWORD written = 0;
    if (!WriteFile(target, buffer, read, &written, nullptr) || written != read) {
      result = LastError();
      break;
    }
  }
  delete[] buffer;
  if (rc::Succeeded(result) && !FlushFileBuffers(target)) result = LastError();
  CloseHandle(target);
  CloseHandle(source);
  if (rc::Failed(result)) DeleteFileA(to.c_str());
  return result;
}

std::string UnfinishedCopyPath(const std::string& library) {
  return PassBackup::CopyPath(library) + ".tmp";
}

}  // namespace

PassBackup::PassBackup(const std::string& library, SimpleDB* db) : library_(library), db_(db) {
  if (library_.empty() || db_->Db() == nullptr) return;
  db_->Db()->SetWriteGate([this]() { return TakeCopy(); });
}

PassBackup::~PassBackup() {
  RemoveGate();
  if (hold_ != nullptr) CloseHandle(static_cast<HANDLE>(hold_));
}

void PassBackup::RemoveGate() {
  if (!library_.empty() && db_->Db() != nullptr) db_->Db()->SetWriteGate(nullptr);
}

Result PassBackup::TakeCopy() {
  if (rc::Failed(copy_failure_)) return copy_failure_;
  const std::string copy = CopyPath(library_);
  Result result = HoldExistingCopy(copy);
  if (result == rc::kNotFound) {
    // What was changed before the pass reaches the file first: the copy is a whole library.
    const std::string unfinished = UnfinishedCopyPath(library_);
    result = db_->Db()->Sync();
    if (rc::Succeeded(result)) result = CopyFlushed(library_, unfinished);
    // Named only once whole: an open never takes a part copy for the library.
    if (rc::Succeeded(result) && !MoveFileA(unfinished.c_str(), copy.c_str())) {
      result = LastError();
    }
    if (rc::Succeeded(result)) result = HoldExistingCopy(copy);
    if (rc::Failed(result)) {
      DeleteFileA(unfinished.c_str());
      DeleteFileA(copy.c_str());
    }
  }
  if (rc::Failed(result)) {
    TORVEX_TRACE("No copy of %s before the pass, rc = 0x%x: the pass writes nothing\n",
                 library_.c_str(), static_cast<unsigned>(result));
    copy_failure_ = result;
  }
  return result;
}

Result PassBackup::HoldExistingCopy(const std::string& copy) {
  // A copy that is there already was kept by an earlier pass that failed, and is the last
  // whole library; one that another pass holds makes this pass write nothing.
  HANDLE probe = CreateFileA(copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? rc::kNotFound : rc::FromWin32(error);
  }
  CloseHandle(probe);
  // Held without sharing its deletion, or writes: other opens of the library leave it alone.
  HANDLE hold = CreateFileA(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hold == INVALID_HANDLE_VALUE) return LastError();
  hold_ = hold;
  return rc::kOk;
}

void PassBackup::Finish(Result written_and_synced) {
  RemoveGate();
  if (hold_ == nullptr) return;
  CloseHandle(static_cast<HANDLE>(hold_));
  hold_ = nullptr;
  // A file that may be torn, or that closing will drop, keeps its copy for the next open.
  if (rc::Failed(written_and_synced) || db_->Inconsistent()) {
    db_->MarkInconsistent();
    return;
  }
  DeleteFileA(CopyPath(library_).c_str());
}

void PassBackup::RestoreInterruptedPass(const std::string& library) {
  if (library.empty()) return;
  DeleteFileA(UnfinishedCopyPath(library).c_str());  // a copy cut short: the library is whole
  const std::string copy = CopyPath(library);
  // Opened without sharing: fails while a pass under way holds it, or when there is none.
  HANDLE probe = CreateFileA(copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return;
  CloseHandle(probe);
  TORVEX_TRACE("A pass over %s was cut short: the copy taken before it goes back in place\n",
               library.c_str());
  // On Windows 9x the library goes first and the copy follows; a stop in between leaves the
  // copy alone, which the next open moves in place.
  const Result restored = ReplaceFileWith(copy, library);
  if (rc::Failed(restored)) {
    TORVEX_TRACE("Cannot move %s in place, rc = 0x%x\n", copy.c_str(),
                 static_cast<unsigned>(restored));
  }
}
