// The contract between the file-system framework and a file-system type: the type record
// (FsType) with its operations and cost estimates, and the volume, node and handle records the
// framework keeps for the types.
#pragma once

#include <cstdint>
#include <list>
#include <vector>

#include "fs/fs_codes.h"

class BlockCache;
class BlockDevice;
struct FsRequest;
struct FsMount;
struct FsNode;
struct FsHandle;
struct SysNode;

// Deadline of an operation: bit 0 of flags makes time an absolute deadline, bit 1 a time
// relative to the start of the operation (units of IRTime).
struct FsTiming {
  uint32_t flags;
  uint32_t reserved;
  int64_t time;
};

namespace fs_timing {
constexpr uint32_t kAbsolute = 1;
constexpr uint32_t kRelative = 2;
}  // namespace fs_timing

// A cost estimate in IRTime units. The meaning of a and b is the slot's (a length, open flags,
// an attribute id and value ...).
typedef uint64_t (*FsCostFn)(FsRequest* request, FsHandle* handle, FsMount* volume, uint64_t a,
                             uint64_t b);

// Index of the cost slot of each operation the framework estimates.
namespace fs_cost {
constexpr int kLookup = 1;
constexpr int kClose = 3;
constexpr int kCreate = 4;
constexpr int kRename = 6;
constexpr int kRemove = 8;
constexpr int kRead = 9;
constexpr int kWrite = 10;
constexpr int kPop = 11;
constexpr int kReadDir = 12;
constexpr int kRewindDir = 13;
constexpr int kSeek = 14;
constexpr int kFlush = 15;
constexpr int kSync = 16;
constexpr int kCloseNode = 18;
constexpr int kSlots = 24;
}  // namespace fs_cost

// Every operation receives the running request first. Operations are always filled (but for
// the optional one at the end): an unsupported one answers 0x8082000A, one with nothing to do
// answers 0.
struct FsType {
  uint32_t version;
  char name[16];
  // Opens the root directory of a volume.
  Result (*get_root)(FsRequest*, FsHandle** out, FsMount* volume, uint32_t flags);
  // Opens one name of a directory; ".." at the volume root answers 0x8082000E.
  Result (*lookup)(FsRequest*, FsHandle** out, const char* name, uint32_t length,
                   FsHandle* directory, uint32_t flags);
  // Opens the node of a handle again.
  Result (*open_node)(FsRequest*, FsHandle** out, FsHandle* handle, uint32_t flags);
  // Detaches the type's state from a handle (always right after flush_file).
  Result (*close_node)(FsRequest*, FsHandle* handle);
  Result (*create_file)(FsRequest*, FsHandle** out, FsHandle* directory, const char* name,
                        uint32_t length, uint32_t flags);
  Result (*create_dir)(FsRequest*, FsHandle** out, FsHandle* directory, const char* name,
                       uint32_t length, uint32_t flags);
  Result (*rename)(FsRequest*, FsHandle* old_directory, const char* old_name,
                   uint32_t old_length, FsHandle* new_directory, const char* new_name,
                   uint32_t new_length);
  Result (*set_label)(FsRequest*, FsMount* volume, const char* text, uint32_t length);
  Result (*remove)(FsRequest*, FsHandle* directory, const char* name, uint32_t length);
  Result (*read)(FsRequest*, FsHandle* handle, void* buffer, uint32_t length, uint32_t* count);
  Result (*write)(FsRequest*, FsHandle* handle, const void* buffer, uint32_t length,
                  uint32_t* count);
  Result (*pop)(FsRequest*, FsHandle* handle, uint64_t position, uint64_t length,
                uint64_t hint, uint32_t word, uint32_t populate);
  Result (*read_dir)(FsRequest*, FsHandle* handle, char* buffer, uint32_t size);
  Result (*rewind_dir)(FsRequest*, FsHandle* handle);
  // The attributes the framework does not answer itself (all arguments of SetAttr).
  Result (*attr)(FsRequest*, FsHandle* handle, uint32_t id, const void* value,
                 uint32_t value_length, void* out, uint32_t out_size);
  Result (*flush_file)(FsRequest*, FsHandle* handle);
  Result (*sync_volume)(FsRequest*, FsMount* volume);
  // Recognises a volume on the device range and creates its record (FsCreateVolume).
  Result (*mount)(FsRequest*, BlockDevice* device, uint64_t start, uint64_t length,
                  uint32_t read_only, const void* parameters, uint32_t parameter_length);
  // Forgets a node whose last handle closed.
  Result (*release_node)(FsRequest*, FsNode* node);
  // Frees the type's state of a volume.
  Result (*unmount)(FsRequest*, FsMount* volume);
  Result (*format)(FsRequest*, uint32_t word, BlockDevice* device, uint64_t start,
                   uint64_t length, const void* parameters, uint32_t parameter_length,
                   const char* label, const void* description);
  Result (*read_format)(FsRequest*, BlockDevice* device, uint64_t start, uint64_t* length,
                        char* label, void* description, uint32_t* size);
  Result (*resize)(FsRequest*, BlockDevice* device, uint64_t start, uint64_t length);
  Result (*debug)(FsRequest*, FsHandle* handle, uint32_t mode, void* first, void* second);
  // Cost estimates, slot k estimating operation k; empty slots add nothing.
  FsCostFn costs[fs_cost::kSlots];
  // Optional (null: not offered). Renames over an existing file of exactly the new name, which
  // the renamed node replaces so that no moment leaves neither of them under the name.
  Result (*rename_replacing)(FsRequest*, FsHandle* old_directory, const char* old_name,
                             uint32_t old_length, FsHandle* new_directory, const char* new_name,
                             uint32_t new_length);
};

// One mounted volume. Types reach these fields directly; the framework owns the record.
struct FsMount {
  uint64_t start = 0;
  uint64_t length = 0;
  const FsType* type = nullptr;
  void* state = nullptr;
  std::vector<uint8_t> parameters;
  BlockDevice* device = nullptr;  // null for sysnode
  SysNode* dev_entry = nullptr;
  SysNode* root_entry = nullptr;
  BlockCache* cache = nullptr;
  uint32_t attribute3 = 0;
  uint32_t flags = 0;  // bit 0: read-only
  std::list<FsNode*> nodes;

  bool ReadOnly() const { return (flags & 1) != 0; }
};

// A node with open handles.
struct FsNode {
  uint64_t id = 0;
  FsMount* volume = nullptr;
  void* state = nullptr;
  uint32_t open_count = 0;
  // Kept by the type: node type (1 file, 2 directory) and the file size.
  uint32_t kind = 0;
  uint64_t size = 0;
};

struct FsHandle {
  FsNode* node = nullptr;
  uint32_t flags = 0;
  uint64_t position = 0;
  void* state = nullptr;

  FsMount* Volume() const { return node->volume; }
};

// Slot fillers for the types: an operation the type does not offer, and one with nothing to do.
template <typename... Args>
Result FsUnsupported(Args...) {
  return fsrc::kNotSupported;
}
template <typename... Args>
Result FsNothingToDo(Args...) {
  return fsrc::kOk;
}
