#include "setup/file_replacer.h"

#include <windows.h>

#include "setup/setup_codes.h"

namespace {

constexpr DWORD kProtectingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;

void ClearProtectingAttributes(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kProtectingAttributes))
    SetFileAttributesA(path.c_str(), attributes & ~kProtectingAttributes);
}

Result LastError() { return rc::FromWin32(GetLastError()); }

bool IsSharingViolation(Result code) { return code == setup_rc::kSharingViolation; }

// Puts a complete copy in the destination's place; Windows 9x has no MoveFileEx.
bool ReplaceWithCopy(const std::string& copy, const std::string& destination) {
  if (MoveFileExA(copy.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  if (!DeleteFileA(destination.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  return MoveFileA(copy.c_str(), destination.c_str()) != FALSE;
}

}  // namespace

std::string PendingCopyName(const std::string& destination) { return destination + ".new"; }

Result FileReplacer::Remove(const std::string& path, const std::string& new_name) {
  ClearProtectingAttributes(new_name);
  DeleteFileA(new_name.c_str());
  ClearProtectingAttributes(path);
  if (MoveFileA(path.c_str(), new_name.c_str())) {
    ClearProtectingAttributes(new_name);
    return 0;
  }
  const Result code = LastError();
  if (!IsSharingViolation(code)) return code;
  deferred_ = true;
  return DeferredMove(path, new_name);
}

Result FileReplacer::Install(const std::string& source, const std::string& destination) {
  // Deleting the destination first would leave nothing installed when the copy fails, while
  // the installed file's registration still points at it.
  const std::string copy = PendingCopyName(destination);
  ClearProtectingAttributes(copy);
  DeleteFileA(copy.c_str());
  if (!CopyFileA(source.c_str(), copy.c_str(), FALSE)) {
    const Result code = LastError();
    DeleteFileA(copy.c_str());
    if (!IsSharingViolation(code)) return code;
    deferred_ = true;
    return DeferredCopy(source, destination);
  }
  ClearProtectingAttributes(copy);
  ClearProtectingAttributes(destination);
  if (ReplaceWithCopy(copy, destination)) return 0;
  const Result code = LastError();
  if (!IsSharingViolation(code) && code != rc::FromWin32(ERROR_ACCESS_DENIED)) {
    DeleteFileA(copy.c_str());
    return code;
  }
  // The destination is in use: it is replaced when Windows restarts.
  DeleteFileA(copy.c_str());
  deferred_ = true;
  return DeferredCopy(source, destination);
}

Result FileReplacer::DeferredCopy(const std::string& source, const std::string& destination) {
  const std::string replacement = destination + ".replacement";
  ClearProtectingAttributes(replacement);
  if (!CopyFileA(source.c_str(), replacement.c_str(), FALSE)) return LastError();
  ClearProtectingAttributes(replacement);
  return DeferredMove(replacement, destination);
}

Result NtFileReplacer::DeferredMove(const std::string& source, const std::string& destination) {
  if (MoveFileExA(source.c_str(), destination.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
    return 0;
  return LastError();
}

Result Win9xFileReplacer::DeferredMove(const std::string& source,
                                       const std::string& destination) {
  const std::string wininit = windows_folder_ + "\\WININIT.INI";
  if (WritePrivateProfileStringA("rename", destination.c_str(), source.c_str(), wininit.c_str()))
    return 0;
  return LastError();
}
