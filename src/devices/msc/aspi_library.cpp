#include "devices/msc/aspi_library.h"

#include <new>

namespace {

constexpr DWORD kNotBound = 228;

Result LastError() {
  const Result error = rc::FromWin32(GetLastError());
  return rc::Failed(error) ? error : rc::kFail;
}

}  // namespace

AspiLibrary* AspiLibrary::Process() {
  static AspiLibrary* const library = new (std::nothrow) AspiLibrary();
  return library;
}

AspiLibrary::AspiLibrary() {
  module_ = LoadLibraryA("WNASPI32.DLL");
  if (module_ == nullptr) {
    status_ = LastError();
    return;
  }
  entry_points_.get_support_info = reinterpret_cast<DWORD(__cdecl*)()>(
      reinterpret_cast<void*>(GetProcAddress(module_, "GetASPI32SupportInfo")));
  entry_points_.send_command = reinterpret_cast<DWORD(__cdecl*)(void*)>(
      reinterpret_cast<void*>(GetProcAddress(module_, "SendASPI32Command")));
  if (entry_points_.get_support_info == nullptr || entry_points_.send_command == nullptr) {
    status_ = LastError();
  } else {
    CheckSupport();
  }
  if (status_ != rc::kOk) {
    FreeLibrary(module_);
    module_ = nullptr;
    entry_points_ = {};
  }
}

AspiLibrary::AspiLibrary(const aspi::EntryPoints& entry_points) : entry_points_(entry_points) {
  CheckSupport();
}

void AspiLibrary::CheckSupport() {
  const DWORD info = entry_points_.get_support_info();
  status_ = ((info >> 8) & 0xFF) == aspi::kStatusCompleted ? rc::kOk : rc::kFail;
}

DWORD AspiLibrary::Send(void* request) {
  if (status_ != rc::kOk || entry_points_.send_command == nullptr) return kNotBound;
  return entry_points_.send_command(request);
}

uint8_t AspiLibrary::HostAdapterCount() {
  if (status_ != rc::kOk) return 0;
  aspi::HostAdapterInquiry inquiry = {};
  inquiry.command = aspi::kCommandHostAdapterInquiry;
  Send(&inquiry);
  return inquiry.adapter_count;
}
