#include <windows.h>

#include "fs/winfs.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "fs/fs_manager.h"
#include "platform/block_device.h"
#include "support/byte_order.h"

const char kWinFsHostRoot[] = "r:/Targets/DiskImage/System";

namespace {

constexpr size_t kMaxHostPath = 1024;
constexpr uint64_t kEpochMilliseconds = 0xA9730B66800ull;  // 1601-01-01 to 1970-01-01

// The device WinFS is mounted from; it holds no sectors.
class WinFsDevice : public BlockDevice {
 public:
  WinFsDevice() : BlockDevice("WINFS", 0) {}
  uint64_t Capacity() override { return 0; }
  uint32_t SectorSize() override { return 512; }
  int Read(uint64_t, uint32_t, void*, uint32_t) override { return device_status::kBadRequest; }
  int Write(uint64_t, uint32_t, const void*, uint32_t) override {
    return device_status::kBadRequest;
  }
  int Control(uint32_t code, void* buffer, uint32_t size) override {
    if (code != 4 || size < 152) return device_status::kBadRequest;
    uint8_t* record = static_cast<uint8_t*>(buffer);
    memset(record, 0, 152);
    bytes::PutLe32(record, 1);  // no partitions: MountAll passes it by
    memcpy(record + 8, "WINFS", 5);
    return device_status::kOk;
  }
};

struct WinNode {
  std::string path;
  bool directory = false;
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE search = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA found;
  bool found_pending = false;  // the search's current record is not listed yet
};

WinNode* NodeOf(const FsHandle* handle) { return static_cast<WinNode*>(handle->node->state); }

// Names that differ only in case are one host file: the node id folds A-Z.
uint64_t NodeId(const std::string& path) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (char c : path) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
  }
  return hash;
}

void CloseHost(WinNode* node) {
  if (node->file != INVALID_HANDLE_VALUE) CloseHandle(node->file);
  if (node->search != INVALID_HANDLE_VALUE) FindClose(node->search);
  node->file = node->search = INVALID_HANDLE_VALUE;
  node->found_pending = false;
}

bool StartSearch(WinNode* node) {
  if (node->search != INVALID_HANDLE_VALUE) FindClose(node->search);
  node->search = FindFirstFileA((node->path + "/*").c_str(), &node->found);
  node->found_pending = node->search != INVALID_HANDLE_VALUE;
  return node->found_pending;
}

bool IsHostDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The whole 64-bit size, with the call every Windows has (GetFileSizeEx is 2000 and later). A
// low word of all ones is a size only when no error stands beside it.
bool HostFileSize(HANDLE file, uint64_t* size) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = (static_cast<uint64_t>(high) << 32) | low;
  return true;
}

// Opens the host node of a path: a directory with its listing, or the file (created when
// asked, and then it must not exist yet).
Result OpenHost(FsRequest* request, FsMount* volume, const std::string& path, uint32_t flags,
                bool create, FsHandle** out) {
  if (path.size() >= kMaxHostPath) return fsrc::kBufferTooSmall;
  bool fresh = false;
  Result result = FsAttachHandle(volume, NodeId(path), flags, out, &fresh);
  if (fsrc::Failed(result)) return result;
  if (!fresh) {
    if (create) {
      FsCloseHandle(request, *out);
      *out = nullptr;
      return fsrc::kExists;
    }
    return fsrc::kOk;
  }
  WinNode* node = new (std::nothrow) WinNode;
  if (!node) {
    FsCloseHandle(request, *out);
    *out = nullptr;
    return fsrc::kTypeOutOfMemory;
  }
  node->path = path;
  (*out)->node->state = node;
  if (!create && IsHostDirectory(path)) {
    node->directory = true;
    (*out)->node->kind = fs_node::kDirectory;
    StartSearch(node);
    return fsrc::kOk;
  }
  DWORD access = ((flags & fs_open::kRead) ? GENERIC_READ : 0) |
                 ((flags & fs_open::kWrite) ? GENERIC_WRITE : 0);
  node->file = CreateFileA(path.c_str(), access, 0, nullptr, create ? CREATE_NEW : OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  uint64_t size = 0;
  if (node->file == INVALID_HANDLE_VALUE || !HostFileSize(node->file, &size)) {
    result = create && GetLastError() == ERROR_FILE_EXISTS ? fsrc::kExists : fsrc::kNotFound;
    FsCloseHandle(request, *out);
    *out = nullptr;
    return result;
  }
  (*out)->node->kind = fs_node::kFile;
  (*out)->node->size = size;
  return fsrc::kOk;
}

// A name is one component: a host separator, a drive colon, a NUL or a name of dots (which the
// host would resolve as "." or "..") would reach outside the volume's folder.
bool IsPlainName(const char* name, uint32_t length) {
  if (length == 0 || strspn(name, ".") >= length) return false;
  for (uint32_t i = 0; i < length; ++i)
    if (name[i] == '\\' || name[i] == '/' || name[i] == ':' || name[i] == '\0') return false;
  return true;
}

Result ChildPath(const FsHandle* directory, const char* name, uint32_t length,
                 std::string* path) {
  if (!IsPlainName(name, length)) return fsrc::kInvalidArgument;
  *path = NodeOf(directory)->path + "/" + std::string(name, length);
  return path->size() < kMaxHostPath ? fsrc::kOk : fsrc::kBufferTooSmall;
}

std::string ReadLabel() {
  char label[64] = "winfs";
  FILE* file = fopen((std::string(kWinFsHostRoot) + "/winfs.name").c_str(), "rb");
  if (!file) return label;
  char line[64];
  size_t got = fread(line, 1, 63, file);
  fclose(file);
  if (got == 0) return label;
  line[got] = '\0';
  line[strcspn(line, "\r\n")] = '\0';
  return line;
}

Result Mount(FsRequest* request, BlockDevice* device, uint64_t start, uint64_t length,
             uint32_t read_only, const void* parameters, uint32_t parameter_length) {
  if (!device || _stricmp(device->Name(), "WINFS") != 0 || device->Number() != 0)
    return fsrc::kCorrupt;
  if (!IsHostDirectory(kWinFsHostRoot)) return fsrc::kNotFound;
  std::string label = ReadLabel();
  uint32_t* state = new (std::nothrow) uint32_t(0);
  if (!state) return fsrc::kTypeOutOfMemory;
  Result result = FsCreateVolume(request, label.c_str(), &kWinFsType, state, device, start,
                                 length, 512, nullptr, read_only ? 1 : 0, parameters,
                                 parameter_length, nullptr);
  if (fsrc::Failed(result)) delete state;
  return result;
}

Result Unmount(FsRequest*, FsMount* volume) {
  delete static_cast<uint32_t*>(volume->state);
  volume->state = nullptr;
  return fsrc::kOk;
}

Result GetRoot(FsRequest* request, FsHandle** out, FsMount* volume, uint32_t flags) {
  return OpenHost(request, volume, kWinFsHostRoot, flags, false, out);
}

Result Lookup(FsRequest* request, FsHandle** out, const char* name, uint32_t length,
              FsHandle* directory, uint32_t flags) {
  const std::string& here = NodeOf(directory)->path;
  std::string path;
  if (length == 2 && memcmp(name, "..", 2) == 0) {
    if (here == kWinFsHostRoot) return fsrc::kLeavesVolume;
    path = here.substr(0, here.rfind('/'));
  } else {
    Result built = ChildPath(directory, name, length, &path);
    if (fsrc::Failed(built)) return built;
  }
  return OpenHost(request, directory->Volume(), path, flags, false, out);
}

// Creates a host file or directory; either fails when the name exists.
Result CreateHost(FsRequest* request, FsHandle** out, FsHandle* directory, const char* name,
                  uint32_t length, uint32_t flags, bool is_directory) {
  std::string path;
  Result result = ChildPath(directory, name, length, &path);
  if (fsrc::Failed(result)) return result;
  if (is_directory && !CreateDirectoryA(path.c_str(), nullptr))
    return GetLastError() == ERROR_ALREADY_EXISTS ? fsrc::kExists : fsrc::kHostFailure;
  return OpenHost(request, directory->Volume(), path, flags, !is_directory, out);
}

Result CreateFileNode(FsRequest* request, FsHandle** out, FsHandle* directory,
                      const char* name, uint32_t length, uint32_t flags) {
  return CreateHost(request, out, directory, name, length, flags, false);
}

Result CreateDirNode(FsRequest* request, FsHandle** out, FsHandle* directory,
                     const char* name, uint32_t length, uint32_t flags) {
  return CreateHost(request, out, directory, name, length, flags, true);
}

Result Rename(FsRequest*, FsHandle* old_directory, const char* old_name, uint32_t old_length,
              FsHandle* new_directory, const char* new_name, uint32_t new_length) {
  std::string from, to;
  Result result = ChildPath(old_directory, old_name, old_length, &from);
  if (!fsrc::Failed(result)) result = ChildPath(new_directory, new_name, new_length, &to);
  if (fsrc::Failed(result)) return result;
  return MoveFileA(from.c_str(), to.c_str()) ? fsrc::kOk : fsrc::kHostFailure;
}

Result Remove(FsRequest*, FsHandle* directory, const char* name, uint32_t length) {
  std::string path;
  Result result = ChildPath(directory, name, length, &path);
  if (fsrc::Failed(result)) return result;
  bool removed = IsHostDirectory(path) ? RemoveDirectoryA(path.c_str())
                                       : DeleteFileA(path.c_str());
  return removed ? fsrc::kOk : fsrc::kHostFailure;
}

// Positions the host file at the handle's position (all 64 bits of it). The high word goes
// through SetFilePointer's second argument: SetFilePointerEx is not there on Windows 9x.
bool Position(WinNode* node, uint64_t position) {
  LONG high = static_cast<LONG>(position >> 32);
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(node->file, static_cast<LONG>(position & 0xFFFFFFFFu), &high,
                                   FILE_BEGIN);
  return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

// Reads or writes at the handle's position and advances it.
Result Transfer(FsHandle* handle, void* buffer, uint32_t length, uint32_t* count, bool write) {
  WinNode* node = NodeOf(handle);
  if (node->directory) return fsrc::kNotAFile;
  DWORD moved = 0;
  bool done = Position(node, handle->position) &&
              (write ? WriteFile(node->file, buffer, length, &moved, nullptr)
                     : ReadFile(node->file, buffer, length, &moved, nullptr));
  if (!done) return fsrc::kHostFailure;
  *count = moved;
  handle->position += moved;
  if (handle->position > handle->node->size) handle->node->size = handle->position;
  return !write && moved == 0 && length > 0 ? fsrc::kEndOfFile : fsrc::kOk;
}

Result Read(FsRequest*, FsHandle* handle, void* buffer, uint32_t length, uint32_t* count) {
  return Transfer(handle, buffer, length, count, false);
}

Result Write(FsRequest*, FsHandle* handle, const void* buffer, uint32_t length,
             uint32_t* count) {
  return Transfer(handle, const_cast<void*>(buffer), length, count, true);
}

Result ReadDir(FsRequest*, FsHandle* handle, char* buffer, uint32_t size) {
  WinNode* node = NodeOf(handle);
  if (!node->directory) return fsrc::kNotADirectory;
  if (size == 0) return fsrc::kBufferTooSmall;
  while (node->search != INVALID_HANDLE_VALUE) {
    if (!node->found_pending && !FindNextFileA(node->search, &node->found)) {
      FindClose(node->search);
      node->search = INVALID_HANDLE_VALUE;
      break;
    }
    node->found_pending = false;
    const char* name = node->found.cFileName;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    size_t length = strlen(name);
    if (length >= size) length = size - 1;
    memcpy(buffer, name, length);
    buffer[length] = '\0';
    return fsrc::kOk;
  }
  return fsrc::kNoMoreEntries;
}

Result RewindDir(FsRequest*, FsHandle* handle) {
  WinNode* node = NodeOf(handle);
  if (!node->directory) return fsrc::kNotADirectory;
  return StartSearch(node) ? fsrc::kOk : fsrc::kHostFailure;
}

Result Attr(FsRequest*, FsHandle* handle, uint32_t id, const void* value,
            uint32_t value_length, void* out, uint32_t out_size) {
  WinNode* node = NodeOf(handle);
  switch (id) {
    case 2: {
      if (node->directory) return fsrc::kNotAFile;
      uint64_t size;
      memcpy(&size, value, 8);
      if (!Position(node, size) || !SetEndOfFile(node->file)) return fsrc::kHostFailure;
      handle->node->size = size;
      return fsrc::kOk;
    }
    case 7: {
      if (value) return fsrc::kReadOnlyAttribute;
      if (!out) return fsrc::kOk;
      if (out_size < 16) return fsrc::kBufferTooSmall;
      WinFsIdentity(node->path.c_str(), static_cast<uint8_t*>(out));
      return fsrc::kOk;
    }
    case 8: {
      if (node->directory) return fsrc::kNotAFile;
      if (value) {
        if (value_length != 8) return fsrc::kBufferTooSmall;
        int64_t milliseconds;
        memcpy(&milliseconds, value, 8);
        uint64_t ticks = (static_cast<uint64_t>(milliseconds) + kEpochMilliseconds) * 10000;
        FILETIME created = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        if (!SetFileTime(node->file, &created, nullptr, nullptr)) return fsrc::kHostFailure;
      }
      if (out) {
        if (out_size < 8) return fsrc::kBufferTooSmall;
        FILETIME created;
        if (!GetFileTime(node->file, &created, nullptr, nullptr)) return fsrc::kHostFailure;
        uint64_t ticks = uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
        int64_t milliseconds = static_cast<int64_t>(ticks / 10000 - kEpochMilliseconds);
        memcpy(out, &milliseconds, 8);
      }
      return fsrc::kOk;
    }
    default:
      return fsrc::kNotSupported;
  }
}

// The host handles belong to the node, which other handles may still use: they close when the
// node's last handle goes, not with each handle.
Result ReleaseNode(FsRequest*, FsNode* node) {
  WinNode* state = static_cast<WinNode*>(node->state);
  if (state) CloseHost(state);
  delete state;
  node->state = nullptr;
  return fsrc::kOk;
}

}  // namespace

void WinFsIdentity(const char* host_path, uint8_t identity[16]) {
  memset(identity, 0, 16);
  uint32_t accumulator = 1;
  for (size_t i = 0; host_path[i]; ++i) {
    accumulator = accumulator * 0xBF3ADu + static_cast<uint8_t>(host_path[i]);
    identity[i % 16] ^= static_cast<uint8_t>(accumulator >> 5);
  }
}

void RegisterWinFsDevice() {
  for (uint32_t i = 0; BlockDevice* device = BlockDeviceAt(i); ++i)
    if (device->Number() == 0 && strcmp(device->Name(), "WINFS") == 0) return;
  new WinFsDevice;
}

const FsType kWinFsType = {
    1,
    "WinFS",
    GetRoot,
    Lookup,
    FsOpenNode,
    FsNothingToDo,
    CreateFileNode,
    CreateDirNode,
    Rename,
    FsUnsupported,
    Remove,
    Read,
    Write,
    FsNothingToDo,
    ReadDir,
    RewindDir,
    Attr,
    FsNothingToDo,
    FsNothingToDo,
    Mount,
    ReleaseNode,
    Unmount,
    FsUnsupported,
    FsUnsupported,
    FsUnsupported,
    FsUnsupported,
    {},
    nullptr,  // no replacing rename
};
