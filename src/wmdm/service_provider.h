// The object WMDM creates from the DLL: it lists the attached players as WMDM devices, counts
// them and makes the devices of a player WMDM names by its device path. Free-threaded; its
// only state is the device count of the last enumeration (last writer wins).
#pragma once

#include <windows.h>

#include <atomic>

#include "wmdm/module_lock.h"
#include "wmdm/wmdm_interfaces.h"

class CMDTorvexServiceProvider final : public IMDServiceProvider2 {
 public:
  // Created with no reference; the creator takes the first. Null when memory runs out.
  static CMDTorvexServiceProvider* New();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // 0xFFFFFFFF until the first EnumDevices.
  HRESULT STDMETHODCALLTYPE GetDeviceCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE EnumDevices(IMDSPEnumDevice** enumerator) override;
  // One device per storage of the player at the path, storage 0 first; all or nothing.
  HRESULT STDMETHODCALLTYPE CreateDevice(LPCWSTR device_path, DWORD* count,
                                         IMDSPDevice*** devices) override;

  // Whether Windows Sockets started for the device library's network code.
  bool sockets_started() const { return sockets_started_; }

 private:
  CMDTorvexServiceProvider();
  ~CMDTorvexServiceProvider();
  CMDTorvexServiceProvider(const CMDTorvexServiceProvider&) = delete;
  CMDTorvexServiceProvider& operator=(const CMDTorvexServiceProvider&) = delete;

  LONG refs_ = 0;
  ModuleReference module_;
  std::atomic<LONG> device_count_{-1};
  bool sockets_started_ = false;
};
