// One track: listed from the player, or being uploaded. An upload goes created (named, maybe
// with metadata sent ahead) -> open (the player's new-file stream, the device busy, and a
// temporary copy on the PC when the tags have to be read from the data) -> closed (tags read,
// accounted, finished and committed, or failed and dead).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "media/property_holder.h"
#include "wmdm/cmdsp_storage_object.h"
#include "wmdm/wmdm_interfaces.h"

class CMDSPDevice;
class OutputStream;

// The temporary copy of an upload: this name and the upload's extension, in the user's
// temporary folder.
inline constexpr char kUploadTempBaseName[] = "TorvexTmp";

// GetName hands out at most this many characters, terminator included.
constexpr UINT kFileNameLimit = 128;

class CMDSPFile final : public StorageObject {
 public:
  // A new upload named `name`. With pending metadata the file shares its set and reads no
  // tags from its data. Handed out with one reference.
  static HRESULT CreateUpload(CMDSPDevice* device, const PropertyHolder* pending,
                              const wchar_t* name, IMDSPStorage** out);
  // A track of the device's list: the file shares the entry's set, so changes through the
  // file show in the list.
  static HRESULT CreateListed(CMDSPDevice* device, const PropertyHolder& entry,
                              IMDSPStorage** out);

  HRESULT STDMETHODCALLTYPE GetName(LPWSTR name, UINT max_chars) override;
  HRESULT STDMETHODCALLTYPE GetDate(WMDMDATETIME* date) override;
  HRESULT STDMETHODCALLTYPE GetSize(DWORD* size_low, DWORD* size_high) override;
  HRESULT STDMETHODCALLTYPE GetMetadata(IWMDMMetaData* metadata) override;
  HRESULT STDMETHODCALLTYPE SetMetadata(IWMDMMetaData* metadata) override;
  HRESULT STDMETHODCALLTYPE Open(UINT mode) override;
  HRESULT STDMETHODCALLTYPE Write(BYTE* data, DWORD* size, BYTE* mac) override;
  HRESULT STDMETHODCALLTYPE Delete(UINT mode, IWMDMProgress* progress) override;
  HRESULT STDMETHODCALLTYPE Close() override;

  // The name WMDM sees: title (or "name") with an extension that tells the kind of file.
  std::wstring DisplayName() const;

  const PropertyHolder& metadata() const { return metadata_; }
  bool on_player() const { return on_player_; }
  bool dead() const { return dead_; }
  bool is_open() const { return open_; }
  bool reads_tags() const { return read_tags_; }
  // Empty when no temporary copy was made.
  const std::string& temp_path() const { return temp_path_; }

 private:
  explicit CMDSPFile(CMDSPDevice* device);
  // A file released while open aborts its upload: the player's stream is ended and
  // committed, the device is no longer busy and the temporary copy is gone.
  ~CMDSPFile() override;

  DWORD Attributes() const override;
  HRESULT Usable() const override;

  Result SetName(const wchar_t* name);
  HRESULT StartTempFile();
  void CloseTempHandle();
  void RemoveTempFile();
  HRESULT AppendToTempFile(const BYTE* data, DWORD size);
  // Close's work on the metadata: type by extension, tags, length and time, accounting,
  // finishing the file on the player.
  HRESULT CompleteUpload();
  HRESULT GetFileInfoData();
  HRESULT FinishOnPlayer();
  HRESULT CommitUpload(HRESULT status);

  uint32_t storage_index_ = 0;
  uint32_t storage_type_ = 0;
  uint64_t byte_count_ = 0;
  bool stream_created_ = false;
  bool finished_ = false;  // the stream finished the file on the player
  bool read_tags_ = true;
  bool temp_created_ = false;
  bool on_player_ = false;
  bool dead_ = false;
  bool open_ = false;
  PropertyHolder metadata_;
  OutputStream* stream_ = nullptr;
  std::string temp_path_;  // ANSI
  HANDLE temp_handle_ = INVALID_HANDLE_VALUE;
  std::wstring name_;
  HRESULT last_write_status_ = S_OK;
};
