// The path walk and the operations that take paths: Open, CreateFile, CreateDir, Remove,
// Rename (plain or replacing), GetDirName and GetPath.
#include <cstdio>
#include <cstring>
#include <string>

#include "fs/fs_manager.h"
#include "fs/sysnode.h"

struct FsManager::Walked {
  FsHandle* handle = nullptr;  // the node, or the directory that holds the last component
  const char* last = nullptr;
  uint32_t last_length = 0;
};

namespace {

// Components separated by runs of '/'.
struct Components {
  explicit Components(const char* path) : next(path) {}
  bool Take(const char** name, uint32_t* length, bool* last) {
    while (*next == '/') ++next;
    if (!*next) return false;
    *name = next;
    while (*next && *next != '/') ++next;
    *length = static_cast<uint32_t>(next - *name);
    const char* rest = next;
    while (*rest == '/') ++rest;
    *last = *rest == '\0';
    return true;
  }
  const char* next;
};

bool Is(const char* name, uint32_t length, const char* text) {
  return length == strlen(text) && memcmp(name, text, length) == 0;
}

bool IsDirectory(const FsHandle* handle) { return handle->node->kind == fs_node::kDirectory; }

}  // namespace

FsMount* FsManager::StartVolume(const char* path, FsHandle* base) {
  return base && path && path[0] != '/' ? base->Volume() : sysnode_;
}

Result FsManager::WalkToChange(FsRequest* request, const char* path, FsHandle* base,
                               uint32_t flags, Walked* walked, FsHandle** existing) {
  *existing = nullptr;
  Result result = Walk(request, path, base, flags, true, walked);
  if (fsrc::Failed(result)) return result;
  FsMount* volume = walked->handle->Volume();
  if (volume->ReadOnly()) {
    CloseHandle(request, walked->handle);
    walked->handle = nullptr;
    return fsrc::kReadOnly;
  }
  return volume->type->lookup(request, existing, walked->last, walked->last_length,
                              walked->handle, flags | fs_open::kExactCase);
}

uint64_t FsManager::PathCost(FsHandle* base, const char* path, int slot) {
  if (!path || path[0] == '/' || !base) return 0;
  const FsType* type = base->Volume()->type;
  uint64_t total = 0;
  Components components(path);
  const char* name;
  uint32_t length;
  bool last;
  if (type->costs[fs_cost::kLookup])
    while (components.Take(&name, &length, &last))
      total += type->costs[fs_cost::kLookup](nullptr, base, base->Volume(), base->flags, 0);
  if (slot != fs_cost::kLookup && type->costs[slot])
    total += type->costs[slot](nullptr, base, base->Volume(), 0, 0);
  return total;
}

Result FsManager::OpenSysnodeDir(FsRequest* request, const char* name, FsHandle** out) {
  FsHandle* root = nullptr;
  scheduler_.EnterVolume(request, sysnode_);
  Result result = sysnode_->type->get_root(request, &root, sysnode_, 0);
  if (fsrc::Failed(result)) return result;
  result = sysnode_->type->lookup(request, out, name, static_cast<uint32_t>(strlen(name)), root,
                                  0);
  CloseHandle(request, root);
  return result;
}

Result FsManager::Step(FsRequest* request, FsHandle* current, const char* name,
                       uint32_t length, uint32_t flags, FsHandle** next) {
  FsMount* volume = current->Volume();
  scheduler_.EnterVolume(request, volume);
  Result result;
  if (Is(name, length, ".")) {
    result = volume->type->open_node(request, next, current, flags);
  } else if (Is(name, length, "...")) {
    result = volume->type->get_root(request, next, volume, flags);
  } else {
    result = volume->type->lookup(request, next, name, length, current, flags);
    if (result == fsrc::kLeavesVolume) result = OpenSysnodeDir(request, "root", next);
  }
  if (fsrc::Failed(result)) return result;
  if (IsDirectory(*next)) {
    scheduler_.EnterVolume(request, (*next)->Volume());
    (*next)->Volume()->type->rewind_dir(request, *next);
  }
  return fsrc::kOk;
}

Result FsManager::Walk(FsRequest* request, const char* path, FsHandle* base, uint32_t flags,
                       bool parent, Walked* out) {
  if (!path) return fsrc::kInvalidArgument;
  FsHandle* current = nullptr;
  Result result;
  if (path[0] == '/' || !base) {
    scheduler_.EnterVolume(request, sysnode_);
    result = sysnode_->type->get_root(request, &current, sysnode_, flags);
  } else {
    scheduler_.EnterVolume(request, base->Volume());
    result = base->Volume()->type->open_node(request, &current, base, flags);
  }
  if (fsrc::Failed(result)) return result;
  Components components(path);
  const char* name;
  uint32_t length;
  bool last;
  while (components.Take(&name, &length, &last)) {
    if (!IsDirectory(current)) {
      CloseHandle(request, current);
      return fsrc::kNotADirectory;
    }
    if (last && parent) {
      out->handle = current;
      out->last = name;
      out->last_length = length;
      return fsrc::kOk;
    }
    FsHandle* next = nullptr;
    result = Step(request, current, name, length, flags, &next);
    CloseHandle(request, current);
    if (fsrc::Failed(result)) return result;
    current = next;
  }
  if (parent) {
    // Nothing names the node to create or remove.
    CloseHandle(request, current);
    return fsrc::kInvalidArgument;
  }
  out->handle = current;
  return fsrc::kOk;
}

Result FsManager::Open(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                       const FsTiming* timing) {
  if (out) *out = nullptr;
  if (!out) return fsrc::kInvalidArgument;
  FsRequest request;
  scheduler_.Prepare(&request, "Open", 2, StartVolume(path, base),
                     timing);
  request.cost += PathCost(base, path, fs_cost::kLookup);
  scheduler_.Admit(&request);
  Walked walked;
  Result result = Walk(&request, path, base, flags, false, &walked);
  if (!fsrc::Failed(result)) *out = walked.handle;
  scheduler_.Release(&request);
  return result;
}

Result FsManager::CreateNode(bool directory, FsHandle** out, const char* path, FsHandle* base,
                             uint32_t flags, const FsTiming* timing) {
  if (out) *out = nullptr;
  if (!out) return fsrc::kInvalidArgument;
  FsRequest request;
  scheduler_.Prepare(&request, directory ? "CreateDir" : "CreateFile", 2,
                     StartVolume(path, base), timing);
  request.cost += PathCost(base, path, fs_cost::kCreate);
  scheduler_.Admit(&request);
  Walked walked;
  FsHandle* existing = nullptr;
  Result result = WalkToChange(&request, path, base, flags, &walked, &existing);
  if (!fsrc::Failed(result)) {
    CloseHandle(&request, existing);
    result = fsrc::kExists;
  } else if (result == fsrc::kNotFound && walked.handle) {
    const FsType* type = walked.handle->Volume()->type;
    result = directory ? type->create_dir(&request, out, walked.handle, walked.last,
                                          walked.last_length, flags)
                       : type->create_file(&request, out, walked.handle, walked.last,
                                           walked.last_length, flags);
    if (!fsrc::Failed(result) && directory) type->rewind_dir(&request, *out);
    if (fsrc::Failed(result)) *out = nullptr;
  }
  if (walked.handle) CloseHandle(&request, walked.handle);
  scheduler_.Release(&request);
  return result;
}

Result FsManager::CreateFile(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                             const FsTiming* timing) {
  return CreateNode(false, out, path, base, flags, timing);
}

Result FsManager::CreateDir(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                            const FsTiming* timing) {
  return CreateNode(true, out, path, base, flags, timing);
}

Result FsManager::Remove(const char* path, FsHandle* base, const FsTiming* timing) {
  FsRequest request;
  scheduler_.Prepare(&request, "Remove", 2,
                     StartVolume(path, base), timing);
  request.cost += PathCost(base, path, fs_cost::kRemove);
  scheduler_.Admit(&request);
  Walked walked;
  FsHandle* node = nullptr;
  Result result = WalkToChange(&request, path, base, 0, &walked, &node);
  if (!fsrc::Failed(result)) {
    bool open_elsewhere =
        node->Volume() == walked.handle->Volume() && node->node->open_count > 1;
    CloseHandle(&request, node);
    result = open_elsewhere ? fsrc::kOpenElsewhere
                            : walked.handle->Volume()->type->remove(
                                  &request, walked.handle, walked.last, walked.last_length);
  }
  if (walked.handle) CloseHandle(&request, walked.handle);
  scheduler_.Release(&request);
  return result;
}

Result FsManager::Rename(const char* old_path, FsHandle* old_base, const char* new_path,
                         FsHandle* new_base, const FsTiming* timing) {
  return MoveName(false, old_path, old_base, new_path, new_base, timing);
}

Result FsManager::RenameReplacing(const char* old_path, FsHandle* old_base,
                                  const char* new_path, FsHandle* new_base,
                                  const FsTiming* timing) {
  return MoveName(true, old_path, old_base, new_path, new_base, timing);
}

Result FsManager::MoveName(bool replace, const char* old_path, FsHandle* old_base,
                           const char* new_path, FsHandle* new_base, const FsTiming* timing) {
  FsRequest request;
  scheduler_.Prepare(&request, "Rename", 2,
                     StartVolume(old_path, old_base), timing);
  request.cost += PathCost(old_base, old_path, fs_cost::kRename);
  scheduler_.Admit(&request);
  Walked from, to;
  Result result = Walk(&request, old_path, old_base, 0, true, &from);
  if (!fsrc::Failed(result)) {
    result = Walk(&request, new_path, new_base, 0, true, &to);
    if (fsrc::Failed(result)) to.handle = nullptr;
  }
  if (!fsrc::Failed(result)) {
    FsMount* volume = from.handle->Volume();
    const FsType* type = volume->type;
    FsHandle* existing = nullptr;
    scheduler_.EnterVolume(&request, volume);
    if (to.handle->Volume() != volume) {
      result = fsrc::kCrossVolume;
    } else if (volume->ReadOnly()) {
      result = fsrc::kReadOnly;
    } else if (!fsrc::Failed(type->lookup(&request, &existing, to.last, to.last_length,
                                          to.handle, fs_open::kExactCase))) {
      const bool directory = IsDirectory(existing);
      const bool open_elsewhere = existing->node->open_count > 1;
      CloseHandle(&request, existing);
      if (!replace || directory) {
        result = fsrc::kExists;
      } else if (open_elsewhere) {
        result = fsrc::kOpenElsewhere;
      } else if (!type->rename_replacing) {
        result = fsrc::kNotSupported;
      } else {
        scheduler_.EnterVolume(&request, volume);
        result = type->rename_replacing(&request, from.handle, from.last, from.last_length,
                                        to.handle, to.last, to.last_length);
      }
    } else {
      scheduler_.EnterVolume(&request, volume);
      result = type->rename(&request, from.handle, from.last, from.last_length, to.handle,
                            to.last, to.last_length);
    }
  }
  if (from.handle) CloseHandle(&request, from.handle);
  if (to.handle) CloseHandle(&request, to.handle);
  scheduler_.Release(&request);
  return result;
}

Result FsManager::GetDirName(FsHandle* directory, char* buffer, uint32_t size) {
  if (!directory || !buffer) return fsrc::kInvalidArgument;
  if (!IsDirectory(directory)) return fsrc::kNotADirectory;
  FsRequest request;
  scheduler_.Prepare(&request, "GetDirName", 2, directory->Volume(), nullptr);
  scheduler_.Admit(&request);
  Result result = fsrc::kOk;
  std::string found;
  if (directory->Volume() == sysnode_ && SysnodeIsRoot(directory)) {
    found = "/";
  } else {
    Walked up;
    result = Walk(&request, "..", directory, 0, false, &up);
    FsHandle* parent = up.handle;
    if (!fsrc::Failed(result)) {
      FsMount* volume = parent->Volume();
      volume->type->rewind_dir(&request, parent);
      char name[260];
      for (;;) {
        scheduler_.EnterVolume(&request, volume);
        result = volume->type->read_dir(&request, parent, name, sizeof name);
        if (fsrc::Failed(result)) break;
        FsHandle* child = nullptr;
        uint32_t length = static_cast<uint32_t>(strlen(name));
        if (fsrc::Failed(Step(&request, parent, name, length, fs_open::kExactCase, &child)))
          continue;
        bool same = child->node == directory->node;
        CloseHandle(&request, child);
        if (same) {
          found = name;
          break;
        }
      }
      CloseHandle(&request, parent);
    }
  }
  if (!fsrc::Failed(result)) {
    if (found.size() + 1 > size) result = fsrc::kBufferTooSmall;
    else memcpy(buffer, found.c_str(), found.size() + 1);
  }
  scheduler_.Release(&request);
  return result;
}

Result FsManager::GetPath(FsHandle* directory, char* buffer, uint32_t size) {
  if (!directory || !buffer || size == 0) return fsrc::kInvalidArgument;
  std::string path;
  FsHandle* current = directory;
  Result result = fsrc::kOk;
  char name[260];
  for (int depth = 0; depth < 256; ++depth) {
    result = GetDirName(current, name, sizeof name);
    if (fsrc::Failed(result) || strcmp(name, "/") == 0) break;
    path = "/" + std::string(name) + path;
    FsHandle* parent = nullptr;
    result = Open(&parent, "..", current, 0, nullptr);
    if (current != directory) Close(current, nullptr);
    current = parent;
    if (fsrc::Failed(result)) break;
  }
  if (current && current != directory) Close(current, nullptr);
  if (fsrc::Failed(result)) return result;
  if (path.empty()) path = "/";
  if (path.size() + 1 > size) return fsrc::kBufferTooSmall;
  memcpy(buffer, path.c_str(), path.size() + 1);
  return fsrc::kOk;
}
