// The provider as WMDM gets it: the test build of Torvex.dll registers itself in the test
// prefix through its own DllRegisterServer (once per process), and the provider is created with
// CoCreateInstance of the registered class. The DLL that COM loaded then gets the test's seams.
#pragma once

#include <windows.h>

#include <cstdint>

#include "wmdm/provider/torvex_test_seams.h"
#include "wmdm/wmdm_interfaces.h"

class RegisteredProvider {
 public:
  RegisteredProvider() = default;
  // Takes the seams back from the DLL and lets it go.
  ~RegisteredProvider();
  RegisteredProvider(const RegisteredProvider&) = delete;
  RegisteredProvider& operator=(const RegisteredProvider&) = delete;

  // A new provider in *provider (one reference), the DLL holding `seams`, which must outlive
  // this object.
  HRESULT Create(const TorvexTestSeams& seams, IMDServiceProvider2** provider);
  // Operations in progress on the DLL's devices.
  int32_t BusyCount() const;

 private:
  HMODULE module_ = nullptr;  // our own reference on the DLL COM loaded
};
