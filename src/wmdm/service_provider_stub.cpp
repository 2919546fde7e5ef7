// Stand-in service provider until the real CMDTorvexServiceProvider lands: it lists no
// devices, so the DLL can already be registered and created through COM. The real provider
// replaces this file.
#include <new>

#include "wmdm/module_lock.h"
#include "wmdm/service_provider_factory.h"
#include "wmdm/wmdm_interfaces.h"

namespace {

// Reference counting and QueryInterface for a stub object implementing Interface, which
// derives from the interface kBaseIid names (or is it).
template <typename Interface, const IID& kIid, const IID& kBaseIid>
class StubObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == kIid || riid == kBaseIid) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }

 protected:
  virtual ~StubObject() = default;

 private:
  LONG refs_ = 0;
  ModuleReference module_;
};

class EmptyDeviceEnumerator final : public StubObject<IMDSPEnumDevice, IID_IMDSPEnumDevice, IID_IMDSPEnumDevice> {
 public:
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, IMDSPDevice** devices, ULONG* fetched) override {
    if (!devices || !fetched) return E_INVALIDARG;
    *fetched = 0;
    return celt == 0 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt, ULONG* skipped) override {
    if (!skipped) return E_INVALIDARG;
    *skipped = 0;
    return celt == 0 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IMDSPEnumDevice** clone) override {
    if (!clone) return E_INVALIDARG;
    *clone = new (std::nothrow) EmptyDeviceEnumerator;
    if (!*clone) return E_OUTOFMEMORY;
    (*clone)->AddRef();
    return S_OK;
  }
};

class StubServiceProvider final
    : public StubObject<IMDServiceProvider2, IID_IMDServiceProvider2, IID_IMDServiceProvider> {
 public:
  HRESULT STDMETHODCALLTYPE GetDeviceCount(DWORD* count) override {
    if (!count) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumDevices(IMDSPEnumDevice** enumerator) override {
    if (!enumerator) return E_INVALIDARG;
    *enumerator = new (std::nothrow) EmptyDeviceEnumerator;
    if (!*enumerator) return E_OUTOFMEMORY;
    (*enumerator)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateDevice(LPCWSTR, DWORD* count,
                                         IMDSPDevice*** devices) override {
    if (!count || !devices) return E_INVALIDARG;
    *count = 0;
    *devices = nullptr;
    return WMDM_E_NOTSUPPORTED;
  }
};

}  // namespace

HRESULT CreateServiceProvider(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  StubServiceProvider* provider = new (std::nothrow) StubServiceProvider;
  if (!provider) return E_OUTOFMEMORY;
  provider->AddRef();
  const HRESULT hr = provider->QueryInterface(riid, object);
  provider->Release();
  return hr;
}
