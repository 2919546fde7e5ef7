#include "fs/ir_file_system.h"

#include <new>

IRFileSystem* IRFileSystem::Create(FsManager* manager) {
  return new (std::nothrow) IRFileSystem(manager);
}

void IRFileSystem::Destroy() {
  delete manager_;
  delete this;
}

Result IRFileSystem::Open(FsHandle** out, const char* path, FsHandle* base, uint32_t flags,
                          const FsTiming* timing) {
  return manager_->Open(out, path, base, flags, timing);
}
Result IRFileSystem::Close(FsHandle* handle, const FsTiming* timing) {
  return manager_->Close(handle, timing);
}
Result IRFileSystem::CreateFile(FsHandle** out, const char* path, FsHandle* base,
                                uint32_t flags, const FsTiming* timing) {
  return manager_->CreateFile(out, path, base, flags, timing);
}
Result IRFileSystem::CreateDir(FsHandle** out, const char* path, FsHandle* base,
                               uint32_t flags, const FsTiming* timing) {
  return manager_->CreateDir(out, path, base, flags, timing);
}
Result IRFileSystem::Remove(const char* path, FsHandle* base, const FsTiming* timing) {
  return manager_->Remove(path, base, timing);
}
Result IRFileSystem::Rename(const char* old_path, FsHandle* old_base, const char* new_path,
                            FsHandle* new_base, const FsTiming* timing) {
  return manager_->Rename(old_path, old_base, new_path, new_base, timing);
}
Result IRFileSystem::ReadFile(FsHandle* handle, void* buffer, uint32_t length, uint32_t* count,
                              const FsTiming* timing) {
  return manager_->ReadFile(handle, buffer, length, count, timing);
}
Result IRFileSystem::WriteFile(FsHandle* handle, const void* buffer, uint32_t length,
                               uint32_t* count, const FsTiming* timing) {
  return manager_->WriteFile(handle, buffer, length, count, timing);
}
Result IRFileSystem::VReadFile(FsHandle* handle, Transfer* records, uint32_t count,
                               uint32_t* processed, const FsTiming* timing) {
  return manager_->VReadFile(handle, records, count, processed, timing);
}
Result IRFileSystem::VWriteFile(FsHandle* handle, Transfer* records, uint32_t count,
                                uint32_t* processed, const FsTiming* timing) {
  return manager_->VWriteFile(handle, records, count, processed, timing);
}
Result IRFileSystem::Seek(FsHandle* handle, int64_t offset, int base, uint64_t* position) {
  return manager_->Seek(handle, offset, base, position);
}
Result IRFileSystem::Pop(FsHandle* handle, int64_t position, int base, uint64_t length,
                         uint64_t hint, uint32_t word, uint32_t populate,
                         const FsTiming* timing) {
  return manager_->Pop(handle, position, base, length, hint, word, populate, timing);
}
Result IRFileSystem::Pop(FsHandle* handle, int64_t position, int base, const FsTiming* timing) {
  return manager_->Pop(handle, position, base, ~uint64_t{0}, 0, 0, 0, timing);
}
Result IRFileSystem::ReadDir(FsHandle* handle, char* buffer, uint32_t size,
                             const FsTiming* timing) {
  return manager_->ReadDir(handle, buffer, size, timing);
}
Result IRFileSystem::RewindDir(FsHandle* handle, const FsTiming* timing) {
  return manager_->RewindDir(handle, timing);
}
Result IRFileSystem::SetAttr(FsHandle* handle, uint32_t id, const void* value,
                             uint32_t value_length, void* out, uint32_t out_size,
                             const FsTiming* timing) {
  return manager_->SetAttr(handle, id, value, value_length, out, out_size, timing);
}
Result IRFileSystem::GetAttr(FsHandle* handle, uint32_t id, void* out, uint32_t out_size,
                             const FsTiming* timing) {
  return manager_->SetAttr(handle, id, nullptr, 0, out, out_size, timing);
}
Result IRFileSystem::Flush(FsHandle* handle, const FsTiming* timing) {
  return manager_->Flush(handle, timing);
}
Result IRFileSystem::Mount(const char* device, uint64_t start, uint64_t length,
                           uint32_t read_only, const void* parameters,
                           uint32_t parameter_length) {
  return manager_->Mount(device, start, length, read_only, parameters, parameter_length);
}
Result IRFileSystem::Unmount(const char* device, uint64_t start, uint64_t length) {
  return manager_->Unmount(device, start, length);
}
void IRFileSystem::MountAll() { manager_->MountAll(); }
void IRFileSystem::UnmountAll() { manager_->UnmountAll(); }
Result IRFileSystem::GetMount(void** cursor, char* device, uint32_t device_size, char* volume,
                              uint32_t volume_size, uint64_t* start, uint64_t* length,
                              uint32_t* flags, void* parameters, uint32_t parameter_size,
                              void* further) {
  return manager_->GetMount(cursor, device, device_size, volume, volume_size, start, length,
                            flags, parameters, parameter_size, further);
}
Result IRFileSystem::Format(uint32_t word, const char* device, const char* type_name,
                            uint64_t start, uint64_t length, const void* parameters,
                            uint32_t parameter_length, const char* label,
                            const void* description) {
  return manager_->Format(word, device, type_name, start, length, parameters, parameter_length,
                          label, description);
}
Result IRFileSystem::ReadFormat(const char* device, uint64_t start, uint64_t* length,
                                char* type_name, uint32_t type_name_size, char* label,
                                void* description, uint32_t* size) {
  return manager_->ReadFormat(device, start, length, type_name, type_name_size, label,
                              description, size);
}
Result IRFileSystem::Resize(const char* device, uint64_t start, uint64_t length) {
  return manager_->Resize(device, start, length);
}
Result IRFileSystem::GetDirName(FsHandle* directory, char* buffer, uint32_t size) {
  return manager_->GetDirName(directory, buffer, size);
}
Result IRFileSystem::GetPath(FsHandle* directory, char* buffer, uint32_t size) {
  return manager_->GetPath(directory, buffer, size);
}
Result IRFileSystem::FormatVolumeName(char* buffer, uint32_t size, const char* device,
                                      uint64_t start, uint64_t length) {
  return FsFormatVolumeName(buffer, size, device, start, length);
}
Result IRFileSystem::Debug(FsHandle* handle, uint32_t mode, void* first, void* second) {
  return manager_->Debug(handle, mode, first, second);
}
Result IRFileSystem::ReadPart(PartEntry* entry, const char* device, int32_t index) {
  return manager_->ReadPart(entry, device, index);
}
Result IRFileSystem::WritePartTable(const PartTable* table, const char* device, int format) {
  return manager_->WritePartTable(table, device, format);
}
Result IRFileSystem::WritePartEntry(const PartEntry* entry, const char* device,
                                    int32_t index) {
  return manager_->WritePartEntry(entry, device, index);
}
Result IRFileSystem::RenameReplacing(const char* old_path, FsHandle* old_base,
                                     const char* new_path, FsHandle* new_base,
                                     const FsTiming* timing) {
  return manager_->RenameReplacing(old_path, old_base, new_path, new_base, timing);
}
