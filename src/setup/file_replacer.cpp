#include "setup/file_replacer.h"

#include <windows.h>

#include "setup/setup_codes.h"
#include "support/file_helpers.h"

namespace {

constexpr DWORD kProtectingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;

void ClearProtectingAttributes(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kProtectingAttributes))
    SetFileAttributesA(path.c_str(), attributes & ~kProtectingAttributes);
}

Result LastError() { return rc::FromWin32(GetLastError()); }

bool IsSharingViolation(Result code) { return code == setup_rc::kSharingViolation; }

// The short (8.3) form of an existing file's path, which is all WININIT.INI understands.
Result ShortPathOf(const std::string& path, std::string* short_path) {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        GetShortPathNameA(path.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
    if (length == 0) return LastError();
    if (length < buffer.size()) {
      buffer.resize(length);
      *short_path = buffer;
      return 0;
    }
    buffer.assign(length, '\0');
  }
}

// A file only has a short name once it exists: a destination that does not yet exist is made
// as an empty file, which WININIT.INI's rename then replaces.
Result ShortPathOfDestination(const std::string& path, std::string* short_path) {
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    HANDLE made = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made == INVALID_HANDLE_VALUE) return LastError();
    CloseHandle(made);
  }
  return ShortPathOf(path, short_path);
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
  const Result code = ReplaceFileWith(copy, destination);
  if (rc::Succeeded(code)) return 0;
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
  // Windows 9x ignores an entry with a long name, so both sides go in as short names.
  std::string short_source, short_destination;
  Result code = ShortPathOf(source, &short_source);
  if (code < 0) return code;
  code = ShortPathOfDestination(destination, &short_destination);
  if (code < 0) return code;
  const std::string wininit = windows_folder_ + "\\WININIT.INI";
  if (WritePrivateProfileStringA("rename", short_destination.c_str(), short_source.c_str(),
                                 wininit.c_str()))
    return 0;
  return LastError();
}
