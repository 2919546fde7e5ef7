// FsManager: the one file-system manager of the platform. It keeps the registered types, the
// mounted volumes and their open nodes, resolves paths, and runs every IRFileSystem operation
// as an admitted request (fs_requests.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>

#include "fs/fs_requests.h"
#include "fs/fs_type.h"
#include "fs/partition_table.h"

// <windows.h> turns this name into a macro; the manager keeps its own name.
#undef CreateFile

class IRBlockDevice;
class IRPlatform;
class IRTime;
class ISysLog;

class FsManager {
 public:
  // Fetches the platform's services, registers sysnode and mounts its root. Null on failure.
  static FsManager* Create(IRPlatform* platform);
  ~FsManager();
  FsManager(const FsManager&) = delete;
  FsManager& operator=(const FsManager&) = delete;

  FsScheduler& scheduler() { return scheduler_; }
  IRBlockDevice* devices() { return devices_; }
  FsMount* sysnode() { return sysnode_; }

  // Types.
  Result AddMod(const FsType* type);
  const FsType* FindType(const char* name);

  // Volumes (called by a type's mount, and when unmounting).
  Result CreateVolume(FsRequest* request, const char* name, const FsType* type, void* state,
                      BlockDevice* device, uint64_t start, uint64_t length, uint32_t attribute3,
                      BlockCache* cache, uint32_t flags, const void* parameters,
                      uint32_t parameter_length, FsMount** out);
  // Runs the type's unmount, removes the names, writes back and destroys the block cache;
  // the first failure is returned, and the record is gone in every case.
  Result DestroyVolume(FsRequest* request, FsMount* volume);

  // Nodes and handles.
  Result AttachHandle(FsMount* volume, uint64_t node_id, uint32_t flags, FsHandle** out,
                      bool* new_node);
  // FlushFile, CloseNode, free (ReleaseNode with the last handle); returns the first failure.
  Result CloseHandle(FsRequest* request, FsHandle* handle);
  // The volume of a sysnode entry that stands for a volume, by name, for FsEnterVolumeRoot.
  Result EnterVolumeRoot(FsRequest* request, FsHandle** out, FsMount* volume, uint32_t flags);

  // The operations of IRFileSystem.
  Result Open(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
              const FsTiming* timing);
  Result Close(FsHandle* handle, const FsTiming* timing);
  Result CreateFile(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                    const FsTiming* timing);
  Result CreateDir(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                   const FsTiming* timing);
  Result Remove(const char* path, FsHandle* base, const FsTiming* timing);
  Result Rename(const char* old_path, FsHandle* old_base, const char* new_path,
                FsHandle* new_base, const FsTiming* timing);
  Result RenameReplacing(const char* old_path, FsHandle* old_base, const char* new_path,
                         FsHandle* new_base, const FsTiming* timing);
  Result ReadFile(FsHandle* handle, void* buffer, uint32_t length, uint32_t* count,
                  const FsTiming* timing);
  Result WriteFile(FsHandle* handle, const void* buffer, uint32_t length, uint32_t* count,
                   const FsTiming* timing);
  struct Transfer {
    void* buffer;
    uint32_t length;
    uint32_t transferred;
    Result result;
  };
  Result VReadFile(FsHandle* handle, Transfer* records, uint32_t count, uint32_t* processed,
                   const FsTiming* timing);
  Result VWriteFile(FsHandle* handle, Transfer* records, uint32_t count, uint32_t* processed,
                    const FsTiming* timing);
  Result Seek(FsHandle* handle, int64_t offset, int base, uint64_t* position);
  Result Pop(FsHandle* handle, int64_t position, int base, uint64_t length, uint64_t hint,
             uint32_t word, uint32_t populate, const FsTiming* timing);
  Result ReadDir(FsHandle* handle, char* buffer, uint32_t size, const FsTiming* timing);
  Result RewindDir(FsHandle* handle, const FsTiming* timing);
  Result SetAttr(FsHandle* handle, uint32_t id, const void* value, uint32_t value_length,
                 void* out, uint32_t out_size, const FsTiming* timing);
  Result Flush(FsHandle* handle, const FsTiming* timing);
  Result Mount(const char* device, uint64_t start, uint64_t length, uint32_t read_only,
               const void* parameters, uint32_t parameter_length);
  Result Unmount(const char* device, uint64_t start, uint64_t length);
  void MountAll();
  void UnmountAll();
  // Successful mounts of the device's partitions.
  int MountPartitions(const char* device);
  Result GetMount(void** cursor, char* device, uint32_t device_size, char* volume,
                  uint32_t volume_size, uint64_t* start, uint64_t* length, uint32_t* flags,
                  void* parameters, uint32_t parameter_size, void* further);
  Result Format(uint32_t word, const char* device, const char* type_name, uint64_t start,
                uint64_t length, const void* parameters, uint32_t parameter_length,
                const char* label, const void* description);
  Result ReadFormat(const char* device, uint64_t start, uint64_t* length, char* type_name,
                    uint32_t type_name_size, char* label, void* description, uint32_t* size);
  Result Resize(const char* device, uint64_t start, uint64_t length);
  Result GetDirName(FsHandle* directory, char* buffer, uint32_t size);
  Result GetPath(FsHandle* directory, char* buffer, uint32_t size);
  Result Debug(FsHandle* handle, uint32_t mode, void* first, void* second);
  Result ReadPart(PartEntry* entry, const char* device, int32_t index);
  Result WritePartTable(const PartTable* table, const char* device, int format);
  Result WritePartEntry(const PartEntry* entry, const char* device, int32_t index);

  // Volumes in mount order (tests and diagnostics).
  const std::list<FsMount*>& volumes() const { return volumes_; }

 private:
  FsManager(IRPlatform* platform, IRTime* time);
  struct Walked;

  // The path walk: resolves every component, or all but the last when `parent` is asked for.
  Result Walk(FsRequest* request, const char* path, FsHandle* base, uint32_t flags,
              bool parent, Walked* out);
  // Walks to the directory of a name that is to be created or removed (refused on a read-only
  // volume) and looks the name up exactly: 0 with the node in existing, or the lookup's failure.
  Result WalkToChange(FsRequest* request, const char* path, FsHandle* base, uint32_t flags,
                      Walked* walked, FsHandle** existing);
  FsMount* StartVolume(const char* path, FsHandle* base);
  Result MoveName(bool replace, const char* old_path, FsHandle* old_base, const char* new_path,
                  FsHandle* new_base, const FsTiming* timing);
  Result Step(FsRequest* request, FsHandle* current, const char* name, uint32_t length,
              uint32_t flags, FsHandle** next);
  Result OpenSysnodeDir(FsRequest* request, const char* name, FsHandle** out);
  Result CreateNode(bool directory, FsHandle** out, const char* path, FsHandle* base,
                    uint32_t flags, const FsTiming* timing);
  Result RunTransfers(bool write, FsHandle* handle, Transfer* records, uint32_t count,
                  uint32_t* processed, const FsTiming* timing);
  Result UnmountMatching(FsRequest* request, BlockDevice* device, uint64_t start,
                         uint64_t length, bool any_device);
  bool Overlaps(BlockDevice* device, uint64_t start, uint64_t length) const;
  Result OpenDevice(const char* name, BlockDevice** device);
  void CloseDevice(BlockDevice* device);
  uint64_t PathCost(FsHandle* base, const char* path, int slot);

  IRPlatform* platform_;
  IRTime* time_;
  IRBlockDevice* devices_;
  FsScheduler scheduler_;
  win32sync::LocalMutex lists_mutex_;
  std::list<const FsType*> types_;
  std::list<FsMount*> volumes_;
  FsMount* sysnode_ = nullptr;
};

// The manager of the running platform (null when none); the types reach the framework
// through it and the free helpers below.
FsManager* TheFsManager();
void SetTheFsManager(FsManager* manager);

// Helpers for the types.
Result FsCreateVolume(FsRequest* request, const char* name, const FsType* type, void* state,
                      BlockDevice* device, uint64_t start, uint64_t length, uint32_t attribute3,
                      BlockCache* cache, uint32_t flags, const void* parameters,
                      uint32_t parameter_length, FsMount** out);
// Opens a handle on the node with this id (made on first open; new_node tells the type to
// fill its state).
Result FsAttachHandle(FsMount* volume, uint64_t node_id, uint32_t flags, FsHandle** out,
                      bool* new_node);
// Closes a handle as Close does (FlushFile, CloseNode, ReleaseNode with the last one).
Result FsCloseHandle(FsRequest* request, FsHandle* handle);
// The common OpenNode slot: another handle on the same node.
Result FsOpenNode(FsRequest* request, FsHandle** out, FsHandle* handle, uint32_t flags);
// Moves the running request onto another volume (it waits while that volume is busy).
void FsEnterVolume(FsRequest* request, FsMount* volume);
// Moves the request onto the volume and opens its root.
Result FsEnterVolumeRoot(FsRequest* request, FsHandle** out, FsMount* volume, uint32_t flags);
// The volume name "%s@%I64X,%I64X" (device, start, length in upper-case hexadecimal), cut to
// the buffer; 0x80820014 when it did not fit.
Result FsFormatVolumeName(char* buffer, uint32_t size, const char* device, uint64_t start,
                          uint64_t length);
// 0 equal, 1 equal when A-Z are folded to a-z, 2 different.
int FsCompareName(const char* a, uint32_t a_length, const char* b, uint32_t b_length);
const FsType* FsFindType(const char* name);
// Device transfers inside a running request (the turn is given up meanwhile); position and
// length in bytes, whole sectors. The request may be null outside the framework (tests).
Result FsBlockRead(FsRequest* request, BlockDevice* device, uint64_t position, void* buffer,
                   uint32_t length, uint32_t flags);
Result FsBlockWrite(FsRequest* request, BlockDevice* device, uint64_t position,
                    const void* buffer, uint32_t length, uint32_t flags);
void FsSleep(FsRequest* request, uint32_t channel);
void FsWake(uint32_t channel);
// The facility "fs" of the system log.
void FsLog(uint32_t code, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
