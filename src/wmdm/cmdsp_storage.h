// The root storage of a WMDM device: tracks are listed from it, created on it, and the
// metadata of the next track may be sent to it ahead of the file (opaque commands).
#pragma once

#include <windows.h>

#include <memory>

#include "media/property_holder.h"
#include "wmdm/cmdsp_storage_object.h"
#include "wmdm/wmdm_interfaces.h"

class CMDSPDevice;

// The opaque commands of a storage: the next file's metadata as a fixed record, as the
// player's own file record, or as "name=value" lines.
inline constexpr GUID kOpaqueFixedMetadata = {
    0xC464810D, 0xB867, 0x47A8, {0x8E, 0x63, 0x5A, 0x74, 0xB5, 0xCF, 0x8E, 0x6B}};
inline constexpr GUID kOpaqueDeviceFileRecord = {
    0x2D5E50A3, 0x0412, 0x4DDA, {0xB8, 0x5F, 0xAF, 0xEC, 0xBD, 0x61, 0xFD, 0x54}};
inline constexpr GUID kOpaqueMetadataText = {
    0x03DA3ACF, 0x66B2, 0x4F59, {0x9C, 0x9B, 0xEC, 0x4F, 0x23, 0x97, 0xDA, 0xBE}};

// Size of the fixed metadata record; shorter data is refused.
constexpr DWORD kFixedMetadataSize = 0x11C;

// Storage types of the storage objects.
constexpr uint32_t kStorageTypeRoot = 3;
constexpr uint32_t kStorageTypeFile = 4;

// For CMDSPDevice::GetStorage and the storage globals: a new root storage of the device,
// handed out with one reference. E_INVALIDARG for a null out pointer, E_FAIL for a null
// device, E_OUTOFMEMORY.
HRESULT CreateRootStorage(CMDSPDevice* device, IMDSPStorage** out);

class CMDSPStorage final : public StorageObject {
 public:
  HRESULT STDMETHODCALLTYPE GetName(LPWSTR name, UINT max_chars) override;
  HRESULT STDMETHODCALLTYPE GetSize(DWORD* size_low, DWORD* size_high) override;
  HRESULT STDMETHODCALLTYPE CreateStorage(DWORD attributes, WMDM_WAVEFORMATEX* format,
                                          LPWSTR name, IMDSPStorage** storage) override;
  HRESULT STDMETHODCALLTYPE EnumStorage(IMDSPEnumStorage** enumerator) override;
  HRESULT STDMETHODCALLTYPE SendOpaqueCommand(OPAQUECOMMAND* command) override;

  // The metadata that the next CreateStorage hands to its file; null when none.
  const PropertyHolder* pending_metadata() const { return pending_.get(); }

 private:
  friend HRESULT CreateRootStorage(CMDSPDevice* device, IMDSPStorage** out);
  explicit CMDSPStorage(CMDSPDevice* device);
  ~CMDSPStorage() override;

  DWORD Attributes() const override { return WMDM_FILE_ATTR_FOLDER; }
  HRESULT TakeOpaqueCommand(const OPAQUECOMMAND& command);

  uint32_t storage_type_ = kStorageTypeRoot;
  std::unique_ptr<PropertyHolder> pending_;
};
