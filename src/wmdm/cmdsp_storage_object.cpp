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

HRESULT StorageObject::TraceUnsupported(const char* method, HRESULT checks) const {
  return Trace(method, SUCCEEDED(checks) ? WMDM_E_NOTSUPPORTED : checks);
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
  return TraceUnsupported("SetAttributes", Usable());
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
  return TraceUnsupported("GetRights",
                          CheckOutPointer(CheckOutPointer(Usable(), rights), count));
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
  return TraceUnsupported("SendOpaqueCommand", CheckOutPointer(Usable(), command));
}

HRESULT STDMETHODCALLTYPE StorageObject::GetStorage(LPCWSTR, IMDSPStorage** storage) {
  HRESULT status = CheckOutPointer(Usable(), storage);
  if (storage) *storage = nullptr;
  if (SUCCEEDED(status)) status = WMDM_E_NOTSUPPORTED;
  return Trace("GetStorage", status);
}

// WMDM requires these two of every provider: they answer as their first versions do, the
// extended attributes and the video format being of no use to an audio player.
HRESULT STDMETHODCALLTYPE StorageObject::CreateStorage2(DWORD attributes, DWORD,
                                                        WMDM_WAVEFORMATEX* audio_format,
                                                        WMDM_VIDEOINFOHEADER*, LPWSTR name,
                                                        ULONGLONG, IMDSPStorage** storage) {
  HRESULT status = CheckOutPointer(Usable(), storage);
  if (storage) *storage = nullptr;
  if (SUCCEEDED(status)) status = CreateStorage(attributes, audio_format, name, storage);
  return Trace("CreateStorage2", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::SetAttributes2(DWORD, DWORD, WMDM_WAVEFORMATEX*,
                                                        WMDM_VIDEOINFOHEADER*) {
  return TraceUnsupported("SetAttributes2", Usable());
}

HRESULT STDMETHODCALLTYPE StorageObject::GetAttributes2(DWORD* attributes, DWORD* attributes_ex,
                                                        WMDM_WAVEFORMATEX* audio_format,
                                                        WMDM_VIDEOINFOHEADER*) {
  HRESULT status = CheckOutPointer(CheckOutPointer(Usable(), attributes), attributes_ex);
  if (SUCCEEDED(status)) {
    *attributes_ex = 0;
    status = GetAttributes(attributes, audio_format);
  }
  return Trace("GetAttributes2", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::GetMetadata(IWMDMMetaData* metadata) {
  return TraceUnsupported("GetMetadata", CheckOutPointer(Usable(), metadata));
}

HRESULT STDMETHODCALLTYPE StorageObject::SetMetadata(IWMDMMetaData* metadata) {
  return TraceUnsupported("SetMetadata", CheckOutPointer(Usable(), metadata));
}

HRESULT STDMETHODCALLTYPE StorageObject::Open(UINT mode) {
  HRESULT status = Usable();
  if (SUCCEEDED(status)) {
    status = (mode & (MDSP_READ | MDSP_WRITE)) == 0 ? E_INVALIDARG : WMDM_E_NOTSUPPORTED;
  }
  return Trace("Open", status);
}

HRESULT STDMETHODCALLTYPE StorageObject::Read(BYTE* data, DWORD* size, BYTE*) {
  return TraceUnsupported("Read", CheckOutPointer(CheckOutPointer(Usable(), data), size));
}

HRESULT STDMETHODCALLTYPE StorageObject::Write(BYTE* data, DWORD* size, BYTE*) {
  return TraceUnsupported("Write", CheckOutPointer(CheckOutPointer(Usable(), data), size));
}

HRESULT STDMETHODCALLTYPE StorageObject::Delete(UINT, IWMDMProgress*) {
  return TraceUnsupported("Delete", Usable());
}

HRESULT STDMETHODCALLTYPE StorageObject::Seek(UINT, DWORD) {
  return TraceUnsupported("Seek", Usable());
}

HRESULT STDMETHODCALLTYPE StorageObject::Rename(LPWSTR name, IWMDMProgress*) {
  return TraceUnsupported("Rename", CheckOutPointer(Usable(), name));
}

HRESULT STDMETHODCALLTYPE StorageObject::Move(UINT, IWMDMProgress*, IMDSPStorage*) {
  return TraceUnsupported("Move", Usable());
}

HRESULT STDMETHODCALLTYPE StorageObject::Close() {
  return TraceUnsupported("Close", Usable());
}

// Play lengths are not kept; the totals succeed without a value, as WMDM expects of a
// storage that cannot tell.
HRESULT STDMETHODCALLTYPE StorageObject::GetPlayLength(DWORD* length) {
  return Trace("GetPlayLength", CheckOutPointer(Usable(), length));
}

HRESULT STDMETHODCALLTYPE StorageObject::SetPlayLength(DWORD) {
  return TraceUnsupported("SetPlayLength", Usable());
}

HRESULT STDMETHODCALLTYPE StorageObject::GetPlayOffset(DWORD* offset) {
  return TraceUnsupported("GetPlayOffset", CheckOutPointer(Usable(), offset));
}

HRESULT STDMETHODCALLTYPE StorageObject::SetPlayOffset(DWORD) {
  return TraceUnsupported("SetPlayOffset", Usable());
}

HRESULT STDMETHODCALLTYPE StorageObject::GetTotalLength(DWORD* length) {
  return Trace("GetTotalLength", CheckOutPointer(Usable(), length));
}

HRESULT STDMETHODCALLTYPE StorageObject::GetLastPlayPosition(DWORD* position) {
  return TraceUnsupported("GetLastPlayPosition", CheckOutPointer(Usable(), position));
}

HRESULT STDMETHODCALLTYPE StorageObject::GetLongestPlayPosition(DWORD* position) {
  return TraceUnsupported("GetLongestPlayPosition", CheckOutPointer(Usable(), position));
}

HRESULT CopyWideName(const std::wstring& text, LPWSTR buffer, UINT max_chars) {
  if (!buffer || max_chars == 0) return E_INVALIDARG;
  const size_t fit = text.size() < max_chars ? text.size() : max_chars - 1;
  text.copy(buffer, fit);
  buffer[fit] = L'\0';
  return fit == text.size() ? S_OK : WMDM_E_BUFFERTOOSMALL;
}
