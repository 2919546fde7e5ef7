// WMDM's progress callback as an application implements it: it records the calls in order
// with the thread each came from, and signals an event when its last outside reference goes
// (the provider has finished with it). Free-threaded (it aggregates COM's free-threaded
// marshaler) unless told otherwise; it can also refuse marshalling, answer IWMDMProgress2 or
// fail Begin. Make and use it on a thread that has joined COM; only for tests that link wmdm.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "wmdm/cmdsp_storage_globals.h"
#include "wmdm/wmdm_interfaces.h"

struct ProgressOptions {
  bool free_threaded = true;
  bool progress2 = false;          // answers IWMDMProgress2 and records End2
  HRESULT begin_result = S_OK;
  HRESULT refuse_marshalling = S_OK;  // a failure: IMarshal answers it for every call
};

class RecordingProgress final : public IWMDMProgress2, public IMarshal {
 public:
  explicit RecordingProgress(const ProgressOptions& options = ProgressOptions())
      : options_(options), released_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (options_.free_threaded && SUCCEEDED(options_.refuse_marshalling)) {
      CoCreateFreeThreadedMarshaler(static_cast<IWMDMProgress*>(this), &marshaler_);
    }
  }
  ~RecordingProgress() {
    if (marshaler_) marshaler_->Release();
    CloseHandle(released_);
  }
  RecordingProgress(const RecordingProgress&) = delete;
  RecordingProgress& operator=(const RecordingProgress&) = delete;

  // "Begin(100)", "Progress(100)", "End", "End2(0x80070070)", in order.
  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  // The threads the calls came from, in the same order.
  std::vector<DWORD> threads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }
  // References others hold; the creator's own one is not counted.
  LONG outside_references() const { return refs_ - 1; }
  // Signalled when the outside references drop back to none after having been taken.
  HANDLE released() const { return released_; }
  bool free_threaded() const { return marshaler_ != nullptr; }

  // --- IUnknown ---
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMDMProgress ||
        (riid == IID_IWMDMProgress2 && options_.progress2)) {
      *object = static_cast<IWMDMProgress2*>(this);
    } else if (riid == IID_IMarshal && FAILED(options_.refuse_marshalling)) {
      *object = static_cast<IMarshal*>(this);
    } else if (riid == IID_IMarshal && marshaler_) {
      return marshaler_->QueryInterface(riid, object);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    const LONG refs = InterlockedIncrement(&refs_);
    if (refs > 1) taken_ = true;
    return refs;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 1 && taken_) SetEvent(released_);
    if (refs == 0) delete this;
    return refs;
  }

  // --- IWMDMProgress2 ---
  HRESULT STDMETHODCALLTYPE Begin(DWORD ticks) override {
    Record("Begin(" + std::to_string(ticks) + ")");
    return options_.begin_result;
  }
  HRESULT STDMETHODCALLTYPE Progress(DWORD ticks) override {
    Record("Progress(" + std::to_string(ticks) + ")");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE End() override {
    Record("End");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE End2(HRESULT result) override {
    char text[32];
    wsprintfA(text, "End2(0x%08lx)", static_cast<unsigned long>(result));
    Record(text);
    return S_OK;
  }

  // --- IMarshal, only when refusing ---
  HRESULT STDMETHODCALLTYPE GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD,
                                              CLSID*) override {
    return options_.refuse_marshalling;
  }
  HRESULT STDMETHODCALLTYPE GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD,
                                              DWORD*) override {
    return options_.refuse_marshalling;
  }
  HRESULT STDMETHODCALLTYPE MarshalInterface(IStream*, REFIID, void*, DWORD, void*,
                                             DWORD) override {
    return options_.refuse_marshalling;
  }
  HRESULT STDMETHODCALLTYPE UnmarshalInterface(IStream*, REFIID, void**) override {
    return options_.refuse_marshalling;
  }
  HRESULT STDMETHODCALLTYPE ReleaseMarshalData(IStream*) override {
    return options_.refuse_marshalling;
  }
  HRESULT STDMETHODCALLTYPE DisconnectObject(DWORD) override { return S_OK; }

 private:
  void Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
    threads_.push_back(GetCurrentThreadId());
  }

  ProgressOptions options_;
  HANDLE released_;
  IUnknown* marshaler_ = nullptr;
  LONG refs_ = 1;
  std::atomic<bool> taken_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<DWORD> threads_;
};
