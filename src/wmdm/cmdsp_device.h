// One WMDM device: one storage of one player. It answers WMDM's device questions from the
// device and storage information read once at Init, keeps the storage's track list, counts
// operations in progress for the WMDM status, and is the way in for the storage, file and
// storage-globals objects to reach the player through its QelDevicePtrEx.
//
// Apartment-threaded, except the status word and the process-wide busy count, which WMDM
// reads from any of its threads and which are therefore atomic. No C++ exception leaves a
// method.
#pragma once

// First, so that channel.h's removal of the DeleteFile macro is the last word on it.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/device.h"
#include "media/property_holder.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"
#include "wmdm/module_lock.h"
#include "wmdm/qel_device_ptr.h"
#include "wmdm/wmdm_interfaces.h"

class CMDSPStorage;
class OutputStream;

// Holds a player's operation lock (see CMDSPDevice::LockPlayer).
using PlayerLock = std::unique_lock<RegisteredLock>;

// The USB vendor id of every player of the family, reported in GetSerialNumber.
constexpr DWORD kPlayerVendorId = 0x0E21;

// The opaque commands a device understands.
inline constexpr GUID kOpaqueDeviceIdentity = {
    0x6D6F17CF, 0x514C, 0x4F71, {0xAF, 0x59, 0x16, 0xF5, 0xAB, 0x9C, 0x83, 0x65}};
inline constexpr GUID kOpaqueSessionBlock = {
    0x07AB86A2, 0x88C5, 0x4E11, {0xAB, 0x26, 0xA1, 0xBB, 0xD1, 0x7B, 0x69, 0x90}};

class CMDSPDevice final : public IMDSPDevice2, public IMDSPDeviceControl {
 public:
  // Created with no reference; the creator takes the first. Null when memory runs out.
  static CMDSPDevice* New();

  // --- IUnknown ---
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // --- IMDSPDevice ---
  HRESULT STDMETHODCALLTYPE GetName(LPWSTR name, UINT max_chars) override;
  HRESULT STDMETHODCALLTYPE GetManufacturer(LPWSTR name, UINT max_chars) override;
  HRESULT STDMETHODCALLTYPE GetVersion(DWORD* version) override;
  HRESULT STDMETHODCALLTYPE GetType(DWORD* type) override;
  HRESULT STDMETHODCALLTYPE GetSerialNumber(WMDMID* serial, BYTE* mac) override;
  HRESULT STDMETHODCALLTYPE GetPowerSource(DWORD* power_source, DWORD* percent) override;
  HRESULT STDMETHODCALLTYPE GetStatus(DWORD* status) override;
  HRESULT STDMETHODCALLTYPE GetDeviceIcon(ULONG* icon) override;
  HRESULT STDMETHODCALLTYPE EnumStorage(IMDSPEnumStorage** enumerator) override;
  HRESULT STDMETHODCALLTYPE GetFormatSupport(WMDM_WAVEFORMATEX** formats, UINT* format_count,
                                             LPWSTR** mime_types, UINT* mime_count) override;
  HRESULT STDMETHODCALLTYPE SendOpaqueCommand(OPAQUECOMMAND* command) override;

  // --- IMDSPDevice2 ---
  HRESULT STDMETHODCALLTYPE GetStorage(LPCWSTR storage_name, IMDSPStorage** storage) override;
  HRESULT STDMETHODCALLTYPE GetFormatSupport2(DWORD flags, WMDM_WAVEFORMATEX** audio_formats,
                                              UINT* audio_count,
                                              WMDM_VIDEOINFOHEADER** video_formats,
                                              UINT* video_count, WMFILECAPABILITIES** file_types,
                                              UINT* file_type_count) override;
  HRESULT STDMETHODCALLTYPE GetSpecifyPropertyPages(ISpecifyPropertyPages** pages,
                                                    IUnknown*** unknowns,
                                                    ULONG* unknown_count) override;
  HRESULT STDMETHODCALLTYPE GetCanonicalName(LPWSTR name, UINT max_chars) override;

  // --- IMDSPDeviceControl ---
  HRESULT STDMETHODCALLTYPE GetDCStatus(DWORD* status) override;
  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
  HRESULT STDMETHODCALLTYPE Play() override;
  HRESULT STDMETHODCALLTYPE Record(WMDM_WAVEFORMATEX* format) override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Resume() override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Seek(UINT mode, int offset) override;

  // Binds the object to one storage of a player: reads device and storage information,
  // sets the player's clock (storage 0 only), makes the storage's predictor and lists its
  // tracks, all under one open of the channel. The first failing step's status is the result.
  Result Init(const RefPtr<Device>& device, uint32_t storage_index, uint32_t storage_count);
  // Binds the object to one storage of a player that is busy with another operation, from
  // what this process last learned of that storage (0xC0040002 when nothing). Such a device
  // has no predictor until EnsureBound reaches the player.
  Result InitFromKnown(const RefPtr<Device>& device, uint32_t storage_index,
                       uint32_t storage_count);
  // Reads what Init reads when the device was made from what was known; else nothing.
  Result EnsureBound();

  // --- for the storage, file and storage-globals objects ---
  // An operation on the player starts or ends; `extra_status` bits (WMDM_STATUS_*) show in
  // the status word while it runs. The device is READY again only when no operation is in
  // progress on any device of the process.
  void BeginOperation(DWORD extra_status);
  void EndOperation(DWORD extra_status);
  // Begins an upload; on success the operation stays in progress until CommitNewFile. A
  // device takes one upload at a time: while one is open, HRESULT_FROM_WIN32 of
  // ERROR_TOO_MANY_OPEN_FILES.
  Result CreateNewFile(OutputStream** stream);
  // The player's lock, shared by the devices of its storages: held for every step that talks
  // to the player or touches the file list, device handle or predictor.
  PlayerLock LockPlayer();
  // Whether an upload is open on the device (CreateNewFile would refuse another).
  bool upload_open() const { return upload_open_; }
  // Commits the upload, deletes the stream and ends the operation.
  Result CommitNewFile(OutputStream*& stream);
  Result ConvertFileInfo(PropertyHolder* file, const uint8_t* record, uint32_t length);
  // Deletes on the player and drops every listed track with the file's "fid".
  Result DeleteFile(PropertyHolder& file);
  // Formats the storage; on success the track list is empty and the predictor reset.
  Result FormatStorage();

  // The storage's tracks, in the order the player listed them.
  FileHolderList& files() { return files_; }
  // The first root storage registered and still alive; non-owning, null when none lives.
  CMDSPStorage* first_storage() const { return first_storage_; }
  // A storage object registers itself on creation (only the first sticks) and unregisters
  // when it goes.
  void RegisterStorage(CMDSPStorage* storage);
  void UnregisterStorage(CMDSPStorage* storage);

  QelDevicePtrEx* device_ptr() const { return device_ptr_.get(); }
  const PropertyHolder& device_info() const { return device_info_; }
  bool has_device_info() const { return has_device_info_; }
  uint16_t storage_index() const { return storage_index_; }
  uint32_t storage_count() const { return storage_count_; }
  const std::vector<uint8_t>& serial() const { return serial_; }
  int64_t total_size() const { return total_size_; }
  const std::wstring& storage_name() const { return storage_name_; }

  // Operations in progress on all devices of the process.
  static int32_t BusyCount();

 private:
  CMDSPDevice() = default;
  ~CMDSPDevice();
  CMDSPDevice(const CMDSPDevice&) = delete;
  CMDSPDevice& operator=(const CMDSPDevice&) = delete;

  // Holds the player and its handle for one storage.
  Result Adopt(const RefPtr<Device>& device, uint32_t storage_index, uint32_t storage_count);
  // Init's talk with the player, under one open of the channel; remembers what it learned.
  Result Bind();
  // Hands what the device knows of its storage to the process's knowledge.
  void RememberStorage();
  Result ReadStorageInfo(PropertyHolder* storage);
  DWORD CurrentStatus();
  std::wstring DisplayName() const;

  LONG refs_ = 0;
  ModuleReference module_;
  std::atomic<DWORD> status_{WMDM_STATUS_READY};
  CMDSPStorage* first_storage_ = nullptr;
  std::unique_ptr<QelDevicePtrEx> device_ptr_;
  PropertyHolder device_info_;
  bool has_device_info_ = false;
  uint16_t storage_index_ = 0;
  uint32_t storage_count_ = 0;
  std::vector<uint8_t> serial_;
  int64_t total_size_ = 0;
  std::wstring storage_name_;
  FileHolderList files_;
  std::atomic<bool> upload_open_{false};
  RefPtr<Device> player_;
  std::string player_id_;  // the player's unique id
  RegisteredLock unbound_{"CMDSPDevice"};  // stands in for the player's lock before Init
};
