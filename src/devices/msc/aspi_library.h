// The ASPI library of Windows 9x ("WNASPI32.DLL"), bound at run time once per process, and the
// request blocks this system sends through it. The blocks are declared here with the library's
// 32-bit layout; on a 64-bit build the two pointer fields widen (only the 32-bit DLL ever meets
// the real library).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "support/result_codes.h"

namespace aspi {

constexpr uint8_t kCommandHostAdapterInquiry = 0;
constexpr uint8_t kCommandExecute = 2;
constexpr uint8_t kCommandAbort = 3;

constexpr uint8_t kStatusPending = 0;
constexpr uint8_t kStatusCompleted = 1;
constexpr uint8_t kStatusAborted = 2;

constexpr uint8_t kFlagDataIn = 0x08;
constexpr uint8_t kFlagDataOut = 0x10;
constexpr uint8_t kFlagEventNotify = 0x40;

constexpr uint32_t kCdbCapacity = 16;
constexpr uint32_t kSenseCapacity = 16;

#pragma pack(push, 1)
struct HostAdapterInquiry {  // 60 bytes
  uint8_t command;
  uint8_t status;
  uint8_t host_adapter;
  uint8_t flags;
  uint32_t reserved;
  uint8_t adapter_count;
  uint8_t scsi_id;
  uint8_t manager_id[16];
  uint8_t identifier[16];
  uint8_t unique[16];
  uint16_t reserved2;
};

struct ExecuteRequest {  // 80 bytes on 32-bit Windows
  uint8_t command;
  uint8_t status;
  uint8_t host_adapter;
  uint8_t flags;
  uint32_t reserved;
  uint8_t target;
  uint8_t lun;
  uint16_t reserved1;
  uint32_t buffer_length;
  uint8_t* buffer;
  uint8_t sense_length;
  uint8_t cdb_length;
  uint8_t adapter_status;
  uint8_t target_status;
  void* post_processing;  // the event signalled on completion
  uint8_t reserved2[20];
  uint8_t cdb[kCdbCapacity];
  uint8_t sense[kSenseCapacity];
};

struct AbortRequest {
  uint8_t command;
  uint8_t status;
  uint8_t host_adapter;
  uint8_t flags;
  uint32_t reserved;
  void* request;  // the request to abort
};
#pragma pack(pop)

static_assert(sizeof(HostAdapterInquiry) == 60, "host adapter inquiry layout");
static_assert(offsetof(HostAdapterInquiry, adapter_count) == 8, "adapter count offset");
static_assert(sizeof(ExecuteRequest) == (sizeof(void*) == 4 ? 80 : 88), "request layout");

// The library's two entry points.
struct EntryPoints {
  DWORD(__cdecl* get_support_info)();
  DWORD(__cdecl* send_command)(void* request);
};

}  // namespace aspi

class AspiLibrary {
 public:
  // The process's library, loaded on first use and never freed; null only when memory ran out.
  static AspiLibrary* Process();

  // Binds `entry_points` (which must outlive the library) and checks the support info.
  explicit AspiLibrary(const aspi::EntryPoints& entry_points);
  AspiLibrary(const AspiLibrary&) = delete;
  AspiLibrary& operator=(const AspiLibrary&) = delete;

  // 0 when ASPI is usable, else why not.
  Result status() const { return status_; }
  // The library's answer to the request; 228 (not bound) when ASPI is not usable.
  DWORD Send(void* request);
  // Host adapters present; 0 when ASPI is not usable.
  uint8_t HostAdapterCount();

 private:
  AspiLibrary();  // loads "WNASPI32.DLL"
  void CheckSupport();

  HMODULE module_ = nullptr;
  aspi::EntryPoints entry_points_ = {};
  Result status_ = 1;
};
