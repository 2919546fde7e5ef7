#include "wmdm/cmdsp_storage.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "media/property_set.h"
#include "support/text_convert.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_enum_storage.h"
#include "wmdm/cmdsp_file.h"
#include "wmdm/no_throw.h"
#include "wmdm/wmdm_log.h"

namespace {

// A text field of the fixed record: ANSI, ending at its NUL or at the end of the field.
std::string RecordText(const BYTE* record, size_t offset, size_t size) {
  const char* field = reinterpret_cast<const char*>(record + offset);
  return AnsiToUtf8String(std::string(field, strnlen(field, size)));
}

int32_t RecordInt(const BYTE* record, size_t offset) {
  const uint32_t value = record[offset] | record[offset + 1] << 8 | record[offset + 2] << 16 |
                         static_cast<uint32_t>(record[offset + 3]) << 24;
  return static_cast<int32_t>(value);
}

Result FillFromFixedRecord(const BYTE* record, PropertyHolder& file) {
  struct TextField {
    size_t offset;
    size_t size;
    const char* key;
  };
  static const TextField kTexts[] = {{0x000, 48, "title"},  {0x030, 48, "artist"},
                                     {0x060, 80, "source"}, {0x0B0, 64, "name"},
                                     {0x0F0, 22, "genre"}};
  for (const TextField& field : kTexts) {
    const Result status = file.SetString(field.key, RecordText(record, field.offset, field.size));
    if (rc::Failed(status)) return status;
  }
  const std::string year = RecordText(record, 0x106, 6);
  const struct {
    const char* key;
    int32_t value;
  } ints[] = {{"year", static_cast<int32_t>(std::strtol(year.c_str(), nullptr, 10))},
              {"duration", RecordInt(record, 0x10C)},
              {"ctime", RecordInt(record, 0x110)},
              {"length", RecordInt(record, 0x118)}};
  for (const auto& item : ints) {
    const Result status = file.SetInt(item.key, item.value);
    if (rc::Failed(status)) return status;
  }
  return rc::kOk;
}

}  // namespace

HRESULT CreateRootStorage(CMDSPDevice* device, IMDSPStorage** out) {
  HRESULT status = CheckOutPointer(S_OK, out);
  if (FAILED(status)) return status;
  *out = nullptr;
  if (!device) return E_FAIL;
  CMDSPStorage* storage = new (std::nothrow) CMDSPStorage(device);
  if (!storage) return E_OUTOFMEMORY;
  storage->AddRef();
  *out = storage;
  return S_OK;
}

CMDSPStorage::CMDSPStorage(CMDSPDevice* device) : StorageObject("CMDSPStorage", device) {
  device->RegisterStorage(this);
}

CMDSPStorage::~CMDSPStorage() {
  if (device()) device()->UnregisterStorage(this);
}

HRESULT STDMETHODCALLTYPE CMDSPStorage::GetName(LPWSTR name, UINT max_chars) {
  HRESULT status = CheckOutPointer(S_OK, name);
  if (SUCCEEDED(status) && !device()) {
    WmdmLog("CMDSPStorage::GetName : m_pSpDevice was NULL", 0, E_FAIL);
    status = E_FAIL;
  }
  if (SUCCEEDED(status)) status = CopyWideName(device()->storage_name(), name, max_chars);
  return Trace("GetName", status);
}

HRESULT STDMETHODCALLTYPE CMDSPStorage::GetSize(DWORD* size_low, DWORD* size_high) {
  HRESULT status = CheckOutPointer(S_OK, size_low);
  if (SUCCEEDED(status) && !device()) status = E_FAIL;
  if (SUCCEEDED(status)) {
    const uint64_t size = static_cast<uint64_t>(device()->total_size());
    *size_low = static_cast<DWORD>(size);
    if (size_high) *size_high = static_cast<DWORD>(size >> 32);
  }
  return Trace("GetSize", status);
}

HRESULT STDMETHODCALLTYPE CMDSPStorage::CreateStorage(DWORD attributes, WMDM_WAVEFORMATEX*,
                                                      LPWSTR name, IMDSPStorage** storage) {
  HRESULT status = CheckOutPointer(CheckOutPointer(S_OK, storage), name);
  if (storage) *storage = nullptr;
  if (SUCCEEDED(status) && !device()) status = E_FAIL;
  if (SUCCEEDED(status) && storage_type_ != kStorageTypeRoot) {
    WmdmLog("CMDSPStorage::CreateStorage : m_nStorageType != STORAGE_TYPE_ROOT : "
            "WMDM_E_NOTSUPPORTED", 0, WMDM_E_NOTSUPPORTED);
    status = WMDM_E_NOTSUPPORTED;
  }
  if (SUCCEEDED(status) && (attributes & WMDM_FILE_ATTR_FOLDER)) {
    WmdmLog("CMDSPStorage::CreateStorage : dwAttributes & WMDM_FILE_ATTR_FOLDER : "
            "WMDM_E_NOTSUPPORTED", 0, WMDM_E_NOTSUPPORTED);
    status = WMDM_E_NOTSUPPORTED;
  }
  if (SUCCEEDED(status) && !(attributes & WMDM_FILE_ATTR_FILE)) {
    WmdmLog("CMDSPStorage::CreateStorage : dwAttributes & WMDM_FILE_ATTR_FILE : "
            "WMDM_E_NOTSUPPORTED", 0, WMDM_E_NOTSUPPORTED);
    status = WMDM_E_NOTSUPPORTED;
  }
  if (SUCCEEDED(status)) {
    status = CMDSPFile::CreateUpload(device(), pending_.get(), name, storage);
    // Pending metadata serves one file only, whether or not the file could be made.
    pending_.reset();
  }
  return Trace("CreateStorage", status);
}

HRESULT STDMETHODCALLTYPE CMDSPStorage::EnumStorage(IMDSPEnumStorage** enumerator) {
  HRESULT status = CheckOutPointer(S_OK, enumerator);
  if (SUCCEEDED(status)) status = CreateFileEnum(device(), enumerator);
  return Trace("EnumStorage", status);
}

HRESULT STDMETHODCALLTYPE CMDSPStorage::SendOpaqueCommand(OPAQUECOMMAND* command) {
  HRESULT status = CheckOutPointer(S_OK, command);
  if (SUCCEEDED(status)) status = CallNoThrow([&] { return TakeOpaqueCommand(*command); });
  // A command that failed leaves nothing for the next file.
  if (FAILED(status) && status != WMDM_E_NOTSUPPORTED) pending_.reset();
  return Trace("SendOpaqueCommand", status);
}

HRESULT CMDSPStorage::TakeOpaqueCommand(const OPAQUECOMMAND& command) {
  const GUID& id = command.guidCommand;
  if (id != kOpaqueFixedMetadata && id != kOpaqueDeviceFileRecord && id != kOpaqueMetadataText) {
    return WMDM_E_NOTSUPPORTED;
  }
  pending_.reset();
  if (!command.pData && command.dwDataLen != 0) return E_INVALIDARG;
  if (id != kOpaqueFixedMetadata && !device()) return E_FAIL;

  std::unique_ptr<PropertyHolder> file(new PropertyHolder);
  if (!file->GetSet()) return E_OUTOFMEMORY;
  Result status;
  if (id == kOpaqueFixedMetadata) {
    if (command.dwDataLen < kFixedMetadataSize) return E_INVALIDARG;
    status = FillFromFixedRecord(command.pData, *file);
  } else if (id == kOpaqueDeviceFileRecord) {
    status = device()->ConvertFileInfo(file.get(), command.pData, command.dwDataLen);
  } else {
    const char* text = reinterpret_cast<const char*>(command.pData);
    status = command.dwDataLen == 0
                 ? rc::kOk
                 : PropertySet::FromText(std::string(text, strnlen(text, command.dwDataLen)),
                                         file->GetSet());
  }
  if (rc::Succeeded(status)) pending_ = std::move(file);
  return status;
}
