// The interfaces through which the COM back end of the SCSI device reaches a player server:
// the player interface and the drive enumeration it hands out. A server that is configured
// implements both; this system ships none.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>

// One drive of a player as the server reports it; texts are NUL-terminated.
#pragma pack(push, 4)
struct ComScsiDriveInfo {
  char drive_letter;
  char vendor[9];
  char product[17];
  char revision[5];
  char unit_serial[64];
  char drive_name[25];
  uint32_t drive_id;
  uint64_t serial;
  uint32_t product_id;
  uint32_t capability_flags;
  uint32_t firmware_version;
  uint32_t boot_version;
};
#pragma pack(pop)

// {71D4191A-AC7C-4CBD-9BF2-3D370F5CDE2A}
constexpr IID kIidComScsiDriveEnum = {
    0x71D4191A, 0xAC7C, 0x4CBD, {0x9B, 0xF2, 0x3D, 0x37, 0x0F, 0x5C, 0xDE, 0x2A}};

struct IComScsiDriveEnum : public IUnknown {
  // S_OK with the next drive, S_FALSE after the last.
  virtual HRESULT STDMETHODCALLTYPE Next(ComScsiDriveInfo* info) = 0;
};

// {7EB43864-219F-405B-AA46-93E6CC0FA2B9}
constexpr IID kIidComScsiPlayer = {
    0x7EB43864, 0x219F, 0x405B, {0xAA, 0x46, 0x93, 0xE6, 0xCC, 0x0F, 0xA2, 0xB9}};

struct IComScsiPlayer : public IUnknown {
  // The drives of every player the server sees, as an IComScsiDriveEnum.
  virtual HRESULT STDMETHODCALLTYPE EnumDrives(IUnknown** drives) = 0;
  virtual HRESULT STDMETHODCALLTYPE CheckUnitSerial(BYTE drive) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTime(BYTE drive, DWORD first, DWORD second) = 0;
  // `letters`: the player's drives.
  virtual HRESULT STDMETHODCALLTYPE FlushVolumes(BYTE drive, const BYTE* letters,
                                                 DWORD count) = 0;
  // One 8192-byte block of a firmware image, numbered from 0; the last one zero-padded.
  virtual HRESULT STDMETHODCALLTYPE WriteFirmwareBlock(BYTE drive, DWORD flags,
                                                       DWORD block_number, const BYTE* block,
                                                       DWORD length) = 0;
};
