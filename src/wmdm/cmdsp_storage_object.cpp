#include "wmdm/cmdsp_storage_object.h"

#include <cstdio>

#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_storage_globals.h"
#include "wmdm/wmdm_log.h"

StorageObject::StorageObject(const char* class_name, CMDSPDevice* device)
    : class_name_(class_name), device_(device) {
  if (device_) device_->AddRef();
}

StorageObject::~StorageObject() {
  if (device_) device_->Release();
}

HRESULT StorageObject::Trace(const char* method, HRESULT status) const {
  char line[128];
  std::snprintf(line, sizeof(line), "%s::%s", class_name_, method);
  return WmdmLogResult(line, status);
}

HRESULT STDMETHODCALLTYPE StorageObject::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid == IID_IUnknown || riid == IID_IMDSPStorage || riid == IID_IMDSPStorage2 ||
      riid == IID_IMDSPStorage3) {
    *object = static_cast<IMDSPStorage3*>(this);
  } else if (riid == IID_IMDSPObject) {
    *object = static_cast<IMDSPObject*>(this);
  } else if (riid == IID_IMDSPObjectInfo) {
    *object = static_cast<IMDSPObjectInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE StorageObject::AddRef() { return InterlockedIncrement(&refs_); }

ULONG STDMETHODCALLTYPE StorageObject::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

// --- shared by storages and files, most of it unsupported -----------------------------

HRESULT STDMETHODCALLTYPE StorageObject::SetAttributes(DWORD, WMDM_WAVEFORMATEX*) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("SetAttributes", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetStorageGlobals(IMDSPStorageGlobals** globals) {
  HRESULT status = CheckOutPointer(Usable(), globals);
  if (globals) *globals = nullptr;
  if (SUCCEEDED(status)) status = CMDSPStorageGlobals::Create(device_, globals);
  return Trace("GetStorageGlobals", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetAttributes(DWORD* attributes, WMDM_WAVEFORMATEX*) {
  const HRESULT status = CheckOutPointer(Usable(), attributes);
  if (SUCCEEDED(status)) *attributes = Attributes();
  return Trace("GetAttributes", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetDate(WMDMDATETIME* date) {
  HRESULT status = CheckOutPointer(Usable(), date);
  if (SUCCEEDED(status)) status = E_NOTIMPL;
  return Trace("GetDate", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetRights(WMDMRIGHTS** rights, UINT* count, BYTE*) {
  HRESULT status = CheckOutPointer(CheckOutPointer(Usable(), rights), count);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("GetRights", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::CreateStorage(DWORD, WMDM_WAVEFORMATEX*, LPWSTR,
                                                       IMDSPStorage** storage) {
  HRESULT status = CheckOutPointer(Usable(), storage);
  if (storage) *storage = nullptr;
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("CreateStorage", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::EnumStorage(IMDSPEnumStorage** enumerator) {
  HRESULT status = CheckOutPointer(Usable(), enumerator);
  if (enumerator) *enumerator = nullptr;
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("EnumStorage", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::SendOpaqueCommand(OPAQUECOMMAND* command) {
  HRESULT status = CheckOutPointer(Usable(), command);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("SendOpaqueCommand", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetStorage(LPCWSTR, IMDSPStorage** storage) {
  HRESULT status = CheckOutPointer(Usable(), storage);
  if (storage) *storage = nullptr;
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("GetStorage", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::CreateStorage2(DWORD, DWORD, WMDM_WAVEFORMATEX*,
                                                        WMDM_VIDEOINFOHEADER*, LPWSTR,
                                                        ULONGLONG, IMDSPStorage** storage) {
  HRESULT status = CheckOutPointer(Usable(), storage);
  if (storage) *storage = nullptr;
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("CreateStorage2", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::SetAttributes2(DWORD, DWORD, WMDM_WAVEFORMATEX*,
                                                        WMDM_VIDEOINFOHEADER*) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("SetAttributes2", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetAttributes2(DWORD* attributes, DWORD* attributes_ex,
                                                        WMDM_WAVEFORMATEX*,
                                                        WMDM_VIDEOINFOHEADER*) {
  HRESULT status = CheckOutPointer(CheckOutPointer(Usable(), attributes), attributes_ex);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("GetAttributes2", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetMetadata(IWMDMMetaData* metadata) {
  HRESULT status = CheckOutPointer(Usable(), metadata);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("GetMetadata", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::SetMetadata(IWMDMMetaData* metadata) {
  HRESULT status = CheckOutPointer(Usable(), metadata);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("SetMetadata", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Open(UINT mode) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) {
    status = (mode & (MDSP_READ | MDSP_WRITE)) == 0 ? E_INVALIDARG : WMDM_E_NOTSUPPORTED;
  }
  return Trace("Open", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Read(BYTE* data, DWORD* size, BYTE*) {
  HRESULT status = CheckOutPointer(CheckOutPointer(Usable(), data), size);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("Read", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Write(BYTE* data, DWORD* size, BYTE*) {
  HRESULT status = CheckOutPointer(CheckOutPointer(Usable(), data), size);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("Write", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Delete(UINT, IWMDMProgress*) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("Delete", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Seek(UINT, DWORD) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("Seek", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Rename(LPWSTR name, IWMDMProgress*) {
  HRESULT status = CheckOutPointer(Usable(), name);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("Rename", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Move(UINT, IWMDMProgress*, IMDSPStorage*) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("Move", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Close() {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("Close", status);
}

// Play lengths are not kept; the totals succeed without a value, as WMDM expects of a
// storage that cannot tell.
HRESULT STDMETHODCALLTYPE StorageObject::GetPlayLength(DWORD* length) {
  return Trace("GetPlayLength", CheckOutPointer(Usable(), length));
}

HRESULT STDMETHODCALLTYPE StorageObject::SetPlayLength(DWORD) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("SetPlayLength", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetPlayOffset(DWORD* offset) {
  HRESULT status = CheckOutPointer(Usable(), offset);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("GetPlayOffset", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::SetPlayOffset(DWORD) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("SetPlayOffset", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetTotalLength(DWORD* length) {
  return Trace("GetTotalLength", CheckOutPointer(Usable(), length));
}

HRESULT STDMETHODCALLTYPE StorageObject::GetLastPlayPosition(DWORD* position) {
  HRESULT status = CheckOutPointer(Usable(), position);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("GetLastPlayPosition", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetLongestPlayPosition(DWORD* position) {
  HRESULT status = CheckOutPointer(Usable(), position);
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("GetLongestPlayPosition", status);
}

HRESULT CopyWideName(const std::wstring& text, LPWSTR buffer, UINT max_chars) {
  if (!buffer || max_chars == 0) return E_INVALIDARG;
  const size_t fit = text.size() < max_chars ? text.size() : max_chars - 1;
  text.copy(buffer, fit);
  buffer[fit] = L'\0';
  return fit == text.size() ? S_OK : WMDM_E_BUFFERTOOSMALL;
}
