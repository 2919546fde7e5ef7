#include <windows.h>

#include <cstring>

#include "platform/platform.h"

const char kSharedPointerName[] = "RPLATFORM_SECRET_POINTER";

namespace {
HANDLE published_mapping = nullptr;
}  // namespace

int PublishSharedPointer(void* address) {
  if (!published_mapping) {
    published_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           sizeof(void*), kSharedPointerName);
    if (!published_mapping) return 2;
  }
  void* view = MapViewOfFile(published_mapping, FILE_MAP_WRITE, 0, 0, sizeof(void*));
  if (!view) return 2;
  memcpy(view, &address, sizeof address);
  UnmapViewOfFile(view);
  return 0;
}

void* ReadSharedPointer() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, kSharedPointerName);
  if (!mapping) return nullptr;
  void* address = nullptr;
  if (void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(void*))) {
    memcpy(&address, view, sizeof address);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return address;
}

void CloseSharedPointer() {
  if (published_mapping) CloseHandle(published_mapping);
  published_mapping = nullptr;
}
