#include "devices/usb/setup_api_binding.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Bounds on what SetupAPI may hand back; both lie far beyond any real system.
constexpr DWORD kMaxInterfaces = 4096;
constexpr DWORD kMaxDetailSize = 64 * 1024;

constexpr size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
static_assert(sizeof(void*) != 4 || (sizeof(SP_DEVICE_INTERFACE_DATA) == 28 &&
                                     sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5),
              "the records of 32-bit SetupAPI");

template <typename Function>
void Find(HMODULE module, const char* name, Function* function) {
  *function = module ? reinterpret_cast<Function>(
                           reinterpret_cast<void*>(GetProcAddress(module, name)))
                     : nullptr;
}

SetupApiEntryPoints LoadSetupApi() {
  SetupApiEntryPoints entry{};
  const HMODULE module = LoadLibraryA("SETUPAPI.dll");
  Find(module, "SetupDiGetClassDevsA", &entry.GetClassDevsA);
  Find(module, "SetupDiEnumDeviceInterfaces", &entry.EnumDeviceInterfaces);
  Find(module, "SetupDiGetDeviceInterfaceDetailA", &entry.GetDeviceInterfaceDetailA);
  Find(module, "SetupDiDestroyDeviceInfoList", &entry.DestroyDeviceInfoList);
  return entry;
}

Result ErrorResult(DWORD error) { return error == 0 ? rc::kFail : rc::FromWin32(error); }

}  // namespace

SetupApiBinding::SetupApiBinding(const SetupApiEntryPoints& entry_points)
    : entry_(entry_points),
      available_(entry_.GetClassDevsA && entry_.EnumDeviceInterfaces &&
                 entry_.GetDeviceInterfaceDetailA && entry_.DestroyDeviceInfoList) {}

SetupApiBinding& SetupApiBinding::Process() {
  static SetupApiBinding binding(LoadSetupApi());
  return binding;
}

Result SetupApiBinding::EnumerateInterfaces(const GUID* interface_class,
                                            DevicePathCallback& callback) const {
  if (!available_) return rc::kNotImplemented;
  const HDEVINFO set = entry_.GetClassDevsA(interface_class, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return ErrorResult(GetLastError());
  Result result = rc::kOk;
  for (DWORD index = 0; index < kMaxInterfaces; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!entry_.EnumDeviceInterfaces(set, nullptr, interface_class, index, &data)) {
      const DWORD error = GetLastError();
      if (error != ERROR_NO_MORE_ITEMS) result = ErrorResult(error);
      break;
    }
    const std::string path = InterfacePath(set, &data);
    if (path.empty()) continue;
    result = callback.OnDevicePath(path);
    if (rc::Failed(result)) break;
  }
  entry_.DestroyDeviceInfoList(set);
  return rc::Failed(result) ? result : rc::kOk;
}

// An empty path on any failure.
std::string SetupApiBinding::InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) const {
  DWORD required = 0;
  entry_.GetDeviceInterfaceDetailA(set, data, nullptr, 0, &required, nullptr);
  if (required <= kPathOffset || required > kMaxDetailSize) return std::string();
  // Aligned for the record's size field.
  std::unique_ptr<DWORD[]> storage(new (std::nothrow) DWORD[required / sizeof(DWORD) + 1]);
  if (!storage) return std::string();
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.get());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!entry_.GetDeviceInterfaceDetailA(set, data, detail, required, nullptr, nullptr)) {
    return std::string();
  }
  const char* text = reinterpret_cast<const char*>(storage.get()) + kPathOffset;
  return std::string(text, strnlen(text, required - kPathOffset));
}
