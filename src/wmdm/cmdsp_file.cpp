#include "wmdm/cmdsp_file.h"

#include <algorithm>
#include <new>

#include "support/text_convert.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/metadata_mapping.h"
#include "wmdm/no_throw.h"
#include "wmdm/wmdm_conventions.h"
#include "wmdm/wmdm_log.h"

namespace {

// A deletable music file (0x2 is what WMDM has always seen from this provider).
constexpr DWORD kFileAttributes = WMDM_FILE_ATTR_MUSIC | WMDM_FILE_ATTR_CANDELETE |
                                  WMDM_FILE_ATTR_AUDIO | WMDM_FILE_ATTR_FILE | 0x2;
static_assert(kFileAttributes == 0x89022, "the attributes of every file");

// The position of a name's extension dot; npos when the last path element has none.
size_t ExtensionDot(const std::wstring& name) {
  const size_t dot = name.rfind(L'.');
  const size_t separator = name.find_last_of(L"\\/");
  if (dot == std::wstring::npos) return dot;
  return separator != std::wstring::npos && separator > dot ? std::wstring::npos : dot;
}

HRESULT AttachNew(CMDSPFile* file, IMDSPStorage** out) {
  file->AddRef();
  *out = file;
  return S_OK;
}

}  // namespace

CMDSPFile::CMDSPFile(CMDSPDevice* device) : StorageObject("CMDSPFile", device) {
  storage_index_ = device->storage_index();
  storage_type_ = 4;
}

HRESULT CMDSPFile::CreateUpload(CMDSPDevice* device, const PropertyHolder* pending,
                                const wchar_t* name, IMDSPStorage** out) {
  HRESULT status = CheckOutPointer(CheckOutPointer(S_OK, out), name);
  if (FAILED(status)) return status;
  *out = nullptr;
  if (!device) return E_FAIL;
  CMDSPFile* file = new (std::nothrow) CMDSPFile(device);
  if (!file) return E_OUTOFMEMORY;
  file->AddRef();
  if (pending) {
    file->metadata_ = *pending;
    file->read_tags_ = false;
  }
  if (!file->metadata_.GetSet()) status = E_OUTOFMEMORY;
  if (SUCCEEDED(status)) status = CallNoThrow([&] { return file->SetName(name); });
  if (SUCCEEDED(status)) status = AttachNew(file, out);
  file->Release();
  return status;
}

HRESULT CMDSPFile::CreateListed(CMDSPDevice* device, const PropertyHolder& entry,
                                IMDSPStorage** out) {
  const HRESULT status = CheckOutPointer(S_OK, out);
  if (FAILED(status)) return status;
  *out = nullptr;
  if (!device) return E_FAIL;
  CMDSPFile* file = new (std::nothrow) CMDSPFile(device);
  if (!file) return E_OUTOFMEMORY;
  file->metadata_ = entry;
  file->on_player_ = true;
  return AttachNew(file, out);
}

Result CMDSPFile::SetName(const wchar_t* name) {
  name_ = name;
  return metadata_.SetString("name", WideToUtf8String(name_));
}

DWORD CMDSPFile::Attributes() const { return kFileAttributes; }

HRESULT CMDSPFile::Usable() const { return dead_ ? WMDM_E_INTERFACEDEAD : S_OK; }

std::wstring CMDSPFile::DisplayName() const {
  std::string base = metadata_.GetString("title");
  if (base.empty()) base = metadata_.GetString("name");
  std::wstring name = Utf8ToWideString(base);
  const size_t dot = ExtensionDot(name);
  if (dot != std::wstring::npos) {
    const wchar_t* extension = name.c_str() + dot;
    if (_wcsicmp(extension, L".mp3") == 0 || _wcsicmp(extension, L".wma") == 0 ||
        _wcsicmp(extension, L".asf") == 0) {
      return name;
    }
    name.resize(dot);
  }
  std::string kind = metadata_.GetString("type");
  if (kind == "tune") {
    kind = metadata_.GetString("codec");
    if (kind.empty()) kind = "wav";
  }
  return name + L"." + Utf8ToWideString(kind);
}

HRESULT STDMETHODCALLTYPE CMDSPFile::GetName(LPWSTR buffer, UINT max_chars) {
  HRESULT status = CheckOutPointer(Usable(), buffer);
  // A name needs one character and its terminator; the cut below relies on it.
  if (SUCCEEDED(status) && max_chars < 2) status = E_INVALIDARG;
  if (SUCCEEDED(status)) {
    status = CallNoThrow([&]() -> HRESULT {
      const size_t limit = std::min<UINT>(max_chars, kFileNameLimit);
      std::wstring name = DisplayName();
      if (name.size() >= limit) {
        // Cut before the extension so that the kind of file still shows.
        const size_t dot = ExtensionDot(name);
        std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot);
        if (extension.size() > limit - 2) extension.resize(limit - 2);
        name = name.substr(0, limit - 1 - extension.size()) + extension;
      }
      return CopyWideName(name, buffer, static_cast<UINT>(limit));
    });
  }
  return Trace("GetName", status);
}

HRESULT STDMETHODCALLTYPE CMDSPFile::GetDate(WMDMDATETIME* date) {
  HRESULT status = CheckOutPointer(Usable(), date);
  if (SUCCEEDED(status)) {
    RefPtr<PropertySet> set = metadata_.GetSet();
    const FILETIME time = FileTimeFromUnix(set ? set->GetInt64("ctime") : 0);
    SYSTEMTIME system;
    if (!FileTimeToSystemTime(&time, &system)) {
      status = HResultFromWin32(GetLastError());
    } else {
      date->wYear = system.wYear;
      date->wMonth = system.wMonth;
      date->wDay = system.wDay;
      date->wHour = system.wHour;
      date->wMinute = system.wMinute;
      date->wSecond = system.wSecond;
    }
  }
  return Trace("GetDate", status);
}

HRESULT STDMETHODCALLTYPE CMDSPFile::GetSize(DWORD* size_low, DWORD* size_high) {
  const HRESULT status = CheckOutPointer(Usable(), size_low);
  if (SUCCEEDED(status)) {
    RefPtr<PropertySet> set = metadata_.GetSet();
    const uint64_t size = set ? static_cast<uint64_t>(set->GetInt64("length")) : 0;
    *size_low = static_cast<DWORD>(size);
    if (size_high) *size_high = static_cast<DWORD>(size >> 32);
  }
  return Trace("GetSize", status);
}

HRESULT STDMETHODCALLTYPE CMDSPFile::GetMetadata(IWMDMMetaData* metadata) {
  HRESULT status = CheckOutPointer(Usable(), metadata);
  if (SUCCEEDED(status)) {
    status = CallNoThrow([&] { return MetadataToWmdm(metadata_.GetSet().Get(), metadata); });
  }
  return Trace("GetMetadata", status);
}

HRESULT STDMETHODCALLTYPE CMDSPFile::SetMetadata(IWMDMMetaData* metadata) {
  HRESULT status = CheckOutPointer(Usable(), metadata);
  if (SUCCEEDED(status)) {
    status = CallNoThrow([&]() -> HRESULT {
      RefPtr<PropertySet> set = metadata_.GetSet();
      if (!set) return E_OUTOFMEMORY;
      const Result mapped = MetadataFromWmdm(metadata, set.Get());
      if (rc::Failed(mapped)) return mapped;
      // An application that supplies fingerprint, title and sample rate spares the
      // temporary copy and the tag reading.
      read_tags_ = set->GetString("rid").empty() || set->GetString("title").empty() ||
                   set->GetInt("samplerate") == 0;
      return S_OK;
    });
  }
  return Trace("SetMetadata", status);
}

HRESULT STDMETHODCALLTYPE CMDSPFile::Delete(UINT, IWMDMProgress*) {
  HRESULT status = Usable();
  if (SUCCEEDED(status) && !device()) status = E_FAIL;
  if (SUCCEEDED(status)) status = CallNoThrow([&] { return device()->DeleteFile(metadata_); });
  if (SUCCEEDED(status)) dead_ = true;
  return Trace("Delete", status);
}
