#include "wmdm/cmdsp_storage_globals.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "devices/predictor.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/clock.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_storage.h"
#include "wmdm/no_throw.h"
#include "wmdm/wmdm_conventions.h"
#include "wmdm/wmdm_log.h"

namespace {

constexpr DWORD kProgressTicks = 100;
// Lets a progress display show the finished bar before it closes.
constexpr DWORD kFinishedPauseMs = 100;

template <typename Call>
HRESULT Traced(const char* method, Call&& call) {
  return WmdmLogResult(method, CallNoThrow(call));
}

void Split(int64_t value, DWORD* low, DWORD* high) {
  *low = static_cast<DWORD>(static_cast<uint64_t>(value));
  *high = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
}

// One format of one device, made per Initialize and freed by whoever runs it. Holds a
// reference on the device, and on the progress interface or its marshalled form.
struct FormatJob {
  explicit FormatJob(CMDSPDevice* format_device) : device(format_device) { device->AddRef(); }
  ~FormatJob() {
    if (stream) {
      // Never unmarshalled: the reference inside the marshalled form goes too.
      CoReleaseMarshalData(stream);
      stream->Release();
    }
    device->Release();
  }
  FormatJob(const FormatJob&) = delete;
  FormatJob& operator=(const FormatJob&) = delete;

  HRESULT Run(IWMDMProgress* progress) {
    const bool begun = progress && SUCCEEDED(progress->Begin(kProgressTicks));
    const HRESULT status = CallNoThrow([&] { return device->FormatStorage(); });
    if (begun) {
      progress->Progress(kProgressTicks);
      Clock::System()->SleepMs(kFinishedPauseMs);
      // The result would otherwise reach nobody when the format ran on the worker thread.
      IWMDMProgress2* progress2 = nullptr;
      if (SUCCEEDED(progress->QueryInterface(IID_IWMDMProgress2,
                                             reinterpret_cast<void**>(&progress2))) &&
          progress2) {
        progress2->End2(status);
        progress2->Release();
      } else {
        progress->End();
      }
    }
    return status;
  }

  CMDSPDevice* device;
  IStream* stream = nullptr;  // the marshalled progress interface, for the worker
  HMODULE module = nullptr;   // pinned for the worker's life
};

DWORD WINAPI FormatWorker(void* parameter) {
  auto* job = static_cast<FormatJob*>(parameter);
  const HMODULE module = job->module;
  // The caller's thread may be the process's only apartment (an STA application): join the
  // multithreaded apartment rather than rely on one existing.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IWMDMProgress* progress = nullptr;
  if (job->stream && SUCCEEDED(com)) {
    // Releases the stream whatever its result.
    if (FAILED(CoGetInterfaceAndReleaseStream(job->stream, IID_IWMDMProgress,
                                              reinterpret_cast<void**>(&progress)))) {
      progress = nullptr;
    }
    job->stream = nullptr;
  }
  // The caller was told the format would happen: without its progress interface it still
  // does, unreported.
  job->Run(progress);
  // The device goes first: a caller that waits for its progress interface to be let go
  // finds the device let go too.
  delete job;
  if (progress) progress->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

// Runs job on a new thread, which owns it from then on.
HRESULT StartWorker(std::unique_ptr<FormatJob>& job) {
  // The thread's code must stay loaded until the thread has left it.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&FormatWorker), &job->module)) {
    return HResultFromWin32(GetLastError());
  }
  const HMODULE module = job->module;
  const HANDLE thread = CreateThread(nullptr, 0, FormatWorker, job.get(), 0, nullptr);
  if (!thread) {
    const DWORD error = GetLastError();
    FreeLibrary(module);
    return error ? HResultFromWin32(error) : E_FAIL;
  }
  job.release();
  CloseHandle(thread);
  return S_OK;
}

}  // namespace

HRESULT CMDSPStorageGlobals::Create(CMDSPDevice* device, IMDSPStorageGlobals** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  auto* globals = new (std::nothrow) CMDSPStorageGlobals(device);
  if (!globals) return E_OUTOFMEMORY;
  globals->AddRef();
  *out = globals;
  return S_OK;
}

CMDSPStorageGlobals::CMDSPStorageGlobals(CMDSPDevice* device) : device_(device) {
  if (device_) device_->AddRef();
}

CMDSPStorageGlobals::~CMDSPStorageGlobals() {
  if (device_) device_->Release();
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMDSPStorageGlobals) {
    *object = static_cast<IMDSPStorageGlobals*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CMDSPStorageGlobals::AddRef() { return InterlockedIncrement(&refs_); }

ULONG STDMETHODCALLTYPE CMDSPStorageGlobals::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::GetCapabilities(DWORD* capabilities) {
  return Traced("CMDSPStorageGlobals::GetCapabilities", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, capabilities);
    if (FAILED(hr)) return hr;
    if (!device_) return E_FAIL;
    DWORD answer = kStorageCapabilities;
    RefPtr<PropertySet> info = device_->device_info().GetSet();
    if (device_->has_device_info() && info &&
        info->GetInt("device_id") == kNotInitializableDeviceId) {
      answer |= WMDM_STORAGECAP_NOT_INITIALIZABLE;
    }
    *capabilities = answer;
    return hr;
  });
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::GetSerialNumber(WMDMID* serial, BYTE*) {
  return Traced("CMDSPStorageGlobals::GetSerialNumber", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, serial);
    if (FAILED(hr)) return hr;
    if (!device_) return E_FAIL;
    const std::vector<uint8_t>& bytes = device_->serial();
    const size_t length = std::min<size_t>(bytes.size(), WMDMID_LENGTH);
    std::memset(serial, 0, sizeof(*serial));
    serial->cbSize = sizeof(WMDMID);
    serial->dwVendorID = kPlayerVendorId;
    if (length) std::memcpy(serial->pID, bytes.data(), length);
    serial->SerialNumberLength = static_cast<UINT>(length);
    return hr;
  });
}

HRESULT CMDSPStorageGlobals::GetSpace(const char* key, DWORD* low, DWORD* high) {
  const HRESULT hr = CheckOutPointer(CheckOutPointer(S_OK, low), high);
  if (FAILED(hr)) return hr;
  *low = *high = 0;
  if (!device_) return E_FAIL;
  auto lock = device_->LockPlayer();
  // A device listed while its player was busy counts space once it reaches the player; until
  // then it has no predictor.
  device_->EnsureBound();
  Predictor* predictor = device_->device_ptr() ? device_->device_ptr()->GetPredictor() : nullptr;
  if (!predictor) return hr;
  PropertyHolder info;
  const Result status = predictor->GetStorageInfo(info);
  if (rc::Failed(status)) return MapDeviceStatus(S_OK, status);
  RefPtr<PropertySet> set = info.GetSet();
  Split(set ? set->GetInt64(key) : 0, low, high);
  return hr;
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::GetTotalSize(DWORD* low, DWORD* high) {
  return Traced("CMDSPStorageGlobals::GetTotalSize", [&] {
    return GetSpace("size_in_bytes", low, high);
  });
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::GetTotalFree(DWORD* low, DWORD* high) {
  return Traced("CMDSPStorageGlobals::GetTotalFree", [&] {
    const HRESULT hr = GetSpace("free_in_bytes", low, high);
    if (SUCCEEDED(hr)) {
      const QelDevicePtrEx* handle = device_->device_ptr();
      const Predictor* predictor = handle ? handle->GetPredictor() : nullptr;
      WmdmLog("CMDSPStorageGlobals::GetTotalFree predictor is 0x%08lx",
              static_cast<DWORD>(reinterpret_cast<uintptr_t>(predictor)), S_OK);
      WmdmLog("CMDSPStorageGlobals::GetTotalFree reported 0x%08lx", *low, S_OK);
    }
    return hr;
  });
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::GetTotalBad(DWORD* low, DWORD* high) {
  return Traced("CMDSPStorageGlobals::GetTotalBad", [&] {
    return GetSpace("bad_in_bytes", low, high);
  });
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::GetStatus(DWORD* status) {
  return Traced("CMDSPStorageGlobals::GetStatus", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, status);
    if (FAILED(hr)) return hr;
    if (!device_) return E_FAIL;
    return device_->GetStatus(status);
  });
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::GetDevice(IMDSPDevice** device) {
  return Traced("CMDSPStorageGlobals::GetDevice", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, device);
    if (FAILED(hr)) return hr;
    *device = nullptr;
    if (!device_) return E_FAIL;
    return device_->QueryInterface(IID_IMDSPDevice, reinterpret_cast<void**>(device));
  });
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::GetRootStorage(IMDSPStorage** root) {
  return Traced("CMDSPStorageGlobals::GetRootStorage", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, root);
    if (FAILED(hr)) return hr;
    *root = nullptr;
    return CreateRootStorage(device_, root);
  });
}

HRESULT STDMETHODCALLTYPE CMDSPStorageGlobals::Initialize(UINT mode, IWMDMProgress* progress) {
  return Traced("CMDSPStorageGlobals::Initialize", [&]() -> HRESULT {
    if (!device_) {
      WmdmLog("m_pSpDevice was NULL", 0, E_FAIL);
      return E_FAIL;
    }
    std::unique_ptr<FormatJob> job(new FormatJob(device_));
    if (mode & WMDM_MODE_BLOCK) return job->Run(progress);
    if (progress) {
      const HRESULT marshalled =
          CoMarshalInterThreadInterfaceInStream(IID_IWMDMProgress, progress, &job->stream);
      if (FAILED(marshalled)) {
        job->stream = nullptr;
        return marshalled;
      }
    }
    return StartWorker(job);
  });
}
