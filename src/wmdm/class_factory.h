// The class factory and class-object lookup behind DllGetClassObject and DllCanUnloadNow.
#pragma once

#include <objbase.h>

#include "wmdm/module_lock.h"

// Creates a new object and queries it for riid.
using ComObjectCreator = HRESULT (*)(REFIID riid, void** object);

// A free-threaded factory for one class; no aggregation.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(ComObjectCreator creator) : creator_(creator) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  ~ClassFactory() = default;

  ComObjectCreator creator_;
  LONG refs_ = 0;
  ModuleReference module_;
};

// DllGetClassObject: only the service provider is created through COM.
HRESULT GetTorvexClassObject(REFCLSID clsid, REFIID riid, void** object);

// DllCanUnloadNow: S_OK when no object or lock is alive, else S_FALSE.
HRESULT CanUnloadTorvex();
