// The storage-wide answers of one WMDM device (capabilities, serial number, total, free and
// bad space, status, the device and its root storage) and the formatting of its storage,
// either in the caller's thread or on a worker thread that reports through IWMDMProgress.
//
// Apartment-threaded. The worker thread touches the device while the application may call
// it too: the device's busy status (with WMDM_STATUS_STORAGE_INITIALIZING) is the only
// signal, so applications wait for End before other calls on that device. No C++ exception
// leaves a method.
#pragma once

#include <windows.h>

#include <cstdint>

#include "wmdm/module_lock.h"
#include "wmdm/wmdm_interfaces.h"

class CMDSPDevice;

// Capabilities of every storage; the player with device id 0x5202 cannot be formatted.
constexpr DWORD kStorageCapabilities = WMDM_STORAGECAP_FOLDERSINROOT |
                                       WMDM_STORAGECAP_FILESINFOLDERS;
constexpr int32_t kNotInitializableDeviceId = 0x5202;

class CMDSPStorageGlobals final : public IMDSPStorageGlobals {
 public:
  // A new object for device (which may be null: then everything that needs it answers
  // E_FAIL), handed out with one reference. E_INVALIDARG for a null out pointer.
  static HRESULT Create(CMDSPDevice* device, IMDSPStorageGlobals** out);

  // --- IUnknown ---
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // --- IMDSPStorageGlobals ---
  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
  HRESULT STDMETHODCALLTYPE GetSerialNumber(WMDMID* serial, BYTE* mac) override;
  HRESULT STDMETHODCALLTYPE GetTotalSize(DWORD* low, DWORD* high) override;
  HRESULT STDMETHODCALLTYPE GetTotalFree(DWORD* low, DWORD* high) override;
  HRESULT STDMETHODCALLTYPE GetTotalBad(DWORD* low, DWORD* high) override;
  HRESULT STDMETHODCALLTYPE GetStatus(DWORD* status) override;
  // WMDM_MODE_BLOCK: formats now and returns the format's result. Otherwise the progress
  // interface is marshalled to a worker thread that formats, and the call returns S_OK once
  // the thread runs. Begin(100) comes first; after a successful Begin, Progress(100) and End
  // (End2 with the format's result when the caller implements IWMDMProgress2) follow
  // whatever the format's result. A progress interface the worker cannot unmarshal hears
  // nothing, and the format still runs.
  HRESULT STDMETHODCALLTYPE Initialize(UINT mode, IWMDMProgress* progress) override;
  HRESULT STDMETHODCALLTYPE GetDevice(IMDSPDevice** device) override;
  HRESULT STDMETHODCALLTYPE GetRootStorage(IMDSPStorage** root) override;

 private:
  explicit CMDSPStorageGlobals(CMDSPDevice* device);
  ~CMDSPStorageGlobals();
  CMDSPStorageGlobals(const CMDSPStorageGlobals&) = delete;
  CMDSPStorageGlobals& operator=(const CMDSPStorageGlobals&) = delete;

  // One value of the predictor's storage information as 64 bits in two halves.
  HRESULT GetSpace(const char* key, DWORD* low, DWORD* high);

  CMDSPDevice* device_;  // one reference, or null
  LONG refs_ = 0;
  ModuleReference module_;
};
