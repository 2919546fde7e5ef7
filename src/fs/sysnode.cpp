#include "fs/sysnode.h"

#include <cstring>
#include <new>

#include "fs/fs_manager.h"
#include "support/registered_lock.h"

namespace {

// The sysnode volume's state: the tree and the lock that guards it (the tree changes under
// mounts while other volumes' requests read it).
struct SysnodeVolume {
  RegisteredLock lock{"sysnode"};
  SysNode* root = nullptr;
};

SysnodeVolume* StateOf(FsMount* volume) { return static_cast<SysnodeVolume*>(volume->state); }
SysNode* NodeOf(const FsHandle* handle) { return static_cast<SysNode*>(handle->node->state); }

SysNode* MakeNode(SysNode* parent, const char* name, uint32_t length) {
  SysNode* node = new (std::nothrow) SysNode;
  if (!node) return nullptr;
  try {
    node->name.assign(name, length);
    if (parent) parent->children.push_back(node);
  } catch (const std::bad_alloc&) {
    delete node;
    return nullptr;
  }
  node->parent = parent ? parent : node;
  return node;
}

// False for a node with children, and for the root of a tree.
bool Unlink(SysNode* node) {
  if (!node->children.empty() || node->parent == node) return false;
  std::vector<SysNode*>& siblings = node->parent->children;
  for (auto it = siblings.begin(); it != siblings.end(); ++it)
    if (*it == node) {
      siblings.erase(it);
      break;
    }
  delete node;
  return true;
}

// An exact match, else (unless exact case is asked) the last match that differs in A-Z case.
SysNode* FindChild(SysNode* directory, const char* name, uint32_t length, uint32_t flags) {
  SysNode* folded = nullptr;
  for (SysNode* child : directory->children) {
    int compared = FsCompareName(child->name.data(), static_cast<uint32_t>(child->name.size()),
                                 name, length);
    if (compared == 0) return child;
    if (compared == 1 && !(flags & fs_open::kExactCase)) folded = child;
  }
  return folded;
}

SysNode* Directory(SysnodeVolume* state, const char* name) {
  return FindChild(state->root, name, static_cast<uint32_t>(strlen(name)), fs_open::kExactCase);
}

Result OpenSysNode(FsMount* volume, SysNode* node, uint32_t flags, FsHandle** out) {
  Result result = FsAttachHandle(volume, reinterpret_cast<uintptr_t>(node), flags, out, nullptr);
  if (fsrc::Failed(result)) return result;
  (*out)->node->state = node;
  (*out)->node->kind = fs_node::kDirectory;
  return fsrc::kOk;
}

Result GetRoot(FsRequest*, FsHandle** out, FsMount* volume, uint32_t flags) {
  return OpenSysNode(volume, StateOf(volume)->root, flags, out);
}

Result Lookup(FsRequest* request, FsHandle** out, const char* name, uint32_t length,
              FsHandle* directory, uint32_t flags) {
  FsMount* volume = directory->Volume();
  SysnodeVolume* state = StateOf(volume);
  SysNode* target = nullptr;
  {
    ScopedEnter<RegisteredLock> hold(state->lock);
    SysNode* here = NodeOf(directory);
    target = length == 2 && memcmp(name, "..", 2) == 0 ? here->parent
                                                       : FindChild(here, name, length, flags);
  }
  if (!target) return fsrc::kNotFound;
  if (target->volume) return FsEnterVolumeRoot(request, out, target->volume, flags);
  return OpenSysNode(volume, target, flags, out);
}

Result Rename(FsRequest* request, FsHandle* old_directory, const char* old_name,
              uint32_t old_length, FsHandle* new_directory, const char* new_name,
              uint32_t new_length) {
  SysnodeVolume* state = StateOf(old_directory->Volume());
  SysNode* entry = nullptr;
  {
    ScopedEnter<RegisteredLock> hold(state->lock);
    SysNode* root_directory = Directory(state, "root");
    if (NodeOf(old_directory) != root_directory || NodeOf(new_directory) != root_directory)
      return fsrc::kNotSupported;
    entry = FindChild(root_directory, old_name, old_length, fs_open::kExactCase);
  }
  if (!entry || !entry->volume) return fsrc::kNotFound;
  FsMount* volume = entry->volume;
  FsEnterVolume(request, volume);
  Result result = volume->type->set_label(request, volume, new_name, new_length);
  if (fsrc::Failed(result)) return result;
  ScopedEnter<RegisteredLock> hold(state->lock);
  try {
    entry->name.assign(new_name, new_length);
  } catch (const std::bad_alloc&) {
    return fsrc::kTypeOutOfMemory;
  }
  return fsrc::kOk;
}

Result ReadDir(FsRequest*, FsHandle* handle, char* buffer, uint32_t size) {
  if (size == 0) return fsrc::kBufferTooSmall;
  SysnodeVolume* state = StateOf(handle->Volume());
  ScopedEnter<RegisteredLock> hold(state->lock);
  SysNode* directory = NodeOf(handle);
  if (handle->position >= directory->children.size()) return fsrc::kNoMoreEntries;
  const std::string& name = directory->children[static_cast<size_t>(handle->position)]->name;
  size_t length = name.size() < size ? name.size() : size - 1;
  memcpy(buffer, name.data(), length);
  buffer[length] = '\0';
  ++handle->position;
  return fsrc::kOk;
}

Result RewindDir(FsRequest*, FsHandle* handle) {
  handle->position = 0;
  return fsrc::kOk;
}

Result Attr(FsRequest*, FsHandle* handle, uint32_t id, const void* value, uint32_t,
            void* out, uint32_t out_size) {
  if (id != 7) return fsrc::kNotSupported;
  if (value) return fsrc::kReadOnlyAttribute;
  if (!out) return fsrc::kOk;
  if (out_size < 16) return fsrc::kBufferTooSmall;
  uint8_t identity[16] = {};
  const uintptr_t words[2] = {reinterpret_cast<uintptr_t>(handle->Volume()),
                              reinterpret_cast<uintptr_t>(NodeOf(handle))};
  memcpy(identity, words, sizeof words);
  memcpy(out, identity, 16);
  return fsrc::kOk;
}

Result Mount(FsRequest* request, BlockDevice* device, uint64_t, uint64_t, uint32_t,
             const void*, uint32_t) {
  if (device) return fsrc::kCorrupt;
  SysnodeVolume* state = new (std::nothrow) SysnodeVolume;
  if (!state) return fsrc::kTypeOutOfMemory;
  state->root = MakeNode(nullptr, "/", 1);
  SysNode* dev = state->root ? MakeNode(state->root, "dev", 3) : nullptr;
  SysNode* root = dev ? MakeNode(state->root, "root", 4) : nullptr;
  Result result = root ? FsCreateVolume(request, nullptr, &kSysnodeType, state, nullptr, 0, 0, 0,
                                        nullptr, 0, nullptr, 0, nullptr)
                       : fsrc::kTypeOutOfMemory;
  if (fsrc::Failed(result)) {
    if (root) Unlink(root);
    if (dev) Unlink(dev);
    delete state->root;
    delete state;
  }
  return result;
}

Result Unmount(FsRequest*, FsMount* volume) {
  SysnodeVolume* state = StateOf(volume);
  bool emptied = true;
  {
    ScopedEnter<RegisteredLock> hold(state->lock);
    for (const char* name : {"root", "dev"})
      if (SysNode* directory = Directory(state, name)) emptied &= Unlink(directory);
    emptied &= state->root->children.empty();
    if (emptied) delete state->root;
  }
  // A tree that still names volumes is kept rather than left dangling.
  if (!emptied) return fsrc::kBusy;
  delete state;
  volume->state = nullptr;
  return fsrc::kOk;
}

}  // namespace

const FsType kSysnodeType = {
    1,
    "sysnode",
    GetRoot,
    Lookup,
    FsOpenNode,
    FsNothingToDo,
    FsUnsupported,
    FsUnsupported,
    Rename,
    FsUnsupported,
    FsUnsupported,
    FsUnsupported,
    FsUnsupported,
    FsUnsupported,
    ReadDir,
    RewindDir,
    Attr,
    FsUnsupported,
    FsUnsupported,
    Mount,
    FsNothingToDo,
    Unmount,
    FsUnsupported,
    FsUnsupported,
    FsUnsupported,
    FsUnsupported,
    {},
    nullptr,  // no replacing rename
};

Result SysnodeAddEntry(FsMount* sysnode, const char* directory, const char* name,
                       FsMount* volume, SysNode** out) {
  SysnodeVolume* state = StateOf(sysnode);
  ScopedEnter<RegisteredLock> hold(state->lock);
  SysNode* parent = Directory(state, directory);
  SysNode* entry = parent ? MakeNode(parent, name, static_cast<uint32_t>(strlen(name))) : nullptr;
  if (!entry) return fsrc::kOutOfMemory;
  entry->volume = volume;
  *out = entry;
  return fsrc::kOk;
}

void SysnodeRemoveEntry(FsMount* sysnode, SysNode* entry) {
  SysnodeVolume* state = StateOf(sysnode);
  ScopedEnter<RegisteredLock> hold(state->lock);
  Unlink(entry);
}

Result SysnodeEntryName(FsMount* sysnode, FsMount* volume, char* buffer, uint32_t size) {
  SysnodeVolume* state = StateOf(sysnode);
  ScopedEnter<RegisteredLock> hold(state->lock);
  SysNode* root_directory = Directory(state, "root");
  if (root_directory)
    for (SysNode* entry : root_directory->children)
      if (entry->volume == volume) {
        if (size == 0) return fsrc::kBufferTooSmall;
        size_t length = entry->name.size() < size ? entry->name.size() : size - 1;
        memcpy(buffer, entry->name.data(), length);
        buffer[length] = '\0';
        return fsrc::kOk;
      }
  return fsrc::kNotFound;
}

bool SysnodeIsRoot(const FsHandle* handle) {
  const SysNode* node = NodeOf(handle);
  return node && node->parent == node;
}
