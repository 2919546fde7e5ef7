// IRFileSystem: the platform service through which the device library reaches every mounted
// volume. It holds no state of its own: every operation forwards to the file-system manager.
// The slot order below is the interface's and must not change.
#pragma once

#include <cstdint>

#include "fs/fs_manager.h"
#include "platform/platform_interface.h"

// <windows.h> turns this name into a macro; the interface keeps its own name.
#undef CreateFile

class IRFileSystem final : public PlatformInterface {
 public:
  typedef FsManager::Transfer Transfer;

  // Takes the manager; null without memory.
  static IRFileSystem* Create(FsManager* manager);
  // Unmounts every volume, destroys the sysnode root and the manager.
  void Destroy() override;

  virtual Result Open(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                      const FsTiming* timing);
  // Frees the handle in every case; a failed flush of its file is returned.
  virtual Result Close(FsHandle* handle, const FsTiming* timing);
  virtual Result CreateFile(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                            const FsTiming* timing);
  virtual Result CreateDir(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                           const FsTiming* timing);
  virtual Result Remove(const char* path, FsHandle* base, const FsTiming* timing);
  virtual Result Rename(const char* old_path, FsHandle* old_base, const char* new_path,
                        FsHandle* new_base, const FsTiming* timing);
  virtual Result ReadFile(FsHandle* handle, void* buffer, uint32_t length, uint32_t* count,
                          const FsTiming* timing);
  virtual Result WriteFile(FsHandle* handle, const void* buffer, uint32_t length,
                           uint32_t* count, const FsTiming* timing);
  virtual Result VReadFile(FsHandle* handle, Transfer* records, uint32_t count,
                           uint32_t* processed, const FsTiming* timing);
  virtual Result VWriteFile(FsHandle* handle, Transfer* records, uint32_t count,
                            uint32_t* processed, const FsTiming* timing);
  virtual Result Seek(FsHandle* handle, int64_t offset, int base, uint64_t* position);
  virtual Result Pop(FsHandle* handle, int64_t position, int base, uint64_t length,
                     uint64_t hint, uint32_t word, uint32_t populate, const FsTiming* timing);
  // Pop to the end of the file.
  virtual Result Pop(FsHandle* handle, int64_t position, int base, const FsTiming* timing);
  virtual Result ReadDir(FsHandle* handle, char* buffer, uint32_t size, const FsTiming* timing);
  virtual Result RewindDir(FsHandle* handle, const FsTiming* timing);
  virtual Result SetAttr(FsHandle* handle, uint32_t id, const void* value,
                         uint32_t value_length, void* out, uint32_t out_size,
                         const FsTiming* timing);
  virtual Result GetAttr(FsHandle* handle, uint32_t id, void* out, uint32_t out_size,
                         const FsTiming* timing);
  // With null: every volume is synced and the first failure returned.
  virtual Result Flush(FsHandle* handle, const FsTiming* timing);
  virtual Result Mount(const char* device, uint64_t start, uint64_t length, uint32_t read_only,
                       const void* parameters, uint32_t parameter_length);
  // The first failure of syncing, unmounting and the final write-back is returned.
  virtual Result Unmount(const char* device, uint64_t start, uint64_t length);
  virtual void MountAll();
  virtual void UnmountAll();
  virtual Result GetMount(void** cursor, char* device, uint32_t device_size, char* volume,
                          uint32_t volume_size, uint64_t* start, uint64_t* length,
                          uint32_t* flags, void* parameters, uint32_t parameter_size,
                          void* further);
  virtual Result Format(uint32_t word, const char* device, const char* type_name,
                        uint64_t start, uint64_t length, const void* parameters,
                        uint32_t parameter_length, const char* label, const void* description);
  virtual Result ReadFormat(const char* device, uint64_t start, uint64_t* length,
                            char* type_name, uint32_t type_name_size, char* label,
                            void* description, uint32_t* size);
  virtual Result Resize(const char* device, uint64_t start, uint64_t length);
  virtual Result GetDirName(FsHandle* directory, char* buffer, uint32_t size);
  virtual Result GetPath(FsHandle* directory, char* buffer, uint32_t size);
  virtual Result FormatVolumeName(char* buffer, uint32_t size, const char* device,
                                  uint64_t start, uint64_t length);
  virtual Result Debug(FsHandle* handle, uint32_t mode, void* first, void* second);
  virtual Result ReadPart(PartEntry* entry, const char* device, int32_t index);
  virtual Result WritePartTable(const PartTable* table, const char* device, int format);
  virtual Result WritePartEntry(const PartEntry* entry, const char* device, int32_t index);
  // Rename refuses a new name that exists (0x80820018); this one replaces an existing file of
  // that name in one step where the volume's type offers it (else 0x8082000A). A directory
  // is never replaced (0x80820018), nor a file open elsewhere (0x8082001D).
  virtual Result RenameReplacing(const char* old_path, FsHandle* old_base, const char* new_path,
                                 FsHandle* new_base, const FsTiming* timing);

  FsManager* manager() { return manager_; }

 private:
  explicit IRFileSystem(FsManager* manager) : manager_(manager) {}
  ~IRFileSystem() = default;
  FsManager* manager_;
};

// Installs the file-system layer as the platform's provider: from the next platform start
// on, IRFileSystem exists, with the sysnode and WinFS types and the "WINFS:0" device.
void InstallPlatformFileSystem();
