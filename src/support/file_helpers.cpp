#include "support/file_helpers.h"

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <direct.h>

namespace {

Result LastWin32Error() { return rc::FromWin32(GetLastError()); }

DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER total, LARGE_INTEGER done, LARGE_INTEGER,
                                   LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID data) {
  CopyProgressSink* sink = static_cast<CopyProgressSink*>(data);
  if (sink == nullptr) return PROGRESS_CONTINUE;
  uint32_t scaled_done = 0;
  uint32_t scaled_total = 0;
  ScaleCopyProgress(static_cast<uint64_t>(done.QuadPart), static_cast<uint64_t>(total.QuadPart),
                    &scaled_done, &scaled_total);
  return rc::Failed(sink->OnCopyProgress(scaled_done, scaled_total)) ? PROGRESS_CANCEL
                                                                       : PROGRESS_CONTINUE;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct _stat info;
  return _stat(path.c_str(), &info) == 0;
}

Result UnlinkFile(const std::string& path) {
  return _unlink(path.c_str()) == 0 ? rc::kOk : rc::FromErrno(errno);
}

Result UnlinkFileForce(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastWin32Error();
  const DWORD locked = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
  if ((attributes & locked) != 0 && !SetFileAttributesA(path.c_str(), attributes & ~locked)) {
    return LastWin32Error();
  }
  return UnlinkFile(path);
}

Result SetHiddenAttribute(const std::string& path, bool hidden) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastWin32Error();
  const DWORD wanted = hidden ? (attributes | FILE_ATTRIBUTE_HIDDEN)
                              : (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  if (wanted == attributes) return rc::kOk;
  // FILE_ATTRIBUTE_NORMAL stands alone: with others it is refused.
  const DWORD written = wanted & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  return SetFileAttributesA(path.c_str(), written != 0 ? written : FILE_ATTRIBUTE_NORMAL)
             ? rc::kOk
             : LastWin32Error();
}

bool IsHiddenFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
}

Result RemoveEmptyDirectory(const std::string& path) {
  return _rmdir(path.c_str()) == 0 ? rc::kOk : rc::FromErrno(errno);
}

Result RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? rc::kOk : rc::FromErrno(errno);
}

Result ReplaceFileWith(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return rc::kOk;
  }
  if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return LastWin32Error();
  // Windows 9x exports MoveFileEx only as a stub: the old file goes first, then the new one
  // moves into its place (MoveFile copies across volumes there). The source is checked
  // before, so that a missing one never costs the destination.
  if (GetFileAttributesA(from.c_str()) == INVALID_FILE_ATTRIBUTES) return LastWin32Error();
  if (!DeleteFileA(to.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    return LastWin32Error();
  }
  return MoveFileA(from.c_str(), to.c_str()) ? rc::kOk : LastWin32Error();
}

Result MakeDirectories(const std::string& path, std::string* first_made) {
  if (first_made) first_made->clear();
  if (path.empty()) return rc::kOk;
  size_t scan = 1;
  if (path.compare(0, 2, "\\\\") == 0) {
    // \\server\share\ : the scan starts behind the share.
    const size_t server_end = path.find('\\', 2);
    if (server_end == std::string::npos) return rc::kOk;
    const size_t share_end = path.find('\\', server_end + 1);
    if (share_end == std::string::npos) return rc::kOk;
    scan = share_end + 1;
  }
  while (true) {
    const size_t separator = path.find_first_of("/\\", scan);
    const std::string prefix = path.substr(0, separator);
    const bool drive = prefix.size() == 2 && prefix[1] == ':';
    if (!drive && !prefix.empty()) {
      if (_mkdir(prefix.c_str()) == 0) {
        if (first_made && first_made->empty()) *first_made = prefix;
      } else if (errno != EEXIST) {
        return rc::FromErrno(errno);
      }
    }
    if (separator == std::string::npos) return rc::kOk;
    scan = separator + 1;
  }
}

Result DeleteTree(const std::string& path) {
  std::string list = path;
  list.push_back('\0');  // the list ends with two NULs
  SHFILEOPSTRUCTA operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = list.c_str();
  // No question, no error dialog, no progress window: a service provider has nobody to ask.
  operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  operation.lpszProgressTitle = "";
  const int status = SHFileOperationA(&operation);
  if (status != 0) return rc::FromWin32(static_cast<uint32_t>(status));
  if (operation.fAnyOperationsAborted) return rc::FromWin32(ERROR_CANCELLED);
  return rc::kOk;
}

void ScaleCopyProgress(uint64_t done, uint64_t total, uint32_t* scaled_done,
                       uint32_t* scaled_total) {
  while (total >= (uint64_t{1} << 29)) {
    total >>= 1;
    done >>= 1;
  }
  *scaled_done = static_cast<uint32_t>(done);
  *scaled_total = static_cast<uint32_t>(total);
}

Result CopyFileWithProgress(const std::string& source, const std::string& destination,
                            CopyProgressSink* sink) {
  if (!CopyFileExA(source.c_str(), destination.c_str(), CopyProgressRoutine, sink, nullptr, 0)) {
    return LastWin32Error();
  }
  return rc::kOk;
}

Result CreateTempFile(const std::string& prefix, int* descriptor, std::string* name) {
  char folder[MAX_PATH];
  if (GetTempPathA(MAX_PATH, folder) == 0) {
    return static_cast<Result>((GetLastError() & 0xFFFF) | 0x80070000u);
  }
  char file[MAX_PATH];
  if (GetTempFileNameA(folder, prefix.c_str(), 0, file) == 0) {
    return static_cast<Result>((GetLastError() & 0xFFFF) | 0x80070000u);
  }
  const int fd = _open(file, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return rc::FromErrno(errno);
  if (descriptor != nullptr) {
    *descriptor = fd;
  } else {
    _close(fd);
  }
  *name = file;
  return rc::kOk;
}

Result TempFileName(const std::string& prefix, std::string* name) {
  return CreateTempFile(prefix, nullptr, name);
}

Result CreateSiblingTempFile(const std::string& path, std::string* name) {
  std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
  if (folder.empty()) folder = ".";
  char file[MAX_PATH + 1] = {};
  if (GetTempFileNameA(folder.c_str(), "TKM", 0, file) == 0) return LastWin32Error();
  *name = file;
  return rc::kOk;
}

uint32_t DriveTypeOf(const std::string& path) { return GetDriveTypeA(path.c_str()); }

Result DiskSpace(const std::string& path, uint64_t* total, uint64_t* available, uint64_t* used) {
  ULARGE_INTEGER caller_free;
  ULARGE_INTEGER size;
  if (!GetDiskFreeSpaceExA(path.c_str(), &caller_free, &size, nullptr)) return LastWin32Error();
  if (total != nullptr) *total = size.QuadPart;
  if (available != nullptr) *available = caller_free.QuadPart;
  if (used != nullptr) *used = size.QuadPart - caller_free.QuadPart;
  return rc::kOk;
}

Result ClusterSize(const std::string& path, uint32_t* bytes) {
  DWORD sectors_per_cluster = 0;
  DWORD bytes_per_sector = 0;
  DWORD free_clusters = 0;
  DWORD clusters = 0;
  if (!GetDiskFreeSpaceA(path.c_str(), &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                         &clusters)) {
    return LastWin32Error();
  }
  *bytes = sectors_per_cluster * bytes_per_sector;
  return rc::kOk;
}
