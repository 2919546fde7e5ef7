// The upload path of CMDSPFile: Open, Write, Close and the temporary copy of the data.
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "devices/output_stream.h"
#include "devices/predictor.h"
#include "media/content_fingerprint.h"
#include "media/tag_reader_factory.h"
#include "support/text_convert.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_file.h"
#include "wmdm/metadata_mapping.h"
#include "wmdm/no_throw.h"
#include "wmdm/wmdm_conventions.h"
#include "wmdm/wmdm_log.h"

namespace {

// The extension of a name with its dot ("" when none), from the last path element.
std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  const size_t separator = name.find_last_of("\\/");
  if (dot == std::string::npos || (separator != std::string::npos && separator > dot)) return "";
  return name.substr(dot);
}

// The user's temporary folder, or the running program's folder when that is unknown; ends
// with a separator.
std::string TempFolder() {
  char folder[MAX_PATH + 1];
  const DWORD length = GetTempPathA(MAX_PATH, folder);
  if (length != 0 && length <= MAX_PATH) return folder;
  const DWORD module_length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
  std::string program(folder, module_length < MAX_PATH ? module_length : 0);
  const size_t separator = program.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : program.substr(0, separator + 1);
}

// A path goes into the log as a format text: its '%' must not be taken for a placeholder.
std::string LogSafe(const std::string& text) {
  std::string safe;
  for (char c : text) {
    safe += c;
    if (c == '%') safe += '%';
  }
  return safe;
}

// The readers fall back on the file's own name for a missing title; the temporary copy's name
// is no title, so that one is left out and Close makes the title from the upload's name.
class UploadTagSink : public TagSink {
 public:
  UploadTagSink(PropertyHolder& file, const std::string& temp_path)
      : sink_(file), temp_title_(AnsiToUtf8String(TitleFromFileName(temp_path))) {}
  void SetInt(const char* key, uint32_t value) override { sink_.SetInt(key, value); }
  void SetString(const char* key, const char* value) override {
    if (std::strcmp(key, "title") == 0 && temp_title_ == value) return;
    sink_.SetString(key, value);
  }
  Result status() const { return sink_.status(); }

 private:
  HolderTagSink sink_;
  std::string temp_title_;
};

int32_t FidOf(const PropertyHolder& file) {
  RefPtr<PropertySet> set = file.GetSet();
  return set ? set->GetInt("fid") : 0;
}

// The predictor handed out `predicted` for a file that the player filed under the file's
// "fid" now: the predicted number is given back without touching the space it counted (a copy
// of no length goes) and the player's one is taken.
void MoveAccountedFid(Predictor& predictor, int32_t predicted, PropertyHolder& file) {
  CallNoThrow([&] {
    PropertyHolder released;
    released.SetInt("fid", predicted);
    released.SetInt("length", 0);
    predictor.RemoveFile(released);
    return predictor.AddExistingFile(file);
  });
}

}  // namespace

CMDSPFile::~CMDSPFile() {
  CallNoThrow([&] {
    RemoveTempFile();
    if (stream_) {
      stream_->Abort();
      device()->CommitNewFile(stream_);
    }
    return rc::kOk;
  });
}

HRESULT CMDSPFile::StartTempFile() {
  const std::string folder = TempFolder();
  temp_path_ = folder + kUploadTempBaseName + ExtensionOf(WideToAnsi(name_));
  temp_handle_ = CreateFileA(temp_path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HRESULT status = S_OK;
  if (temp_handle_ == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    status = HResultFromWin32(error);
    WmdmLog("Cannot CreateFile", 0, status);
    WmdmLog(LogSafe(temp_path_).c_str(), status, status);
    WmdmLog("CreateFile::LastError was 0x%08lx", error, status);
  } else {
    temp_created_ = true;
  }
  return Trace("StartTempFile", status);
}

void CMDSPFile::CloseTempHandle() {
  if (temp_handle_ == INVALID_HANDLE_VALUE) return;
  if (!CloseHandle(temp_handle_)) {
    const DWORD error = GetLastError();
    const HRESULT status = HResultFromWin32(error);
    WmdmLog("CloseHandle error", error, status);
    WmdmLog("CloseHandle::LastError was 0x%08lx", error, status);
  }
  temp_handle_ = INVALID_HANDLE_VALUE;
}

void CMDSPFile::RemoveTempFile() {
  CloseTempHandle();
  if (!temp_created_) return;
  DeleteFileA(temp_path_.c_str());
  temp_created_ = false;
}

HRESULT CMDSPFile::AppendToTempFile(const BYTE* data, DWORD size) {
  DWORD written = 0;
  if (!WriteFile(temp_handle_, data, size, &written, nullptr)) {
    return HResultFromWin32(GetLastError());
  }
  return written == size ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE CMDSPFile::Open(UINT mode) {
  HRESULT status = Usable();
  if (SUCCEEDED(status) && (mode & (MDSP_READ | MDSP_WRITE)) == 0) status = E_INVALIDARG;
  if (SUCCEEDED(status) && (mode & MDSP_READ)) status = WMDM_E_NOTSUPPORTED;  // uploads only
  // A second Open would lose the first upload's stream and busy operation.
  if (SUCCEEDED(status) && open_) status = WMDM_E_CALL_OUT_OF_SEQUENCE;
  if (SUCCEEDED(status) && !device()) status = E_FAIL;
  // Refused before the temporary copy, which the open upload may be using.
  if (SUCCEEDED(status) && device()->upload_open())
    status = HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
  if (SUCCEEDED(status)) {
    status = CallNoThrow([&]() -> HRESULT {
      byte_count_ = 0;
      last_write_status_ = S_OK;
      if (read_tags_) {
        const HRESULT started = StartTempFile();
        if (FAILED(started)) return started;
      }
      const HRESULT created = device()->CreateNewFile(&stream_);
      if (FAILED(created)) return created;
      stream_created_ = true;
      open_ = true;
      return S_OK;
    });
    if (FAILED(status)) RemoveTempFile();
  }
  return Trace("Open", status);
}

HRESULT STDMETHODCALLTYPE CMDSPFile::Write(BYTE* data, DWORD* size, BYTE*) {
  HRESULT status = CheckOutPointer(Usable(), size);
  if (SUCCEEDED(status) && !open_) status = WMDM_E_CALL_OUT_OF_SEQUENCE;
  if (SUCCEEDED(status) && !data && *size != 0) status = E_INVALIDARG;
  if (SUCCEEDED(status)) {
    auto lock = device() ? device()->LockPlayer() : PlayerLock();
    status = stream_ ? MapDeviceStatus(S_OK, CallNoThrow([&] {
                                         return stream_->Write(data, *size);
                                       }))
                     : E_FAIL;
    if (SUCCEEDED(status)) {
      byte_count_ += *size;
      if (temp_handle_ != INVALID_HANDLE_VALUE) status = AppendToTempFile(data, *size);
    }
    last_write_status_ = status;
  }
  return Trace("Write", status);
}

HRESULT STDMETHODCALLTYPE CMDSPFile::Close() {
  HRESULT status = Usable();
  if (SUCCEEDED(status) && !open_) return WMDM_E_CALL_OUT_OF_SEQUENCE;
  if (SUCCEEDED(status)) {
    CloseTempHandle();
    // A failed write leaves an incomplete file: it is not finished on the player, and the
    // failure stays the answer.
    status = FAILED(last_write_status_) ? last_write_status_
                                        : CallNoThrow([&] { return CompleteUpload(); });
    RemoveTempFile();
    status = CommitUpload(status);
    open_ = false;
    if (FAILED(status)) dead_ = true;
  }
  return Trace("Close", status);
}

HRESULT CMDSPFile::CompleteUpload() {
  const std::wstring extension = Utf8ToWideString(ExtensionOf(WideToUtf8String(name_)));
  Result status = rc::kOk;
  if (metadata_.GetString("type").empty()) {
    const wchar_t* ext = extension.c_str();
    if (_wcsicmp(ext, L".wma") == 0 || _wcsicmp(ext, L".asf") == 0) {
      status = metadata_.SetString("type", "tune");
      if (rc::Succeeded(status)) status = metadata_.SetString("codec", "wma");
    } else if (_wcsicmp(ext, L".mp3") == 0) {
      status = metadata_.SetString("type", "tune");
      if (rc::Succeeded(status)) status = metadata_.SetString("codec", "mp3");
    } else {
      status = metadata_.SetString("type", "binary");
    }
  }
  if (rc::Succeeded(status) && read_tags_) {
    status = GetFileInfoData();
    if (rc::Succeeded(status)) status = metadata_.SetString("name", WideToUtf8String(name_));
  }
  const Result length =
      metadata_.SetInt("length", static_cast<int32_t>(static_cast<uint32_t>(byte_count_)));
  const Result ctime = metadata_.SetInt("ctime", static_cast<int32_t>(std::time(nullptr)));
  byte_count_ = 0;
  if (rc::Succeeded(status)) status = rc::Failed(length) ? length : ctime;
  if (rc::Failed(status)) return status;
  return stream_created_ ? FinishOnPlayer() : WMDM_E_CALL_OUT_OF_SEQUENCE;
}

HRESULT CMDSPFile::GetFileInfoData() {
  std::unique_ptr<TagReader> reader;
  Result status = TagReaderFactory(temp_path_, "", &reader);
  if (status == rc::kNoTagHandler) {
    // A kind of file no reader knows goes up as it is, without tags.
    status = rc::kOk;
  } else if (rc::Succeeded(status)) {
    UploadTagSink sink(metadata_, temp_path_);
    status = reader->ReadFile(temp_path_, &sink);
    if (rc::Succeeded(status)) status = sink.status();
  }
  return Trace("GetFileInfoData", status);
}

HRESULT CMDSPFile::FinishOnPlayer() {
  auto lock = device() ? device()->LockPlayer() : PlayerLock();
  QelDevicePtrEx* handle = device() ? device()->device_ptr() : nullptr;
  Predictor* predictor = handle ? handle->GetPredictor() : nullptr;
  if (!predictor) return E_FAIL;
  // The block count is not needed; a place for it spares predictors that ignore a null one.
  uint32_t blocks = 0;
  HRESULT status = MapDeviceStatus(
      S_OK, CallNoThrow([&] { return predictor->AccountNewFile(metadata_, &blocks); }));
  if (FAILED(status)) return status;
  const int32_t predicted_fid = FidOf(metadata_);
  if (metadata_.GetString("title").empty()) {
    const std::string title =
        TitleFromFileName(Utf8ToAnsiString(metadata_.GetString("name")));
    status = metadata_.SetString("title", AnsiToUtf8String(title));
  }
  if (SUCCEEDED(status)) {
    status = stream_ ? CallNoThrow([&] { return stream_->Finish(metadata_); }) : E_FAIL;
    status = MapDeviceStatus(S_OK, status);
  }
  if (FAILED(status)) {
    CallNoThrow([&] { return predictor->RemoveFile(metadata_); });
    return status;
  }
  // A player that chooses where a file goes may have filed it elsewhere than predicted.
  if (FidOf(metadata_) != predicted_fid) MoveAccountedFid(*predictor, predicted_fid, metadata_);
  finished_ = true;
  on_player_ = true;
  std::unique_ptr<PropertyHolder> listed(new PropertyHolder);
  *listed = metadata_;
  device()->files().push_back(std::move(listed));
  return S_OK;
}

HRESULT CMDSPFile::CommitUpload(HRESULT status) {
  if (!stream_) return status;
  // An unfinished file is ended before the commit, so the player keeps nothing of it.
  if (!finished_) CallNoThrow([&] { return stream_->Abort(); });
  const HRESULT committed = CallNoThrow([&] { return device()->CommitNewFile(stream_); });
  stream_created_ = false;
  finished_ = false;
  return MapDeviceStatus(status, committed);
}
