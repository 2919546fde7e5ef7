#include "wmdm/cmdsp_device.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "devices/predictor.h"
#include "support/text_convert.h"
#include "wmdm/cmdsp_enum_storage.h"
#include "wmdm/cmdsp_storage.h"
#include "wmdm/known_players.h"
#include "wmdm/no_throw.h"
#include "wmdm/wmdm_conventions.h"
#include "wmdm/wmdm_log.h"

namespace {

static_assert(sizeof(WMDMID) == 140, "WMDM expects a 140-byte WMDMID");
static_assert(sizeof(WMDM_WAVEFORMATEX) == 20, "format records are 20 bytes apart");

constexpr DWORD kDeviceType = WMDM_DEVICE_TYPE_PLAYBACK | WMDM_DEVICE_TYPE_RECORD |
                              WMDM_DEVICE_TYPE_STORAGE | WMDM_DEVICE_TYPE_SDMI |
                              WMDM_DEVICE_TYPE_NONSDMI;
constexpr WORD kIconResource = 201;
const LPCSTR kGroupIconType = MAKEINTRESOURCEA(14);  // RT_GROUP_ICON
constexpr WORD kFormatMp3 = 0x55;
constexpr WORD kFormatWma = 0x161;
constexpr DWORD kWmaAverageBytes = 45000;
constexpr const wchar_t* kMimeTypes[] = {L"audio/mpeg", L"audio/mp3", L"audio/x-ms-wma"};
constexpr UINT kMimeCount = sizeof(kMimeTypes) / sizeof(kMimeTypes[0]);
constexpr DWORD kSessionBlockSize = 16;

// The players' device information and storage holders are read, never written, here.
int64_t HolderInt64(const PropertyHolder& holder, const char* name) {
  RefPtr<PropertySet> set = holder.GetSet();
  return set ? set->GetInt64(name) : 0;
}

int32_t HolderInt(const PropertyHolder& holder, const char* name) {
  RefPtr<PropertySet> set = holder.GetSet();
  return set ? set->GetInt(name) : 0;
}

std::vector<uint8_t> HolderBytes(const PropertyHolder& holder, const char* name) {
  RefPtr<PropertySet> set = holder.GetSet();
  uint32_t length = 0;
  const uint8_t* bytes = set ? set->GetBlob(name, &length) : nullptr;
  return bytes ? std::vector<uint8_t>(bytes, bytes + length) : std::vector<uint8_t>();
}

// Every COM method: nothing thrown below leaves it, and its result is its last trace line.
template <typename Call>
HRESULT Traced(const char* method, Call&& call) {
  return WmdmLogResult(method, CallNoThrow(call));
}

// Copies text into a caller's buffer of max_chars characters, always terminated. A buffer
// that cannot hold even the terminator is left alone.
HRESULT CopyToCaller(LPWSTR buffer, UINT max_chars, const std::wstring& text) {
  if (max_chars == 0) return WMDM_E_BUFFERTOOSMALL;
  const size_t copied = std::min<size_t>(text.size(), max_chars - 1);
  std::wmemcpy(buffer, text.data(), copied);
  buffer[copied] = L'\0';
  return copied < text.size() ? WMDM_E_BUFFERTOOSMALL : S_OK;
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

std::atomic<int32_t> g_operations{0};

}  // namespace

CMDSPDevice* CMDSPDevice::New() { return new (std::nothrow) CMDSPDevice; }

CMDSPDevice::~CMDSPDevice() = default;

int32_t CMDSPDevice::BusyCount() { return g_operations.load(); }

HRESULT CMDSPDevice::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMDSPDevice || riid == IID_IMDSPDevice2) {
    *object = static_cast<IMDSPDevice2*>(this);
  } else if (riid == IID_IMDSPDeviceControl) {
    *object = static_cast<IMDSPDeviceControl*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CMDSPDevice::AddRef() { return InterlockedIncrement(&refs_); }

ULONG CMDSPDevice::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

// ---- Initialisation --------------------------------------------------------------------

Result CMDSPDevice::Init(const RefPtr<Device>& device, uint32_t storage_index,
                         uint32_t storage_count) {
  Result status = Adopt(device, storage_index, storage_count);
  if (rc::Succeeded(status)) status = Bind();
  return status;
}

Result CMDSPDevice::InitFromKnown(const RefPtr<Device>& device, uint32_t storage_index,
                                  uint32_t storage_count) {
  Result status = Adopt(device, storage_index, storage_count);
  if (rc::Failed(status)) return status;
  auto lock = LockPlayer();
  return CallNoThrow([&] {
    KnownStorage known;
    if (player_id_.empty() || !known_players::Recall(player_id_, storage_index, &known))
      return rc::kNotFound;
    device_info_ = known.device_info;
    has_device_info_ = known.has_device_info;
    serial_ = known.serial;
    total_size_ = known.total_size;
    storage_name_ = known.name;
    files_ = std::move(known.files);
    return rc::kOk;
  });
}

Result CMDSPDevice::Adopt(const RefPtr<Device>& device, uint32_t storage_index,
                          uint32_t storage_count) {
  player_ = device;
  auto lock = LockPlayer();
  return CallNoThrow([&] {
    device_ptr_.reset(new QelDevicePtrEx(device));
    storage_index_ = static_cast<uint16_t>(storage_index);
    storage_count_ = storage_count;
    // A player without an id is not remembered.
    if (!device || rc::Failed(device->GetUniqueId(&player_id_))) player_id_.clear();
    return rc::kOk;
  });
}

Result CMDSPDevice::Bind() {
  auto lock = LockPlayer();
  return CallNoThrow([&] {
    Result status = device_ptr_->OpenOrCloseChannel(true);
    if (rc::Failed(status)) return status;
    // The player's clock follows the PC's, once per player. A player that keeps no clock
    // says so with E_NOTIMPL, which is no reason to hide it.
    if (storage_index_ == 0) {
      status = device_ptr_->SetClock();
      if (status == rc::kNotImplemented) status = rc::kOk;
    }
    if (rc::Succeeded(status)) {
      status = device_ptr_->GetDeviceInfo(&device_info_);
      has_device_info_ = rc::Succeeded(status);
    }
    if (rc::Succeeded(status)) status = device_ptr_->CreatePredictor(storage_index_);
    PropertyHolder storage;
    if (rc::Succeeded(status)) status = ReadStorageInfo(&storage);
    if (rc::Succeeded(status)) status = device_ptr_->EnumFiles(storage, &files_);
    const Result closed = device_ptr_->OpenOrCloseChannel(false);
    if (rc::Failed(status)) return status;
    if (rc::Succeeded(closed)) RememberStorage();
    return closed;
  });
}

Result CMDSPDevice::EnsureBound() {
  auto lock = LockPlayer();
  if (!device_ptr_) return rc::kFail;
  return device_ptr_->GetPredictor() ? rc::kOk : Bind();
}

void CMDSPDevice::RememberStorage() {
  if (player_id_.empty()) return;
  CallNoThrow([&] {
    KnownStorage known;
    known.storage_count = storage_count_;
    known.device_info = PropertyHolder::CloneFrom(device_info_);
    known.has_device_info = has_device_info_;
    known.serial = serial_;
    known.total_size = total_size_;
    known.name = storage_name_;
    known.files = CloneFiles(files_);
    known_players::Remember(player_id_, storage_index_, std::move(known));
    return rc::kOk;
  });
}

Result CMDSPDevice::ReadStorageInfo(PropertyHolder* storage) {
  const Result status = device_ptr_->GetStorageInfo(storage_index_, storage);
  if (rc::Failed(status)) return status;
  serial_ = HolderBytes(*storage, "serial_raw");
  total_size_ = HolderInt64(*storage, "size_in_bytes");
  storage_name_ = Utf8ToWideString(storage->GetString("name"));
  return status;
}

// ---- Busy accounting ---------------------------------------------------------------------

void CMDSPDevice::BeginOperation(DWORD extra_status) {
  g_operations.fetch_add(1);
  DWORD status = status_.load();
  while (!status_.compare_exchange_weak(
      status, ((status | extra_status) & ~WMDM_STATUS_READY) | WMDM_STATUS_BUSY)) {
  }
}

void CMDSPDevice::EndOperation(DWORD extra_status) {
  status_.fetch_and(~extra_status);
  int32_t count = g_operations.load();
  while (count > 0 && !g_operations.compare_exchange_weak(count, count - 1)) {
  }
  if (count <= 1) CurrentStatus();
}

DWORD CMDSPDevice::CurrentStatus() {
  // A device whose own operation ended while another device was busy is still marked BUSY;
  // once nothing runs in the process it is READY again.
  DWORD status = status_.load();
  while ((status & WMDM_STATUS_BUSY) && g_operations.load() == 0) {
    const DWORD ready = (status & ~WMDM_STATUS_BUSY) | WMDM_STATUS_READY;
    if (status_.compare_exchange_weak(status, ready)) return ready;
  }
  return status;
}

// ---- Operations for storages and files --------------------------------------------------

PlayerLock CMDSPDevice::LockPlayer() {
  return PlayerLock(player_ ? player_->operation_lock() : unbound_);
}

Result CMDSPDevice::CreateNewFile(OutputStream** stream) {
  auto lock = LockPlayer();
  if (!device_ptr_) return rc::kFail;
  if (upload_open_.exchange(true)) return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
  const Result bound = EnsureBound();
  if (rc::Failed(bound)) {
    upload_open_ = false;
    return bound;
  }
  BeginOperation(0);
  const Result status = device_ptr_->CreateNewFile(storage_index_, stream);
  if (rc::Failed(status)) {
    EndOperation(0);
    upload_open_ = false;
  }
  return status;
}

Result CMDSPDevice::CommitNewFile(OutputStream*& stream) {
  auto lock = LockPlayer();
  const Result status = device_ptr_ ? device_ptr_->CommitNewFile(stream) : rc::kFail;
  EndOperation(0);
  upload_open_ = false;
  RememberStorage();
  return status;
}

Result CMDSPDevice::ConvertFileInfo(PropertyHolder* file, const uint8_t* record,
                                    uint32_t length) {
  auto lock = LockPlayer();
  if (!device_ptr_) return rc::kFail;
  BeginOperation(0);
  const Result status = device_ptr_->ConvertFileInfo(file, record, length);
  EndOperation(0);
  return status;
}

Result CMDSPDevice::DeleteFile(PropertyHolder& file) {
  auto lock = LockPlayer();
  Result status = EnsureBound();
  if (rc::Failed(status)) return status;
  status = device_ptr_->DeleteFile(storage_index_, file);
  if (rc::Failed(status)) return status;
  const int32_t fid = HolderInt(file, "fid");
  files_.erase(std::remove_if(files_.begin(), files_.end(),
                              [&](const std::unique_ptr<PropertyHolder>& listed) {
                                return HolderInt(*listed, "fid") == fid;
                              }),
               files_.end());
  RememberStorage();
  return status;
}

Result CMDSPDevice::FormatStorage() {
  auto lock = LockPlayer();
  if (!device_ptr_) return rc::kFail;
  BeginOperation(WMDM_STATUS_STORAGE_INITIALIZING);
  const Result status = device_ptr_->FormatStorage(storage_index_);
  if (rc::Succeeded(status)) {
    files_.clear();
    CallNoThrow([&] {
      PropertyHolder storage;
      Result reread = ReadStorageInfo(&storage);
      Predictor* predictor = device_ptr_->GetPredictor();
      if (rc::Succeeded(reread) && predictor) reread = predictor->Reset(storage);
      return reread;
    });
    RememberStorage();
  }
  EndOperation(WMDM_STATUS_STORAGE_INITIALIZING);
  return status;
}

void CMDSPDevice::RegisterStorage(CMDSPStorage* storage) {
  if (!first_storage_) first_storage_ = storage;
}

void CMDSPDevice::UnregisterStorage(CMDSPStorage* storage) {
  if (first_storage_ == storage) first_storage_ = nullptr;
}

// ---- IMDSPDevice -----------------------------------------------------------------------

std::wstring CMDSPDevice::DisplayName() const {
  std::wstring name =
      has_device_info_ ? Utf8ToWideString(device_info_.GetString("name")) : L"Qel Player";
  if (storage_count_ > 1) name += L" " + storage_name_;
  return name;
}

HRESULT CMDSPDevice::GetName(LPWSTR name, UINT max_chars) {
  return Traced("CMDSPDevice::GetName", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, name);
    return FAILED(hr) ? hr : CopyToCaller(name, max_chars, DisplayName());
  });
}

HRESULT CMDSPDevice::GetManufacturer(LPWSTR name, UINT max_chars) {
  return Traced("CMDSPDevice::GetManufacturer", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, name);
    if (FAILED(hr)) return hr;
    return CopyToCaller(name, max_chars,
                        Utf8ToWideString(device_info_.GetString("manufacturer")));
  });
}

HRESULT CMDSPDevice::GetVersion(DWORD* version) {
  return Traced("CMDSPDevice::GetVersion", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, version);
    if (SUCCEEDED(hr)) {
      *version = static_cast<DWORD>(HolderInt(device_info_, "firmware_version_bcd")) & 0xFFFF;
    }
    return hr;
  });
}

HRESULT CMDSPDevice::GetType(DWORD* type) {
  return Traced("CMDSPDevice::GetType", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, type);
    if (SUCCEEDED(hr)) *type = kDeviceType;
    return hr;
  });
}

HRESULT CMDSPDevice::GetSerialNumber(WMDMID* serial, BYTE*) {
  return Traced("CMDSPDevice::GetSerialNumber", [&] {
    auto lock = LockPlayer();
    HRESULT hr = CheckOutPointer(S_OK, serial);
    if (FAILED(hr)) return hr;
    if (!device_ptr_) return E_FAIL;
    PropertyHolder info;
    hr = device_ptr_->GetDeviceInfo(&info);
    if (FAILED(hr)) return hr;
    const std::vector<uint8_t> bytes = HolderBytes(info, "serial_raw");
    const size_t length = std::min<size_t>(bytes.size(), WMDMID_LENGTH);
    std::memset(serial, 0, sizeof(*serial));
    serial->cbSize = sizeof(WMDMID);
    serial->dwVendorID = kPlayerVendorId;
    if (length) std::memcpy(serial->pID, bytes.data(), length);
    serial->SerialNumberLength = static_cast<UINT>(length);
    return hr;
  });
}

HRESULT CMDSPDevice::GetPowerSource(DWORD* power_source, DWORD* percent) {
  return Traced("CMDSPDevice::GetPowerSource", [&] {
    const HRESULT hr = CheckOutPointer(CheckOutPointer(S_OK, power_source), percent);
    if (SUCCEEDED(hr)) {
      *power_source = WMDM_POWER_CAP_BATTERY | WMDM_POWER_IS_BATTERY;
      *percent = 100;
    }
    return hr;
  });
}

HRESULT CMDSPDevice::GetStatus(DWORD* status) {
  return Traced("CMDSPDevice::GetStatus", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, status);
    if (SUCCEEDED(hr)) *status = CurrentStatus();
    return hr;
  });
}

HRESULT CMDSPDevice::GetDeviceIcon(ULONG* icon) {
  return Traced("CMDSPDevice::GetDeviceIcon", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, icon);
    if (FAILED(hr)) return hr;
    // Looked up first: without the resource there is no need to start the window system.
    // The ANSI forms: Windows 9x has the wide ones only as stubs that fail.
    const HMODULE module = ThisModule();
    const HICON handle =
        FindResourceExA(module, kGroupIconType, MAKEINTRESOURCEA(kIconResource), LANG_NEUTRAL)
            ? LoadIconA(module, MAKEINTRESOURCEA(kIconResource))
            : nullptr;
    if (!handle) {
      const DWORD error = GetLastError();
      return error ? HResultFromWin32(error) : E_FAIL;
    }
    // Icon handles are 32-bit values even in a 64-bit process.
    *icon = static_cast<ULONG>(reinterpret_cast<uintptr_t>(handle));
    return hr;
  });
}

HRESULT CMDSPDevice::EnumStorage(IMDSPEnumStorage** enumerator) {
  return Traced("CMDSPDevice::EnumStorage", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, enumerator);
    if (FAILED(hr)) return hr;
    *enumerator = nullptr;
    return CreateRootStorageEnum(this, enumerator);
  });
}

HRESULT CMDSPDevice::GetFormatSupport(WMDM_WAVEFORMATEX** formats, UINT* format_count,
                                      LPWSTR** mime_types, UINT* mime_count) {
  return Traced("CMDSPDevice::GetFormatSupport", [&] {
    if (formats) *formats = nullptr;
    if (format_count) *format_count = 0;
    if (mime_types) *mime_types = nullptr;
    if (mime_count) *mime_count = 0;
    HRESULT hr = CheckOutPointer(S_OK, formats);
    hr = CheckOutPointer(hr, format_count);
    hr = CheckOutPointer(hr, mime_types);
    hr = CheckOutPointer(hr, mime_count);
    if (FAILED(hr)) return hr;

    auto* wave = static_cast<WMDM_WAVEFORMATEX*>(CoTaskMemAlloc(2 * sizeof(WMDM_WAVEFORMATEX)));
    auto* mimes = static_cast<LPWSTR*>(CoTaskMemAlloc(kMimeCount * sizeof(LPWSTR)));
    bool complete = wave && mimes;
    if (mimes) {
      for (UINT i = 0; i < kMimeCount; ++i) {
        const size_t bytes = (std::wcslen(kMimeTypes[i]) + 1) * sizeof(wchar_t);
        mimes[i] = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (mimes[i]) {
          std::memcpy(mimes[i], kMimeTypes[i], bytes);
        } else {
          complete = false;
        }
      }
    }
    if (!complete) {
      if (mimes) {
        for (UINT i = 0; i < kMimeCount; ++i) CoTaskMemFree(mimes[i]);
      }
      CoTaskMemFree(mimes);
      CoTaskMemFree(wave);
      return E_OUTOFMEMORY;
    }
    std::memset(wave, 0, 2 * sizeof(WMDM_WAVEFORMATEX));
    wave[0].wFormatTag = kFormatMp3;
    wave[1].wFormatTag = kFormatWma;
    wave[1].nAvgBytesPerSec = kWmaAverageBytes;
    *formats = wave;
    *format_count = 2;
    *mime_types = mimes;
    *mime_count = kMimeCount;
    return S_OK;
  });
}

HRESULT CMDSPDevice::SendOpaqueCommand(OPAQUECOMMAND* command) {
  return Traced("CMDSPDevice::SendOpaqueCommand", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, command);
    if (FAILED(hr)) return hr;
    // A record that claims data it does not carry is refused before anything is touched.
    if (!command->pData && command->dwDataLen != 0) return E_INVALIDARG;
    if (command->guidCommand == kOpaqueDeviceIdentity) {
      if (!command->pData) return E_INVALIDARG;
      if (command->dwDataLen < sizeof(uint32_t)) return WMDM_E_BUFFERTOOSMALL;
      if (!device_ptr_) return E_FAIL;
      auto lock = LockPlayer();
      uint32_t product_id = 0;
      const HRESULT status = device_ptr_->GetDeviceID(&product_id);
      if (SUCCEEDED(status)) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(product_id),
                                  static_cast<uint8_t>(product_id >> 8),
                                  static_cast<uint8_t>(product_id >> 16),
                                  static_cast<uint8_t>(product_id >> 24)};
        std::memcpy(command->pData, bytes, sizeof(bytes));
      }
      return status;
    }
    if (command->guidCommand == kOpaqueSessionBlock) {
      // The old block goes only once the new one exists; the new one is handed back blank.
      auto* block = static_cast<BYTE*>(CoTaskMemAlloc(kSessionBlockSize));
      if (!block) return E_FAIL;
      std::memset(block, 0, kSessionBlockSize);
      CoTaskMemFree(command->pData);
      command->pData = block;
      command->dwDataLen = kSessionBlockSize;
      return S_OK;
    }
    return WMDM_E_NOTSUPPORTED;
  });
}

// ---- IMDSPDevice2 ----------------------------------------------------------------------

HRESULT CMDSPDevice::GetStorage(LPCWSTR storage_name, IMDSPStorage** storage) {
  return Traced("CMDSPDevice::GetStorage", [&] {
    HRESULT hr = CheckOutPointer(CheckOutPointer(S_OK, storage), storage_name);
    if (FAILED(hr)) return hr;
    *storage = nullptr;
    if (_wcsicmp(storage_name, storage_name_.c_str()) != 0) return S_FALSE;
    return CreateRootStorage(this, storage);
  });
}

HRESULT CMDSPDevice::GetFormatSupport2(DWORD flags, WMDM_WAVEFORMATEX** audio_formats,
                                       UINT* audio_count, WMDM_VIDEOINFOHEADER** video_formats,
                                       UINT* video_count, WMFILECAPABILITIES** file_types,
                                       UINT* file_type_count) {
  return Traced("CMDSPDevice::GetFormatSupport2", [&] {
    WmdmLog("dwFlags is 0x%08lx", flags, S_OK);
    if (audio_formats) *audio_formats = nullptr;
    if (audio_count) *audio_count = 0;
    if (video_formats) *video_formats = nullptr;
    if (video_count) *video_count = 0;
    if (file_types) *file_types = nullptr;
    if (file_type_count) *file_type_count = 0;
    return WMDM_E_NOTSUPPORTED;
  });
}

HRESULT CMDSPDevice::GetSpecifyPropertyPages(ISpecifyPropertyPages** pages, IUnknown*** unknowns,
                                             ULONG* unknown_count) {
  if (pages) *pages = nullptr;
  if (unknowns) *unknowns = nullptr;
  if (unknown_count) *unknown_count = 0;
  return WMDM_E_NOTSUPPORTED;
}

HRESULT CMDSPDevice::GetCanonicalName(LPWSTR name, UINT max_chars) {
  return Traced("CMDSPDevice::GetCanonicalName", [&] {
    HRESULT hr = CheckOutPointer(S_OK, name);
    if (FAILED(hr)) return hr;
    if (max_chars == 0) return WMDM_E_BUFFERTOOSMALL;
    if (!device_ptr_) return E_FAIL;
    std::string canonical;
    hr = device_ptr_->GetCanonicalName(&canonical);
    if (FAILED(hr)) return hr;
    return CopyToCaller(name, max_chars, Utf8ToWideString(canonical));
  });
}

// ---- IMDSPDeviceControl -----------------------------------------------------------------

HRESULT CMDSPDevice::GetDCStatus(DWORD* status) {
  return Traced("CMDSPDevice::GetDCStatus", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, status);
    if (SUCCEEDED(hr)) *status = CurrentStatus();
    return hr;
  });
}

HRESULT CMDSPDevice::GetCapabilities(DWORD* capabilities) {
  return Traced("CMDSPDevice::GetCapabilities", [&] {
    const HRESULT hr = CheckOutPointer(S_OK, capabilities);
    if (SUCCEEDED(hr)) *capabilities = 0;
    return hr;
  });
}

// The players cannot be remote-controlled from the PC.
HRESULT CMDSPDevice::Play() { return WmdmLogResult("CMDSPDevice::Play", WMDM_E_NOTSUPPORTED); }

HRESULT CMDSPDevice::Record(WMDM_WAVEFORMATEX*) {
  return WmdmLogResult("CMDSPDevice::Record", WMDM_E_NOTSUPPORTED);
}

HRESULT CMDSPDevice::Pause() { return WmdmLogResult("CMDSPDevice::Pause", WMDM_E_NOTSUPPORTED); }

HRESULT CMDSPDevice::Resume() {
  return WmdmLogResult("CMDSPDevice::Resume", WMDM_E_NOTSUPPORTED);
}

HRESULT CMDSPDevice::Stop() { return WmdmLogResult("CMDSPDevice::Stop", WMDM_E_NOTSUPPORTED); }

HRESULT CMDSPDevice::Seek(UINT, int) {
  return WmdmLogResult("CMDSPDevice::Seek", WMDM_E_NOTSUPPORTED);
}
